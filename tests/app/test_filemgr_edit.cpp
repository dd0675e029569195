// Editing records in the main window: the changed fields only, on one or
// many selected records, freshen, and the conversion failures.
#include "AppTestSupport.h"

#include "config/TSetupDlg.h"
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

#include <cstring>

namespace
{
const QString kUpdate = QStringLiteral("&Update");
const QString kFreshen = QStringLiteral("F&reshen");

// Bytes of a full record outside one field are equal.
bool SameExcept(const FullFileRec& a, const FullFileRec& b, std::size_t offset, std::size_t size)
{
    const auto* pa = reinterpret_cast<const unsigned char*>(&a);
    const auto* pb = reinterpret_cast<const unsigned char*>(&b);
    return std::memcmp(pa, pb, offset) == 0 &&
           std::memcmp(pa + offset + size, pb + offset + size, sizeof a - offset - size) == 0;
}

// Every record of the test BBS, all 1,792 bytes of each, by area and name.
QList<QByteArray> AllRecords()
{
    QList<QByteArray> all;
    for (int area : {1, 2})
        for (const char* name : {"A1.ZIP", "B2.ZIP", "C3.ZIP", "D4.ZIP", "OTHER.ZIP"}) {
            bool found = false;
            const FullFileRec r = ReadRecord(area, QString::fromLatin1(name), &found);
            if (found)
                all << QByteArray(reinterpret_cast<const char*>(&r), sizeof r);
        }
    return all;
}

// Stores a record's file time and last-accessed time through the server.
bool SetRecordTimes(int area, const QString& name, const FILETIME& fileTime,
                    const FILETIME& accessed)
{
    ServerLogin login;
    FileRec rec{};
    FullFileRec full{};
    uint32_t position = 0;
    const QByteArray n = name.toLatin1();
    if (!login.ok() || !GetFileRecByAreaName(area, n.constData(), &rec, &position) ||
        !GetFullFileRec(&rec, &full))
        return false;
    full.Rec.FileTime = fileTime;
    full.Rec.LastAccessed = accessed;
    return UpdateFullFileRec(&full);
}

// Types into a masked edit from its start, over what it holds: digits
// fill positions, "_" moves on and leaves a position blank.
void TypeMasked(QLineEdit* edit, const QString& keys)
{
    edit->setFocus();
    edit->setCursorPosition(0);
    for (const QChar c : keys) {
        if (c == u'_')
            QTest::keyClick(edit, Qt::Key_Right);
        else
            QTest::keyClicks(edit, QString(c));
    }
}

int YearOf(const FILETIME& ft)
{
    SystemTime st;
    FileTimeToSystemTime(ft, st);
    return st.year;
}
} // namespace

class TestFileMgrEdit : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void editTurnsButtonIntoUpdate();
    void fileNameIsNeverWritten();
    void multiSelectSetsOneFlag();
    void numericFieldsStored_data();
    void numericFieldsStored();
    void integerOverflowEndsCommand_data();
    void integerOverflowEndsCommand();
    void uploaderLookup();
    void memoRules_data();
    void memoRules();
    void memoFromFiveToThreeLines();
    void editingTimeKeepsTwoDigitYear_data();
    void editingTimeKeepsTwoDigitYear();
    void dateConversionFailureWarnsAndGoesOn_data();
    void dateConversionFailureWarnsAndGoesOn();
    void freshenTakesSizeAndDate();
    void freshenMissingFileWarnsOthersGoOn();
    void pendingChangesQuestion_data();
    void pendingChangesQuestion();
    void mouseMoveWithManySelectedAsks();
    void panelShowsTheSelectedRecord_data();
    void panelShowsTheSelectedRecord();
    void timeOnlyEditKeepsDay_data();
    void timeOnlyEditKeepsDay();
    void halfFilledTimeFails_data();
    void halfFilledTimeFails();
    void recordTextsKeepEveryByte_data();
    void recordTextsKeepEveryByte();
    void setupSwitchesShownTexts();

private:
    std::unique_ptr<ProgramFolderScope> m_folder;
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<DialogScript> m_dialogs;
    QList<FullFileRec> m_added;
};

void TestFileMgrEdit::init()
{
    m_folder = std::make_unique<ProgramFolderScope>();
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_dialogs = std::make_unique<DialogScript>();
    m_bbs->addArea(1, QStringLiteral("Uploads"));
    m_bbs->addArea(2, QStringLiteral("Other"));
    m_bbs->addUser(QStringLiteral("John Doe"));
    m_added.clear();
    const QByteArray content("0123456789");
    const char* names[] = {"A1.ZIP", "B2.ZIP", "C3.ZIP", "D4.ZIP"};
    int i = 0;
    for (const char* name : names) {
        ++i;
        m_added << m_bbs->addFile(1, QString::fromLatin1(name), &content, [i](FullFileRec& f) {
            SetRecText(f.Rec.Description, QStringLiteral("Description %1").arg(i));
            SetRecText(f.Rec.Password, QStringLiteral("pw%1").arg(i));
            f.Rec.Size = 100 * i;
            f.Rec.Downloads = i;
            f.Rec.Cost = 10 + i;
            f.Rec.NeverOverwrite = i % 2;
            f.Rec.FileTime = TestTime(2003, 1, 15, 10, 0);
            f.Rec.LastAccessed = TestTime(1999, 12, 31, 23, 59);
            f.Rec.HasLongDescription = 1;
            SetRecText(f.LongDescription[0], QStringLiteral("long %1").arg(i));
        });
    }
    m_bbs->addFile(2, QStringLiteral("OTHER.ZIP"));
}

