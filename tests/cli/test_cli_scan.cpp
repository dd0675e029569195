// vtfilemgr-cli scan against a clamd of the test's own: the exit codes, the
// text and JSON reports, a dry run that changes nothing, the filter, the
// setting and --clamd, no daemon, the journaled run and its undo, a rescan
// that reads nothing, and bad input.
#include "ClamdServer.h"
#include "ZipFixtures.h"
#include "filter/SearchRecord.h"
#include "server/wcsrv.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cstring>
#include <memory>

namespace
{

QJsonObject JsonOf(const CliRun& run)
{
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

} // namespace

class TestCliScan : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ClamdServer> m_server;
    std::unique_ptr<TestBbs> m_bbs;
    QTemporaryDir m_dir;

    QStringList scan(const QStringList& options) const
    {
        return QStringList{QStringLiteral("--home"), m_bbs->home(), QStringLiteral("scan"),
                           QStringLiteral("--clamd"), m_server->socketPath()} +
               options;
    }

    void addEicar()
    {
        const QByteArray eicar = ClamdServer::eicar();
        m_bbs->addFile(1, QStringLiteral("EICAR.COM"), &eicar);
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
        const QByteArray clean("A clean text file.\r\n");
        m_bbs->addFile(1, QStringLiteral("CLEAN.TXT"), &clean);
        const QString zip = m_dir.filePath(QStringLiteral("also.zip"));
        QVERIFY(MakeZip(zip, {{"README.TXT", clean}}));
        const QByteArray zipped = ReadBytes(zip);
        m_bbs->addFile(1, QStringLiteral("ALSO.ZIP"), &zipped);
    }
    void cleanup() { m_bbs.reset(); }

