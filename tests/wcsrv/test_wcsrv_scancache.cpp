// The scan results the library keeps by file content, through the
// contract: kept and read back, a result only for its own signatures, one
// row per content, arguments refused, a store without the table, the fault
// switch, and (on PostgreSQL) wcsrv-admin copy-store taking them along
// both ways.
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcFault.h"
#include "server/wcsrv.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

#include <cstring>
#include <memory>

namespace
{

struct Hash {
    uint8_t bytes[32];
};

Hash HashOf(unsigned char fill)
{
    Hash h;
    for (int i = 0; i < 32; ++i)
        h.bytes[i] = uint8_t(fill + i * 7); // a zero byte inside, too
    return h;
}

WcScanResult Result(const Hash& h, const char* signatures, int32_t outcome, const char* text,
                    int64_t scanned = 1700000000)
{
    WcScanResult r{};
    std::memcpy(r.Sha256, h.bytes, 32);
    std::strncpy(r.Signatures, signatures, sizeof r.Signatures - 1);
    r.Outcome = outcome;
    r.Scanned = scanned;
    std::strncpy(r.Text, text, sizeof r.Text - 1);
    return r;
}

QByteArray Bytes(const WcScanResult& r)
{
    return QByteArray(reinterpret_cast<const char*>(&r), sizeof r);
}

bool TableThere(const TestBbs& bbs)
{
    QString error;
    // A query of the table itself: it fails when there is none.
    return RunStoreSql(bbs, "SELECT count(*) FROM scan_results", &error);
}

} // namespace

class TestWcsrvScanCache : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
    }
    void cleanup() { m_bbs.reset(); }

    void keptAndReadBack_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("clean") << int(WC_SCAN_CLEAN) << QByteArray();
        QTest::newRow("infected") << int(WC_SCAN_INFECTED)
                                  << QByteArray("Vt.Test.Eicar.UNOFFICIAL");
        QTest::newRow("damaged") << int(WC_SCAN_DAMAGED)
                                 << QByteArray("damaged: a member fails its checksum: DATA.BIN");
        QTest::newRow("longest text") << int(WC_SCAN_DAMAGED) << QByteArray(255, '\xE9');
    }
    void keptAndReadBack()
    {
        QFETCH(int, outcome);
        QFETCH(QByteArray, text);
        ServerLogin login;
        QVERIFY(login.ok());
        const Hash h = HashOf(0x80);
        WcScanResult out{};
        QVERIFY(!WcGetScanResult(h.bytes, "ClamAV 1.4.6/27480", &out));
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));

        const WcScanResult kept = Result(h, "ClamAV 1.4.6/27480", outcome, text.constData());
        QVERIFY(WcPutScanResult(&kept));
        QVERIFY(WcGetScanResult(h.bytes, "ClamAV 1.4.6/27480", &out));
        QCOMPARE(Bytes(out), Bytes(kept));
        // Another content has none.
        QVERIFY(!WcGetScanResult(HashOf(0x81).bytes, "ClamAV 1.4.6/27480", &out));
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
    }

    void onlyForItsSignatures()
    {
        ServerLogin login;
        QVERIFY(login.ok());
        const Hash h = HashOf(0x10);
        const WcScanResult old = Result(h, "ClamAV 1.4.6/27480", WC_SCAN_CLEAN, "");
        QVERIFY(WcPutScanResult(&old));
        WcScanResult out{};
        // Newer signatures: the result found with the old ones is none.
        QVERIFY(!WcGetScanResult(h.bytes, "ClamAV 1.4.6/27481", &out));
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
        // The new result takes its place: one row per content.
        const WcScanResult now =
            Result(h, "ClamAV 1.4.6/27481", WC_SCAN_INFECTED, "Win.Test.New", 1800000000);
        QVERIFY(WcPutScanResult(&now));
        QVERIFY(WcGetScanResult(h.bytes, "ClamAV 1.4.6/27481", &out));
        QCOMPARE(Bytes(out), Bytes(now));
        QVERIFY(!WcGetScanResult(h.bytes, "ClamAV 1.4.6/27480", &out));
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs, "DELETE FROM scan_results WHERE outcome = 1", &error),
                 qPrintable(error));
        // The row deleted was none of the new one's.
        QVERIFY(WcGetScanResult(h.bytes, "ClamAV 1.4.6/27481", &out));
    }

    void badArguments_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("unknown outcome") << 0;
        QTest::newRow("outcome 4") << 1;
        QTest::newRow("signatures without NUL") << 2;
        QTest::newRow("text without NUL") << 3;
        QTest::newRow("null") << 4;
    }
    void badArguments()
    {
        QFETCH(int, fault);
        ServerLogin login;
        QVERIFY(login.ok());
        const Hash h = HashOf(0x33);
        WcScanResult r = Result(h, "sigs", WC_SCAN_CLEAN, "");
        switch (fault) {
        case 0:
            r.Outcome = 0;
            break;
        case 1:
            r.Outcome = 4;
            break;
        case 2:
            std::memset(r.Signatures, 'x', sizeof r.Signatures);
            break;
        case 3:
            std::memset(r.Text, 'x', sizeof r.Text);
            break;
        default:
            break;
        }
        QVERIFY(!WcPutScanResult(fault == 4 ? nullptr : &r));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_OBJECT_ID));
        WcScanResult out{};
        QVERIFY(!WcGetScanResult(h.bytes, "sigs", &out));
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND)); // nothing was kept
        QVERIFY(!WcGetScanResult(h.bytes, "sigs", nullptr));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_OBJECT_ID));
    }

    void tableMadeOnFirstWrite()
    {
        QVERIFY(!TableThere(*m_bbs));
        {
            ServerLogin login;
            QVERIFY(login.ok());
            WcScanResult out{};
            QVERIFY(!WcGetScanResult(HashOf(1).bytes, "sigs", &out));
            QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
        }
        QVERIFY(!TableThere(*m_bbs)); // a read writes nothing
        ServerLogin login;
        QVERIFY(login.ok());
        const WcScanResult r = Result(HashOf(1), "sigs", WC_SCAN_CLEAN, "");
        QVERIFY(WcPutScanResult(&r));
        QVERIFY(TableThere(*m_bbs));
    }

    void notLoggedIn()
    {
        WcScanResult out{};
        QVERIFY(!WcGetScanResult(HashOf(1).bytes, "sigs", &out));
        QCOMPARE(WcGetLastError(), uint32_t(WC_USER_NOT_LOGGED_IN));
        const WcScanResult r = Result(HashOf(1), "sigs", WC_SCAN_CLEAN, "");
        QVERIFY(!WcPutScanResult(&r));
        QCOMPARE(WcGetLastError(), uint32_t(WC_USER_NOT_LOGGED_IN));
    }

    void faultSwitch()
    {
        ServerLogin login;
        QVERIFY(login.ok());
        const WcScanResult r = Result(HashOf(9), "sigs", WC_SCAN_CLEAN, "");
        WcFaultFailKind("WcPutScanResult", WC_NO_ACTION_TAKEN);
        const bool put = WcPutScanResult(&r);
        const uint32_t code = WcGetLastError();
        WcFaultReset();
        QVERIFY(!put);
        QCOMPARE(code, uint32_t(WC_NO_ACTION_TAKEN));
        WcScanResult out{};
        QVERIFY(!WcGetScanResult(HashOf(9).bytes, "sigs", &out)); // nothing was kept
        QVERIFY(WcPutScanResult(&r));
        WcFaultFailKind("WcGetScanResult", WC_NO_ACTION_TAKEN);
        const bool got = WcGetScanResult(HashOf(9).bytes, "sigs", &out);
        WcFaultReset();
        QVERIFY(!got);
        QVERIFY(WcGetScanResult(HashOf(9).bytes, "sigs", &out));
    }

    void tableDroppedWhileLoggedIn()
    {
        ServerLogin login;
        QVERIFY(login.ok());
        const WcScanResult r = Result(HashOf(5), "sigs", WC_SCAN_CLEAN, "");
        QVERIFY(WcPutScanResult(&r));
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs, "DROP TABLE scan_results", &error), qPrintable(error));
        WcScanResult out{};
        QVERIFY(!WcGetScanResult(HashOf(5).bytes, "sigs", &out));
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
        // The next write makes the table again.
        QVERIFY(WcPutScanResult(&r));
        QVERIFY(WcGetScanResult(HashOf(5).bytes, "sigs", &out));
    }
};