void TestFileMgrEdit::cleanup()
{
    SetRecordCodePage(RecordCodePage::Latin1);
    m_dialogs.reset();
    m_bbs.reset();
    m_folder.reset();
}

void TestFileMgrEdit::editTurnsButtonIntoUpdate()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    QCOMPARE(w->b_freshen->text(), kFreshen);
    QTest::keyClicks(w->f_desc, QStringLiteral("!"));
    QCOMPARE(w->b_freshen->text(), kUpdate);
    QVERIFY(w->RecordChanged);
    QVERIFY(w->FieldChanged[17]);
    QVERIFY(!w->FieldChanged[16]);
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QCOMPARE(w->b_freshen->text(), kFreshen);
    QVERIFY(!w->RecordChanged);
    QCOMPARE(RecText(ReadRecord(1, QStringLiteral("A1.ZIP")).Rec.Description),
             QStringLiteral("Description 1!"));
    // The panel shows the stored record again.
    QCOMPARE(w->f_desc->text(), QStringLiteral("Description 1!"));
    QCOMPARE(w->StatusText(), QStringLiteral("Updating File [A1.ZIP]"));
    QTRY_VERIFY_WITH_TIMEOUT(w->StatusText().isEmpty(), 3000);
}

void TestFileMgrEdit::fileNameIsNeverWritten()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 1);
    const FullFileRec before = ReadRecord(1, QStringLiteral("B2.ZIP"));
    w->f_FileName->setText(QStringLiteral("RENAMED.ZIP"));
    QCOMPARE(w->b_freshen->text(), kUpdate);
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    bool found = false;
    const FullFileRec after = ReadRecord(1, QStringLiteral("B2.ZIP"), &found);
    QVERIFY(found);
    QCOMPARE(std::memcmp(&before, &after, sizeof before), 0);
    ReadRecord(1, QStringLiteral("RENAMED.ZIP"), &found);
    QVERIFY(!found);
}

void TestFileMgrEdit::multiSelectSetsOneFlag()
{
    auto w = OpenMainWindow();
    QList<FullFileRec> before;
    for (const char* n : {"A1.ZIP", "B2.ZIP", "C3.ZIP", "D4.ZIP"})
        before << ReadRecord(1, QString::fromLatin1(n));
    ClickLine(*w, 0);
    ClickLine(*w, 1, Qt::ControlModifier);
    ClickLine(*w, 3, Qt::ControlModifier);
    QCOMPARE(w->FileListBox->SelCount(), 3);
    QVERIFY(w->f_FileName->text().isEmpty()); // several lines: empty panel
    // A click on the box itself (at its left end).
    QTest::mouseClick(w->cbf_FreeFile, Qt::LeftButton, {},
                      QPoint(6, w->cbf_FreeFile->height() / 2));
    QVERIFY(w->cbf_FreeFile->isChecked());
    QCOMPARE(w->b_freshen->text(), kUpdate);
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QVERIFY(m_dialogs->shown.isEmpty());
    const std::size_t off = offsetof(FileRec, FreeFile);
    const char* names[] = {"A1.ZIP", "B2.ZIP", "C3.ZIP", "D4.ZIP"};
    for (int i = 0; i < 4; ++i) {
        const FullFileRec after = ReadRecord(1, QString::fromLatin1(names[i]));
        if (i == 2) {
            QCOMPARE(std::memcmp(&before[i], &after, sizeof after), 0);
            continue;
        }
        QCOMPARE(after.Rec.FreeFile, 1);
        QVERIFY2(SameExcept(before[i], after, off, sizeof(int32_t)), names[i]);
    }
    QCOMPARE(w->b_freshen->text(), kFreshen);
}

void TestFileMgrEdit::numericFieldsStored_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("expected");
    QTest::newRow("size") << "f_size"
                          << "2147483647" << int(offsetof(FileRec, Size)) << 2147483647;
    QTest::newRow("downloads") << "f_downloads"
                               << "99" << int(offsetof(FileRec, Downloads)) << 99;
    QTest::newRow("cost") << "f_cost"
                          << "0" << int(offsetof(FileRec, Cost)) << 0;
    // Not digits: ignored without a message.
    QTest::newRow("size with letters") << "f_size"
                                       << "12a" << int(offsetof(FileRec, Size)) << 100;
    QTest::newRow("negative cost") << "f_cost"
                                   << "-5" << int(offsetof(FileRec, Cost)) << 11;
}

