// The deletion manager against a real BBS.
#include "ManagerTestSupport.h"

#include "filter/SearchRecord.h"
#include "managers/ManagerSupport.h"
#include "managers/TDelMgr.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcFault.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <map>
#include <memory>

class TestDelMgr : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    const QByteArray m_content = QByteArrayLiteral("file content");

    // Area 1: four files, area 2: three files, area 3: two files, area 4: none.
    void fillBbs()
    {
        m_bbs->addArea(1, QStringLiteral("General"));
        m_bbs->addArea(2, QStringLiteral("Uploads"));
        m_bbs->addArea(3, QStringLiteral("Utilities"));
        m_bbs->addArea(4, QStringLiteral("Empty"));
        for (const char* name : {"ALPHA.ZIP", "BETA.TXT", "GAMMA.ZIP", "DELTA.DOC"})
            m_bbs->addFile(1, QString::fromLatin1(name), &m_content);
        for (const char* name : {"ONE.ZIP", "TWO.TXT", "THREE.ZIP"})
            m_bbs->addFile(2, QString::fromLatin1(name), &m_content);
        for (const char* name : {"KEEP1.ZIP", "KEEP2.ZIP"})
            m_bbs->addFile(3, QString::fromLatin1(name), &m_content);
    }

    static void setNameFilter(const char* text)
    {
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        std::strncpy(CurrentSearchRecord.Template.Rec.Name, text,
                     sizeof CurrentSearchRecord.Template.Rec.Name - 1);
    }

    // Checks "Apply Filter" the way the sysop does: the match window opens
    // and is closed with Cancel, leaving the criteria set above.
    static void checkApplyFilter(TDelMgr& form)
    {
        bool opened = false;
        OnNextModal([&](QWidget* w) {
            opened = true;
            w->close();
        });
        form.cb_ApplyFilter->setChecked(true);
        QVERIFY(opened);
        QCOMPARE(form.StatusText(), QStringLiteral("File Filter Name: "));
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
        TDelMgr form;
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("File Area Deletion Manager"));
        QCOMPARE(form.AreaList->count(), 4);
        QCOMPARE(form.AreaList->item(0)->text(), QStringLiteral("   1: General"));
        QCOMPARE(form.AreaList->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(form.cb_CountFiles->isChecked());
        QCOMPARE(form.L_numAreas->text(), QStringLiteral("0"));
        QCOMPARE(form.L_numFiles->text(), QStringLiteral("0"));
        QVERIFY(!form.del_Cancel->isVisible());
        QCOMPARE(form.del_Cancel->text(), QStringLiteral("Stop"));
        QCOMPARE(form.b_Delete->text(), QStringLiteral("&Delete"));
        QCOMPARE(form.b_Close->text(), QStringLiteral("&Close"));
        QCOMPARE(form.Button1->text(), QStringLiteral("&Help"));
        QCOMPARE(form.cb_PromptFirst->text(), QStringLiteral("Prompt First"));
        QCOMPARE(form.cb_ApplyFilter->text(), QStringLiteral("Apply Filter"));
        QCOMPARE(form.GroupBox3->title(), QStringLiteral("Filter"));
        QCOMPARE(form.ProgressBar->maximum(), 0); // set by the count of no areas
        form.close();
    }

    void counting()
    {
        TDelMgr form;
        form.show();
        SelectAreas(form.AreaList, {1, 3});
        QCOMPARE(form.L_numAreas->text(), QStringLiteral("2"));
        QCOMPARE(form.L_numFiles->text(), QStringLiteral("6"));
        QCOMPARE(form.StatusText(), QString());
        form.cb_CountFiles->setChecked(false);
        QCOMPARE(form.L_numFiles->text(), QStringLiteral("6")); // nothing at once
        SelectAreas(form.AreaList, {1, 2, 3});
        QCOMPARE(form.L_numAreas->text(), QStringLiteral("3"));
        QCOMPARE(form.L_numFiles->text(), QString());
        form.cb_CountFiles->setChecked(true);
        QCOMPARE(form.L_numFiles->text(), QStringLiteral("9"));
        form.close();
    }

    void deletes_data()
    {
        QTest::addColumn<bool>("fromDisk");
        QTest::addColumn<bool>("countFiles");
        QTest::newRow("records and files") << true << true;
        QTest::newRow("records only, files kept") << false << true;
        QTest::newRow("without a count, bar per area") << true << false;
    }

    void deletes()
    {
        QFETCH(bool, fromDisk);
        QFETCH(bool, countFiles);
        TDelMgr form;
        form.show();
        form.cb_CountFiles->setChecked(countFiles);
        SelectAreas(form.AreaList, {1, 2, 4});
        int barMaximum = -1;
        bool stopShown = false;
        WhenDuringRun([&] { return form.IsRunning(); },
                      [&] {
                          barMaximum = form.ProgressBar->maximum();
                          stopShown = form.del_Cancel->isVisible();
                      });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(fromDisk ? DialogAnswer::Yes : DialogAnswer::No);
        form.b_Delete->click();
        QVERIFY(!dialogs.unexpected);
        QCOMPARE(dialogs.texts(),
                 (QStringList{QStringLiteral("Delete All Files in Selected File Areas?"),
                              QStringLiteral("Delete Files from disk also?")}));
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 7"));
        QCOMPARE(barMaximum, countFiles ? 7 : 3);
        QVERIFY(stopShown);
        QVERIFY(!form.del_Cancel->isVisible());
        QCOMPARE(form.ProgressBar->value(), 0);
        QVERIFY(NamesInArea(1).isEmpty());
        QVERIFY(NamesInArea(2).isEmpty());
        QCOMPARE(NamesInArea(3),
                 (QStringList{QStringLiteral("KEEP1.ZIP"), QStringLiteral("KEEP2.ZIP")}));
        QCOMPARE(m_bbs->fileOnDisk(1, QStringLiteral("ALPHA.ZIP")), !fromDisk);
        QCOMPARE(m_bbs->fileOnDisk(2, QStringLiteral("TWO.TXT")), !fromDisk);
        QVERIFY(m_bbs->fileOnDisk(3, QStringLiteral("KEEP1.ZIP")));
        // The counts on display are not refreshed by a run.
        QCOMPARE(form.L_numAreas->text(), QStringLiteral("3"));
        form.close();
    }

    void answeringNoChangesNothing()
    {
        TDelMgr form;
        form.show();
        SelectAreas(form.AreaList, {1});
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::No);
        form.b_DeleteClick();
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(NamesInArea(1).size(), 4);
        form.close();
    }

    void noAreaSelected()
    {
        TDelMgr form;
        form.show();
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_DeleteClick();
        QCOMPARE(dialogs.shown.size(), 2);
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 0"));
        QCOMPARE(NamesInArea(1).size(), 4);
        form.close();
    }

    void withFilter()
    {
        setNameFilter("ZIP");
        TDelMgr form;
        form.show();
        checkApplyFilter(form);
        SelectAreas(form.AreaList, {1, 2});
        int barMaximum = -1, barAtEnd = -1;
        WhenDuringRun([&] { return form.IsRunning(); },
                      [&] { barMaximum = form.ProgressBar->maximum(); });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        // Every record visited advances the bar, taken or not.
        connect(form.ProgressBar, &QProgressBar::valueChanged, this,
                [&](int v) { barAtEnd = std::max(barAtEnd, v); });
        form.b_DeleteClick();
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 4"));
        QCOMPARE(barMaximum, 7);
        QCOMPARE(barAtEnd, 7);
        QCOMPARE(NamesInArea(1),
                 (QStringList{QStringLiteral("BETA.TXT"), QStringLiteral("DELTA.DOC")}));
        QCOMPARE(NamesInArea(2), QStringList{QStringLiteral("TWO.TXT")});
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("ALPHA.ZIP")));
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("BETA.TXT")));

        // Unchecking lists all files again.
        form.cb_ApplyFilter->setChecked(false);
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::No);
        form.b_DeleteClick();
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 3"));
        QVERIFY(NamesInArea(1).isEmpty());
        form.close();
    }

    // "Exist On Disk: No" over area 1, whose folder is empty as an unmounted
    // mount point is, and area 2, which lost one file: the window asks
    // about area 1 (No being the default); No leaves its records byte for
    // byte, Yes deletes them. Area 2's record goes either way.
    void offlineAreaQuestion_data()
    {
        QTest::addColumn<DialogAnswer>("answer");
        QTest::newRow("No leaves the area alone") << DialogAnswer::No;
        QTest::newRow("Yes treats its files as missing") << DialogAnswer::Yes;
    }

    void offlineAreaQuestion()
    {
        QFETCH(DialogAnswer, answer);
        QDir area1(m_bbs->areaFolder(1));
        for (const QString& name : area1.entryList(QDir::Files))
            QVERIFY(area1.remove(name));
        QVERIFY(QDir(m_bbs->areaFolder(2)).remove(QStringLiteral("TWO.TXT")));
        auto area1Records = [] {
            std::map<QString, QByteArray> records = RecordSnapshot();
            std::erase_if(records, [](const auto& r) { return !r.first.startsWith(u"1:"); });
            return records;
        };
        const std::map<QString, QByteArray> before = area1Records();
        QCOMPARE(before.size(), std::size_t(4));

        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        CurrentSearchRecord.ExistOnDiskOp = FlagNo;
        TDelMgr form;
        form.show();
        checkApplyFilter(form);
        SelectAreas(form.AreaList, {1, 2});
        const QString question = QStringLiteral(
            "The folder of file area #1 holds none of its files. Treat them as missing?");
        QString defaultButton;
        const MessageBoxHook previous = SetMessageBoxHook([&](const QMessageBox& box) {
            if (box.text() == question && box.defaultButton())
                defaultButton = box.defaultButton()->text();
        });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes).answer(answer);
        form.b_DeleteClick();
        SetMessageBoxHook(previous);
        QVERIFY(!dialogs.unexpected);
        QVERIFY2(dialogs.contains(question), qPrintable(dialogs.texts().join(u'|')));
        QCOMPARE(defaultButton, QStringLiteral("&No"));
        QCOMPARE(NamesInArea(2),
                 (QStringList{QStringLiteral("ONE.ZIP"), QStringLiteral("THREE.ZIP")}));
        if (answer == DialogAnswer::No) {
            QCOMPARE(area1Records(), before);
            QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 1"));
        } else {
            QVERIFY(NamesInArea(1).isEmpty());
            QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 5"));
        }
    }

    void stop_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::newRow("Yes: the run ends") << true;
        QTest::newRow("No: the run goes on") << false;
    }

    void stop()
    {
        QFETCH(bool, stop);
        TDelMgr form;
        form.show();
        SelectAreas(form.AreaList, {1, 2});
        bool deleteDisabled = false, closeDisabled = false, listDisabled = false;
        // "Stop" pressed once the second record of area 1 has been handled.
        WhenDuringRun([&] { return form.IsRunning() && form.ProgressBar->value() == 2; },
                      [&] {
                          deleteDisabled = !form.b_Delete->isEnabled();
                          closeDisabled = !form.b_Close->isEnabled();
                          listDisabled = !form.AreaList->isEnabled();
                          form.del_Cancel->click();
                      });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        dialogs.answer(stop ? DialogAnswer::Yes : DialogAnswer::No);
        form.b_DeleteClick();
        QVERIFY(!dialogs.unexpected);
        QVERIFY(deleteDisabled && closeDisabled && listDisabled);
        QCOMPARE(dialogs.texts().size(), 3);
        QCOMPARE(dialogs.texts().at(2), QStringLiteral("Some Files have already been deleted.\r\r"
                                                       "Stop File Deletion Process?"));
        if (stop) {
            QCOMPARE(form.StatusText(), QString());
            QCOMPARE(NamesInArea(1).size(), 2);
            QCOMPARE(NamesInArea(2).size(), 3);
        } else {
            QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 7"));
            QVERIFY(NamesInArea(1).isEmpty());
            QVERIFY(NamesInArea(2).isEmpty());
        }
        QVERIFY(!form.IsRunning());
        QVERIFY(!form.del_Cancel->isVisible());
        QVERIFY(form.b_Delete->isEnabled());
        QVERIFY(form.b_Close->isEnabled());
        QCOMPARE(form.ProgressBar->value(), 0);
        form.close();
    }

    void closeBoxDuringRunAsksToStop()
    {
        TDelMgr form;
        form.show();
        SelectAreas(form.AreaList, {1});
        WhenDuringRun([&] { return form.IsRunning(); }, [&] { form.close(); });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes).answer(DialogAnswer::No);
        form.b_DeleteClick();
        QVERIFY(!dialogs.unexpected);
        QVERIFY(dialogs.contains(QStringLiteral("Some Files have already been deleted.\r\r"
                                                "Stop File Deletion Process?")));
        QVERIFY(form.isVisible());
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 4"));
        // Idle again, the close box closes.
        form.close();
        QVERIFY(!form.isVisible());
    }

    void promptFirst()
    {
        TDelMgr form;
        form.show();
        form.cb_PromptFirst->setChecked(true);
        SelectAreas(form.AreaList, {1, 2});
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        // ALPHA.ZIP Yes, BETA.TXT No, DELTA.DOC All: no more questions.
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::No).answer(DialogAnswer::All);
        form.b_DeleteClick();
        QVERIFY(!dialogs.unexpected);
        const QStringList texts = dialogs.texts();
        QCOMPARE(texts.size(), 5);
        QCOMPARE(texts.at(2), QStringLiteral("Delete file ALPHA.ZIP from file area #1?"));
        QCOMPARE(texts.at(3), QStringLiteral("Delete file BETA.TXT from file area #1?"));
        QCOMPARE(texts.at(4), QStringLiteral("Delete file DELTA.DOC from file area #1?"));
        QCOMPARE(NamesInArea(1), QStringList{QStringLiteral("BETA.TXT")});
        QVERIFY(NamesInArea(2).isEmpty());
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 6"));

        // All holds for that run only.
        dialogs.shown.clear();
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes).answer(DialogAnswer::No);
        SelectAreas(form.AreaList, {1});
        form.b_DeleteClick();
        QVERIFY(!dialogs.unexpected);
        QCOMPARE(dialogs.shown.size(), 3);
        QCOMPARE(NamesInArea(1), QStringList{QStringLiteral("BETA.TXT")});
        form.close();
    }

    void refusedDeleteIsPassedOver()
    {
        TDelMgr form;
        form.show();
        SelectAreas(form.AreaList, {1});
        WcFaultFailKind("DeleteFileRec", WC_ACCESS_DENIED);
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_DeleteClick();
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 0"));
        WcFaultReset();
        QCOMPARE(NamesInArea(1).size(), 4);
        form.close();
    }

    void emptiesLargeAreaInOneRun()
    {
        // A BBS of its own: one area of 10,000 records.
        m_login.reset();
        m_bbs.reset();
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QByteArray oldHome = qgetenv("WCSRV_HOME");
        qputenv("WCSRV_HOME", QFile::encodeName(home.path()));
        wcadmin::DemoOptions options;
        options.areas = 1;
        options.files = 10000;
        options.noFiles = true;
        const std::string error = wcadmin::MakeDemo(home.path().toStdString(), options);
        QVERIFY2(error.empty(), error.c_str());
        {
            ServerLogin login;
            QVERIFY(login.ok());
            FileAreaRec area{};
            QVERIFY(GetFileArea(1, &area));
            QCOMPARE(GetTotalFilesInArea(1), 10000);
            TDelMgr form;
            form.show();
            SelectAreas(form.AreaList, {1});
            QCOMPARE(form.L_numFiles->text(), QStringLiteral("10000"));
            DialogScript dialogs;
            dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::No);
            form.b_DeleteClick();
            QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 10000"));
            QCOMPARE(GetTotalFilesInArea(1), 0);
            QVERIFY(NamesInArea(1).isEmpty());
            form.close();
        }
        if (oldHome.isEmpty())
            qunsetenv("WCSRV_HOME");
        else
            qputenv("WCSRV_HOME", oldHome);
    }
};

VT_TEST_MAIN(TestDelMgr)
#include "test_delmgr.moc"
