// The move manager against a real BBS.
#include "ManagerTestSupport.h"

#include "filter/SearchRecord.h"
#include "managers/ManagerSupport.h"
#include "managers/TMoveMgr.h"
#include "platform/wcsrv/WcFault.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <cstring>
#include <memory>
#include <optional>

namespace
{

const QString kDiskQuestion = QStringLiteral(
    "Would you also like to move the actual file the resides on disk? (If you choose NO, then "
    "just the file record is moved)");
const QString kNotMoved = QStringLiteral("Some files and their associated records were not moved "
                                         "because the files could not be found on disk.");
const QString kStopQuestion =
    QStringLiteral("Some Files have already been moved.\r\rStop File Move Process?");

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestMoveMgr : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

    static QByteArray content(const char* name) { return QByteArray("content of ") + name; }

    // Area 1 "Source": A.ZIP, B.TXT, C.ZIP with files; area 2 "Target":
    // OLD.ZIP; area 3 "Third": nothing.
    void fillBbs()
    {
        m_bbs->addArea(1, QStringLiteral("Source"));
        m_bbs->addArea(2, QStringLiteral("Target"));
        m_bbs->addArea(3, QStringLiteral("Third"));
        for (const char* name : {"A.ZIP", "B.TXT", "C.ZIP"}) {
            const QByteArray c = content(name);
            m_bbs->addFile(1, QString::fromLatin1(name), &c);
        }
        const QByteArray old = content("OLD.ZIP");
        m_bbs->addFile(2, QStringLiteral("OLD.ZIP"), &old);
    }

    static void choose(TMoveMgr& form, int from, int to)
    {
        LineOfArea(form.AreaList1, from)->setSelected(true);
        LineOfArea(form.AreaList2, to)->setSelected(true);
    }

    static QStringList recordStatus(const QStringList& history)
    {
        QStringList out;
        for (const QString& s : history)
            if (s.startsWith(QLatin1String("File")) || s.startsWith(QLatin1String("Moving")))
                out << s;
        return out;
    }

private slots:
    void initTestCase() { EventPump::SetInterval(0); }

    void init()
    {
        WcFaultReset();
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        fillBbs();
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanup()
    {
        WcFaultReset();
        m_login.reset();
        m_bbs.reset();
    }

    void layoutAndCaptions()
    {
        TMoveMgr form;
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("File Area Move Manager"));
        QCOMPARE(form.AreaList1->count(), 3);
        QCOMPARE(form.AreaList2->count(), 3);
        QCOMPARE(form.AreaList1->item(1)->text(), QStringLiteral("   2: Target"));
        QCOMPARE(form.AreaList1->width(), 236);
        QCOMPARE(form.b_MoveToList2->text(), QStringLiteral("&Move  Files"));
        QCOMPARE(form.b_Close->text(), QStringLiteral("&Close"));
        QCOMPARE(form.b_Cancel->text(), QStringLiteral("Cancel"));
        QVERIFY(!form.b_Cancel->isVisible());
        QVERIFY(form.cb_CountFiles->isChecked());
        QCOMPARE(form.L_FromArea->text(), QStringLiteral("Move Files FROM Area"));
        QCOMPARE(form.L_ToArea->text(), QStringLiteral("TO Area"));
        QCOMPARE(form.L_numFiles1->text(), QStringLiteral("#Areas"));
        QCOMPARE(form.Label1->text(), QStringLiteral("Files In Area:"));
        form.close();
    }

    void areaClicksShowCounts()
    {
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        QCOMPARE(form.L_FromArea->text(), QStringLiteral("Move Files FROM Area: 1"));
        QCOMPARE(form.L_numFiles1->text(), QStringLiteral("3"));
        QCOMPARE(form.L_ToArea->text(), QStringLiteral("TO Area: 2"));
        QCOMPARE(form.L_NumFiles2->text(), QStringLiteral("1"));
        form.close();
    }

