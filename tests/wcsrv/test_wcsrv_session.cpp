// The server library's life cycle, its file operations on server paths,
// bad input and the fault switch.
#include "WcTestUtil.h"

#include "platform/wcsrv/WcFault.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QtTest>

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <memory>

class TestWcsrvSession : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void connectNeedsBbs();
    void connectRefusesDamagedDatabase();
    void loginStates();
    void operationsNeedLogin_data();
    void operationsNeedLogin();
    void switchBetweenBbses();
    void missingDatabaseAfterConnect();

    void fileWriteReadSizeTime();
    void fileSizeBeyondRecord_data();
    void fileSizeBeyondRecord();
    void largeWriteInSmallChunks_data();
    void largeWriteInSmallChunks();
    void writesAfterCollectingEnds();
    void openExistingMissingFile();
    void caseInsensitiveNames_data();
    void caseInsensitiveNames();
    void createAlwaysTruncatesOtherCase();
    void pathsRefused_data();
    void pathsRefused();
    void badHandles();

    void nullArgumentsFail_data();
    void nullArgumentsFail();
    void overlongTexts();

    void faultNth();
    void faultKind_data();
    void faultKind();
    void faultedWriteChangesNothing();
};

void TestWcsrvSession::cleanup()
{
    WcFaultReset();
    // Leave no context behind for the next test.
    LogoutUser();
    WildcatServerDeleteContext();
}

void TestWcsrvSession::connectNeedsBbs()
{
    // A folder without wcsrv.db, or on PostgreSQL an empty database.
    QTemporaryDir empty;
    ScopedTestStore store;
    qputenv("WCSRV_HOME", QFile::encodeName(empty.path()));
    QVERIFY(!WildcatServerConnect(nullptr));
    QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_CONNECTION_ID));
    QVERIFY(!WildcatServerCreateContext());
    qputenv("WCSRV_HOME", QFile::encodeName(empty.filePath(QStringLiteral("nothing/here"))));
    QVERIFY(!WildcatServerConnect(nullptr));
    QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_CONNECTION_ID));
    if (TestsOnPostgres()) {
        // A server that cannot be reached is no BBS either.
        const QByteArray kept = qgetenv("WCSRV_DATABASE");
        qputenv("WCSRV_DATABASE",
                "host=" + QFile::encodeName(empty.path()) + "/none user=wcsrv dbname=postgres");
        QVERIFY(!WildcatServerConnect(nullptr));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_CONNECTION_ID));
        qputenv("WCSRV_DATABASE", kept);
    }
    qunsetenv("WCSRV_HOME");
}

void TestWcsrvSession::connectRefusesDamagedDatabase()
{
    QTemporaryDir dir;
    qputenv("WCSRV_HOME", QFile::encodeName(dir.path()));
    if (TestsOnPostgres()) {
        // A database holding a table of that name of some other program,
        // and one of our tables of another version.
        for (const QByteArray& sql :
             {QByteArray("CREATE TABLE files(x integer)"),
              QByteArray("CREATE TABLE wcsrv_schema(version integer); INSERT INTO wcsrv_schema "
                         "VALUES(99); CREATE TABLE files(x integer)")}) {
            ScopedTestStore store;
            QString error;
            PgQuery(store.setting(), sql, &error);
            QCOMPARE(error, QString());
            QVERIFY(!WildcatServerConnect(nullptr));
            QCOMPARE(WcGetLastError(), uint32_t(WC_UNSUPPORTED_VERSION));
        }
        qunsetenv("WCSRV_HOME");
        return;
    }
    QFile db(dir.filePath(QStringLiteral("wcsrv.db")));
    QVERIFY(db.open(QIODevice::WriteOnly));
    db.write(QByteArray(8192, 'G'));
    db.close();
    QVERIFY(!WildcatServerConnect(nullptr));
    QCOMPARE(WcGetLastError(), uint32_t(WC_UNSUPPORTED_VERSION));
    // An empty file, and an SQLite database of some other program.
    QVERIFY(db.open(QIODevice::WriteOnly | QIODevice::Truncate));
    db.close();
    QVERIFY(!WildcatServerConnect(nullptr));
    QVERIFY(db.remove());
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(db.fileName()).constData(), &other), SQLITE_OK);
    sqlite3_exec(other, "CREATE TABLE files(x)", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    QVERIFY(!WildcatServerConnect(nullptr));
    QCOMPARE(WcGetLastError(), uint32_t(WC_UNSUPPORTED_VERSION));
    qunsetenv("WCSRV_HOME");
}

