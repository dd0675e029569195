// The library's connection to a PostgreSQL server ended by the server
// (pg_terminate_backend from a second connection) in the middle of a walk,
// between two operations, and while a write waits inside its transaction:
// the operation fails with an error code, no record is half written (every
// byte of every record compared), and the next operation connects anew and
// works. Each kill is proven: the library's server process was there and
// was ended, and a new one serves it afterwards. Runs with WCSRV_DATABASE
// naming the tests' PostgreSQL server.
#include "WcTestUtil.h"

#include "platform/wcsrv/WcStore.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <map>

#include <libpq-fe.h>

namespace
{

constexpr int kRecords = 1200; // more than one read-ahead batch of a walk

QByteArray Name(int n)
{
    return QByteArray("K") + QByteArray::number(n).rightJustified(4, '0') + ".DAT";
}

// The test's own connections name themselves, so that the library's
// connection is the one that does not.
QByteArray Probe(const QByteArray& setting)
{
    return setting + " application_name=vt-test-probe";
}

// The server processes serving the library's connections to the BBS's
// database.
QByteArrayList LibraryBackends(const QByteArray& setting)
{
    QByteArrayList pids;
    for (const QByteArrayList& row : PgQuery(
             Probe(setting), "SELECT pid FROM pg_stat_activity WHERE datname = current_database() "
                             "AND backend_type = 'client backend' AND application_name <> "
                             "'vt-test-probe'"))
        pids << row.value(0);
    return pids;
}

// Ends the server process `pid` and waits until it is gone.
bool Terminate(const QByteArray& setting, const QByteArray& pid)
{
    const QList<QByteArrayList> r =
        PgQuery(Probe(setting), "SELECT pg_terminate_backend(" + pid + ")");
    if (r.value(0).value(0) != "t")
        return false;
    QElapsedTimer t;
    t.start();
    while (LibraryBackends(setting).contains(pid))
        if (t.elapsed() > 10000)
            return false;
    return true;
}

// Every record of the BBS, read through the library, by "area:name".
std::map<QString, QByteArray> Snapshot()
{
    return RecordSnapshot();
}

struct Rig {
    Rig()
    {
        bbs.addArea(1, QStringLiteral("One"));
        bbs.addArea(2, QStringLiteral("Two"));
        bbs.addUser(QStringLiteral("Jane Doe"));
        QString error;
        const auto store = OpenTestStore(bbs.home(), &error);
        if (!store)
            qFatal("%s", qPrintable(error));
        std::vector<FullFileRec> recs(kRecords);
        for (int n = 0; n < kRecords; ++n) {
            FullFileRec& f = recs[size_t(n)];
            f = FullFileRec{};
            f.Rec.Area = 1;
            std::strncpy(f.Rec.Name, Name(n).constData(), sizeof f.Rec.Name - 1);
            std::snprintf(f.Rec.Description, sizeof f.Rec.Description, "record %d", n);
            f.Rec.Size = n;
            for (size_t i = 0; i < sizeof f.Reserved5; ++i)
                f.Reserved5[i] = char((n + int(i)) & 0xff);
            std::snprintf(f.LongDescription[7], sizeof f.LongDescription[7], "line of %d", n);
        }
        if (!store->Begin() || store->InsertMany(recs.data(), recs.size()) != wcstore::Rc::Ok ||
            !store->Commit())
            qFatal("cannot fill the test BBS");
        // A file for the record the delete case deletes with its file.
        QFile f(QDir(bbs.areaFolder(1)).filePath(QString::fromLatin1(Name(5))));
        if (!f.open(QIODevice::WriteOnly) || f.write("the file of record 5") != 20)
            qFatal("cannot write the file");
    }
    TestBbs bbs;
};

using Op = std::function<bool()>;

} // namespace

Q_DECLARE_METATYPE(Op)

class TestWcsrvLostConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!TestsOnPostgres())
            QSKIP("needs WCSRV_DATABASE naming a PostgreSQL server");
    }
    void cleanup()
    {
        LogoutUser();
        WildcatServerDeleteContext();
    }
    void killMidWalk();
    void killBetweenOperations_data();
    void killBetweenOperations();
    void killInsideWrite_data();
    void killInsideWrite();
};

