// The virus scanner daemon's client: its answers read, its framing and its
// time bounds against a stand-in daemon on a socket of the test's own, and
// real scans against a clamd started with a database the test writes
// (tests/support/ClamdServer.h). Each scanned file also goes through the
// archive test, which finds no virus: that is the daemon's part.
#include "ArchiveFixtures.h"
#include "ClamdServer.h"
#include "ZipFixtures.h"
#include "archive/ArchiveTest.h"
#include "archive/ClamdClient.h"
#include "archive/TUnzipFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(ClamdOutcome)
Q_DECLARE_METATYPE(ArchiveTestOutcome)

namespace
{

// A daemon stand-in on a Unix socket: takes one connection, keeps what it
// is sent until the end of an INSTREAM (or the peer closes) and writes
// `answer`; with `hang` it reads but never answers.
class FakeDaemon
{
public:
    FakeDaemon(const QString& path, const QByteArray& answer, bool hang = false)
        : m_answer(answer), m_hang(hang)
    {
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        std::memcpy(address.sun_path, p.constData(), std::size_t(p.size()));
        m_ok = m_listen >= 0 &&
               ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(m_listen, 4) == 0;
        if (m_ok)
            m_thread = std::thread([this] { serve(); });
    }
    ~FakeDaemon()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
    }
    bool ok() const { return m_ok; }
    // Everything received, once the connection is over.
    QByteArray received() const { return m_finished ? m_received : QByteArray(); }
    bool finished() const { return m_finished; }

private:
    // Waits for `fd` to be readable, giving up when the test is done.
    bool waitReadable(int fd)
    {
        while (!m_done) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                return true;
        }
        return false;
    }
    // True once the bytes hold "zINSTREAM\0" and a complete zero chunk.
    static bool streamEnded(const QByteArray& b)
    {
        qsizetype at = 10;
        while (b.size() >= at + 4) {
            const quint32 n = (quint32(quint8(b[at])) << 24) | (quint32(quint8(b[at + 1])) << 16) |
                              (quint32(quint8(b[at + 2])) << 8) | quint32(quint8(b[at + 3]));
            if (n == 0)
                return true;
            at += 4 + n;
        }
        return false;
    }
    void serve()
    {
        if (!waitReadable(m_listen))
            return;
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0)
            return;
        char buffer[65536];
        while (waitReadable(fd)) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            m_received.append(buffer, n);
            if (m_received.startsWith("zINSTREAM") ? streamEnded(m_received)
                                                   : m_received.contains('\0'))
                break;
        }
        if (!m_hang)
            (void)!::write(fd, m_answer.constData(), std::size_t(m_answer.size()));
        else
            waitReadable(fd); // until the client gives up and closes
        ::close(fd);
        m_finished = true;
    }

    QByteArray m_answer;
    bool m_hang = false;
    int m_listen = -1;
    bool m_ok = false;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_finished{false};
    QByteArray m_received;
    std::thread m_thread;
};

QByteArray Chunk(const QByteArray& data)
{
    const quint32 n = quint32(data.size());
    QByteArray out;
    out += char(n >> 24);
    out += char(n >> 16);
    out += char(n >> 8);
    out += char(n);
    return out + data;
}

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

constexpr qint64 StreamLimit = 512 * 1024;

} // namespace