void TestWcsrvSession::loginStates()
{
    TestBbs bbs;
    QVERIFY(bbs.ok());
    QVERIFY(!LoginSystem());
    QCOMPARE(WcGetLastError(), uint32_t(WC_CONTEXT_NOT_INITIALIZED));
    QVERIFY(!WildcatServerCreateContext()); // not connected yet
    QVERIFY(WildcatServerConnect(nullptr));
    QVERIFY(WildcatServerCreateContext());
    QVERIFY(!WildcatServerCreateContext());
    QCOMPARE(WcGetLastError(), uint32_t(WC_CONTEXT_ALREADY_INITIALIZED));
    QVERIFY(!LogoutUser());
    QCOMPARE(WcGetLastError(), uint32_t(WC_USER_NOT_LOGGED_IN));
    QVERIFY(LoginSystem());
    QVERIFY(!LoginSystem());
    QCOMPARE(WcGetLastError(), uint32_t(WC_ALREADY_LOGGED_IN));
    QVERIFY(WildcatServerConnect(nullptr)); // joining the connection in use
    QVERIFY(LogoutUser());
    QVERIFY(!LogoutUser());
    QVERIFY(GetFileAreaCount() == 0);
    QCOMPARE(WcGetLastError(), uint32_t(WC_USER_NOT_LOGGED_IN));
    QVERIFY(WildcatServerDeleteContext());
    QVERIFY(!WildcatServerDeleteContext());
    QCOMPARE(WcGetLastError(), uint32_t(WC_CONTEXT_NOT_INITIALIZED));
    // Deleting the context while logged in logs out.
    QVERIFY(WildcatServerConnect(nullptr));
    QVERIFY(WildcatServerCreateContext());
    QVERIFY(LoginSystem());
    QVERIFY(WildcatServerDeleteContext());
    QVERIFY(!LogoutUser());
    QVERIFY(WildcatServerConnect(nullptr));
    QVERIFY(WildcatServerCreateContext());
    QVERIFY(LoginSystem());
}

using Op = std::function<bool()>;
Q_DECLARE_METATYPE(Op)

void TestWcsrvSession::operationsNeedLogin_data()
{
    QTest::addColumn<Op>("op");
    static FileRec rec = MakeKey(1, "A.ZIP");
    static FullFileRec full{};
    static UserRecord user;
    static UserRef ref;
    static MakewildRec mw;
    static FileAreaRec area;
    static uint32_t pos;
    static FILETIME ft;
    static char buf[16];
    static uint32_t done;
    QTest::newRow("GetMakewild") << Op([] { return GetMakewild(&mw); });
    QTest::newRow("GetFileAreaCount") << Op([] { return GetFileAreaCount() != 0; });
    QTest::newRow("GetFileArea") << Op([] { return GetFileArea(1, &area); });
    QTest::newRow("GetTotalFilesInArea") << Op([] { return GetTotalFilesInArea(1) != 0; });
    QTest::newRow("Search") << Op([] { return SearchFileRecByAreaName(1, "", &rec, &pos); });
    QTest::newRow("GetNext") << Op([] { return GetNextFileRec(1, &rec, &pos); });
    QTest::newRow("GetByName") << Op([] { return GetFileRecByAreaName(1, "A.ZIP", &rec, &pos); });
    QTest::newRow("GetFull") << Op([] { return GetFullFileRec(&rec, &full); });
    QTest::newRow("UpdateFileRec") << Op([] { return UpdateFileRec(&rec); });
    QTest::newRow("UpdateFull") << Op([] { return UpdateFullFileRec(&full); });
    QTest::newRow("Add") << Op([] { return AddFileRec(&full); });
    QTest::newRow("Delete") << Op([] { return DeleteFileRec(&rec, 1); });
    QTest::newRow("LookupName") << Op([] { return LookupName("Test Sysop", &ref); });
    QTest::newRow("GetFirstUser") << Op([] { return GetFirstUser(2, &user, &pos); });
    QTest::newRow("GetNextUser") << Op([] { return GetNextUser(2, &user, &pos); });
    QTest::newRow("WcExistFile") << Op([] { return WcExistFile("wc:\\file\\area(1)\\A.ZIP"); });
    QTest::newRow("WcCreateFile") << Op([] {
        return WcCreateFile("wc:\\file\\area(1)\\A.ZIP", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS) > 0;
    });
    QTest::newRow("WcGetFileTime") << Op([] { return WcGetFileTime(1, &ft); });
    QTest::newRow("WcGetFileSize") << Op([] { return WcGetFileSize(1) != 0xFFFFFFFFu; });
    QTest::newRow("WcReadFile") << Op([] { return WcReadFile(1, buf, sizeof buf, &done); });
    QTest::newRow("WcWriteFile") << Op([] { return WcWriteFile(1, buf, sizeof buf, &done); });
    QTest::newRow("WcCloseHandle") << Op([] { return WcCloseHandle(1); });
    QTest::newRow("WcGetFileId") << Op([] {
        static WcFileId id;
        return WcGetFileId("wc:\\file\\area(1)\\A.ZIP", &id);
    });
}

