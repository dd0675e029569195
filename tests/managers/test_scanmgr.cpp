// The Scan Manager window against a clamd of the test's own: its controls,
// a dry run that lists the findings and changes nothing, a scan that sets
// the flags and moves to the quarantine area in one journaled run, the
// bytes per second in the status panel, and no daemon.
#include "ClamdServer.h"
#include "ScriptedRun.h"
#include "TestSupport.h"
#include "common/AreaLines.h"
#include "managers/TScanMgr.h"
#include "server/RunJournal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

class TestScanMgr : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ClamdServer> m_server;
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

    template <typename T> static T* child(QWidget& form, const char* name)
    {
        T* w = form.findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }

    void open(TScanMgr& form)
    {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        child<QLineEdit>(form, "e_ClamdSocket")->setText(m_server->socketPath());
        // Only area 1.
        auto* areas = child<QListWidget>(form, "AreaList");
        areas->clearSelection();
        LineOfArea(areas, 1)->setSelected(true);
    }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<ClamdServer>();
        QVERIFY2(m_server->start(), qPrintable(m_server->error()));
    }
    void cleanupTestCase() { m_server.reset(); }
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
        m_bbs->addArea(2, QStringLiteral("Quarantine"));
        const QByteArray eicar = ClamdServer::eicar();
        const QByteArray clean = QByteArray("clean\r\n").repeated(5000);
        m_bbs->addFile(1, QStringLiteral("EICAR.COM"), &eicar);
        m_bbs->addFile(1, QStringLiteral("CLEAN.TXT"), &clean);
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }
    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void controls()
    {
        DialogScript dialogs;
        TScanMgr form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (const char* name :
             {"AreaList", "gb_Options", "cb_ApplyFilter", "cb_SetFlags", "cb_ClearPassed",
              "cb_Quarantine", "cb_QuarantineArea", "e_ClamdSocket", "b_Start", "b_Stop", "b_Close",
              "FindingList", "L_Summary", "ProgressBar", "StatusBar", "StatusPanel0"})
            QVERIFY2(form.findChild<QWidget*>(QLatin1String(name)), name);
        QCOMPARE(child<QListWidget>(form, "AreaList")->selectedItems().size(), 2);
        QVERIFY(!child<QCheckBox>(form, "cb_SetFlags")->isChecked());
        QVERIFY(!child<QComboBox>(form, "cb_QuarantineArea")->isEnabled());
    }

    void dryRunListsAndChangesNothing()
    {
        DialogScript dialogs;
        const auto before = RecordSnapshot();
        TScanMgr form;
        open(form);
        child<QPushButton>(form, "b_Start")->click();
        auto* list = child<QTreeWidget>(form, "FindingList");
        QCOMPARE(list->topLevelItemCount(), 1);
        QTreeWidgetItem* line = list->topLevelItem(0);
        QCOMPARE(line->text(TScanMgr::ColName), QStringLiteral("EICAR.COM"));
        QCOMPARE(line->text(TScanMgr::ColOutcome), QStringLiteral("infected"));
        QCOMPARE(line->text(TScanMgr::ColDetail), ClamdServer::eicarSignature());
        QCOMPARE(line->text(TScanMgr::ColAction), QStringLiteral("would set Failed Scan"));
        QCOMPARE(RecordSnapshot(), before);
        QCOMPARE(form.LastScan().filesRead, 2);
        const QString summary = child<QLabel>(form, "L_Summary")->text();
        QVERIFY2(summary.contains(QLatin1String("dry run")), qPrintable(summary));
        QVERIFY2(summary.contains(QLatin1String("/s")), qPrintable(summary));
        QVERIFY2(form.StatusText().contains(QLatin1String("/s")), qPrintable(form.StatusText()));
        QList<WcRunInfo> runs;
        QVERIFY(ListJournalRuns(0, runs));
        QVERIFY(runs.isEmpty()); // a dry run is no run of the journal
        QVERIFY(dialogs.shown.isEmpty());
    }

    void setFlagsAndQuarantine()
    {
        DialogScript dialogs;
        SetTrashDays(7);
        TScanMgr form;
        open(form);
        child<QCheckBox>(form, "cb_SetFlags")->setChecked(true);
        child<QCheckBox>(form, "cb_Quarantine")->setChecked(true);
        auto* area = child<QComboBox>(form, "cb_QuarantineArea");
        area->setCurrentIndex(1);
        QCOMPARE(AreaNumberOfLine(area->currentText()), 2);
        child<QPushButton>(form, "b_Start")->click();
        QCOMPARE(form.LastScan().quarantined, 1);
        QCOMPARE(RecordNamesOf(1), QStringList{QStringLiteral("CLEAN.TXT")});
        QCOMPARE(RecordNamesOf(2), QStringList{QStringLiteral("EICAR.COM")});
        QCOMPARE(ReadFullRecord(2, QStringLiteral("EICAR.COM")).Rec.FailedScan, 1);
        QTreeWidgetItem* line = child<QTreeWidget>(form, "FindingList")->topLevelItem(0);
        QCOMPARE(line->text(TScanMgr::ColAction), QStringLiteral("Failed Scan set, moved to 2"));
        QList<WcRunInfo> runs;
        QVERIFY(ListJournalRuns(0, runs));
        QCOMPARE(runs.size(), 1);
        QVERIFY(QByteArray(runs[0].Command).startsWith("scan manager: areas 1"));
    }

    void noDaemon()
    {
        DialogScript dialogs;
        const auto before = RecordSnapshot();
        TScanMgr form;
        open(form);
        const QString socket = m_bbs->home() + QStringLiteral("/none.sock");
        child<QLineEdit>(form, "e_ClamdSocket")->setText(socket);
        child<QCheckBox>(form, "cb_SetFlags")->setChecked(true);
        child<QPushButton>(form, "b_Start")->click();
        QCOMPARE(dialogs.shown.size(), 1);
        QVERIFY2(dialogs.shown[0].text.contains(socket), qPrintable(dialogs.shown[0].text));
        QCOMPARE(child<QTreeWidget>(form, "FindingList")->topLevelItemCount(), 0);
        QCOMPARE(RecordSnapshot(), before);
    }
};

VT_TEST_MAIN(TestScanMgr)
#include "test_scanmgr.moc"
