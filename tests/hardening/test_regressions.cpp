// Faults the hardening runs found, each pinned by a test of its own.
#include "HardeningSupport.h"

#include "app/TFileMgr.h"
#include "platform/wcsrv/WcFault.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QtTest>

#include <memory>

using namespace hard;

namespace
{

} // namespace

class TestRegressions : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_template;
    Layout m_layout;
    std::unique_ptr<Sandbox> m_box;

private slots:
    void initTestCase()
    {
        m_template = std::make_unique<Sandbox>();
        QVERIFY(m_template->ok());
        m_layout = BuildStandardBbs(m_template->home());
        QCOMPARE(m_layout.contents.size(), 50);
    }

    void init()
    {
        WcFaultReset();
        m_box = std::make_unique<Sandbox>(m_template->root());
        QVERIFY(m_box->ok());
        m_box->enter();
    }

    void cleanup()
    {
        WcFaultReset();
        m_box.reset();
    }

    // Move button: a copy that fails after the target file was created
    // (a read or write error, a full disk) leaves a partial file in the
    // target area. Answering Yes or All to the record-only question must not
    // move the record onto it; the record stays with its intact file.
    void moveButtonNeverMovesARecordOntoAPartialCopy_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("answer");
        QTest::newRow("write fails, Yes")
            << QStringLiteral("WcWriteFile") << int(DialogAnswer::Yes);
        QTest::newRow("write fails, All")
            << QStringLiteral("WcWriteFile") << int(DialogAnswer::All);
        QTest::newRow("read fails, All") << QStringLiteral("WcReadFile") << int(DialogAnswer::All);
    }

    void moveButtonNeverMovesARecordOntoAPartialCopy()
    {
        QFETCH(QString, failing);
        QFETCH(int, answer);
        AnswerHook hook{DialogAnswer(answer)};
        auto w = std::make_unique<TFileMgr>();
        w->show();
        w->ChooseArea(1);
        for (int row : {0, 1})
            w->FileListBox->SetSelected(row, true);
        w->FileListBox->SetItemIndex(1);
        const QByteArray kind = failing.toLatin1();
        WcFaultFailKind(kind.constData(), WC_NO_ACTION_TAKEN);
        ChooseTarget(3);
        w->b_MoveClick();
        WcFaultReset();
        w->close();
        w.reset();
        QCOMPARE(RecordNamesIn(*m_box, 2).size(), 18);
        QCOMPARE(RecordNamesIn(*m_box, 3).size(), 20);
        const QStringList p = CheckBbs(*m_box, m_layout, Expect{});
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // Move button: where the target can't be written at all (no file is
    // left there, the CD-ROM case), the record may still move alone.
    void moveButtonMovesTheRecordAloneWhenNothingWasCopied()
    {
        AnswerHook hook(DialogAnswer::Yes);
        auto w = std::make_unique<TFileMgr>();
        w->show();
        w->ChooseArea(1);
        w->FileListBox->SetSelected(0, true);
        w->FileListBox->SetItemIndex(0);
        WcFaultFailKind("WcCreateFile", WC_ACCESS_DENIED);
        ChooseTarget(3);
        w->b_MoveClick();
        WcFaultReset();
        w->close();
        w.reset();
        QVERIFY(hook.texts.contains(QStringLiteral(
            "Are you moving this file to a CD-Rom FileArea?  If so, the file can not be moved to "
            "the CD-Rom.  Would you still like to move the file record info to file area #3?")));
        QCOMPARE(RecordNamesIn(*m_box, 3).size(), 21);
        // Its file stays in the source folder: still intact, no damaged copy.
        const QStringList p = CheckBbs(*m_box, m_layout, Expect{});
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // Dropped files: a dropped file named like a record of the area must not
    // replace that record's file (the new record is refused as a duplicate
    // anyway, so the old record would be left naming someone else's file).
    void dropNeverReplacesTheFileOfAnotherRecord()
    {
        const QString existing = m_layout.namesIn(1).at(1);
        const QString dropped = m_box->drop() + u'/' + existing.toLower();
        QFile f(dropped);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("an unrelated file with the same name");
        f.close();
        const QString other = m_box->drop() + QStringLiteral("/FRESH.TXT");
        QFile g(other);
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write(FileContent(QStringLiteral("FRESH.TXT"), 321));
        g.close();
        AnswerHook hook;
        auto w = std::make_unique<TFileMgr>();
        w->show();
        w->ChooseArea(0);
        w->AddDroppedFiles({dropped, other});
        w->close();
        w.reset();
        Expect expect;
        expect.mayAppear.insert(QStringLiteral("FRESH.TXT"),
                                FileContent(QStringLiteral("FRESH.TXT"), 321));
        const QStringList p = CheckBbs(*m_box, m_layout, expect);
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
        // The other dropped file is still added.
        QCOMPARE(RecordNamesIn(*m_box, 1).size(), 13);
        QVERIFY2(hook.texts.contains(QStringLiteral("File: ") + existing +
                                     QStringLiteral(" already exists in file area #1.")),
                 qPrintable(hook.texts.join(u'\n')));
    }
};

VT_TEST_MAIN(TestRegressions)
#include "test_regressions.moc"