void TestWcsrvSession::operationsNeedLogin()
{
    QFETCH(Op, op);
    TestBbs bbs;
    bbs.addArea(1, QStringLiteral("One"));
    QVERIFY(WildcatServerConnect(nullptr));
    QVERIFY(WildcatServerCreateContext());
    QVERIFY(!op());
    QCOMPARE(WcGetLastError(), uint32_t(WC_USER_NOT_LOGGED_IN));
    QVERIFY(!QFile::exists(QDir(bbs.areaFolder(1)).filePath(QStringLiteral("A.ZIP"))));
}

void TestWcsrvSession::switchBetweenBbses()
{
    auto first = std::make_unique<TestBbs>(QStringLiteral("First Sysop"));
    first->addArea(1, QStringLiteral("First area"));
    {
        ServerLogin login;
        QVERIFY(login.ok());
        FileAreaRec a;
        QVERIFY(GetFileArea(1, &a));
        QCOMPARE(QString::fromLatin1(a.Name), QStringLiteral("First area"));
    }
    auto second = std::make_unique<TestBbs>(QStringLiteral("Second Sysop"));
    second->addArea(1, QStringLiteral("Second area"));
    {
        ServerLogin login;
        QVERIFY(login.ok());
        FileAreaRec a;
        QVERIFY(GetFileArea(1, &a));
        QCOMPARE(QString::fromLatin1(a.Name), QStringLiteral("Second area"));
        MakewildRec mw;
        QVERIFY(GetMakewild(&mw));
        QCOMPARE(QString::fromLatin1(mw.SysopName), QStringLiteral("Second Sysop"));
    }
}

void TestWcsrvSession::missingDatabaseAfterConnect()
{
    TestBbs bbs;
    QVERIFY(WildcatServerConnect(nullptr));
    QVERIFY(bbs.removeStore());
    QVERIFY(!WildcatServerCreateContext());
    QVERIFY(WcGetLastError() != 0);
}

// ---- files -----------------------------------------------------------------

class FileFixture
{
public:
    FileFixture()
    {
        bbs.addArea(7, QStringLiteral("Seven"));
        bbs.addArea(8, QStringLiteral("Eight"));
    }
    TestBbs bbs;
    ServerLogin login;
};

void TestWcsrvSession::fileWriteReadSizeTime()
{
    FileFixture fx;
    QVERIFY(fx.login.ok());
    const char* path = "wc:\\file\\area(7)\\A.TXT";
    QVERIFY(!WcExistFile(path));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    WcHandle h = WcCreateFile(path, WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    uint32_t done = 0;
    QVERIFY(WcWriteFile(h, "hello world", 11, &done));
    QCOMPARE(done, 11u);
    WcCloseHandle(h);
    QVERIFY(WcExistFile(path));
    QVERIFY(fx.bbs.fileOnDisk(7, QStringLiteral("A.TXT")));

    h = WcCreateFile(path, WC_GENERIC_READ, WC_SHARE_READ, WC_OPEN_EXISTING);
    QVERIFY(h > 0);
    QCOMPARE(WcGetFileSize(h), 11u);
    FILETIME ft{};
    QVERIFY(WcGetFileTime(h, &ft));
    // UTC ticks since 1601.
    const qint64 secs = qint64(FileTimeValue(ft) / 10000000ULL) - 11644473600LL;
    QVERIFY(secs >= before - 2 && secs <= QDateTime::currentSecsSinceEpoch() + 2);
    char buf[8];
    QVERIFY(WcReadFile(h, buf, sizeof buf, &done));
    QCOMPARE(done, 8u);
    QCOMPARE(QByteArray(buf, 8), QByteArray("hello wo"));
    QVERIFY(WcReadFile(h, buf, sizeof buf, &done));
    QCOMPARE(done, 3u);
    QVERIFY(WcReadFile(h, buf, sizeof buf, &done));
    QCOMPARE(done, 0u); // end of file
    WcCloseHandle(h);
    // Two handles at once are different.
    WcHandle a = WcCreateFile(path, WC_GENERIC_READ, 1, WC_OPEN_EXISTING);
    WcHandle b = WcCreateFile(path, WC_GENERIC_READ, 1, WC_OPEN_EXISTING);
    QVERIFY(a > 0 && b > 0 && a != b);
    WcCloseHandle(a);
    WcCloseHandle(b);
}

// A new file is collected and stored in large blocks by a thread of its
// own: the size is right before the close, the bytes are right after it,
// whatever the chunk size (4096 bytes, chunks that straddle blocks, one
// write larger than a block) and also when the length is not a whole number
// of blocks; a file longer than all the buffers together reuses them; and a
// close that fails still stores every byte a write accepted.
void TestWcsrvSession::fileSizeBeyondRecord_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<uint32_t>("answer");
    QTest::newRow("2^31 - 1") << qint64(2147483647) << 2147483647u;
    QTest::newRow("2^31") << qint64(2147483648) << 0xFFFFFFFFu;
    QTest::newRow("3 GiB") << qint64(3) * 1024 * 1024 * 1024 << 0xFFFFFFFFu;
    QTest::newRow("4 GiB - 1") << qint64(4294967295) << 0xFFFFFFFFu;
    QTest::newRow("5 GiB") << qint64(5) * 1024 * 1024 * 1024 << 0xFFFFFFFFu;
}

