// The scan run against a clamd of the test's own (tests/support/ClamdServer.h)
// on a real BBS: the test string plain and in archives found, clean controls
// left alone, damaged archives found, no daemon, a daemon stopped in the
// middle, a rescan that reads nothing, a changed signature set, the
// quarantine and its undo. Where a test says nothing changes, the records
// are compared byte for byte.
#include "ArchiveFixtures.h"
#include "ClamdServer.h"
#include "ScriptedRun.h"
#include "TestSupport.h"
#include "ZipFixtures.h"
#include "archive/ClamdClient.h"
#include "archive/ClamdSignatures.h"
#include "managers/ScanRun.h"
#include "server/RunJournal.h"

#include <QDir>
#include <QThread>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ScanOutcome)
Q_DECLARE_METATYPE(ScanSkip)

namespace
{

QByteArray Noise(int size, int seed)
{
    QByteArray out(size, '\0');
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = char(x >> 24);
    }
    return out;
}

QByteArray CleanText()
{
    return QByteArray("Nothing to see here: a clean text file.\r\n").repeated(40);
}

// A delegate that runs `onItem` after each record's result.
class HookedRun : public ScriptedRun
{
public:
    std::function<void(int)> onItem;
    void Item(const RunItem& item) override
    {
        ScriptedRun::Item(item);
        if (onItem)
            onItem(int(items.size()));
    }
};

} // namespace

