// The deletion and move runs through their delegate alone, without a window:
// a scripted delegate answers the questions, asks for a stop, fails a copy,
// and records every item, message and status text.
#include "app/DeleteFilesRun.h"
#include "managers/DeletionRun.h"
#include "managers/MoveRun.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/ServerFileCopy.h"
#include "server/wcsrv.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QtTest>

#include <memory>

class TestRuns : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

    // Area 1: four files, area 2: three, area 3: none; each file holds its name.
    void fillBbs()
    {
        m_bbs->addArea(1, QStringLiteral("General"));
        m_bbs->addArea(2, QStringLiteral("Uploads"));
        m_bbs->addArea(3, QStringLiteral("Empty"));
        for (const char* name : {"ALPHA.ZIP", "BETA.TXT", "DELTA.DOC", "GAMMA.ZIP"}) {
            const QByteArray content = QByteArray(name) + " content";
            m_bbs->addFile(1, QString::fromLatin1(name), &content);
        }
        for (const char* name : {"ONE.ZIP", "THREE.ZIP", "TWO.TXT"}) {
            const QByteArray content = QByteArray(name) + " content";
            m_bbs->addFile(2, QString::fromLatin1(name), &content);
        }
    }

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        fillBbs();
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void deletionAnswers_data()
    {
        QTest::addColumn<QList<RunAnswer>>("answers");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QStringList>("left");
        using A = RunAnswer;
        QTest::newRow("yes no all")
            << QList<A>{A::Yes, A::No, A::All} << 3 << QStringList{QStringLiteral("BETA.TXT")};
        QTest::newRow("no to each")
            << QList<A>{A::No, A::No, A::No, A::No} << 4
            << QStringList{QStringLiteral("ALPHA.ZIP"), QStringLiteral("BETA.TXT"),
                           QStringLiteral("DELTA.DOC"), QStringLiteral("GAMMA.ZIP")};
        QTest::newRow("closed box keeps")
            << QList<A>{A::Cancel, A::Yes, A::Yes, A::Cancel} << 4
            << QStringList{QStringLiteral("ALPHA.ZIP"), QStringLiteral("GAMMA.ZIP")};
    }

    void deletionAnswers()
    {
        QFETCH(QList<RunAnswer>, answers);
        QFETCH(int, questions);
        QFETCH(QStringList, left);
        ScriptedRun run;
        run.answers = answers;
        DeletionOptions options;
        options.areas = {1};
        options.promptFirst = true;
        options.deleteFromDisk = true;
        const DeletionResult result = RunDeletion(options, run);
        QVERIFY(!run.unexpected);
        QCOMPARE(run.asked.size(), questions);
        QCOMPARE(run.asked.first(), QStringLiteral("Delete file ALPHA.ZIP from file area #1?"));
        QCOMPARE(run.named, QList<RunQuestion>(questions, RunQuestion::DeleteRecord));
        QCOMPARE(RecordNamesOf(1), left);
        QCOMPARE(result.deleted, long(4 - left.size()));
        QCOMPARE(run.names(RunOutcome::Done).size(), 4 - left.size());
        // The files went with their records; the kept ones stay.
        for (const char* name : {"ALPHA.ZIP", "BETA.TXT", "DELTA.DOC", "GAMMA.ZIP"})
            QCOMPARE(m_bbs->fileOnDisk(1, QString::fromLatin1(name)),
                     left.contains(QString::fromLatin1(name)));
        QCOMPARE(RecordNamesOf(2).size(), 3);
    }

    void deletionStop_data()
    {
        QTest::addColumn<RunAnswer>("stopAnswer");
        QTest::addColumn<int>("left");
        QTest::newRow("stop") << RunAnswer::Yes << 2;
        QTest::newRow("go on") << RunAnswer::No << 0;
    }

    void deletionStop()
    {
        QFETCH(RunAnswer, stopAnswer);
        QFETCH(int, left);
        ScriptedRun run;
        run.answers = {stopAnswer};
        run.stopAtCall = 2; // after the second record
        DeletionOptions options;
        options.areas = {1};
        const DeletionResult result = RunDeletion(options, run);
        QVERIFY(!run.unexpected);
        QCOMPARE(run.asked, QStringList{QStringLiteral("Some Files have already been deleted.\r\r"
                                                       "Stop File Deletion Process?")});
        QCOMPARE(run.named, QList<RunQuestion>{RunQuestion::StopDeletion});
        QCOMPARE(result.stopped, stopAnswer == RunAnswer::Yes);
        QCOMPARE(RecordNamesOf(1).size(), left);
        // Only the records were deleted, not their files.
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("ALPHA.ZIP")));
    }

    void moveFailedCopyKeepsRecord()
    {
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 3);
        ScriptedRun run;
        run.failCopyOf = QStringLiteral("THREE.ZIP");
        MoveOptions options;
        options.from = 2;
        options.to = 3;
        options.moveFiles = true;
        options.sourceTotal = 3;
        const MoveResult result = RunMove(options, run);
        QVERIFY(!run.unexpected);
        // The copy was tried and failed: the fault really happened.
        QCOMPARE(run.warnings.size(), 1);
        QVERIFY(result.notMoved);
        QCOMPARE(run.names(RunOutcome::Failed), QStringList{QStringLiteral("THREE.ZIP")});
        QCOMPARE(run.names(RunOutcome::Done),
                 (QStringList{QStringLiteral("ONE.ZIP"), QStringLiteral("TWO.TXT")}));
        QCOMPARE(run.infos, QStringList{QStringLiteral(
                                "Some files and their associated records were not "
                                "moved because the files could not be found on disk.")});
        QCOMPARE(RecordNamesOf(2), QStringList{QStringLiteral("THREE.ZIP")});
        // The record that stayed is byte for byte what it was, and its file too.
        const QMap<QString, QByteArray> after = BbsState(*m_bbs, 3);
        QCOMPARE(after.value(QStringLiteral("rec 2 THREE.ZIP")),
                 before.value(QStringLiteral("rec 2 THREE.ZIP")));
        QCOMPARE(after.value(QStringLiteral("file 2 THREE.ZIP")), QByteArray("THREE.ZIP content"));
        QVERIFY(!after.contains(QStringLiteral("file 3 THREE.ZIP")));
        QCOMPARE(after.value(QStringLiteral("file 3 ONE.ZIP")), QByteArray("ONE.ZIP content"));
    }

    void dryRunsChangeNothing_data()
    {
        QTest::addColumn<bool>("deletion");
        QTest::newRow("deletion") << true;
        QTest::newRow("move") << false;
    }

    void dryRunsChangeNothing()
    {
        QFETCH(bool, deletion);
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 3);
        auto runOnce = [&](bool dryRun, ScriptedRun& run) {
            if (deletion) {
                DeletionOptions options;
                options.areas = {1, 2, 3};
                options.deleteFromDisk = true;
                options.dryRun = dryRun;
                RunDeletion(options, run);
            } else {
                MoveOptions options;
                options.from = 1;
                options.to = 3;
                options.moveFiles = true;
                options.dryRun = dryRun;
                options.sourceTotal = 4;
                RunMove(options, run);
            }
        };
        ScriptedRun dry;
        runOnce(true, dry);
        QVERIFY(!dry.unexpected);
        QVERIFY(dry.copied.isEmpty());
        QCOMPARE(BbsState(*m_bbs, 3), before);
        const QStringList planned = dry.names(RunOutcome::Planned);
        QCOMPARE(planned.size(), deletion ? 7 : 4);
        QVERIFY(dry.names(RunOutcome::Done).isEmpty());
        // The same run for real does what the dry run planned.
        ScriptedRun real;
        runOnce(false, real);
        QCOMPARE(real.names(RunOutcome::Done), planned);
        QVERIFY(BbsState(*m_bbs, 3) != before);
    }

    void sharedFolderFileStays_data()
    {
        QTest::addColumn<bool>("button");
        QTest::newRow("deletion manager") << false;
        QTest::newRow("delete button") << true;
    }

    // Area 4 lies on area 1's folder, and its record alpha.zip names area
    // 1's ALPHA.ZIP file: deleting area 1's records with their files keeps
    // that file (every byte), the others go; once area 4's record goes too,
    // nothing names the file and it goes with it.
    void sharedFolderFileStays()
    {
        QFETCH(bool, button);
        const std::string error =
            wcadmin::AddArea(m_bbs->homeStd(), 4, "Mirror", m_bbs->areaFolder(1).toStdString());
        QVERIFY2(error.empty(), error.c_str());
        m_bbs->addFile(4, QStringLiteral("alpha.zip"));
        const auto before = BbsState(*m_bbs, 4);
        ScriptedRun run;
        if (button) {
            DeleteFilesOptions options;
            for (const QString& name : RecordNamesOf(1))
                options.entries << EntryRef{1, name};
            options.fromDisk = true;
            QCOMPARE(RunDeleteFiles(options, run), 4);
        } else {
            DeletionOptions options;
            options.areas = {1};
            options.deleteFromDisk = true;
            QCOMPARE(RunDeletion(options, run).deleted, 4L);
        }
        auto expected = before;
        for (const char* name : {"ALPHA.ZIP", "BETA.TXT", "DELTA.DOC", "GAMMA.ZIP"})
            QCOMPARE(int(expected.remove(QStringLiteral("rec 1 ") + QLatin1String(name))), 1);
        for (const char* name : {"BETA.TXT", "DELTA.DOC", "GAMMA.ZIP"})
            for (const int area : {1, 4})
                QCOMPARE(int(expected.remove(
                             QStringLiteral("file %1 %2").arg(area).arg(QLatin1String(name)))),
                         1);
        QCOMPARE(BbsState(*m_bbs, 4), expected);
        QVERIFY(run.items.first().action.endsWith(
            QStringLiteral("its file kept (alpha.zip in area 4 names it)")));

        DeletionOptions last;
        last.areas = {4};
        last.deleteFromDisk = true;
        ScriptedRun lastRun;
        QCOMPARE(RunDeletion(last, lastRun).deleted, 1L);
        QVERIFY(!QFile::exists(m_bbs->areaFolder(1) + QStringLiteral("/ALPHA.ZIP")));
    }
};

VT_TEST_MAIN(TestRuns)
#include "test_runs.moc"
