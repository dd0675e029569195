// The content hashes the library keeps for records' files, through the
// contract: kept and read back in any letter case, refused without a
// record, a store made before the hash table existed, and (on PostgreSQL)
// wcsrv-admin copy-store taking them along both ways.
#include "platform/wcsrv/WcAdmin.h"
#include "server/wcsrv.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstring>
#include <memory>

namespace
{

WcFileHash SomeHash(unsigned char fill)
{
    WcFileHash h{};
    h.Size = 0x1'0000'0001ULL; // above 4 GiB: all 64 bits are kept
    h.LastWrite = MakeFileTime(0x01DA'0000'1234'5678ULL);
    h.File = 0xFFFF'FFFF'0000'0042ULL; // the top bit too
    std::memset(h.Sha256, fill, sizeof h.Sha256);
    h.Sha256[31] = 0;
    return h;
}

QByteArray Bytes(const WcFileHash& h)
{
    return QByteArray(reinterpret_cast<const char*>(&h), sizeof h);
}

// Whether the store of the BBS in `home` holds the hash table, asked of the
// database itself.
bool HashTableThere(const QString& home)
{
    if (TestsOnPostgres()) {
        PGconn* conn = PQconnectdb(qgetenv("WCSRV_DATABASE").constData());
        PGresult* r = PQexec(conn, "SELECT to_regclass('file_hashes') IS NOT NULL");
        const bool there = PQresultStatus(r) == PGRES_TUPLES_OK && PQgetvalue(r, 0, 0)[0] == 't';
        PQclear(r);
        PQfinish(conn);
        return there;
    }
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(home + QStringLiteral("/wcsrv.db")).constData(), &db,
                    SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name = 'file_hashes'", -1, &st,
                       nullptr);
    const bool there = st && sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) > 0;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return there;
}

} // namespace

class TestWcsrvHashes : public QObject
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
        m_bbs->addFile(1, QStringLiteral("ABC.ZIP"));
    }

    void cleanup() { m_bbs.reset(); }

    void keptAndReadBack()
    {
        ServerLogin login;
        QVERIFY(login.ok());
        WcFileHash out{};
        QVERIFY(!WcGetFileHash(1, "ABC.ZIP", &out));
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));

        const WcFileHash first = SomeHash(0xAB);
        QVERIFY(WcPutFileHash(1, "abc.zip", &first));
        QVERIFY(WcGetFileHash(1, "Abc.Zip", &out));
        QCOMPARE(Bytes(out), Bytes(first));

        // A second hash takes the first one's place.
        const WcFileHash second = SomeHash(0x5C);
        QVERIFY(WcPutFileHash(1, "ABC.ZIP", &second));
        QVERIFY(WcGetFileHash(1, "ABC.ZIP", &out));
        QCOMPARE(Bytes(out), Bytes(second));

        // No record, no hash; nothing for another area of the same name.
        QVERIFY(!WcPutFileHash(1, "NONE.ZIP", &first));
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
        QVERIFY(!WcPutFileHash(2, "ABC.ZIP", &first));
        QVERIFY(!WcGetFileHash(2, "ABC.ZIP", &out));
        QVERIFY(!WcGetFileHash(1, "", &out));
        QVERIFY(!WcGetFileHash(1, "ABC.ZIP", nullptr));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_OBJECT_ID));
    }

    void storeMadeBeforeTheTable()
    {
        // A BBS made as every store was before the hash table existed: a
        // read finds nothing and writes nothing, the first hash kept makes
        // the table.
        QVERIFY(!HashTableThere(m_bbs->home()));
        {
            ServerLogin login;
            QVERIFY(login.ok());
            WcFileHash out{};
            QVERIFY(!WcGetFileHash(1, "ABC.ZIP", &out));
            QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
        }
        QVERIFY(!HashTableThere(m_bbs->home()));
        ServerLogin login;
        QVERIFY(login.ok());
        const WcFileHash h = SomeHash(0x11);
        QVERIFY(WcPutFileHash(1, "ABC.ZIP", &h));
        QVERIFY(HashTableThere(m_bbs->home()));
        WcFileHash out{};
        QVERIFY(WcGetFileHash(1, "ABC.ZIP", &out));
        QCOMPARE(Bytes(out), Bytes(h));
    }
};

// copy-store needs a PostgreSQL store on one side: run only there.
class TestWcsrvHashesCopy : public QObject
{
    Q_OBJECT

private slots:
    void copyStoreTakesHashesAlong()
    {
        TestBbs bbs;
        QVERIFY(bbs.ok());
        bbs.addArea(1, QStringLiteral("Uploads"));
        bbs.addFile(1, QStringLiteral("ABC.ZIP"));
        bbs.addFile(1, QStringLiteral("Two.Zip"));
        const WcFileHash a = SomeHash(0x21), b = SomeHash(0x42);
        {
            ServerLogin login;
            QVERIFY(login.ok());
            QVERIFY(WcPutFileHash(1, "ABC.ZIP", &a));
            QVERIFY(WcPutFileHash(1, "Two.Zip", &b));
        }
        const QByteArray pg = qgetenv("WCSRV_DATABASE");
        auto readBack = [&](const char* name, const WcFileHash& expected) {
            ServerLogin login;
            QVERIFY(login.ok());
            WcFileHash out{};
            QVERIFY(WcGetFileHash(1, name, &out));
            QCOMPARE(Bytes(out), Bytes(expected));
        };
        // PostgreSQL -> a new wcsrv.db.
        QTemporaryDir sqliteHome;
        QVERIFY(sqliteHome.isValid());
        const std::string home = sqliteHome.path().toStdString();
        QCOMPARE(QString::fromStdString(wcadmin::CopyStore(home, pg.toStdString(), "")), QString());
        const QByteArray oldHome = qgetenv("WCSRV_HOME");
        qputenv("WCSRV_HOME", QFile::encodeName(sqliteHome.path()));
        qunsetenv("WCSRV_DATABASE");
        readBack("ABC.ZIP", a);
        readBack("Two.Zip", b);
        // ... and back into a new PostgreSQL database.
        const QByteArray again = NewTestDatabase();
        QCOMPARE(QString::fromStdString(wcadmin::CopyStore(home, "", again.toStdString())),
                 QString());
        qputenv("WCSRV_DATABASE", again);
        readBack("abc.zip", a);
        readBack("TWO.ZIP", b);
        qputenv("WCSRV_DATABASE", pg);
        qputenv("WCSRV_HOME", oldHome);
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VtApplication app(argc, argv);
    TestWcsrvHashes tc;
    int failed = QTest::qExec(&tc, argc, argv);
    if (TestsOnPostgres()) {
        TestWcsrvHashesCopy copy;
        failed += QTest::qExec(&copy, argc, argv);
    }
    return failed;
}

#include "test_wcsrv_hashes.moc"
