// The file list's lines: lines appended in batches join the view in growing
// batches, while every count and line read through the list includes them.
#include "app/TFileListBox.h"

#include "tests/support/TestSupport.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{

QString LineText(int i)
{
    return QStringLiteral("%1 FILE%2.ZIP").arg(i % 7).arg(i);
}

QStringList Batch(int first, int size)
{
    QStringList lines;
    for (int i = first; i < first + size; ++i)
        lines << LineText(i);
    return lines;
}

} // namespace

class TestFileListBox : public QObject
{
    Q_OBJECT
private slots:
    // Many small appends to a list that grows long: every line arrives, in
    // order, and the view is told of far fewer insertions than appends.
    void appendsJoinInGrowingBatches_data()
    {
        QTest::addColumn<int>("batches");
        QTest::addColumn<int>("batchSize");
        QTest::newRow("short list, few lines") << 3 << 10;
        QTest::newRow("many small batches") << 2000 << 50;
        QTest::newRow("few large batches") << 20 << 20000;
    }
    void appendsJoinInGrowingBatches()
    {
        QFETCH(int, batches);
        QFETCH(int, batchSize);
        TFileListBox box;
        FileListModel* model = box.Lines();
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        int sawWaiting = 0;
        for (int b = 0; b < batches; ++b) {
            model->AppendLines(Batch(b * batchSize, batchSize));
            sawWaiting = std::max(sawWaiting, model->Waiting());
            // Lines the view shows never lag more than the list's own length.
            QVERIFY(model->Waiting() <= std::max(model->rowCount(), FileListModel::kShortList));
        }
        const int total = batches * batchSize;
        if (total > 4 * FileListModel::kShortList) {
            QVERIFY(sawWaiting > 0); // the deferral really happened
            QVERIFY2(inserted.count() < batches / 2 + 30,
                     qPrintable(QString::number(inserted.count())));
        }
        QCOMPARE(box.Count(), total); // reading the count lets them join
        QCOMPARE(model->Waiting(), 0);
        QCOMPARE(model->rowCount(), total);
        for (int i = 0; i < total; ++i)
            QCOMPARE(model->data(model->index(i)).toString(), LineText(i));
        QCOMPARE(box.Line(total - 1), LineText(total - 1));
    }