void TestFileMgrEdit::numericFieldsStored()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, offset);
    QFETCH(int, expected);
    auto w = OpenMainWindow();
    const FullFileRec before = ReadRecord(1, QStringLiteral("A1.ZIP"));
    ClickLine(*w, 0);
    w->findChild<QLineEdit*>(field)->setText(text);
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QVERIFY(m_dialogs->shown.isEmpty());
    const FullFileRec after = ReadRecord(1, QStringLiteral("A1.ZIP"));
    int32_t value = 0;
    std::memcpy(&value, reinterpret_cast<const char*>(&after) + offset, sizeof value);
    QCOMPARE(value, expected);
    QVERIFY(SameExcept(before, after, std::size_t(offset), sizeof(int32_t)));
}

void TestFileMgrEdit::integerOverflowEndsCommand_data()
{
    QTest::addColumn<QString>("field");
    QTest::newRow("size") << "f_size";
    QTest::newRow("downloads") << "f_downloads";
    QTest::newRow("cost") << "f_cost";
}

void TestFileMgrEdit::integerOverflowEndsCommand()
{
    QFETCH(QString, field);
    auto w = OpenMainWindow();
    // Two lines selected: the first fails, so neither is written.
    ClickLine(*w, 0);
    ClickLine(*w, 1, Qt::ControlModifier);
    const FullFileRec a = ReadRecord(1, QStringLiteral("A1.ZIP"));
    const FullFileRec b = ReadRecord(1, QStringLiteral("B2.ZIP"));
    auto* edit = w->findChild<QLineEdit*>(field);
    edit->setText(QStringLiteral("2147483648"));
    w->f_desc->setText(QStringLiteral("changed too"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QCOMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(m_dialogs->shown.first().kind, MessageKind::Error);
    QCOMPARE(m_dialogs->shown.first().text,
             QStringLiteral("'2147483648' is not a valid integer value"));
    const FullFileRec a2 = ReadRecord(1, QStringLiteral("A1.ZIP"));
    const FullFileRec b2 = ReadRecord(1, QStringLiteral("B2.ZIP"));
    QCOMPARE(std::memcmp(&a, &a2, sizeof a), 0);
    QCOMPARE(std::memcmp(&b, &b2, sizeof b), 0);
    // The panel keeps its edits and the button its caption.
    QCOMPARE(w->b_freshen->text(), kUpdate);
    QCOMPARE(edit->text(), QStringLiteral("2147483648"));
    QCOMPARE(w->f_desc->text(), QStringLiteral("changed too"));
    QVERIFY(w->isVisible());
}

void TestFileMgrEdit::uploaderLookup()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    w->f_uploader->setText(QStringLiteral("John Doe"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    UserRef expected{};
    {
        ServerLogin login;
        QVERIFY(LookupName("John Doe", &expected));
    }
    const FullFileRec known = ReadRecord(1, QStringLiteral("A1.ZIP"));
    QVERIFY(expected.UserId != 0);
    QCOMPARE(std::memcmp(&known.Rec.Uploader, &expected, sizeof expected), 0);

    ClickLine(*w, 0);
    QCOMPARE(w->f_uploader->text(), QStringLiteral("John Doe"));
    w->f_uploader->setText(QStringLiteral("Nobody Known"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    const FullFileRec unknown = ReadRecord(1, QStringLiteral("A1.ZIP"));
    const UserRef zero{};
    QCOMPARE(std::memcmp(&unknown.Rec.Uploader, &zero, sizeof zero), 0);
    QVERIFY(SameExcept(known, unknown, offsetof(FileRec, Uploader), sizeof(UserRef)));
}

void TestFileMgrEdit::memoRules_data()
{
    QTest::addColumn<QString>("memo");
    QTest::addColumn<int>("has");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("one blank line") << QStringLiteral(" \t ") << 0 << QStringList();
    QTest::newRow("empty memo") << QString() << 0 << QStringList();
    QStringList twenty;
    for (int i = 0; i < 20; ++i)
        twenty << QStringLiteral("line %1").arg(i);
    QTest::newRow("twenty lines") << twenty.join(u'\n') << 1 << twenty.mid(0, 15);
    const QString longLine(85, u'x');
    QTest::newRow("line cut to 79") << longLine + QStringLiteral("\nsecond") << 1
                                    << QStringList{QString(79, u'x'), QStringLiteral("second")};
    QTest::newRow("trailing line end") << QStringLiteral("one\ntwo\n") << 1
                                       << QStringList{QStringLiteral("one"), QStringLiteral("two")};
}

void TestFileMgrEdit::memoRules()
{
    QFETCH(QString, memo);
    QFETCH(int, has);
    QFETCH(QStringList, lines);
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    w->Long_Desc->setPlainText(memo);
    QVERIFY(w->FieldChanged[18]);
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    const FullFileRec after = ReadRecord(1, QStringLiteral("A1.ZIP"));
    QCOMPARE(after.Rec.HasLongDescription, has);
    for (int i = 0; i < LongDescLines; ++i)
        QCOMPARE(RecText(after.LongDescription[i]), lines.value(i));
}

void TestFileMgrEdit::memoFromFiveToThreeLines()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    w->Long_Desc->setPlainText(QStringLiteral("1\n2\n3\n4\n5"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    FullFileRec after = ReadRecord(1, QStringLiteral("A1.ZIP"));
    QCOMPARE(RecText(after.LongDescription[4]), QStringLiteral("5"));
    ClickLine(*w, 0);
    QCOMPARE(w->Long_Desc->toPlainText(), QStringLiteral("1\n2\n3\n4\n5"));
    w->Long_Desc->setPlainText(QStringLiteral("a\nb\nc"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    after = ReadRecord(1, QStringLiteral("A1.ZIP"));
    QCOMPARE(after.Rec.HasLongDescription, 1);
    QCOMPARE(RecText(after.LongDescription[2]), QStringLiteral("c"));
    for (int i = 3; i < LongDescLines; ++i)
        QVERIFY(RecText(after.LongDescription[i]).isEmpty());
}

void TestFileMgrEdit::editingTimeKeepsTwoDigitYear_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("year");
    QTest::newRow("as shown, 2003") << QString() << 2003;
    QTest::newRow("typed 79 is 2079") << QStringLiteral("06/01/79") << 2079;
    QTest::newRow("typed 80 is 1980") << QStringLiteral("06/01/80") << 1980;
    QTest::newRow("typed 00 is 2000") << QStringLiteral("06/01/00") << 2000;
    QTest::newRow("typed 99 is 1999") << QStringLiteral("06/01/99") << 1999;
}

void TestFileMgrEdit::editingTimeKeepsTwoDigitYear()
{
    QFETCH(QString, date);
    QFETCH(int, year);
    auto w = OpenMainWindow();
    ClickLine(*w, 2);
    QCOMPARE(w->f_FileDate->text(), QStringLiteral("01/15/03"));
    if (!date.isEmpty())
        w->f_FileDate->setText(date);
    w->f_FileTime->selectAll();
    QTest::keyClicks(w->f_FileTime, QStringLiteral("1422"));
    QCOMPARE(w->f_FileTime->text(), QStringLiteral("14:22"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QVERIFY(m_dialogs->shown.isEmpty());
    const FullFileRec after = ReadRecord(1, QStringLiteral("C3.ZIP"));
    QCOMPARE(YearOf(after.Rec.FileTime), year);
    QCOMPARE(FileTimeToTimeText(after.Rec.FileTime), QStringLiteral("14:22"));
    // The last-accessed time was not edited.
    QCOMPARE(std::memcmp(&after.Rec.LastAccessed, &m_added[2].Rec.LastAccessed, 8), 0);
}

void TestFileMgrEdit::dateConversionFailureWarnsAndGoesOn_data()
{
    QTest::addColumn<bool>("access");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("warning");
    const QString file = QStringLiteral("Could not convert File Date or Time.");
    const QString access = QStringLiteral("Could not convert Last Accessed Date or Time ");
    QTest::newRow("date 00/00/00") << false << "00/00/00"
                                   << "10:00" << file;
    QTest::newRow("day 30 of February") << false << "02/30/98"
                                        << "10:00" << file;
    QTest::newRow("hour 25") << false << "01/01/98"
                             << "25:00" << file;
    QTest::newRow("date left blank") << false << ""
                                     << "10:00" << file;
    QTest::newRow("access month 13") << true << "13/01/98"
                                     << "10:00" << access;
    QTest::newRow("access minute 60") << true << "01/01/98"
                                      << "10:60" << access;
}

void TestFileMgrEdit::dateConversionFailureWarnsAndGoesOn()
{
    QFETCH(bool, access);
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, warning);
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    const FullFileRec before = ReadRecord(1, QStringLiteral("A1.ZIP"));
    (access ? w->f_accessDate : w->f_FileDate)->setText(date);
    (access ? w->f_accessTime : w->f_FileTime)->setText(time);
    w->f_desc->setText(QStringLiteral("still stored"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QCOMPARE(m_dialogs->texts(), QStringList{warning});
    QCOMPARE(m_dialogs->shown.first().kind, MessageKind::Warning);
    const FullFileRec after = ReadRecord(1, QStringLiteral("A1.ZIP"));
    QCOMPARE(RecText(after.Rec.Description), QStringLiteral("still stored"));
    QCOMPARE(std::memcmp(&after.Rec.FileTime, &before.Rec.FileTime, 8), 0);
    QCOMPARE(std::memcmp(&after.Rec.LastAccessed, &before.Rec.LastAccessed, 8), 0);
}

void TestFileMgrEdit::freshenTakesSizeAndDate()
{
    const FullFileRec before = ReadRecord(1, QStringLiteral("A1.ZIP"));
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    QCOMPARE(w->f_size->text(), QStringLiteral("100"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QVERIFY(m_dialogs->shown.isEmpty());
    const FullFileRec after = ReadRecord(1, QStringLiteral("A1.ZIP"));
    QCOMPARE(after.Rec.Size, 10); // "0123456789"
    // The file was written just now: its local date is today's.
    const QFileInfo info(QDir(m_bbs->areaFolder(1)).filePath(QStringLiteral("A1.ZIP")));
    QCOMPARE(FileTimeToDateText(after.Rec.FileTime),
             info.lastModified().toString(QStringLiteral("MM/dd/yy")));
    QCOMPARE(w->f_size->text(), QStringLiteral("10"));
    QVERIFY(SameExcept(before, after, offsetof(FileRec, Size), 12));
}

void TestFileMgrEdit::freshenMissingFileWarnsOthersGoOn()
{
    QVERIFY(QFile::remove(QDir(m_bbs->areaFolder(1)).filePath(QStringLiteral("B2.ZIP"))));
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    ClickLine(*w, 1, Qt::ShiftModifier);
    ClickLine(*w, 2, Qt::ShiftModifier);
    QCOMPARE(w->FileListBox->SelCount(), 3);
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QCOMPARE(m_dialogs->texts(), QStringList{QStringLiteral("File Not Found! Can not Freshen.")});
    QCOMPARE(ReadRecord(1, QStringLiteral("A1.ZIP")).Rec.Size, 10);
    QCOMPARE(ReadRecord(1, QStringLiteral("B2.ZIP")).Rec.Size, 200);
    QCOMPARE(ReadRecord(1, QStringLiteral("C3.ZIP")).Rec.Size, 10);
    QCOMPARE(ReadRecord(1, QStringLiteral("D4.ZIP")).Rec.Size, 400); // not selected
}

void TestFileMgrEdit::pendingChangesQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes stores, shown line stays") << true;
    QTest::newRow("no drops changes") << false;
}

void TestFileMgrEdit::pendingChangesQuestion()
{
    QFETCH(bool, yes);
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    w->f_desc->setText(QStringLiteral("pending"));
    m_dialogs->answer(yes ? DialogAnswer::Yes : DialogAnswer::No);
    ClickLine(*w, 1);
    QCOMPARE(m_dialogs->texts(),
             QStringList{QStringLiteral("Update File Record with changes before continuing?")});
    const QString stored = RecText(ReadRecord(1, QStringLiteral("A1.ZIP")).Rec.Description);
    QCOMPARE(stored, yes ? QStringLiteral("pending") : QStringLiteral("Description 1"));
    QCOMPARE(w->f_FileName->text(), yes ? QStringLiteral("A1.ZIP") : QStringLiteral("B2.ZIP"));
    QCOMPARE(w->FileListBox->Selected(0), yes);
    QCOMPARE(w->FileListBox->Selected(1), !yes);
    QCOMPARE(w->b_freshen->text(), kFreshen);
}

void TestFileMgrEdit::mouseMoveWithManySelectedAsks()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    ClickLine(*w, 1, Qt::ControlModifier);
    w->cbf_FailedScan->setChecked(true);
    m_dialogs->answer(DialogAnswer::No);
    QTest::mouseMove(w->FileListBox->viewport(), QPoint(5, 5));
    QTRY_COMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(w->b_freshen->text(), kFreshen);
    QVERIFY(!w->RecordChanged);
    QCOMPARE(ReadRecord(1, QStringLiteral("A1.ZIP")).Rec.FailedScan, 0);
}

// The panel shows the one selected line's record or nothing: after a
// Ctrl+click takes a line out of a two-line selection, the line left
// selected is shown, and an update writes into it alone. A selection that
// changed without a click never receives what was typed over another record.
// Every byte of every record is compared before and after.
void TestFileMgrEdit::panelShowsTheSelectedRecord_data()
{
    QTest::addColumn<QList<int>>("clicks"); // row + 100 for Ctrl+click
    QTest::addColumn<int>("selectOnly");    // -1, or a row selected without a click
    QTest::addColumn<QString>("shown");     // the panel after the clicks
    QTest::addColumn<int>("written");       // index into the records, -1 for none
    QTest::newRow("A, Ctrl+B, Ctrl+B again")
        << QList<int>{0, 101, 101} << -1 << QStringLiteral("A1.ZIP") << 0;
    QTest::newRow("A, Ctrl+B, Ctrl+A")
        << QList<int>{0, 101, 100} << -1 << QStringLiteral("B2.ZIP") << 1;
    QTest::newRow("C, Ctrl+D, Ctrl+D again")
        << QList<int>{2, 103, 103} << -1 << QStringLiteral("C3.ZIP") << 2;
    QTest::newRow("A shown, B selected without a click")
        << QList<int>{0} << 1 << QStringLiteral("A1.ZIP") << -1;
}

void TestFileMgrEdit::panelShowsTheSelectedRecord()
{
    QFETCH(QList<int>, clicks);
    QFETCH(int, selectOnly);
    QFETCH(QString, shown);
    QFETCH(int, written);
    const QList<QByteArray> before = AllRecords();
    QCOMPARE(before.size(), 5);
    auto w = OpenMainWindow();
    for (int i = 0; i < clicks.size(); ++i) {
        const int c = clicks[i];
        ClickLine(*w, c % 100, c >= 100 ? Qt::ControlModifier : Qt::NoModifier);
        if (i == 1) {
            // Two lines selected: the panel is empty.
            QCOMPARE(w->FileListBox->SelCount(), 2);
            QVERIFY(w->f_FileName->text().isEmpty());
        }
    }
    if (selectOnly >= 0) {
        w->FileListBox->clearSelection();
        w->FileListBox->SetSelected(selectOnly, true);
        w->FileListBox->SetItemIndex(selectOnly);
    }
    QCOMPARE(w->FileListBox->SelCount(), 1);
    const QString name = w->f_FileName->text();
    QVERIFY2(name == shown, qPrintable(name));
    if (selectOnly < 0)
        QCOMPARE(w->FileListBox->Line(w->FileListBox->SelectedRows().constFirst()), shown);
    w->f_desc->setText(QStringLiteral("typed over ") + name);
    QCOMPARE(w->b_freshen->text(), kUpdate);
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QVERIFY2(m_dialogs->shown.isEmpty(), qPrintable(m_dialogs->texts().join(u'|')));

    const QList<QByteArray> after = AllRecords();
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i) {
        if (i != written) {
            QVERIFY2(after[i] == before[i], qPrintable(QString::number(i)));
            continue;
        }
        FullFileRec a{}, b{};
        std::memcpy(&a, before[i].constData(), sizeof a);
        std::memcpy(&b, after[i].constData(), sizeof b);
        QCOMPARE(RecText(b.Rec.Name), shown);
        QCOMPARE(RecText(b.Rec.Description), QStringLiteral("typed over ") + shown);
        QVERIFY(SameExcept(a, b, offsetof(FileRec, Description), sizeof b.Rec.Description));
    }
}

// Editing only a time field keeps the stored day, also for days the two
// year digits of the date field cannot bring back: a file time of 0 (shown
// 01/01/01, a dropped file's LastAccessed), 1979 and 2080.
void TestFileMgrEdit::timeOnlyEditKeepsDay_data()
{
    QTest::addColumn<bool>("access");
    QTest::addColumn<quint64>("stored");
    QTest::addColumn<QString>("shownDate");
    const auto v = [](FILETIME f) { return quint64(FileTimeValue(f)); };
    for (bool access : {false, true}) {
        const char* field = access ? "access" : "file";
        QTest::addRow("%s time 0", field) << access << quint64(0) << QStringLiteral("01/01/01");
        QTest::addRow("%s 1979", field)
            << access << v(TestTime(1979, 7, 4, 8, 15, 37)) << QStringLiteral("07/04/79");
        QTest::addRow("%s 2080", field)
            << access << v(TestTime(2080, 2, 29, 6, 0)) << QStringLiteral("02/29/80");
        QTest::addRow("%s 2003", field)
            << access << v(TestTime(2003, 1, 15, 10, 0)) << QStringLiteral("01/15/03");
    }
}

void TestFileMgrEdit::timeOnlyEditKeepsDay()
{
    QFETCH(bool, access);
    QFETCH(quint64, stored);
    QFETCH(QString, shownDate);
    const FILETIME other = TestTime(1998, 6, 7, 8, 9);
    QVERIFY(SetRecordTimes(1, QStringLiteral("B2.ZIP"), access ? other : MakeFileTime(stored),
                           access ? MakeFileTime(stored) : other));
    const FullFileRec before = ReadRecord(1, QStringLiteral("B2.ZIP"));
    auto w = OpenMainWindow();
    ClickLine(*w, 1);
    QCOMPARE((access ? w->f_accessDate : w->f_FileDate)->text(), shownDate);
    QLineEdit* time = access ? w->f_accessTime : w->f_FileTime;
    time->selectAll();
    QTest::keyClicks(time, QStringLiteral("1422"));
    QCOMPARE(time->text(), QStringLiteral("14:22"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QVERIFY2(m_dialogs->shown.isEmpty(), qPrintable(m_dialogs->texts().join(u'|')));

    const FullFileRec after = ReadRecord(1, QStringLiteral("B2.ZIP"));
    SystemTime was, now;
    QVERIFY(FileTimeToSystemTime(MakeFileTime(stored), was));
    QVERIFY(FileTimeToSystemTime(access ? after.Rec.LastAccessed : after.Rec.FileTime, now));
    QCOMPARE(int(now.year), int(was.year));
    QCOMPARE(int(now.month), int(was.month));
    QCOMPARE(int(now.day), int(was.day));
    QCOMPARE(int(now.hour), 14);
    QCOMPARE(int(now.minute), 22);
    QCOMPARE(int(now.second), 0);
    QVERIFY(SameExcept(before, after,
                       access ? offsetof(FileRec, LastAccessed) : offsetof(FileRec, FileTime),
                       sizeof(FILETIME)));
}

// A time field with a position left blank is no time: the design's warning,
// the stored time unchanged, the other edits stored.
void TestFileMgrEdit::halfFilledTimeFails_data()
{
    QTest::addColumn<bool>("access");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    for (bool access : {false, true}) {
        const char* field = access ? "access" : "file";
        QTest::addRow("%s 1_:30", field) << access << "1_30"
                                         << "1_:30";
        QTest::addRow("%s 12:3_", field) << access << "123"
                                         << "12:3_";
        QTest::addRow("%s _9:05", field) << access << "_905"
                                         << "_9:05";
        QTest::addRow("%s __:__", field) << access << ""
                                         << "__:__";
    }
}

void TestFileMgrEdit::halfFilledTimeFails()
{
    QFETCH(bool, access);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    const FullFileRec before = ReadRecord(1, QStringLiteral("A1.ZIP"));
    QLineEdit* time = access ? w->f_accessTime : w->f_FileTime;
    time->selectAll();
    QTest::keyClick(time, Qt::Key_Delete);
    TypeMasked(time, keys);
    QCOMPARE(time->displayText(), shown);
    w->f_desc->setText(QStringLiteral("still stored"));
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QCOMPARE(m_dialogs->texts(),
             QStringList{access ? QStringLiteral("Could not convert Last Accessed Date or Time ")
                                : QStringLiteral("Could not convert File Date or Time.")});
    const FullFileRec after = ReadRecord(1, QStringLiteral("A1.ZIP"));
    QCOMPARE(RecText(after.Rec.Description), QStringLiteral("still stored"));
    QVERIFY(
        SameExcept(before, after, offsetof(FileRec, Description), sizeof after.Rec.Description));
}

void TestFileMgrEdit::recordTextsKeepEveryByte_data()
{
    QTest::addColumn<QString>("page"); // the CodePage setting
    QTest::addColumn<int>("first");    // lowest byte value stored
    // Shown characters of some bytes.
    QTest::addColumn<QString>("inDesc");
    QTest::addColumn<QString>("inLong");
    QTest::addColumn<QString>("notInLong");
    // Code page 437 gives a glyph to every byte 1-255; Latin-1 shows 1-31
    // as control characters, so that row starts at the blank.
    QTest::newRow("code page 437")
        << QStringLiteral("437") << 1 << QStringLiteral("\u263A\u263B\u2665\u25D9\u266A")
        << QStringLiteral("\u00C7\u2554\u2550\u2557\u2551\u2588\u00A0")
        << QStringLiteral("\u00CA\u00FE");
    QTest::newRow("Latin-1") << QStringLiteral("Latin1") << 32 << QStringLiteral(" !AZaj")
                             << QStringLiteral("\u00C7\u00E9\u00FF\u00A0")
                             << QStringLiteral("\u2550");
    // Cyrillic letters and box drawing; no Latin-1 letters.
    QTest::newRow("code page 866")
        << QStringLiteral("866") << 1 << QStringLiteral("\u263A\u263B\u2665\u25D9\u266A")
        << QStringLiteral("\u0410\u042F\u0430\u044F\u2554\u0401\u2116")
        << QStringLiteral("\u00C7\u00E9");
}

void TestFileMgrEdit::recordTextsKeepEveryByte()
{
    QFETCH(QString, page);
    QFETCH(int, first);
    QFETCH(QString, inDesc);
    QFETCH(QString, inLong);
    QFETCH(QString, notInLong);
    {
        QFile cfg(m_folder->configPath());
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write(QByteArray("[General]\r\nwcHomeDir=/wc5/\r\nCodePage=") + page.toLatin1() +
                  "\r\n[Tools]\r\nZipViewer_Prg1=xdg-open\r\n");
    }
    // Every byte value from `first` to 255 once: the description's 75, then
    // long description lines of 79 (none starts or ends with a blank).
    QByteArray all;
    for (int b = first; b <= 255; ++b)
        all.append(char(b));
    bool found = false;
    {
        ServerLogin login;
        FileRec rec{};
        FullFileRec full{};
        uint32_t position = 0;
        QVERIFY(login.ok() && GetFileRecByAreaName(1, "A1.ZIP", &rec, &position) &&
                GetFullFileRec(&rec, &full));
        std::memset(full.Rec.Description, 0, sizeof full.Rec.Description);
        std::memcpy(full.Rec.Description, all.constData(), 75);
        std::memset(full.LongDescription, 0, sizeof full.LongDescription);
        int line = 0;
        for (qsizetype at = 75; at < all.size(); at += 79, ++line)
            std::memcpy(full.LongDescription[line], all.constData() + at,
                        std::min<qsizetype>(79, all.size() - at));
        full.Rec.HasLongDescription = 1;
        QVERIFY(UpdateFullFileRec(&full));
    }
    const FullFileRec before = ReadRecord(1, QStringLiteral("A1.ZIP"), &found);
    QVERIFY(found);
    QCOMPARE(QByteArray(before.Rec.Description), all.left(75));

    auto w = OpenMainWindow();
    CodePage expected = CodePage::Latin1;
    QVERIFY(CodePageOfName(page, expected));
    QCOMPARE(CurrentRecordCodePage(), expected);
    ClickLine(*w, 0);
    QCOMPARE(w->f_desc->text().size(), 75);
    for (QChar c : inDesc)
        QVERIFY2(w->f_desc->text().contains(c), qPrintable(QString::number(c.unicode(), 16)));
    const QString memo = w->Long_Desc->document()->toRawText();
    for (QChar c : inLong)
        QVERIFY2(memo.contains(c), qPrintable(QString::number(c.unicode(), 16)));
    for (QChar c : notInLong)
        QVERIFY(!memo.contains(c));
    if (expected != CodePage::Latin1)
        QVERIFY(w->Long_Desc->font().fixedPitch() ||
                w->Long_Desc->font().styleHint() == QFont::Monospace);

    // An edit undone in each text field, then Update: every byte comes back.
    // (The description edit is full: its last character is typed again.)
    const QString lastDesc = w->f_desc->text().right(1);
    QTest::keyClick(w->f_desc, Qt::Key_Backspace);
    QTest::keyClicks(w->f_desc, lastDesc);
    w->Long_Desc->moveCursor(QTextCursor::End);
    QTest::keyClicks(w->Long_Desc, QStringLiteral("!"));
    QTest::keyClick(w->Long_Desc, Qt::Key_Backspace);
    QVERIFY(w->FieldChanged[17]);
    QVERIFY(w->FieldChanged[18]);
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    QCOMPARE(w->b_freshen->text(), kFreshen);
    const FullFileRec after = ReadRecord(1, QStringLiteral("A1.ZIP"), &found);
    QVERIFY(found);
    QCOMPARE(QByteArray(after.Rec.Description, sizeof after.Rec.Description),
             QByteArray(before.Rec.Description, sizeof before.Rec.Description));
    for (int i = 0; i < LongDescLines; ++i)
        QCOMPARE(QByteArray(after.LongDescription[i], LongDescLineSize),
                 QByteArray(before.LongDescription[i], LongDescLineSize));
    QCOMPARE(std::memcmp(&before, &after, sizeof before), 0);
}

void TestFileMgrEdit::setupSwitchesShownTexts()
{
    // A description with box drawing, shown as Latin-1 first.
    const QByteArray box("\xC9\xCD\xBB caf\x82");
    {
        ServerLogin login;
        FileRec rec{};
        FullFileRec full{};
        uint32_t position = 0;
        QVERIFY(login.ok() && GetFileRecByAreaName(1, "B2.ZIP", &rec, &position) &&
                GetFullFileRec(&rec, &full));
        std::memset(full.Rec.Password, 0, sizeof full.Rec.Password);
        std::memcpy(full.Rec.Password, box.constData(), size_t(box.size()));
        QVERIFY(UpdateFullFileRec(&full));
    }
    auto w = OpenMainWindow();
    QCOMPARE(CurrentRecordCodePage(), RecordCodePage::Latin1);
    const QFont before = w->f_Password->font();
    ClickLine(*w, 1);
    QCOMPARE(w->f_Password->text(), QString::fromLatin1(box));
    // A pending edit of the description keeps its place through the switch.
    w->f_desc->insert(QString::fromLatin1("\xE9"));
    OnNextModal([](QWidget* modal) {
        auto* dlg = qobject_cast<TSetupDlg*>(modal);
        QVERIFY(dlg);
        dlg->cb_CodePage->setCurrentIndex(int(CodePage::Cp437));
        QTest::mouseClick(dlg->BitBtn1, Qt::LeftButton);
    });
    w->SetupFileMgr1Click();
    QCOMPARE(CurrentRecordCodePage(), RecordCodePage::Cp437);
    QCOMPARE(w->f_Password->text(), QStringLiteral("\u2554\u2550\u2557 caf\u00E9"));
    QVERIFY(w->f_Password->font() != before);
    QVERIFY(w->FieldChanged[17]);
    QVERIFY(!w->FieldChanged[16]);
    QCOMPARE(w->f_desc->text(), QStringLiteral("Description 2\u0398")); // 0xE9 in 437
    QTest::mouseClick(w->b_freshen, Qt::LeftButton);
    const FullFileRec after = ReadRecord(1, QStringLiteral("B2.ZIP"));
    QCOMPARE(QByteArray(after.Rec.Password), box);
    QCOMPARE(QByteArray(after.Rec.Description), QByteArray("Description 2\xE9"));
}

VT_TEST_MAIN(TestFileMgrEdit)
#include "test_filemgr_edit.moc"