    void allClean()
    {
        const CliRun run = RunCli(scan({"--areas", "all", "--yes"}));
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains(QStringLiteral("1\tCLEAN.TXT\tclean\n")), qPrintable(run.out));
        QVERIFY2(run.out.contains(QStringLiteral("scanned 2 records: 2 clean, 0 infected")),
                 qPrintable(run.out));
        // A rescan reads nothing and says how many it skipped.
        const CliRun again = RunCli(scan({"--areas", "all", "--dry-run"}));
        QCOMPARE(again.code, 0);
        QVERIFY2(again.out.contains(QStringLiteral("2 unchanged skipped (not read); 0 files, "
                                                   "0 bytes read")),
                 qPrintable(again.out));
    }

    void findingsDryRunThenYes()
    {
        addEicar();
        const auto before = RecordSnapshot();
        const CliRun dry = RunCli(scan({"--areas", "1", "--dry-run", "--quarantine", "2"}));
        QCOMPARE(dry.code, 1);
        QVERIFY2(dry.out.contains(QStringLiteral("1\tEICAR.COM\twould set Failed Scan, move to 2 "
                                                 "(infected: ") +
                                  ClamdServer::eicarSignature() + QStringLiteral(")\n")),
                 qPrintable(dry.out));
        QCOMPARE(RecordSnapshot(), before);

        const CliRun json = RunCli(scan({"--areas", "1", "--dry-run", "--format", "json"}));
        QCOMPARE(json.code, 1);
        const QJsonObject o = JsonOf(json);
        QCOMPARE(
            o.value(QStringLiteral("counts")).toObject().value(QStringLiteral("infected")).toInt(),
            1);
        const QJsonArray findings = o.value(QStringLiteral("findings")).toArray();
        QCOMPARE(findings.size(), 1);
        QCOMPARE(findings[0].toObject().value(QStringLiteral("detail")).toString(),
                 ClamdServer::eicarSignature());
        QCOMPARE(findings[0].toObject().value(QStringLiteral("unchanged")).toBool(), true);
        QCOMPARE(RecordSnapshot(), before);

        const CliRun yes = RunCli(scan({"--areas", "1", "--yes", "--quarantine", "2"}));
        QCOMPARE(yes.code, 1);
        {
            ServerLogin login;
            QCOMPARE(ReadFullRecord(2, QStringLiteral("EICAR.COM")).Rec.FailedScan, 1);
            QCOMPARE(RecordNamesOf(1),
                     (QStringList{QStringLiteral("ALSO.ZIP"), QStringLiteral("CLEAN.TXT")}));
        }
        // One run of the journal: undo puts it all back.
        const CliRun history = RunCli({"--home", m_bbs->home(), "history"});
        QVERIFY2(history.out.contains(QStringLiteral("--areas 1 --yes --quarantine 2")),
                 qPrintable(history.out));
        QCOMPARE(RunCli({"--home", m_bbs->home(), "undo", "1", "--yes"}).code, 0);
        QCOMPARE(RecordSnapshot(), before);
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("EICAR.COM")));
    }

    void filter()
    {
        addEicar();
        SearchRecord record{};
        std::strncpy(record.Template.Rec.Name, "ZIP", sizeof record.Template.Rec.Name - 1);
        const QString path = m_dir.filePath(QStringLiteral("ZIPS.FMS"));
        QCOMPARE(WriteSearchRecordFile(path, record), FmsResult::Ok);
        const CliRun run = RunCli(scan({"--areas", "1", "--yes", "--filter", path}));
        QCOMPARE(run.code, 0); // the infected file is passed over
        QVERIFY2(run.out.contains(QStringLiteral("scanned 1 records")), qPrintable(run.out));
        ServerLogin login;
        QCOMPARE(ReadFullRecord(1, QStringLiteral("EICAR.COM")).Rec.FailedScan, 0);
    }

    void noDaemon()
    {
        addEicar();
        const auto before = RecordSnapshot();
        const QString socket = m_dir.filePath(QStringLiteral("none.sock"));
        const CliRun run =
            RunCli({"--home", m_bbs->home(), "scan", "--clamd", socket, "--areas", "all", "--yes"});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(socket), qPrintable(run.err));
        QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
        QCOMPARE(RecordSnapshot(), before);
        // No run of the journal holds a change.
        const CliRun history = RunCli({"--home", m_bbs->home(), "history", "--format", "json"});
        QCOMPARE(history.code, 0);
        for (const QJsonValue& v : QJsonDocument::fromJson(history.out.toUtf8()).array()) {
            const QJsonObject r = v.toObject();
            for (const char* count : {"added", "changed", "deleted", "moved", "filesTrashed"})
                QCOMPARE(r.value(QLatin1String(count)).toInt(), 0);
        }
    }

    // The socket from the settings file when --clamd is not given.
    void socketSetting()
    {
        addEicar();
        const QString config = m_dir.filePath(QStringLiteral("vuru.cfg"));
        QFile f(config);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Scan]\nClamdSocket=" + QFile::encodeName(m_server->socketPath()) + "\n");
        f.close();
        const CliRun run = RunCli(
            {"--home", m_bbs->home(), "--config", config, "scan", "--areas", "1", "--dry-run"});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.out.contains(QStringLiteral("EICAR.COM\twould set Failed Scan (infected")),
                 qPrintable(run.out));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no areas") << QStringList{"--yes"} << QStringLiteral("scan needs --areas");
        QTest::newRow("neither") << QStringList{"--areas", "1"}
                                 << QStringLiteral("one of --dry-run and --yes");
        QTest::newRow("both") << QStringList{"--areas", "1", "--yes", "--dry-run"}
                              << QStringLiteral("one of --dry-run and --yes");
        QTest::newRow("format") << QStringList{"--areas", "1", "--yes", "--format", "xml"}
                                << QStringLiteral("unknown --format");
        QTest::newRow("unknown area") << QStringList{"--areas", "9", "--yes"} << QString();
        QTest::newRow("unknown quarantine")
            << QStringList{"--areas", "1", "--yes", "--quarantine", "9"} << QString();
        QTest::newRow("no filter file")
            << QStringList{"--areas", "1", "--yes", "--filter", "/nonexistent/X.FMS"} << QString();
    }
    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const auto before = RecordSnapshot();
        const CliRun run = RunCli(scan(args));
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(RecordSnapshot(), before);
    }
};

VT_TEST_MAIN(TestCliScan)
#include "test_cli_scan.moc"