// copy-store needs a PostgreSQL store on one side: run only there.
class TestWcsrvScanCacheCopy : public QObject
{
    Q_OBJECT

private slots:
    void copyStoreTakesResultsAlong()
    {
        TestBbs bbs;
        QVERIFY(bbs.ok());
        bbs.addArea(1, QStringLiteral("Uploads"));
        // More rows than one batch of the copy.
        QList<WcScanResult> kept;
        for (int i = 0; i < 600; ++i) {
            Hash h = HashOf(0);
            h.bytes[0] = uint8_t(i >> 8);
            h.bytes[1] = uint8_t(i);
            kept << Result(h, "ClamAV 1.4.6/1", i % 3 + 1, i % 3 ? "Some.Text" : "");
        }
        {
            ServerLogin login;
            QVERIFY(login.ok());
            for (const WcScanResult& r : kept)
                QVERIFY(WcPutScanResult(&r));
        }
        const QByteArray pg = qgetenv("WCSRV_DATABASE");
        auto readBack = [&] {
            ServerLogin login;
            QVERIFY(login.ok());
            for (const WcScanResult& r : kept) {
                WcScanResult out{};
                QVERIFY(WcGetScanResult(r.Sha256, r.Signatures, &out));
                QCOMPARE(Bytes(out), Bytes(r));
            }
        };
        QTemporaryDir sqliteHome;
        QVERIFY(sqliteHome.isValid());
        const std::string home = sqliteHome.path().toStdString();
        QCOMPARE(QString::fromStdString(wcadmin::CopyStore(home, pg.toStdString(), "")), QString());
        const QByteArray oldHome = qgetenv("WCSRV_HOME");
        qputenv("WCSRV_HOME", QFile::encodeName(sqliteHome.path()));
        qunsetenv("WCSRV_DATABASE");
        readBack();
        const QByteArray again = NewTestDatabase();
        QCOMPARE(QString::fromStdString(wcadmin::CopyStore(home, "", again.toStdString())),
                 QString());
        qputenv("WCSRV_DATABASE", again);
        readBack();
        qputenv("WCSRV_DATABASE", pg);
        qputenv("WCSRV_HOME", oldHome);
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VtApplication app(argc, argv);
    TestWcsrvScanCache tc;
    int failed = QTest::qExec(&tc, argc, argv);
    if (TestsOnPostgres()) {
        TestWcsrvScanCacheCopy copy;
        failed += QTest::qExec(&copy, argc, argv);
    }
    return failed;
}

#include "test_wcsrv_scancache.moc"