class TestClamdScan : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ClamdServer> m_server;
    std::unique_ptr<TUnzipFile> m_unzip;

    QString out(const QString& name) const { return m_dir->filePath(name); }

    // Builds `layers` ("zip", "tar.gz/7z": the outermost first) around a
    // file EICAR.COM or CLEAN.TXT of `payload`; returns the path.
    QString build(const QString& layers, const QByteArray& payload, const QString& memberName)
    {
        QString name = memberName;
        QByteArray bytes = payload;
        QStringList kinds = layers.split(u'/', Qt::SkipEmptyParts);
        std::reverse(kinds.begin(), kinds.end());
        int level = 0;
        for (const QString& kind : kinds) {
            const QString target =
                out(QStringLiteral("L%1.%2").arg(level++).arg(QString(kind).replace(u'.', u'_')));
            if (!MakeArchive(kind, target, out(QStringLiteral("work")), {{name, bytes}}))
                return QString();
            name = QStringLiteral("INNER%1.%2").arg(level).arg(kind.section(u'.', -1));
            bytes = ReadBytes(target);
        }
        const QString path = out(QStringLiteral("scanned.bin"));
        return WriteBytes(path, bytes) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        m_unzip = std::make_unique<TUnzipFile>();
        QVERIFY(m_unzip->IsLoaded());
        ClamdServer::Options options;
        options.streamMaxLength = StreamLimit;
        m_server = std::make_unique<ClamdServer>(options);
        QVERIFY2(m_server->start(), qPrintable(m_server->error()));
    }
    void cleanupTestCase()
    {
        m_server.reset();
        m_unzip.reset();
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    // ---- answers, framing and time bounds (a stand-in daemon) ----

    void scanAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<ClamdOutcome>("outcome");
        QTest::addColumn<QString>("signature");
        QTest::newRow("clean") << QByteArray("stream: OK") << ClamdOutcome::Clean << "";
        QTest::newRow("found") << QByteArray("stream: Win.Test.EICAR_HDB-1 FOUND")
                               << ClamdOutcome::Infected << "Win.Test.EICAR_HDB-1";
        QTest::newRow("stream limit")
            << QByteArray("INSTREAM size limit exceeded. ERROR") << ClamdOutcome::TooLarge << "";
        QTest::newRow("other error")
            << QByteArray("stream: Can't allocate memory ERROR") << ClamdOutcome::Failed << "";
        QTest::newRow("unknown command")
            << QByteArray("UNKNOWN COMMAND") << ClamdOutcome::Failed << "";
    }
    void scanAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(ClamdOutcome, outcome);
        QFETCH(QString, signature);
        ClamdScanResult r;
        ClamdClient::parseScanAnswer(answer, r, QStringLiteral("/x/clamd.ctl"));
        QCOMPARE(r.outcome, outcome);
        QCOMPARE(r.signature, signature);
        QCOMPARE(r.answer, QString::fromLatin1(answer));
        if (!r.scanned())
            QVERIFY2(r.message.contains(QLatin1String("/x/clamd.ctl")), qPrintable(r.message));
    }

    void versionAnswers()
    {
        ClamdVersion v;
        ClamdClient::parseVersionAnswer("ClamAV 1.0.7/27480/Tue Dec 10 09:23:45 2024", v);
        QCOMPARE(v.engine, QStringLiteral("1.0.7"));
        QCOMPARE(v.database, QStringLiteral("27480"));
        QCOMPARE(v.date, QStringLiteral("Tue Dec 10 09:23:45 2024"));
        v = ClamdVersion{};
        ClamdClient::parseVersionAnswer("ClamAV 1.4.6", v);
        QCOMPARE(v.engine, QStringLiteral("1.4.6"));
        QCOMPARE(v.database, QString());
        QCOMPARE(v.text, QStringLiteral("ClamAV 1.4.6"));
    }

    // What goes over the socket: the command with its NUL, each chunk with
    // its big-endian length, and a chunk of length 0 at the end.
    void instreamFraming()
    {
        const QString socket = out(QStringLiteral("fake.sock"));
        FakeDaemon daemon(socket, QByteArray("stream: OK", 11));
        QVERIFY(daemon.ok());
        const QByteArray data = Noise(150000, 3);
        ClamdClient client(socket, ClamdTimeouts{2000, 5000, 5000});
        client.setChunkBytes(65536);
        const ClamdScanResult r = client.scanBytes(data);
        QCOMPARE(r.outcome, ClamdOutcome::Clean);
        QCOMPARE(r.bytesSent, qint64(data.size()));
        QTRY_VERIFY(daemon.finished());
        const QByteArray expected = QByteArray("zINSTREAM", 10) + Chunk(data.left(65536)) +
                                    Chunk(data.mid(65536, 65536)) + Chunk(data.mid(131072)) +
                                    Chunk(QByteArray());
        QCOMPARE(daemon.received().size(), expected.size());
        QVERIFY(daemon.received() == expected);
    }

    void versionCommand()
    {
        const QString socket = out(QStringLiteral("fake.sock"));
        FakeDaemon daemon(socket, QByteArray("ClamAV 1.0.7/27480/Tue Dec 10 09:23:45 2024", 44));
        QVERIFY(daemon.ok());
        const ClamdVersion v = ClamdClient(socket).version();
        QVERIFY2(v.ok, qPrintable(v.message));
        QCOMPARE(v.database, QStringLiteral("27480"));
        QTRY_VERIFY(daemon.finished());
        QCOMPARE(daemon.received(), QByteArray("zVERSION", 9));
    }

    // A daemon that takes the stream and never answers can't hold the run:
    // the answer time bounds the wait, and the failure names the socket.
    void hungDaemonTimesOut()
    {
        const QString socket = out(QStringLiteral("hung.sock"));
        FakeDaemon daemon(socket, QByteArray(), true);
        QVERIFY(daemon.ok());
        ClamdClient client(socket, ClamdTimeouts{500, 500, 700});
        QElapsedTimer clock;
        clock.start();
        const ClamdScanResult r = client.scanBytes("harmless");
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(clock.elapsed() >= 600);
        QCOMPARE(r.outcome, ClamdOutcome::Failed);
        QVERIFY(!r.scanned());
        QVERIFY2(r.message.contains(socket), qPrintable(r.message));
        QVERIFY2(r.message.contains(QLatin1String("no answer")), qPrintable(r.message));
    }

    void noDaemon_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("no socket file") << "missing";
        QTest::newRow("a socket nobody listens on") << "stale";
        QTest::newRow("not a socket") << "file";
    }
    void noDaemon()
    {
        QFETCH(QString, kind);
        const QString socket = out(QStringLiteral("clamd.ctl"));
        if (kind == u"stale") {
            // Bound, then closed: the file stays, nobody listens.
            FakeDaemon gone(socket, QByteArray());
            QVERIFY(gone.ok());
        } else if (kind == u"file") {
            QVERIFY(WriteBytes(socket, "x"));
        }
        QVERIFY((kind == u"missing") != QFile::exists(socket));
        const ClamdClient client(socket, ClamdTimeouts{1000, 1000, 1000});
        const ClamdScanResult r = client.scanBytes("harmless");
        QCOMPARE(r.outcome, ClamdOutcome::Unreachable);
        QVERIFY2(r.message.contains(socket), qPrintable(r.message));
        QVERIFY(ClamdResultText(r).startsWith(QLatin1String("not scanned: no daemon")));
        const ClamdVersion v = client.version();
        QVERIFY(!v.ok);
        QVERIFY2(v.message.contains(socket), qPrintable(v.message));
        QString why;
        QVERIFY(!client.ping(&why));
        QVERIFY(why.contains(socket));
    }

    // ---- a real daemon ----

    void version()
    {
        const ClamdVersion v = ClamdClient(m_server->socketPath()).version();
        QVERIFY2(v.ok, qPrintable(v.message));
        QVERIFY(v.text.startsWith(QLatin1String("ClamAV ")));
        // The engine is the installed daemon's.
        QProcess p;
        p.start(ClamdServer::program(), {QStringLiteral("--version")});
        QVERIFY(p.waitForFinished(30000));
        const QString installed = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        QVERIFY2(installed.startsWith(QStringLiteral("ClamAV ") + v.engine),
                 qPrintable(installed + QStringLiteral(" / ") + v.text));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+")).match(v.engine).hasMatch());
    }

    // The test string (and the file listed by hash) plain and in archives of
    // each kind, one and two levels deep; clean controls of each. The daemon
    // finds them all; the archive test reads each archive through and finds
    // nothing, as a virus is not damage.
    void scan_data()
    {
        QTest::addColumn<QString>("layers");
        QTest::addColumn<QString>("payload");
        QTest::addColumn<ClamdOutcome>("outcome");
        QTest::addColumn<QString>("signature");
        const QString eicar = ClamdServer::eicarSignature();
        const QString marked = ClamdServer::markedSignature();
        const auto I = ClamdOutcome::Infected;
        const auto C = ClamdOutcome::Clean;
        for (const char* layers : {"", "zip", "7z", "tar.gz", "zip/zip", "tar.gz/7z", "7z/zip"}) {
            const QString l = QString::fromLatin1(layers);
            const QString what = l.isEmpty() ? QStringLiteral("plain") : l;
            QTest::addRow("test string, %s", qPrintable(what)) << l << "eicar" << I << eicar;
            QTest::addRow("clean control, %s", qPrintable(what)) << l << "clean" << C << "";
        }
        QTest::newRow("hash signature, plain") << ""
                                               << "marked" << I << marked;
        QTest::newRow("hash signature, zip") << "zip"
                                             << "marked" << I << marked;
        QTest::newRow("test string inside a larger file") << ""
                                                          << "embedded" << I << eicar;
    }
    void scan()
    {
        QFETCH(QString, layers);
        QFETCH(QString, payload);
        QFETCH(ClamdOutcome, outcome);
        QFETCH(QString, signature);
        QByteArray bytes;
        QString member = QStringLiteral("EICAR.COM");
        if (payload == u"eicar") {
            bytes = ClamdServer::eicar();
        } else if (payload == u"marked") {
            bytes = ClamdServer::markedFileBytes();
            member = QStringLiteral("MARKED.TXT");
        } else if (payload == u"embedded") {
            bytes = Noise(100000, 4) + ClamdServer::eicar() + Noise(1000, 5);
        } else {
            // Near misses of both signatures.
            bytes = ClamdServer::eicar().left(60) + ClamdServer::markedFileBytes();
            member = QStringLiteral("CLEAN.TXT");
        }
        const QString path = build(layers, bytes, member);
        QVERIFY(!path.isEmpty());

        const ClamdScanResult r = ClamdClient(m_server->socketPath()).scanFile(path);
        QVERIFY2(r.outcome == outcome, qPrintable(ClamdResultText(r) + u' ' + r.answer));
        QCOMPARE(r.signature, signature);
        QCOMPARE(r.bytesSent, QFileInfo(path).size());
        QCOMPARE(ClamdResultText(r), outcome == ClamdOutcome::Clean
                                         ? QStringLiteral("clean")
                                         : QStringLiteral("infected: ") + signature);

        const ArchiveTestResult t = TestArchive(path, m_unzip.get());
        QCOMPARE(t.outcome, ArchiveTestOutcome::Clean);
        QCOMPARE(t.tested, !layers.isEmpty());
        if (layers.contains(u'/'))
            QCOMPARE(t.nestedTested, 1);
    }

    // A file above the daemon's StreamMaxLength is refused: not scanned, too
    // large, and said so; one below it is scanned.
    void streamLimit_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<ClamdOutcome>("outcome");
        QTest::newRow("below the limit") << StreamLimit - 4096 << ClamdOutcome::Clean;
        QTest::newRow("one chunk over") << StreamLimit + 65536 << ClamdOutcome::TooLarge;
        QTest::newRow("four times the limit") << 4 * StreamLimit << ClamdOutcome::TooLarge;
    }
    void streamLimit()
    {
        QFETCH(qint64, size);
        QFETCH(ClamdOutcome, outcome);
        const QString path = out(QStringLiteral("big.bin"));
        QVERIFY(WriteBytes(path, Noise(int(size), 6)));
        const ClamdScanResult r = ClamdClient(m_server->socketPath()).scanFile(path);
        QVERIFY2(r.outcome == outcome, qPrintable(ClamdResultText(r) + u' ' + r.answer));
        if (outcome == ClamdOutcome::TooLarge) {
            QVERIFY(!r.scanned());
            QCOMPARE(ClamdResultText(r),
                     QStringLiteral("not scanned: too large for the daemon's stream limit"));
            QVERIFY(r.message.contains(m_server->socketPath()));
        }
        // The daemon goes on serving.
        QVERIFY(ClamdClient(m_server->socketPath()).ping());
    }

    void readErrors()
    {
        const ClamdClient client(m_server->socketPath());
        ClamdScanResult r = client.scanFile(out(QStringLiteral("missing.bin")));
        QCOMPARE(r.outcome, ClamdOutcome::ReadError);
        QVERIFY(r.message.contains(QLatin1String("missing.bin")));
        // A read that fails part-way: the stream is dropped, not scanned as
        // far as it got (the test string went before the failure).
        int calls = 0;
        r = client.scanStream([&](char* buffer, qint64 size, QString& error) -> qint64 {
            if (calls++ > 0) {
                error = QStringLiteral("Input/output error");
                return -1;
            }
            const QByteArray e = ClamdServer::eicar();
            std::memcpy(buffer, e.constData(), std::size_t(std::min<qint64>(size, e.size())));
            return e.size();
        });
        QCOMPARE(r.outcome, ClamdOutcome::ReadError);
        QCOMPARE(r.message, QStringLiteral("Input/output error"));
        QVERIFY(client.ping());
    }

    // The daemon stops between files of a run: the files after it are not
    // scanned, and each says the daemon can't be reached on its socket.
    void daemonStoppedMidRun()
    {
        ClamdServer own;
        QVERIFY2(own.start(), qPrintable(own.error()));
        const ClamdClient client(own.socketPath(), ClamdTimeouts{1000, 2000, 2000});
        QList<ClamdScanResult> results;
        for (int i = 0; i < 4; ++i) {
            if (i == 2)
                own.stop();
            results << client.scanBytes(i % 2 ? ClamdServer::eicar() : QByteArray("clean"));
        }
        QCOMPARE(results[0].outcome, ClamdOutcome::Clean);
        QCOMPARE(results[1].outcome, ClamdOutcome::Infected);
        for (int i = 2; i < 4; ++i) {
            QCOMPARE(results[i].outcome, ClamdOutcome::Unreachable);
            QVERIFY(!results[i].scanned());
            QVERIFY2(results[i].message.contains(own.socketPath()), qPrintable(results[i].message));
        }
        QVERIFY(!own.running());
    }

    // The harness stops its daemon when it goes, also on a test's early
    // return: nothing answers on the socket afterwards.
    void harnessStopsItsDaemon()
    {
        QString socket;
        qint64 pid = 0;
        {
            ClamdServer scoped;
            QVERIFY2(scoped.start(), qPrintable(scoped.error()));
            socket = scoped.socketPath();
            pid = scoped.pid();
            QVERIFY(pid > 0);
            QVERIFY(ClamdClient(socket).ping());
            QCOMPARE(::kill(pid_t(pid), 0), 0);
        }
        // The process is gone (and reaped), not only its folder.
        QCOMPARE(::kill(pid_t(pid), 0), -1);
        QCOMPARE(errno, ESRCH);
        QVERIFY(!ClamdClient(socket, ClamdTimeouts{500, 500, 500}).ping());
    }
};

QTEST_GUILESS_MAIN(TestClamdScan)
#include "test_clamdscan.moc"