// A size a record can't hold fails (once its low word was answered: 3 GiB
// read as -1 GiB, 5 GiB as 1 GiB). The files are sparse: no disk space.
void TestWcsrvSession::fileSizeBeyondRecord()
{
    QFETCH(qint64, size);
    QFETCH(uint32_t, answer);
    FileFixture fx;
    QVERIFY(fx.login.ok());
    const QByteArray disk = QFile::encodeName(fx.bbs.areaFolder(7) + QStringLiteral("/BIG.ISO"));
    const int fd = ::open(disk.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    const bool grown = ::ftruncate(fd, off_t(size)) == 0;
    ::close(fd);
    QVERIFY(grown);
    const WcHandle h = WcCreateFile("wc:\\file\\area(7)\\BIG.ISO", WC_GENERIC_READ, WC_SHARE_READ,
                                    WC_OPEN_EXISTING);
    QVERIFY(h > 0);
    QCOMPARE(WcGetFileSize(h), answer);
    if (answer == 0xFFFFFFFFu)
        QCOMPARE(WcGetLastError(), uint32_t(WC_ACCESS_DENIED));
    // The handle still reads: only the size is refused.
    char byte = 1;
    uint32_t done = 0;
    QVERIFY(WcReadFile(h, &byte, 1, &done));
    QCOMPARE(done, 1u);
    QCOMPARE(byte, '\0');
    QVERIFY(WcCloseHandle(h));
}

void TestWcsrvSession::largeWriteInSmallChunks_data()
{
    QTest::addColumn<int>("chunk");
    QTest::addColumn<bool>("faultedClose");
    QTest::newRow("4096") << 4096 << false;
    QTest::newRow("4096, faulted close") << 4096 << true;
    QTest::newRow("1000, straddling blocks") << 1000 << false;
    QTest::newRow("2.5 MiB, over a block") << (5 << 19) << false;
}

void TestWcsrvSession::largeWriteInSmallChunks()
{
    QFETCH(int, chunk);
    QFETCH(bool, faultedClose);
    FileFixture fx;
    QVERIFY(fx.login.ok());
    QByteArray data(9 * 1024 * 1024 + 1234, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 131 + i / 4096) & 0xff);
    const char* path = "wc:\\file\\area(7)\\A.BIN";
    const WcHandle h = WcCreateFile(path, WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    for (qsizetype off = 0; off < data.size(); off += chunk) {
        const uint32_t n = uint32_t(std::min<qsizetype>(chunk, data.size() - off));
        uint32_t done = 0;
        QVERIFY(WcWriteFile(h, data.constData() + off, n, &done));
        QCOMPARE(done, n);
    }
    QCOMPARE(WcGetFileSize(h), uint32_t(data.size()));
    if (faultedClose)
        WcFaultFailKind("WcCloseHandle", WC_NO_ACTION_TAKEN);
    WcCloseHandle(h);
    WcFaultReset();
    QFile f(QDir(fx.bbs.areaFolder(7)).filePath(QStringLiteral("A.BIN")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.size(), data.size()); // no reserved space left past the end
    QVERIFY(f.readAll() == data);
}

// Once the file's times are read the collected bytes are on the disk, and
// later writes go on after them.
void TestWcsrvSession::writesAfterCollectingEnds()
{
    FileFixture fx;
    QVERIFY(fx.login.ok());
    const WcHandle h =
        WcCreateFile("wc:\\file\\area(7)\\T.BIN", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    const QByteArray first(3 * 1024 * 1024 + 5, 'a'), second(7000, 'b');
    uint32_t done = 0;
    QVERIFY(WcWriteFile(h, first.constData(), uint32_t(first.size()), &done));
    FILETIME time{};
    QVERIFY(WcGetFileTime(h, &time));
    QVERIFY(WcWriteFile(h, second.constData(), uint32_t(second.size()), &done));
    WcCloseHandle(h);
    QFile f(QDir(fx.bbs.areaFolder(7)).filePath(QStringLiteral("T.BIN")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == first + second);
}

void TestWcsrvSession::openExistingMissingFile()
{
    FileFixture fx;
    QVERIFY(fx.login.ok());
    QCOMPARE(WcCreateFile("wc:\\file\\area(7)\\NONE.ZIP", WC_GENERIC_READ, 1, WC_OPEN_EXISTING),
             WcHandle(0));
    QCOMPARE(WcGetLastError(), uint32_t(WC_ITEM_NOT_FOUND));
    QVERIFY(!fx.bbs.fileOnDisk(7, QStringLiteral("NONE.ZIP")));
    // A folder is not a file.
    QVERIFY(QDir(fx.bbs.areaFolder(7)).mkdir(QStringLiteral("SUB")));
    QVERIFY(!WcExistFile("wc:\\file\\area(7)\\SUB"));
    QCOMPARE(WcCreateFile("wc:\\file\\area(7)\\SUB", WC_GENERIC_READ, 1, WC_OPEN_EXISTING),
             WcHandle(0));
}

void TestWcsrvSession::caseInsensitiveNames_data()
{
    QTest::addColumn<QString>("onDisk");
    QTest::addColumn<QString>("path");
    QTest::newRow("upper path") << "readme.txt"
                                << "wc:\\file\\area(7)\\README.TXT";
    QTest::newRow("lower path") << "README.TXT"
                                << "wc:\\file\\area(7)\\readme.txt";
    QTest::newRow("prefix case") << "README.TXT"
                                 << "WC:\\FILE\\AREA(7)\\README.TXT";
    QTest::newRow("mixed") << "ReadMe.Txt"
                           << "Wc:\\File\\Area(7)\\rEADmE.tXT";
}

void TestWcsrvSession::caseInsensitiveNames()
{
    QFETCH(QString, onDisk);
    QFETCH(QString, path);
    FileFixture fx;
    QVERIFY(fx.login.ok());
    QFile f(QDir(fx.bbs.areaFolder(7)).filePath(onDisk));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("12345");
    f.close();
    const QByteArray p = path.toLatin1();
    QVERIFY(WcExistFile(p.constData()));
    const WcHandle h = WcCreateFile(p.constData(), WC_GENERIC_READ, 1, WC_OPEN_EXISTING);
    QVERIFY(h > 0);
    QCOMPARE(WcGetFileSize(h), 5u);
    WcCloseHandle(h);
}

void TestWcsrvSession::createAlwaysTruncatesOtherCase()
{
    FileFixture fx;
    QVERIFY(fx.login.ok());
    QFile f(QDir(fx.bbs.areaFolder(8)).filePath(QStringLiteral("data.bin")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(100, 'x'));
    f.close();
    const WcHandle h =
        WcCreateFile("wc:\\file\\area(8)\\DATA.BIN", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    uint32_t done = 0;
    QVERIFY(WcWriteFile(h, "ab", 2, &done));
    WcCloseHandle(h);
    // The same file, truncated: no second file of another case.
    QCOMPARE(FilesBelow(fx.bbs.areaFolder(8)), QStringList({"data.bin"}));
    QCOMPARE(f.size(), 2);
}

void TestWcsrvSession::pathsRefused_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<uint>("code");
    const uint denied = WC_ACCESS_DENIED;
    QTest::newRow("dot dot") << QByteArray("wc:\\file\\area(7)\\..") << denied;
    QTest::newRow("dot dot name") << QByteArray("wc:\\file\\area(7)\\..\\wcsrv.db") << denied;
    QTest::newRow("dot dot backslash") << QByteArray("wc:\\file\\area(7)\\..\\") << denied;
    QTest::newRow("slash") << QByteArray("wc:\\file\\area(7)\\x/y") << denied;
    QTest::newRow("slash up") << QByteArray("wc:\\file\\area(7)\\../../E") << denied;
    QTest::newRow("backslash") << QByteArray("wc:\\file\\area(7)\\SUB\\X") << denied;
    QTest::newRow("control") << QByteArray("wc:\\file\\area(7)\\A\x01.TXT") << denied;
    QTest::newRow("tab") << QByteArray("wc:\\file\\area(7)\\A\tB") << denied;
    QTest::newRow("16 chars") << QByteArray("wc:\\file\\area(7)\\ABCDEFGHIJKL.ZIP") << denied;
    QTest::newRow("empty name") << QByteArray("wc:\\file\\area(7)\\") << denied;
    QTest::newRow("dot") << QByteArray("wc:\\file\\area(7)\\.") << denied;
    QTest::newRow("unknown area") << QByteArray("wc:\\file\\area(99)\\A.TXT")
                                  << uint(WC_INVALID_FILEAREA);
    QTest::newRow("area 0") << QByteArray("wc:\\file\\area(0)\\A.TXT") << uint(WC_INVALID_FILEAREA);
    QTest::newRow("negative area")
        << QByteArray("wc:\\file\\area(-7)\\A.TXT") << uint(WC_ITEM_NOT_FOUND);
    QTest::newRow("huge area") << QByteArray("wc:\\file\\area(99999999999)\\A.TXT")
                               << uint(WC_ITEM_NOT_FOUND);
    QTest::newRow("no prefix") << QByteArray("/tmp/A.TXT") << uint(WC_ITEM_NOT_FOUND);
    QTest::newRow("forward slashes")
        << QByteArray("wc:/file/area(7)/A.TXT") << uint(WC_ITEM_NOT_FOUND);
    QTest::newRow("no backslash") << QByteArray("wc:\\file\\area(7)A.TXT")
                                  << uint(WC_ITEM_NOT_FOUND);
    QTest::newRow("too long") << QByteArray("wc:\\file\\area(7)\\") + QByteArray(120, 'A')
                              << denied;
}

void TestWcsrvSession::pathsRefused()
{
    QFETCH(QByteArray, path);
    QFETCH(uint, code);
    FileFixture fx;
    QVERIFY(fx.login.ok());
    // A file next to the area folders that a traversal would reach.
    QFile outside(QDir(fx.bbs.home()).filePath(QStringLiteral("areas/E")));
    QVERIFY(outside.open(QIODevice::WriteOnly));
    outside.close();
    const QStringList before = FilesBelow(fx.bbs.home());
    QVERIFY(!WcExistFile(path.constData()));
    QCOMPARE(WcGetLastError(), uint32_t(code));
    QCOMPARE(WcCreateFile(path.constData(), WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS), WcHandle(0));
    QCOMPARE(WcGetLastError(), uint32_t(code));
    QCOMPARE(WcCreateFile(path.constData(), WC_GENERIC_READ, 1, WC_OPEN_EXISTING), WcHandle(0));
    QCOMPARE(FilesBelow(fx.bbs.home()), before);
    QCOMPARE(outside.size(), 0);
}

void TestWcsrvSession::badHandles()
{
    FileFixture fx;
    QVERIFY(fx.login.ok());
    char buf[4];
    uint32_t done = 1;
    FILETIME ft;
    for (WcHandle h : {WcHandle(0), WcHandle(-1), WcHandle(12345)}) {
        QVERIFY(!WcReadFile(h, buf, 4, &done));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));
        QVERIFY(!WcWriteFile(h, buf, 4, &done));
        QVERIFY(!WcGetFileTime(h, &ft));
        QCOMPARE(WcGetFileSize(h), 0xFFFFFFFFu);
        WcCloseHandle(h);
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));
    }
    // A closed handle is gone; a handle dies with the login.
    WcHandle h = WcCreateFile("wc:\\file\\area(7)\\H.TXT", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    WcCloseHandle(h);
    QVERIFY(!WcWriteFile(h, "x", 1, &done));
    h = WcCreateFile("wc:\\file\\area(7)\\H.TXT", WC_GENERIC_READ, 1, WC_OPEN_EXISTING);
    QVERIFY(h > 0);
    QVERIFY(!WcWriteFile(h, "x", 1, &done)); // opened for reading only
    QCOMPARE(WcGetLastError(), uint32_t(WC_ACCESS_DENIED));
    QCOMPARE(WcCreateFile("wc:\\file\\area(7)\\H.TXT", WC_GENERIC_READ, 1, 9), WcHandle(0));
}

// ---- bad input -------------------------------------------------------------

void TestWcsrvSession::nullArgumentsFail_data()
{
    QTest::addColumn<Op>("op");
    static FileRec rec = MakeKey(7, "N.ZIP");
    static FullFileRec full{};
    static uint32_t pos;
    static char buf[4];
    QTest::newRow("GetMakewild") << Op([] { return GetMakewild(nullptr); });
    QTest::newRow("GetFileArea") << Op([] { return GetFileArea(7, nullptr); });
    QTest::newRow("WcGetFileId out")
        << Op([] { return WcGetFileId("wc:\\file\\area(7)\\N.ZIP", nullptr); });
    QTest::newRow("Search name") << Op(
        [] { return SearchFileRecByAreaName(7, nullptr, &rec, &pos); });
    QTest::newRow("Search out") << Op([] { return SearchFileRecByAreaName(7, "", nullptr, &pos); });
    QTest::newRow("Search pos") << Op([] { return SearchFileRecByAreaName(7, "", &rec, nullptr); });
    QTest::newRow("GetNext rec") << Op([] { return GetNextFileRec(1, nullptr, &pos); });
    QTest::newRow("GetNext pos") << Op([] { return GetNextFileRec(1, &rec, nullptr); });
    QTest::newRow("GetNext key") << Op([] { return GetNextFileRec(3, &rec, &pos); });
    QTest::newRow("GetByName name")
        << Op([] { return GetFileRecByAreaName(7, nullptr, &rec, &pos); });
    QTest::newRow("GetByName out")
        << Op([] { return GetFileRecByAreaName(7, "N.ZIP", nullptr, &pos); });
    QTest::newRow("GetFull in") << Op([] { return GetFullFileRec(nullptr, &full); });
    QTest::newRow("GetFull out") << Op([] { return GetFullFileRec(&rec, nullptr); });
    QTest::newRow("UpdateFileRec") << Op([] { return UpdateFileRec(nullptr); });
    QTest::newRow("UpdateFull") << Op([] { return UpdateFullFileRec(nullptr); });
    QTest::newRow("Add") << Op([] { return AddFileRec(nullptr); });
    QTest::newRow("Delete") << Op([] { return DeleteFileRec(nullptr, 1); });
    QTest::newRow("LookupName name") << Op([] { return LookupName(nullptr, nullptr); });
    QTest::newRow("GetFirstUser") << Op([] { return GetFirstUser(2, nullptr, &pos); });
    QTest::newRow("GetNextUser") << Op([] { return GetNextUser(2, nullptr, nullptr); });
    QTest::newRow("WcExistFile") << Op([] { return WcExistFile(nullptr); });
    QTest::newRow("WcCreateFile") << Op(
        [] { return WcCreateFile(nullptr, WC_GENERIC_READ, 1, 3) > 0; });
    QTest::newRow("WcGetFileTime") << Op([] {
        const WcHandle h = WcCreateFile("wc:\\file\\area(7)\\N.ZIP", WC_GENERIC_WRITE, 0, 2);
        const bool ok = WcGetFileTime(h, nullptr);
        WcCloseHandle(h);
        return ok;
    });
    QTest::newRow("WcReadFile") << Op([] {
        const WcHandle h =
            WcCreateFile("wc:\\file\\area(7)\\N.ZIP", WC_GENERIC_READ | WC_GENERIC_WRITE, 0, 2);
        const bool ok = WcReadFile(h, nullptr, 4, &pos) || WcReadFile(h, buf, 4, nullptr);
        WcCloseHandle(h);
        return ok;
    });
    QTest::newRow("Add empty name") << Op([] {
        FullFileRec f{};
        f.Rec.Area = 7;
        return AddFileRec(&f);
    });
    QTest::newRow("Add unknown area") << Op([] {
        FullFileRec f{};
        f.Rec.Area = 70;
        std::strcpy(f.Rec.Name, "X.ZIP");
        return AddFileRec(&f);
    });
    QTest::newRow("Add traversal name") << Op([] {
        FullFileRec f{};
        f.Rec.Area = 7;
        std::strcpy(f.Rec.Name, "../X.ZIP");
        return AddFileRec(&f);
    });
    QTest::newRow("Add name without NUL") << Op([] {
        FullFileRec f{};
        f.Rec.Area = 7;
        std::memset(f.Rec.Name, 'A', sizeof f.Rec.Name);
        return AddFileRec(&f);
    });
}

void TestWcsrvSession::nullArgumentsFail()
{
    QFETCH(Op, op);
    FileFixture fx;
    QVERIFY(fx.login.ok());
    fx.bbs.addFile(7, QStringLiteral("N.ZIP"));
    QVERIFY(!op());
    QVERIFY(WcGetLastError() != 0);
    QCOMPARE(GetTotalFilesInArea(7), 1);
}

void TestWcsrvSession::overlongTexts()
{
    FileFixture fx;
    QVERIFY(fx.login.ok());
    fx.bbs.addFile(7, QStringLiteral("N.ZIP"));
    const QByteArray longName(5000, 'N');
    FileRec r;
    uint32_t pos = 0;
    UserRef ref;
    QVERIFY(!GetFileRecByAreaName(7, longName.constData(), &r, &pos));
    QVERIFY(!SearchFileRecByAreaName(7, longName.constData(), &r, &pos));
    QVERIFY(!LookupName(longName.constData(), &ref));
    QVERIFY(!WcExistFile(longName.constData()));
    // Area numbers out of range.
    QVERIFY(!GetFileRecByAreaName(-1, "N.ZIP", &r, &pos));
    QCOMPARE(GetTotalFilesInArea(INT32_MIN), 0);
    FileAreaRec a;
    QVERIFY(!GetFileArea(INT32_MAX, &a));
}

// ---- fault switch ----------------------------------------------------------

void TestWcsrvSession::faultNth()
{
    FileFixture fx;
    QVERIFY(fx.login.ok());
    WcFaultFailNth(3, WC_ACCESS_DENIED);
    QCOMPARE(GetFileAreaCount(), 8);
    FileAreaRec a;
    QVERIFY(GetFileArea(7, &a));
    QVERIFY(!GetFileArea(7, &a)); // the third call
    QCOMPARE(WcGetLastError(), uint32_t(WC_ACCESS_DENIED));
    QVERIFY(GetFileArea(7, &a)); // only that one
    QCOMPARE(WcFaultCallCount(), 4L);
    WcFaultReset();
    QCOMPARE(WcFaultCallCount(), 0L);
}

void TestWcsrvSession::faultKind_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Op>("op");
    static uint32_t pos;
    QTest::newRow("AddFileRec") << "AddFileRec" << Op([] {
        FullFileRec f{};
        f.Rec.Area = 7;
        std::strcpy(f.Rec.Name, "NEW.ZIP");
        return AddFileRec(&f);
    });
    QTest::newRow("DeleteFileRec") << "DeleteFileRec" << Op([] {
        FileRec r = MakeKey(7, "F.ZIP");
        return DeleteFileRec(&r, 1);
    });
    QTest::newRow("UpdateFileRec") << "UpdateFileRec" << Op([] {
        FileRec r = MakeKey(7, "F.ZIP");
        r.Area = 8;
        return UpdateFileRec(&r);
    });
    QTest::newRow("WcCreateFile") << "WcCreateFile" << Op([] {
        return WcCreateFile("wc:\\file\\area(7)\\F.ZIP", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS) > 0;
    });
    QTest::newRow("GetNextFileRec") << "GetNextFileRec" << Op([] {
        FileRec r{};
        return SearchFileRecByAreaName(7, "", &r, &pos) && GetNextFileRec(1, &r, &pos);
    });
}

void TestWcsrvSession::faultKind()
{
    QFETCH(QString, kind);
    QFETCH(Op, op);
    FileFixture fx;
    QVERIFY(fx.login.ok());
    const QByteArray content("original");
    fx.bbs.addFile(7, QStringLiteral("F.ZIP"), &content);
    fx.bbs.addFile(7, QStringLiteral("G.ZIP"));
    const QStringList filesBefore = FilesBelow(fx.bbs.home() + QStringLiteral("/areas"));
    WcFaultFailKind(kind.toLatin1().constData(), WC_NODE_ALREADY_IN_USE);
    QVERIFY(!op());
    QCOMPARE(WcGetLastError(), uint32_t(WC_NODE_ALREADY_IN_USE));
    QVERIFY(!op()); // every call
    WcFaultReset();
    // Nothing changed.
    QCOMPARE(WalkNames(7), QStringList({"F.ZIP", "G.ZIP"}));
    QCOMPARE(GetTotalFilesInArea(8), 0);
    QCOMPARE(FilesBelow(fx.bbs.home() + QStringLiteral("/areas")), filesBefore);
    QFile f(QDir(fx.bbs.areaFolder(7)).filePath(QStringLiteral("F.ZIP")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), content);
    // And the operation works again.
    QVERIFY(op());
}

void TestWcsrvSession::faultedWriteChangesNothing()
{
    FileFixture fx;
    QVERIFY(fx.login.ok());
    WcHandle h = WcCreateFile("wc:\\file\\area(7)\\W.BIN", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    uint32_t done = 0;
    QVERIFY(WcWriteFile(h, "abc", 3, &done));
    WcFaultFailNth(1, WC_ACCESS_DENIED);
    QVERIFY(!WcWriteFile(h, "def", 3, &done));
    QVERIFY(WcWriteFile(h, "ghi", 3, &done));
    WcCloseHandle(h);
    QFile f(QDir(fx.bbs.areaFolder(7)).filePath(QStringLiteral("W.BIN")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("abcghi"));
}

VT_TEST_MAIN(TestWcsrvSession)
#include "test_wcsrv_session.moc"