    // Lines left waiting when the appends stop join the view by themselves.
    void waitingLinesJoinWhenAppendsPause()
    {
        TFileListBox box;
        FileListModel* model = box.Lines();
        model->AppendLines(Batch(0, 4 * FileListModel::kShortList));
        model->AppendLines(Batch(4 * FileListModel::kShortList, 10));
        QCOMPARE(model->Waiting(), 10);
        QCOMPARE(model->rowCount(), 4 * FileListModel::kShortList);
        QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), 4 * FileListModel::kShortList + 10,
                                  10 * FileListModel::kPauseMs);
        QCOMPARE(model->Waiting(), 0);
        QCOMPARE(model->data(model->index(model->rowCount() - 1)).toString(),
                 LineText(4 * FileListModel::kShortList + 9));
    }

    // A waiting line can be made current and selected; a new list or a
    // single append never loses or reorders waiting lines.
    void waitingLinesAreUsable()
    {
        TFileListBox box;
        FileListModel* model = box.Lines();
        const int shown = 4 * FileListModel::kShortList;
        model->AppendLines(Batch(0, shown));
        model->AppendLines(Batch(shown, 5));
        QCOMPARE(model->Waiting(), 5);
        box.SetItemIndex(shown + 2);
        QCOMPARE(box.ItemIndex(), shown + 2);
        box.SetSelected(shown + 4, true);
        QVERIFY(box.Selected(shown + 4));

        model->AppendLines(Batch(shown + 5, 3));
        model->Append(QStringLiteral("LAST.ZIP"));
        QCOMPARE(model->rowCount(), shown + 9);
        QCOMPARE(box.Line(shown + 7), LineText(shown + 7));
        QCOMPARE(box.Line(shown + 8), QStringLiteral("LAST.ZIP"));

        model->AppendLines(Batch(0, 5));
        QVERIFY(model->Waiting() > 0);
        model->SetLines({QStringLiteral("ONLY.ZIP")});
        QCOMPARE(model->Waiting(), 0);
        QCOMPARE(box.Count(), 1);
        QTest::qWait(2 * FileListModel::kPauseMs);
        QCOMPARE(model->rowCount(), 1); // the dropped lines never come back
    }

    // Lines keep every character, however they were given: Latin-1 and
    // wider characters, empty lines and lines longer than a block of the
    // list's storage, through every way in.
    void linesKeepTheirCharacters_data()
    {
        QTest::addColumn<QStringList>("lines");
        QString latin1;
        for (int c = 1; c < 256; ++c)
            latin1 += QChar(c);
        QTest::newRow("every Latin-1 character") << QStringList{latin1, latin1.right(7)};
        QTest::newRow("beyond Latin-1")
            << QStringList{QStringLiteral("\u03b1\u03b2\u03b3.ZIP"), QStringLiteral("\u20ac 5"),
                           QStringLiteral("\U0001F600 smile"), QStringLiteral("A\u0100")};
        QTest::newRow("empty lines") << QStringList{QString(), QStringLiteral("X"), QString()};
        QTest::newRow("longer than a block")
            << QStringList{QString(70000, u'a'), QStringLiteral("after"),
                           QString(40000, QChar(0x4e2d)), QStringLiteral("end")};
        QStringList many;
        for (int i = 0; i < 20000; ++i)
            many << (i % 3 ? LineText(i) : QStringLiteral("%1 \u00e9\u4e2d").arg(i));
        QTest::newRow("many, mixed") << many;
    }
    void linesKeepTheirCharacters()
    {
        QFETCH(QStringList, lines);
        TFileListBox box;
        FileListModel* model = box.Lines();
        auto check = [&](const char* how) {
            QCOMPARE(model->count(), int(lines.size()));
            QVERIFY2(model->lines() == lines, how);
            for (int i = 0; i < lines.size(); ++i) {
                QCOMPARE(model->line(i), lines[i]);
                QCOMPARE(model->data(model->index(i)).toString(), lines[i]);
            }
        };
        model->SetLines(lines);
        check("SetLines");
        model->Clear();
        QCOMPARE(box.Count(), 0);
        model->AppendLines(lines);
        check("AppendLines");
        model->Clear();
        for (const QString& line : lines)
            model->Append(line);
        check("Append");
        // Latin-1 lines given as bytes.
        model->Clear();
        QStringList latin1Only;
        for (const QString& line : lines) {
            const QByteArray bytes = line.toLatin1();
            if (QString::fromLatin1(bytes) != line)
                continue;
            latin1Only << line;
            model->AppendLatin1(bytes.constData(), bytes.size());
        }
        model->ReleaseWaiting();
        QCOMPARE(model->lines(), latin1Only);
    }

    // Lines appended as bytes wait until released (or read), then join the
    // view as lines appended in a batch do.
    void bytesWaitForRelease()
    {
        TFileListBox box;
        FileListModel* model = box.Lines();
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 3; ++i)
            model->AppendLatin1("ONE.ZIP", 7);
        QCOMPARE(model->Waiting(), 3);
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(inserted.count(), 0);
        model->ReleaseWaiting(); // a short list takes them at once
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(inserted.count(), 1);
        model->Clear();
        const int shown = 4 * FileListModel::kShortList;
        for (int i = 0; i < shown; ++i)
            model->AppendLatin1("A.ZIP", 5);
        model->ReleaseWaiting();
        QCOMPARE(model->rowCount(), shown);
        model->AppendLatin1("B.ZIP", 5);
        model->ReleaseWaiting(); // one line behind a long list waits for the pause
        QCOMPARE(model->Waiting(), 1);
        QCOMPARE(box.Line(shown), QStringLiteral("B.ZIP")); // reading lets it join
        QCOMPARE(model->Waiting(), 0);
        // Dropped with the list: lines waiting when a new list is set.
        model->AppendLatin1("C.ZIP", 5);
        model->SetLines({QStringLiteral("ONLY.ZIP")});
        QTest::qWait(2 * FileListModel::kPauseMs);
        QCOMPARE(model->lines(), QStringList{QStringLiteral("ONLY.ZIP")});
    }
};

QTEST_MAIN(TestFileListBox)
#include "test_filelistbox.moc"