class TestScan : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ClamdServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestBbs> m_bbs;

    QString out(const QString& name) const { return m_dir->filePath(name); }
    QString work() const { return m_dir->filePath(QStringLiteral("work")); }

    // The bytes of `spec`: "plain", or archive kinds from the outermost in
    // ("tar.gz/zip"), around one member of `payload`; or a damaged archive
    // ("zip-truncated", "zip-crc", "7z-truncated").
    QByteArray build(const QString& spec, const QByteArray& payload)
    {
        const QString file = out(QStringLiteral("built.arc"));
        const QMap<QString, QByteArray> members{{QStringLiteral("README.TXT"), CleanText()},
                                                {QStringLiteral("DATA.BIN"), Noise(20000, 3)}};
        if (spec == u"plain")
            return payload;
        if (spec == u"zip-truncated") {
            if (!MakeArchive(QStringLiteral("zip"), file, work(), members))
                return {};
            const QByteArray all = ReadBytes(file);
            return all.left(all.size() - 200);
        }
        if (spec == u"7z-truncated") {
            if (!MakeArchive(QStringLiteral("7z"), file, work(), members))
                return {};
            const QByteArray all = ReadBytes(file);
            return all.left(all.size() - 100);
        }
        if (spec == u"zip-crc") {
            const QByteArray data = Noise(20000, 4);
            if (!MakeZip(file, {{"README.TXT", CleanText()}, {"DATA.BIN", data, true}}))
                return {};
            QByteArray all = ReadBytes(file);
            const qsizetype at = all.indexOf(data.mid(1000, 16));
            if (at < 0)
                return {};
            all[at + 5] = char(all[at + 5] ^ 0x55);
            return all;
        }
        QStringList kinds = spec.split(u'/', Qt::SkipEmptyParts);
        std::reverse(kinds.begin(), kinds.end());
        QString name = payload == ClamdServer::eicar() ? QStringLiteral("EICAR.COM")
                                                       : QStringLiteral("CLEAN.TXT");
        QByteArray bytes = payload;
        int level = 0;
        for (const QString& kind : kinds) {
            if (!MakeArchive(kind, file, work(), {{name, bytes}}))
                return {};
            name = QStringLiteral("INNER%1.%2").arg(++level).arg(kind.section(u'.', -1));
            bytes = ReadBytes(file);
        }
        return bytes;
    }

    ScanOptions options(bool dryRun) const
    {
        ScanOptions o;
        o.areas = {1};
        o.dryRun = dryRun;
        o.clamdSocket = m_server->socketPath();
        o.tempFolder = m_dir->path();
        return o;
    }

    static ScanResult scan(const ScanOptions& o, ScriptedRun& run)
    {
        ServerLogin login;
        return RunScan(o, run);
    }

    static int32_t flagOf(int area, const QString& name)
    {
        ServerLogin login;
        return ReadFullRecord(area, name).Rec.FailedScan;
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
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
        m_bbs->addArea(2, QStringLiteral("Quarantine"));
        if (!m_server->running())
            QVERIFY2(m_server->start(), qPrintable(m_server->error()));
    }
    void cleanup()
    {
        m_bbs.reset();
        m_dir.reset();
    }

    // One file per row, scanned as a dry run (nothing changes, the change
    // is planned) and then for real.
    void outcomes_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<bool>("infected"); // the payload is the test string
        QTest::addColumn<bool>("flagBefore");
        QTest::addColumn<bool>("clearPassed");
        QTest::addColumn<ScanOutcome>("outcome");
        QTest::addColumn<bool>("flagAfter");
        const auto I = ScanOutcome::Infected, C = ScanOutcome::Clean, D = ScanOutcome::Damaged;
        for (const char* spec : {"plain", "zip", "7z", "tar.gz", "7z/zip", "tar.gz/7z"}) {
            QTest::addRow("test string, %s", spec) << spec << true << false << false << I << true;
            QTest::addRow("clean, %s", spec) << spec << false << false << false << C << false;
        }
        QTest::newRow("truncated zip") << "zip-truncated" << false << false << false << D << true;
        QTest::newRow("zip member with a bad CRC")
            << "zip-crc" << false << false << false << D << true;
        QTest::newRow("truncated 7z") << "7z-truncated" << false << false << false << D << true;
        QTest::newRow("clean, flag set, kept") << "zip" << false << true << false << C << true;
        QTest::newRow("clean, flag set, cleared") << "zip" << false << true << true << C << false;
        QTest::newRow("infected, flag set already") << "zip" << true << true << false << I << true;
    }
    void outcomes()
    {
        QFETCH(QString, spec);
        QFETCH(bool, infected);
        QFETCH(bool, flagBefore);
        QFETCH(bool, clearPassed);
        QFETCH(ScanOutcome, outcome);
        QFETCH(bool, flagAfter);
        const QByteArray bytes = build(spec, infected ? ClamdServer::eicar() : CleanText());
        QVERIFY(!bytes.isEmpty());
        m_bbs->addFile(1, QStringLiteral("FILE.BIN"), &bytes,
                       [&](FullFileRec& r) { r.Rec.FailedScan = flagBefore ? 1 : 0; });
        const bool changes = flagBefore != flagAfter;

        const auto before = RecordSnapshot();
        ScanOptions o = options(true);
        o.clearPassed = clearPassed;
        ScriptedRun dry;
        const ScanResult planned = scan(o, dry);
        QCOMPARE(RecordSnapshot(), before);
        QCOMPARE(dry.items.size(), 1);
        QCOMPARE(dry.items[0].outcome, changes ? RunOutcome::Planned : RunOutcome::Done);
        QCOMPARE(planned.records, 1);
        QCOMPARE(planned.filesRead, 1);

        ScriptedRun run;
        o.dryRun = false;
        o.useKept = false; // read again: the outcome is this scan's own
        const ScanResult r = scan(o, run);
        QVERIFY2(run.warnings.isEmpty(), qPrintable(run.warnings.join(u'\n')));
        QCOMPARE(r.records, 1);
        QCOMPARE(r.filesRead, 1);
        QCOMPARE(r.bytesRead, bytes.size());
        QCOMPARE(run.items.size(), 1);
        QCOMPARE(run.items[0].outcome, RunOutcome::Done);
        const ScanOutcome got = r.clean      ? ScanOutcome::Clean
                                : r.infected ? ScanOutcome::Infected
                                : r.damaged  ? ScanOutcome::Damaged
                                             : ScanOutcome::NotScanned;
        QVERIFY2(got == outcome, qPrintable(run.items[0].action));
        QCOMPARE(flagOf(1, QStringLiteral("FILE.BIN")), flagAfter ? 1 : 0);
        QCOMPARE(r.AllClean(), outcome == ScanOutcome::Clean);
        if (outcome == ScanOutcome::Infected)
            QVERIFY2(run.items[0].action.contains(ClamdServer::eicarSignature()),
                     qPrintable(run.items[0].action));
        if (outcome == ScanOutcome::Damaged)
            QVERIFY2(run.items[0].action.startsWith(QLatin1String("damaged: ")),
                     qPrintable(run.items[0].action));
        if (!changes) {
            // Only the flag may change: with none to change, nothing did.
            QCOMPARE(RecordSnapshot(), before);
        }
    }

    void noDaemon()
    {
        const QByteArray eicar = ClamdServer::eicar();
        m_bbs->addFile(1, QStringLiteral("EICAR.COM"), &eicar);
        const auto before = RecordSnapshot();
        ScanOptions o = options(false);
        o.clamdSocket = m_dir->filePath(QStringLiteral("no-daemon.sock"));
        ScriptedRun run;
        const ScanResult r = scan(o, run);
        QVERIFY(r.noDaemon);
        QVERIFY(!r.AllClean());
        QCOMPARE(r.records, 0);
        QCOMPARE(r.filesRead, 0);
        QVERIFY(run.items.isEmpty());
        QCOMPARE(run.warnings.size(), 1);
        QVERIFY2(run.warnings[0].contains(o.clamdSocket), qPrintable(run.warnings[0]));
        QCOMPARE(RecordSnapshot(), before);
    }

    // The daemon stops after the third record's result: every record after
    // the ones already sent is "not scanned" and keeps its bytes.
    void daemonStoppedMidRun()
    {
        ClamdServer own;
        QVERIFY2(own.start(), qPrintable(own.error()));
        const QByteArray eicar = ClamdServer::eicar() + QByteArray(64 * 1024, ' ');
        const int files = 20;
        for (int i = 0; i < files; ++i)
            m_bbs->addFile(1, QStringLiteral("E%1.COM").arg(i, 2, 10, QLatin1Char('0')), &eicar);
        const auto before = RecordSnapshot();
        ScanOptions o = options(false);
        o.clamdSocket = own.socketPath();
        o.readers = 1;
        HookedRun run;
        run.onItem = [&](int n) {
            if (n == 3)
                own.stop();
        };
        const ScanResult r = scan(o, run);
        QVERIFY(r.daemonLost);
        QCOMPARE(run.items.size(), files);
        // Scanned up to some record shortly after the stop (the one reader
        // had the next file under way), then not scanned to the end.
        int firstNotScanned = -1;
        for (int i = 0; i < files; ++i) {
            const bool skipped = run.items[i].outcome == RunOutcome::Skipped;
            if (firstNotScanned < 0 && skipped)
                firstNotScanned = i;
            if (firstNotScanned >= 0)
                QVERIFY2(skipped, qPrintable(run.items[i].action));
        }
        QVERIFY2(firstNotScanned >= 3 && firstNotScanned <= 5,
                 qPrintable(QString::number(firstNotScanned)));
        QCOMPARE(r.infected, firstNotScanned);
        QCOMPARE(r.notScanned, files - firstNotScanned);
        QVERIFY(run.items.last().action.startsWith(QLatin1String("not scanned (no daemon)")));
        // Only the records found infected changed, and only their flag.
        const auto after = RecordSnapshot();
        for (int i = 0; i < files; ++i) {
            const QString key = QStringLiteral("1:E%1.COM").arg(i, 2, 10, QLatin1Char('0'));
            QVERIFY(after.count(key));
            if (i >= firstNotScanned) {
                QCOMPARE(after.at(key), before.at(key));
            } else {
                QCOMPARE(flagOf(1, key.mid(2)), 1);
            }
        }
    }

    // A stop between records: the records after it are not looked at and
    // keep their bytes; those before it are done.
    void stopped()
    {
        const QByteArray eicar = ClamdServer::eicar();
        for (int i = 0; i < 10; ++i)
            m_bbs->addFile(1, QStringLiteral("E%1.COM").arg(i), &eicar);
        const auto before = RecordSnapshot();
        ScriptedRun run;
        run.stopAtCall = 3; // asked after each record (and each 1,024 walked)
        const ScanResult r = scan(options(false), run);
        QVERIFY(r.stopped);
        QVERIFY(!r.AllClean());
        QCOMPARE(r.records, 3);
        QCOMPARE(run.items.size(), 3);
        QVERIFY(run.asked.isEmpty());
        const auto after = RecordSnapshot();
        for (int i = 0; i < 10; ++i) {
            const QString key = QStringLiteral("1:E%1.COM").arg(i);
            if (i < 3)
                QCOMPARE(flagOf(1, key.mid(2)), 1);
            else
                QCOMPARE(after.at(key), before.at(key));
        }
    }

    // A second scan with the same signatures reads no file whose hash
    // holds; a changed file is read again; a changed signature set reads
    // everything again and finds what the new signature names.
    void rescanReadsNothing()
    {
        const QByteArray eicar = ClamdServer::eicar();
        const QByteArray clean = CleanText();
        const QByteArray damaged = build(QStringLiteral("zip-crc"), {});
        QVERIFY(!damaged.isEmpty());
        const QByteArray later = QByteArray("A file that a later signature names.\r\n").repeated(9);
        m_bbs->addFile(1, QStringLiteral("EICAR.COM"), &eicar);
        m_bbs->addFile(1, QStringLiteral("CLEAN.TXT"), &clean);
        m_bbs->addFile(1, QStringLiteral("DAMAGED.ZIP"), &damaged);
        m_bbs->addFile(1, QStringLiteral("LATER.TXT"), &later);
        m_bbs->addFile(1, QStringLiteral("NOFILE.ZIP"));

        ScriptedRun first;
        const ScanResult one = scan(options(false), first);
        QVERIFY(one.resultsKept);
        QCOMPARE(one.filesRead, 4);
        QCOMPARE(one.unchanged, 0);
        QCOMPARE(one.infected, 1);
        QCOMPARE(one.damaged, 1);
        QCOMPARE(one.clean, 2);
        QCOMPARE(one.notScanned, 1); // no file

        const auto before = RecordSnapshot();
        ScriptedRun second;
        const ScanResult two = scan(options(false), second);
        QCOMPARE(two.filesRead, 0);
        QCOMPARE(two.bytesRead, 0);
        QCOMPARE(two.unchanged, 4);
        QCOMPARE(two.infected, 1);
        QCOMPARE(two.damaged, 1);
        QCOMPARE(two.clean, 2);
        QCOMPARE(two.notScanned, 1);
        QCOMPARE(RecordSnapshot(), before);
        QVERIFY(second.statuses.last().contains(QLatin1String("4 unchanged skipped")));

        // One file rewritten: it alone is read.
        {
            QFile f(QDir(m_bbs->areaFolder(1)).filePath(QStringLiteral("CLEAN.TXT")));
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(clean + "more\r\n");
        }
        ScriptedRun third;
        const ScanResult three = scan(options(false), third);
        QCOMPARE(three.filesRead, 1);
        QCOMPARE(three.unchanged, 3);

        // A signature of one's own added: the key changes at once, and the
        // daemon finds the file once it has loaded the signature.
        const ClamdSignatureKey oldKey = ReadClamdSignatureKey(ClamdClient(m_server->socketPath()));
        QFile ndb(m_server->folder() + QStringLiteral("/db/later.ndb"));
        QVERIFY(ndb.open(QIODevice::WriteOnly));
        ndb.write("Vt.Test.Later:0:*:" + later.left(36).toHex() + '\n');
        ndb.close();
        const ClamdSignatureKey newKey = ReadClamdSignatureKey(ClamdClient(m_server->socketPath()));
        QVERIFY(!oldKey.key.isEmpty());
        QVERIFY(newKey.key != oldKey.key);
        QCOMPARE(newKey.databaseFiles, oldKey.databaseFiles + 1);
        QVERIFY(ReloadDaemon(later, true));
        ScriptedRun fourth;
        const ScanResult four = scan(options(false), fourth);
        QCOMPARE(four.filesRead, 4);
        QCOMPARE(four.unchanged, 0);
        QCOMPARE(four.infected, 2);
        QCOMPARE(flagOf(1, QStringLiteral("LATER.TXT")), 1);
        QFile::remove(ndb.fileName());
        QVERIFY(ReloadDaemon(later, false));
    }

    // Infected records move to the quarantine area with their files and
    // the flag set; the run's undo puts back every record and file.
    void quarantineAndUndo()
    {
        const QByteArray eicar = ClamdServer::eicar();
        const QByteArray zipped = build(QStringLiteral("zip"), eicar);
        const QByteArray clean = CleanText();
        m_bbs->addFile(1, QStringLiteral("EICAR.COM"), &eicar);
        m_bbs->addFile(1, QStringLiteral("VIRUS.ZIP"), &zipped);
        m_bbs->addFile(1, QStringLiteral("CLEAN.TXT"), &clean);
        const auto before = BbsState(*m_bbs, 2);

        ScanOptions o = options(true);
        o.quarantine = 2;
        ScriptedRun dry;
        const ScanResult planned = scan(o, dry);
        QCOMPARE(planned.quarantined, 2);
        QCOMPARE(BbsState(*m_bbs, 2), before);

        o.dryRun = false;
        SetTrashDays(7);
        ScriptedRun run;
        uint32_t id = 0;
        ScanResult r;
        {
            ServerLogin login;
            JournaledRun journal(QStringLiteral("scan --areas 1 --quarantine 2 --yes"));
            QVERIFY2(journal.Begun(), qPrintable(journal.Refusal()));
            id = journal.Id();
            r = RunScan(o, run);
        }
        QCOMPARE(r.quarantined, 2);
        QCOMPARE(r.changesFailed, 0);
        {
            ServerLogin login;
            QCOMPARE(RecordNamesOf(1), QStringList{QStringLiteral("CLEAN.TXT")});
            QCOMPARE(RecordNamesOf(2),
                     (QStringList{QStringLiteral("EICAR.COM"), QStringLiteral("VIRUS.ZIP")}));
        }
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("EICAR.COM")));
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("VIRUS.ZIP")));
        QCOMPARE(ReadBytes(QDir(m_bbs->areaFolder(2)).filePath(QStringLiteral("VIRUS.ZIP"))),
                 zipped);
        QCOMPARE(flagOf(2, QStringLiteral("EICAR.COM")), 1);
        QCOMPARE(flagOf(2, QStringLiteral("VIRUS.ZIP")), 1);
        QCOMPARE(flagOf(1, QStringLiteral("CLEAN.TXT")), 0);

        {
            ServerLogin login;
            WcUndoSummary summary{};
            QVERIFY2(WcUndoRun(id, 0, nullptr, nullptr, &summary),
                     qPrintable(QString::number(WcGetLastError(), 16)));
        }
        QCOMPARE(BbsState(*m_bbs, 2), before);
    }

    // A name taken in the quarantine area: the record stays, flagged.
    void quarantineNameTaken()
    {
        const QByteArray eicar = ClamdServer::eicar();
        m_bbs->addFile(1, QStringLiteral("EICAR.COM"), &eicar);
        const QByteArray other("another file of the same name");
        m_bbs->addFile(2, QStringLiteral("EICAR.COM"), &other);
        ScanOptions o = options(false);
        o.quarantine = 2;
        ScriptedRun run;
        const ScanResult r = scan(o, run);
        QCOMPARE(r.quarantined, 0);
        QCOMPARE(r.changesFailed, 1);
        QCOMPARE(run.items[0].outcome, RunOutcome::Refused);
        QCOMPARE(flagOf(1, QStringLiteral("EICAR.COM")), 1);
        QCOMPARE(ReadBytes(QDir(m_bbs->areaFolder(2)).filePath(QStringLiteral("EICAR.COM"))),
                 other);
    }

    void signatureKeyParts()
    {
        // The daemon's own configuration file and database folder.
        const qint64 pid = ClamdDaemonPid(m_server->socketPath());
        QCOMPARE(pid, m_server->pid());
        QCOMPARE(ClamdConfigOfProcess(pid), m_server->configPath());
        QCOMPARE(ClamdConfigOfProcess(0), QStringLiteral("/etc/clamav/clamd.conf"));
        QCOMPARE(ClamdDatabaseFolder("# comment\nDatabaseDirectory /x/db\n"),
                 QStringLiteral("/x/db"));
        QCOMPARE(ClamdDatabaseFolder("Foreground yes\n"), QStringLiteral("/var/lib/clamav"));
        // A version with the official databases' number is a key by itself;
        // one without and no folder is none.
        ClamdVersion official;
        ClamdClient::parseVersionAnswer("ClamAV 1.0.7/27480/Tue Dec 10 09:23:45 2024", official);
        QVERIFY(!MakeSignatureKey(official, {}).isEmpty());
        ClamdVersion bare;
        ClamdClient::parseVersionAnswer("ClamAV 1.4.6", bare);
        QVERIFY(MakeSignatureKey(bare, {}).isEmpty());
        QVERIFY(MakeSignatureKey(bare, "0123abcd").endsWith("|db:0123abcd"));
        ClamdVersion longer = official;
        longer.text = QString(300, u'x');
        QCOMPARE(MakeSignatureKey(longer, QByteArray(32, 'f')).size(), MaxSignatureKeyBytes);
        // Files of the updater's own are no signatures.
        QTemporaryDir db;
        QVERIFY(WriteBytes(db.filePath(QStringLiteral("a.ndb")), "x"));
        int files = 0;
        const QByteArray one = SignatureFilesFingerprint(db.path(), &files);
        QCOMPARE(files, 1);
        QVERIFY(WriteBytes(db.filePath(QStringLiteral("freshclam.dat")), "x"));
        QCOMPARE(SignatureFilesFingerprint(db.path()), one);
        QVERIFY(WriteBytes(db.filePath(QStringLiteral("b.hdb")), "x"));
        QVERIFY(SignatureFilesFingerprint(db.path()) != one);
        QCOMPARE(SignatureFilesFingerprint(db.filePath(QStringLiteral("none"))), QByteArray());
    }

private:
    // Has the daemon load its signatures again and waits until a scan of
    // `probe` says what the new set says.
    bool ReloadDaemon(const QByteArray& probe, bool found)
    {
        const QByteArray path = QFile::encodeName(m_server->socketPath());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::write(fd, "zRELOAD", 8) == 8;
        char answer[64] = {};
        sent = sent && ::read(fd, answer, sizeof answer - 1) > 0;
        ::close(fd);
        if (!sent)
            return false;
        const ClamdClient client(m_server->socketPath());
        for (int i = 0; i < 600; ++i) {
            const ClamdScanResult r = client.scanBytes(probe);
            if (r.scanned() && (r.outcome == ClamdOutcome::Infected) == found)
                return true;
            QThread::msleep(50);
        }
        return false;
    }
};

VT_TEST_MAIN(TestScan)
#include "test_scan.moc"