// The connection ends while a walk has rows read ahead: they are still
// handed out, the next read fails with an error code, and the walk, taken
// up again with the same buffer, goes on where it stopped: every record
// once, in order.
void TestWcsrvLostConnection::killMidWalk()
{
    Rig rig;
    ServerLogin login;
    QVERIFY(login.ok());
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(1, "", &r, &pos));
    QList<int> seen{r.Size};
    while (seen.size() < 200 && GetNextFileRec(1, &r, &pos))
        seen << r.Size;
    QCOMPARE(seen.size(), 200);
    const QByteArrayList before = LibraryBackends(rig.bbs.database());
    QCOMPARE(before.size(), 1);
    QVERIFY(Terminate(rig.bbs.database(), before.first()));
    int failures = 0;
    qsizetype failedAt = -1;
    while (seen.size() <= kRecords) {
        if (!GetNextFileRec(1, &r, &pos)) {
            if (WcGetLastError() == WC_RECORD_NOT_FOUND)
                break; // the end
            // The walk's next read failed: the lost connection.
            QCOMPARE(WcGetLastError(), uint32_t(WC_NO_ACTION_TAKEN));
            QVERIFY(++failures == 1);
            failedAt = seen.size();
            continue; // the same buffer and position: the walk goes on
        }
        if (r.Area != 1)
            break;
        seen << r.Size;
    }
    QCOMPARE(failures, 1);
    // The rows read ahead before the kill were still handed out.
    QVERIFY2(failedAt > 200 && failedAt < kRecords, qPrintable(QString::number(failedAt)));
    QCOMPARE(seen.size(), kRecords);
    for (int i = 0; i < kRecords; ++i)
        QCOMPARE(seen[i], i);
    const QByteArrayList after = LibraryBackends(rig.bbs.database());
    QCOMPARE(after.size(), 1);
    QVERIFY(after.first() != before.first()); // served by a new connection
}

void TestWcsrvLostConnection::killBetweenOperations_data()
{
    QTest::addColumn<Op>("op");
    QTest::newRow("GetFileRecByAreaName") << Op([] {
        FileRec r{};
        uint32_t pos = 0;
        return GetFileRecByAreaName(1, Name(9).constData(), &r, &pos) && r.Size == 9;
    });
    QTest::newRow("GetFullFileRec") << Op([] {
        FileRec r = MakeKey(1, Name(10).constData());
        FullFileRec f{};
        return GetFullFileRec(&r, &f) && f.Rec.Size == 10;
    });
    QTest::newRow("SearchFileRecByAreaName") << Op([] {
        FileRec r{};
        uint32_t pos = 0;
        return SearchFileRecByAreaName(1, "", &r, &pos) && r.Size == 0;
    });
    QTest::newRow("GetFileAreaCount") << Op([] { return GetFileAreaCount() == 2; });
    QTest::newRow("GetTotalFilesInArea") << Op([] { return GetTotalFilesInArea(1) == kRecords; });
    QTest::newRow("LookupName") << Op([] {
        UserRef u{};
        return LookupName("Jane Doe", &u);
    });
    QTest::newRow("AddFileRec") << Op([] {
        FullFileRec f{};
        f.Rec.Area = 2;
        std::strcpy(f.Rec.Name, "NEW.DAT");
        return AddFileRec(&f);
    });
    QTest::newRow("UpdateFullFileRec") << Op([] {
        FileRec r = MakeKey(1, Name(11).constData());
        FullFileRec f{};
        if (!GetFullFileRec(&r, &f))
            return false;
        f.Rec.Downloads = 77;
        return UpdateFullFileRec(&f);
    });
    QTest::newRow("DeleteFileRec") << Op([] {
        FileRec r = MakeKey(1, Name(12).constData());
        return DeleteFileRec(&r, 0);
    });
}

// The connection ends while the library waits for the next call; that
// call (a read or a write) fails with an error code and changes nothing,
// and the same call made again connects anew and works.
void TestWcsrvLostConnection::killBetweenOperations()
{
    QFETCH(Op, op);
    Rig rig;
    ServerLogin login;
    QVERIFY(login.ok());
    QCOMPARE(GetFileAreaCount(), 2); // connected and used
    const auto records = Snapshot();
    QCOMPARE(int(records.size()), kRecords);
    const QByteArrayList before = LibraryBackends(rig.bbs.database());
    QCOMPARE(before.size(), 1);
    QVERIFY(Terminate(rig.bbs.database(), before.first()));
    QVERIFY(!op());
    QCOMPARE(WcGetLastError(), uint32_t(WC_NO_ACTION_TAKEN));
    QVERIFY(Snapshot() == records); // also the reconnection of the reads
    const QByteArrayList after = LibraryBackends(rig.bbs.database());
    QCOMPARE(after.size(), 1);
    QVERIFY(after.first() != before.first());
    QVERIFY(op());
}