    void checksBeforeMoving_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("kind");
        QTest::newRow("no destination")
            << 1 << 0 << "You must select a file area in both lists to preform a move operation."
            << int(MessageKind::Information);
        QTest::newRow("no source")
            << 0 << 2 << "You must select a file area in both lists to preform a move operation."
            << int(MessageKind::Information);
        QTest::newRow("same area")
            << 2 << 2 << "Can not move files to the same file area." << int(MessageKind::Warning);
    }

    void checksBeforeMoving()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, message);
        QFETCH(int, kind);
        TMoveMgr form;
        form.show();
        if (from)
            LineOfArea(form.AreaList1, from)->setSelected(true);
        if (to)
            LineOfArea(form.AreaList2, to)->setSelected(true);
        DialogScript dialogs;
        form.b_MoveToList2->click();
        QCOMPARE(dialogs.texts(), QStringList{message});
        QCOMPARE(int(dialogs.shown.first().kind), kind);
        QCOMPARE(NamesInArea(1).size(), 3);
        form.close();
    }

    void declinedMoveChangesNothing()
    {
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::No);
        form.b_MoveToList2Click();
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral(
                                      "Move Files in Area \"Source\" from # 1 to file area # 2")});
        QCOMPARE(NamesInArea(1).size(), 3);
        QVERIFY(!form.b_Cancel->isVisible());
        QVERIFY(!form.IsRunning());
        form.close();
    }

    void moves_data()
    {
        QTest::addColumn<bool>("withFiles");
        QTest::newRow("records only") << false;
        QTest::newRow("records and files") << true;
    }

    void moves()
    {
        QFETCH(bool, withFiles);
        // The copy of a move, as between two file systems (a move on one
        // renames: renameKeepsTheFile).
        SplitDevices acrossFileSystems;
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        QStringList history;
        connect(&form, &TMoveMgr::StatusTextChanged, this, [&](const QString& t) { history << t; });
        bool cancelShown = false, buttonsDisabled = false;
        WhenDuringRun([&] { return form.IsRunning() && form.ProgressBar->value() == 1; },
                      [&] {
                          cancelShown = form.b_Cancel->isVisible();
                          buttonsDisabled =
                              !form.b_MoveToList2->isEnabled() && !form.b_Close->isEnabled();
                      });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(withFiles ? DialogAnswer::Yes : DialogAnswer::No);
        form.b_MoveToList2->click();
        QVERIFY(!dialogs.unexpected);
        QCOMPARE(
            dialogs.texts(),
            (QStringList{QStringLiteral("Move Files in Area \"Source\" from # 1 to file area # 2"),
                         kDiskQuestion}));
        QVERIFY(cancelShown && buttonsDisabled);
        QVERIFY(history.contains(QStringLiteral("Building file list.  Stand by.")));
        const QString done = withFiles ? QStringLiteral("File & record: %1 successfully moved.")
                                       : QStringLiteral("File record: %1 successfully moved.");
        QCOMPARE(recordStatus(history),
                 (QStringList{QStringLiteral("Moving File [A.ZIP] to Area 2"), done.arg("A.ZIP"),
                              QStringLiteral("Moving File [B.TXT] to Area 2"), done.arg("B.TXT"),
                              QStringLiteral("Moving File [C.ZIP] to Area 2"), done.arg("C.ZIP")}));
        QVERIFY(NamesInArea(1).isEmpty());
        QCOMPARE(NamesInArea(2), (QStringList{QStringLiteral("A.ZIP"), QStringLiteral("B.TXT"),
                                              QStringLiteral("C.ZIP"), QStringLiteral("OLD.ZIP")}));
        QCOMPARE(form.L_numFiles1->text(), QStringLiteral("0"));
        QCOMPARE(form.L_NumFiles2->text(), QStringLiteral("4"));
        // A move copies: the source folder keeps its files.
        for (const char* name : {"A.ZIP", "B.TXT", "C.ZIP"}) {
            QVERIFY(m_bbs->fileOnDisk(1, QString::fromLatin1(name)));
            QCOMPARE(m_bbs->fileOnDisk(2, QString::fromLatin1(name)), withFiles);
        }
        if (withFiles)
            QCOMPARE(ReadAll(QDir(m_bbs->areaFolder(2)).filePath(QStringLiteral("C.ZIP"))),
                     content("C.ZIP"));
        QCOMPARE(form.StatusText(), QString());
        QVERIFY(!form.b_Cancel->isVisible());
        QVERIFY(form.b_MoveToList2->isEnabled());
        QCOMPARE(form.ProgressBar->value(), 0);
        form.close();
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("withFiles");
        QTest::newRow("Yes, records only") << true << false;
        QTest::newRow("No, records only") << false << false;
        QTest::newRow("Yes, with files") << true << true;
        QTest::newRow("No, with files") << false << true;
    }

    void cancel()
    {
        QFETCH(bool, stop);
        QFETCH(bool, withFiles);
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        // "Cancel" when the second name's turn comes.
        WhenDuringRun([&] { return form.IsRunning() && form.ProgressBar->value() == 2; },
                      [&] { form.b_Cancel->click(); });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(withFiles ? DialogAnswer::Yes : DialogAnswer::No);
        dialogs.answer(stop ? DialogAnswer::Yes : DialogAnswer::No);
        form.b_MoveToList2Click();
        QVERIFY(!dialogs.unexpected);
        QCOMPARE(dialogs.texts().size(), 3);
        QCOMPARE(dialogs.texts().at(2), kStopQuestion);
        const int moved = stop ? 1 : 3;
        QCOMPARE(NamesInArea(1).size(), 3 - moved);
        QCOMPARE(NamesInArea(2).size(), 1 + moved);
        QCOMPARE(form.L_numFiles1->text(), QString::number(3 - moved));
        QCOMPARE(form.L_NumFiles2->text(), QString::number(1 + moved));
        QCOMPARE(form.StatusText(), QString());
        QVERIFY(!form.IsRunning());
        QVERIFY(!form.b_Cancel->isVisible());
        form.close();
    }

    void closeBoxDuringMoveAsksToStop()
    {
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        WhenDuringRun([&] { return form.IsRunning() && form.ProgressBar->value() == 1; },
                      [&] { form.close(); });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::No).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        QCOMPARE(dialogs.texts().value(2), kStopQuestion);
        QVERIFY(form.isVisible());
        QCOMPARE(NamesInArea(1).size(), 3);
        form.close();
        QVERIFY(!form.isVisible());
    }

    void missingFile()
    {
        QVERIFY(QFile::remove(QDir(m_bbs->areaFolder(1)).filePath(QStringLiteral("B.TXT"))));
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        QStringList history;
        connect(&form, &TMoveMgr::StatusTextChanged, this, [&](const QString& t) { history << t; });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        QVERIFY(history.contains(QStringLiteral("File: B.TXT does not exist. Can not move.")));
        QCOMPARE(dialogs.texts().last(), kNotMoved);
        QCOMPARE(NamesInArea(1), QStringList{QStringLiteral("B.TXT")});
        QCOMPARE(form.L_numFiles1->text(), QStringLiteral("1"));
        QCOMPARE(form.L_NumFiles2->text(), QStringLiteral("3"));
        form.close();
    }

    void missingFileWithoutDiskFlagIsMoved()
    {
        QVERIFY(QFile::remove(QDir(m_bbs->areaFolder(1)).filePath(QStringLiteral("B.TXT"))));
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::No);
        form.b_MoveToList2Click();
        QCOMPARE(dialogs.shown.size(), 2); // no final message
        QVERIFY(NamesInArea(1).isEmpty());
        form.close();
    }

    // The destination holds the name: with a record of it (found before
    // the move), or only a file of it in any letter case (found by the move
    // itself, which never replaces a file, also where it would copy).
    void nameTakenInDestination_data()
    {
        QTest::addColumn<bool>("withRecord");
        QTest::addColumn<QString>("diskName");
        QTest::addColumn<bool>("split");
        QTest::newRow("record and file") << true << QStringLiteral("OLD.ZIP") << false;
        QTest::newRow("file alone") << false << QStringLiteral("NEW.ZIP") << false;
        QTest::newRow("file alone, other case") << false << QStringLiteral("new.zip") << false;
        QTest::newRow("file alone, two file systems") << false << QStringLiteral("New.Zip") << true;
    }

    void nameTakenInDestination()
    {
        QFETCH(bool, withRecord);
        QFETCH(QString, diskName);
        QFETCH(bool, split);
        const QString name = diskName.toUpper();
        const QByteArray mine = content("the source's file");
        m_bbs->addFile(1, name, &mine);
        const QString theirs = QDir(m_bbs->areaFolder(2)).filePath(diskName);
        if (!withRecord)
            QVERIFY(WriteFile(theirs, content("a file without a record")));
        const QByteArray before = ReadAll(theirs);
        const QStringList folder = QDir(m_bbs->areaFolder(2)).entryList(QDir::Files);
        std::optional<SplitDevices> acrossFileSystems;
        if (split)
            acrossFileSystems.emplace();
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        QStringList history;
        connect(&form, &TMoveMgr::StatusTextChanged, this, [&](const QString& t) { history << t; });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        QVERIFY(history.contains(QStringLiteral("File: %1 already exists in file area 2. Can not "
                                                "move.")
                                     .arg(name)));
        QCOMPARE(dialogs.texts().last(), kNotMoved);
        QCOMPARE(NamesInArea(1), QStringList{name});
        QCOMPARE(ReadAll(theirs), before);
        QCOMPARE(ReadAll(QDir(m_bbs->areaFolder(1)).filePath(name)), mine);
        // The other files moved; no second file of the name came.
        QCOMPARE(
            QDir(m_bbs->areaFolder(2)).entryList(QDir::Files).filter(name, Qt::CaseInsensitive),
            folder.filter(name, Qt::CaseInsensitive));
        form.close();
    }

    void failedCopyKeepsRecord()
    {
        // Only a copy writes (a move on one file system renames).
        SplitDevices acrossFileSystems;
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        QStringList history;
        connect(&form, &TMoveMgr::StatusTextChanged, this, [&](const QString& t) { history << t; });
        WcFaultFailKind("WcWriteFile", WC_ACCESS_DENIED);
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        WcFaultReset();
        QVERIFY(history.contains(QStringLiteral("File: A.ZIP could not be moved.")));
        QCOMPARE(dialogs.texts().count(QStringLiteral("Error Writing new file")), 3);
        QCOMPARE(dialogs.texts().last(), kNotMoved);
        // Every record still points at its own file in the source area.
        QCOMPARE(NamesInArea(1).size(), 3);
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("A.ZIP")));
        QCOMPARE(form.L_numFiles1->text(), QStringLiteral("3"));
        form.close();
    }

    void failedUpdateAfterCopy()
    {
        TMoveMgr form;
        form.show();
        choose(form, 1, 2);
        QStringList history;
        connect(&form, &TMoveMgr::StatusTextChanged, this, [&](const QString& t) { history << t; });
        WcFaultFailKind("UpdateFileRec", WC_ACCESS_DENIED);
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        WcFaultReset();
        QVERIFY(history.contains(QStringLiteral("File: A.ZIP failed on move.")));
        QCOMPARE(dialogs.texts().last(), kNotMoved);
        QCOMPARE(NamesInArea(1).size(), 3);
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("A.ZIP")));
        QCOMPARE(form.L_NumFiles2->text(), QStringLiteral("1"));
        form.close();
    }

    void filterLeavesRejectedRecords()
    {
        std::strcpy(CurrentSearchRecord.Template.Rec.Name, "ZIP");
        TMoveMgr form;
        form.show();
        bool opened = false;
        OnNextModal([&](QWidget* w) {
            opened = true;
            w->close();
        });
        form.cb_ApplyFilter->setChecked(true);
        QVERIFY(opened);
        QCOMPARE(form.StatusText(), QStringLiteral("File Filter Name: "));
        choose(form, 1, 2);
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        QCOMPARE(dialogs.shown.size(), 2);
        QCOMPARE(NamesInArea(1), QStringList{QStringLiteral("B.TXT")});
        QCOMPARE(form.L_numFiles1->text(), QStringLiteral("1"));
        QCOMPARE(form.L_NumFiles2->text(), QStringLiteral("3"));
        form.close();
    }

    void emptySourceArea()
    {
        TMoveMgr form;
        form.show();
        choose(form, 3, 2);
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        // Either the server finds nothing at the area's start, or the list
        // stays empty; never the final message.
        QVERIFY(!dialogs.contains(kNotMoved));
        QVERIFY(dialogs.shown.size() == 2 ||
                dialogs.texts().last() == QStringLiteral("Error getting files."));
        QCOMPARE(NamesInArea(2).size(), 1);
        QVERIFY(!form.IsRunning());
        form.close();
    }
};

VT_TEST_MAIN(TestMoveMgr)
#include "test_movemgr.moc"