void TestWcsrvLostConnection::killInsideWrite_data()
{
    // The statement that takes the row lock (in the second connection's
    // open transaction) makes the library's write wait inside its own.
    QTest::addColumn<QByteArray>("lock");
    QTest::addColumn<Op>("op");
    QTest::addColumn<QString>("changed"); // what the write changes when done
    const QByteArray lockRow = "SELECT 1 FROM files WHERE area = 1 AND name_key = '\\x" +
                               Name(5).toLower().toHex() + "'::bytea FOR UPDATE";
    QTest::newRow("UpdateFullFileRec") << lockRow << Op([] {
        FileRec r = MakeKey(1, Name(5).constData());
        FullFileRec f{};
        if (!GetFullFileRec(&r, &f))
            return false;
        std::strcpy(f.Rec.Description, "changed");
        std::memset(f.LongDescription, 'x', 40);
        return UpdateFullFileRec(&f);
    }) << QStringLiteral("1:K0005.DAT");
    QTest::newRow("UpdateFileRec, a move") << lockRow << Op([] {
        FileRec r{};
        uint32_t pos = 0;
        if (!GetFileRecByAreaName(1, Name(5).constData(), &r, &pos))
            return false;
        r.Area = 2;
        return UpdateFileRec(&r);
    }) << QStringLiteral("2:K0005.DAT");
    QTest::newRow("DeleteFileRec with the file") << lockRow << Op([] {
        FileRec r = MakeKey(1, Name(5).constData());
        return DeleteFileRec(&r, 1);
    }) << QStringLiteral("1:K0005.DAT");
    QTest::newRow("AddFileRec")
        << QByteArray("INSERT INTO files(area, name_key, rec, ext) VALUES(2, '\\x" +
                      QByteArray("new.dat").toHex() + "'::bytea, '', '')")
        << Op([] {
               FullFileRec f{};
               f.Rec.Area = 2;
               std::strcpy(f.Rec.Name, "NEW.DAT");
               return AddFileRec(&f);
           })
        << QStringLiteral("2:NEW.DAT");
}

// A write waits inside its transaction on a row that a second connection
// holds; the library's connection is ended right then. The write fails
// with an error code, every record keeps every byte (the move neither
// leaves its area nor arrives, the deleted record and its file stay), and
// the write made again connects anew and works.
void TestWcsrvLostConnection::killInsideWrite()
{
    QFETCH(QByteArray, lock);
    QFETCH(Op, op);
    QFETCH(QString, changed);
    Rig rig;
    ServerLogin login;
    QVERIFY(login.ok());
    const auto records = Snapshot();
    QCOMPARE(int(records.size()), kRecords);
    const QString file = QDir(rig.bbs.areaFolder(1)).filePath(QString::fromLatin1(Name(5)));
    const QByteArrayList before = LibraryBackends(rig.bbs.database());
    QCOMPARE(before.size(), 1);

    // The second connection takes the lock and keeps its transaction open.
    PGconn* holder = PQconnectdb(Probe(rig.bbs.database()).constData());
    QCOMPARE(PQstatus(holder), CONNECTION_OK);
    PQclear(PQexec(holder, "BEGIN"));
    PGresult* locked = PQexec(holder, lock.constData());
    QVERIFY2(PQresultStatus(locked) == PGRES_TUPLES_OK ||
                 PQresultStatus(locked) == PGRES_COMMAND_OK,
             PQerrorMessage(holder));
    PQclear(locked);

    std::future<std::pair<bool, uint32_t>> write = std::async(std::launch::async, [&op] {
        const bool ok = op();
        return std::make_pair(ok, WcGetLastError());
    });
    // Proof that the write is inside its transaction, waiting on the lock.
    QElapsedTimer t;
    t.start();
    QByteArray state;
    while (t.elapsed() < 20000) {
        const QList<QByteArrayList> rows = PgQuery(
            Probe(rig.bbs.database()),
            "SELECT wait_event_type, xact_start IS NOT NULL FROM pg_stat_activity WHERE pid = " +
                before.first());
        state = rows.value(0).join(' ');
        if (state == "Lock t")
            break;
        QThread::msleep(5);
    }
    QCOMPARE(state, QByteArray("Lock t"));
    QVERIFY(Terminate(rig.bbs.database(), before.first()));
    QVERIFY(write.wait_for(std::chrono::seconds(20)) == std::future_status::ready);
    const auto [ok, code] = write.get();
    PQclear(PQexec(holder, "ROLLBACK"));
    PQfinish(holder);
    QVERIFY(!ok);
    QCOMPARE(code, uint32_t(WC_NO_ACTION_TAKEN));

    // Every record as it was, all 1,792 bytes; the file is still there.
    const auto afterKill = Snapshot();
    QCOMPARE(afterKill.size(), records.size());
    QVERIFY(afterKill == records);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("the file of record 5"));
    f.close();
    const QByteArrayList after = LibraryBackends(rig.bbs.database());
    QCOMPARE(after.size(), 1);
    QVERIFY(after.first() != before.first());

    // Made again, the write is done.
    QVERIFY(op());
    const auto done = Snapshot();
    QVERIFY(done != records);
    if (QTest::currentDataTag() == QLatin1String("DeleteFileRec with the file")) {
        QVERIFY(!done.count(changed));
        QVERIFY(!QFile::exists(file));
    } else {
        QVERIFY(done.count(changed));
    }
}

VT_TEST_MAIN(TestWcsrvLostConnection)
#include "test_wcsrv_lostconnection.moc"
