// Choosing the record store (wcsrv.db or a PostgreSQL database), the admin
// tool's --database, and copying a whole BBS between the two stores. Runs
// with WCSRV_DATABASE naming the tests' PostgreSQL server.
#include "TestSupport.h"
#include "WcTestUtil.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/wcsrv.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <cstring>

namespace
{

// The connection string of the server's maintenance database, as ctest
// gives it.
QByteArray gServer;

// Which store the library and the admin functions use in this process.
void UseSqlite()
{
    qunsetenv("WCSRV_DATABASE");
}
void UsePostgres(const QByteArray& conn)
{
    qputenv("WCSRV_DATABASE", conn);
}

int RunTool(const QString& home, const QByteArray* database, const QStringList& args,
            QByteArray* out = nullptr, QByteArray* err = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WCSRV_HOME"), home);
    if (database)
        env.insert(QStringLiteral("WCSRV_DATABASE"), QString::fromUtf8(*database));
    else
        env.remove(QStringLiteral("WCSRV_DATABASE"));
    p.setProcessEnvironment(env);
    p.start(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin")), args);
    if (!p.waitForFinished(120000))
        return -100;
    if (out)
        *out = p.readAllStandardOutput();
    const QByteArray e = p.readAllStandardError();
    if (err)
        *err = e;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -101;
}

// Whether the library connects to the BBS of the current settings.
bool Connects()
{
    const bool ok = WildcatServerConnect(nullptr);
    if (ok && WildcatServerCreateContext())
        WildcatServerDeleteContext();
    return ok;
}

// Everything the library gives of the BBS, as bytes: the BBS record, every
// area record, every user record and every file record.
QMap<QString, QByteArray> BbsImage()
{
    QMap<QString, QByteArray> out;
    ServerLogin login;
    if (!login.ok())
        return out;
    MakewildRec mw{};
    if (GetMakewild(&mw))
        out.insert(QStringLiteral("bbs"), Bytes(&mw, sizeof mw));
    for (int area = 1; area <= GetFileAreaCount(); ++area) {
        FileAreaRec a{};
        if (GetFileArea(area, &a))
            out.insert(QStringLiteral("area %1").arg(area), Bytes(&a, sizeof a));
    }
    UserRecord u{};
    uint32_t pos = 0;
    for (bool more = GetFirstUser(WC_KEY_USER_NAME, &u, &pos); more;
         more = GetNextUser(WC_KEY_USER_NAME, &u, &pos))
        out.insert(QStringLiteral("user %1").arg(QString::fromLatin1(u.Name)), Bytes(&u, sizeof u));
    for (const auto& [key, bytes] : RecordSnapshot())
        out.insert(QStringLiteral("rec ") + key, bytes);
    return out;
}

// Every row of every table of a wcsrv.db, each column with its type and
// bytes, in key order.
QStringList SqliteRows(const QString& path)
{
    QStringList rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    for (const char* table : {"bbs", "areas", "users", "files"}) {
        const QByteArray sql = QByteArray("SELECT * FROM ") + table + " ORDER BY 1, 2";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
            rows << QStringLiteral("cannot read ") + QLatin1String(table);
            continue;
        }
        while (sqlite3_step(st) == SQLITE_ROW) {
            QString row = QLatin1String(table);
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const int type = sqlite3_column_type(st, c);
                const void* blob = sqlite3_column_blob(st, c);
                const int n = sqlite3_column_bytes(st, c);
                row += QStringLiteral(" %1:%2").arg(type).arg(
                    QString::fromLatin1(Bytes(blob ? blob : "", size_t(n)).toHex()));
            }
            rows << row;
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return rows;
}

// Fills the BBS of the current settings beyond the demo: users whose names
// need Latin-1, and records whose bytes the store's columns must give back
// exactly (reserved bytes, texts without a NUL or with bytes behind it,
// names that differ only in letter case in different areas).
void AddAwkwardRecords(const std::string& home)
{
    for (const char* name : {"Zo\xc3\xab Kr\xc3\xa4mer", "al ADAMS", "Bob"})
        if (!wcadmin::AddUser(home, name).empty())
            qFatal("AddUser %s", name);
    ServerLogin login;
    if (!login.ok())
        qFatal("no login");
    for (int i = 0; i < 6; ++i) {
        FullFileRec r;
        std::memset(&r, 0, sizeof r);
        r.Rec.Area = 1 + i % 2;
        const char* names[] = {"\xc4PFEL.ZIP", "MiXeD.TxT", "mixed.txt2", "ODD.BIN", "Z", "~X"};
        std::strncpy(r.Rec.Name, names[i], sizeof r.Rec.Name - 1);
        std::memset(r.Rec.Description, 'A' + i, sizeof r.Rec.Description); // no NUL at all
        std::strncpy(r.Rec.Password, "pw", sizeof r.Rec.Password - 1);
        r.Rec.Password[5] = '\x7f'; // a byte behind the NUL
        for (size_t k = 0; k < sizeof r.Rec.Reserved4; ++k)
            r.Rec.Reserved4[k] = uint8_t(k * 7 + i);
        r.Rec.Reserved0[1] = 0xff;
        r.Rec.Uploader.Reserved[3] = 0x80;
        r.Rec.Size = -i;
        r.Rec.FileTime = {0xffffffffu, 0x01d00000u + uint32_t(i)};
        r.Rec.Downloads = 2147483647;
        r.Rec.HasLongDescription = 1;
        std::strncpy(r.LongDescription[0], "line one", LongDescLineSize - 1);
        std::strncpy(r.LongDescription[14], "last\nline", LongDescLineSize - 1);
        r.Reserved5[259] = 0x01;
        r.Reserved5[0] = uint8_t(i);
        if (!AddFileRec(&r))
            qFatal("AddFileRec %d", i);
    }
}

} // namespace

class TestWcsrvStores : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void storeSelection_data();
    void storeSelection();
    void adminDatabaseOption();
    void adminUnreachableDatabase();
    void copyStoreRoundTrip();
    void copyStoreRefusals_data();
    void copyStoreRefusals();
};

void TestWcsrvStores::initTestCase()
{
    gServer = qgetenv("WCSRV_DATABASE");
    if (!TestsOnPostgres())
        QSKIP("needs WCSRV_DATABASE naming a PostgreSQL server");
    QVERIFY(QFileInfo::exists(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin"))));
}

void TestWcsrvStores::cleanup()
{
    UsePostgres(gServer);
    qunsetenv("WCSRV_HOME");
}

void TestWcsrvStores::storeSelection_data()
{
    QTest::addColumn<bool>("createOnPg");
    QTest::addColumn<QString>("connectWith"); // sqlite, same, empty
    QTest::addColumn<bool>("connects");
    QTest::newRow("sqlite bbs, no setting") << false << "sqlite" << true;
    QTest::newRow("sqlite bbs, empty database set") << false << "empty" << false;
    QTest::newRow("pg bbs, its database set") << true << "same" << true;
    QTest::newRow("pg bbs, no setting") << true << "sqlite" << false;
    QTest::newRow("pg bbs, another database set") << true << "empty" << false;
}

void TestWcsrvStores::storeSelection()
{
    QFETCH(bool, createOnPg);
    QFETCH(QString, connectWith);
    QFETCH(bool, connects);
    QTemporaryDir dir;
    qputenv("WCSRV_HOME", QFile::encodeName(dir.path()));
    const QByteArray db = NewTestDatabase();
    if (createOnPg)
        UsePostgres(db);
    else
        UseSqlite();
    QCOMPARE(QString::fromStdString(wcadmin::CreateBbs(dir.path().toStdString(), "Picked Sysop")),
             QString());
    QCOMPARE(QString::fromStdString(wcadmin::AddArea(dir.path().toStdString(), 3, "Three")),
             QString());
    // The records go to one store only; the area folders stay in the home folder.
    QCOMPARE(QFileInfo::exists(dir.filePath(QStringLiteral("wcsrv.db"))), !createOnPg);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("areas/3"))).isDir());

    if (connectWith == QLatin1String("sqlite"))
        UseSqlite();
    else if (connectWith == QLatin1String("same"))
        UsePostgres(db);
    else
        UsePostgres(NewTestDatabase());
    QCOMPARE(Connects(), connects);
    if (connects) {
        const auto image = BbsImage();
        QVERIFY(image.contains(QStringLiteral("area 3")));
        FileAreaRec a;
        std::memcpy(&a, image.value(QStringLiteral("area 3")).constData(), sizeof a);
        QCOMPARE(QByteArray(a.Name), QByteArray("Three"));
    }
}

void TestWcsrvStores::adminDatabaseOption()
{
    QTemporaryDir dir;
    const QString home = dir.path();
    const QByteArray inEnv = NewTestDatabase();
    const QByteArray named = NewTestDatabase();
    // --database wins over WCSRV_DATABASE, for every command.
    const QStringList db = {QStringLiteral("--database"), QString::fromUtf8(named)};
    QCOMPARE(RunTool(home, &inEnv, db + QStringList{"init", "--sysop", "Option Sysop"}), 0);
    QCOMPARE(RunTool(home, &inEnv, db + QStringList{"area", "add", "2", "Second"}), 0);
    QCOMPARE(RunTool(home, &inEnv, db + QStringList{"user", "add", "Option User"}), 0);
    QFile f(dir.filePath(QStringLiteral("up.bin")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("payload");
    f.close();
    QCOMPARE(RunTool(home, &inEnv, db + QStringList{"import", "2", f.fileName()}), 0);
    QByteArray out;
    QCOMPARE(RunTool(home, nullptr, db + QStringList{"area", "list"}, &out), 0);
    QCOMPARE(out, QByteArray("   2: Second\n"));
    QCOMPARE(RunTool(home, nullptr, db + QStringList{"list", "2"}, &out), 0);
    QVERIFY2(out.startsWith("UP.BIN                   7 "), out.constData());
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("areas/2/UP.BIN"))));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("wcsrv.db"))));

    // The variable's database and wcsrv.db hold nothing.
    QByteArray err;
    QCOMPARE(RunTool(home, &inEnv, {"area", "list"}, &out, &err), 1);
    QCOMPARE(RunTool(home, nullptr, {"area", "list"}, &out, &err), 1);
    qputenv("WCSRV_HOME", QFile::encodeName(home));
    UsePostgres(inEnv);
    QVERIFY(!Connects());
    UsePostgres(named);
    QVERIFY(Connects());
    const auto image = BbsImage();
    QVERIFY(image.contains(QStringLiteral("user Option User")));
    QVERIFY(image.contains(QStringLiteral("rec 2:UP.BIN")));

    // Without --database the variable's store is used.
    QCOMPARE(RunTool(home, &named, {"area", "list"}, &out), 0);
    QCOMPARE(out, QByteArray("   2: Second\n"));
}

void TestWcsrvStores::adminUnreachableDatabase()
{
    QTemporaryDir dir;
    const QString nowhere =
        QStringLiteral("host=%1/none user=wcsrv dbname=postgres").arg(dir.path());
    QByteArray out, err;
    QCOMPARE(RunTool(dir.path(), nullptr, {"--database", nowhere, "init"}, &out, &err), 1);
    QVERIFY2(err.startsWith("wcsrv-admin: "), err.constData());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("wcsrv.db"))));
    // The library reports no server and does not crash.
    qputenv("WCSRV_HOME", QFile::encodeName(dir.path()));
    UsePostgres(nowhere.toUtf8());
    QVERIFY(!Connects());
}

void TestWcsrvStores::copyStoreRoundTrip()
{
    QTemporaryDir dir;
    const QString home = dir.path();
    qputenv("WCSRV_HOME", QFile::encodeName(home));
    UseSqlite();
    wcadmin::DemoOptions demo;
    demo.areas = 4;
    demo.files = 400;
    demo.seed = 17;
    demo.noFiles = true;
    QCOMPARE(QString::fromStdString(wcadmin::MakeDemo(home.toStdString(), demo)), QString());
    AddAwkwardRecords(home.toStdString());
    const QString dbPath = dir.filePath(QStringLiteral("wcsrv.db"));
    const QStringList sqliteBefore = SqliteRows(dbPath);
    const auto imageBefore = BbsImage();
    QVERIFY(sqliteBefore.size() > 400);
    QVERIFY(imageBefore.size() > 400 + 4 + 24);

    // SQLite -> PostgreSQL.
    const QByteArray pg = NewTestDatabase();
    QByteArray out, err;
    QCOMPARE(RunTool(home, nullptr, {"copy-store", "--to", QString::fromUtf8(pg)}, &out, &err), 0);
    QVERIFY2(err.isEmpty(), err.constData());
    QCOMPARE(SqliteRows(dbPath), sqliteBefore); // the source is untouched
    UsePostgres(pg);
    const auto imageOnPg = BbsImage();
    QCOMPARE(imageOnPg.keys(), imageBefore.keys());
    QVERIFY(imageOnPg == imageBefore);

    // PostgreSQL -> a new wcsrv.db, in the same home folder.
    QVERIFY(QFile::rename(dbPath, dbPath + QStringLiteral(".orig")));
    QCOMPARE(RunTool(home, nullptr, {"copy-store", "--from", QString::fromUtf8(pg)}, &out, &err),
             0);
    QVERIFY2(err.isEmpty(), err.constData());
    const QStringList sqliteAfter = SqliteRows(dbPath);
    QCOMPARE(sqliteAfter.size(), sqliteBefore.size());
    for (qsizetype i = 0; i < sqliteAfter.size(); ++i)
        QCOMPARE(sqliteAfter[i], sqliteBefore[i]);
    UseSqlite();
    const auto imageAfter = BbsImage();
    QCOMPARE(imageAfter.keys(), imageBefore.keys());
    QVERIFY(imageAfter == imageBefore);
}

void TestWcsrvStores::copyStoreRefusals_data()
{
    QTest::addColumn<QString>("direction");
    QTest::addColumn<QString>("target"); // what the target already holds
    QTest::newRow("to a database holding a BBS") << "--to"
                                                 << "bbs";
    QTest::newRow("to the same store as the source") << "--to"
                                                     << "self";
    QTest::newRow("from into a home holding wcsrv.db") << "--from"
                                                       << "bbs";
    QTest::newRow("from an empty database") << "--from"
                                            << "nothing";
}

void TestWcsrvStores::copyStoreRefusals()
{
    QFETCH(QString, direction);
    QFETCH(QString, target);
    QTemporaryDir dir;
    const QString home = dir.path();
    const QString dbPath = dir.filePath(QStringLiteral("wcsrv.db"));
    qputenv("WCSRV_HOME", QFile::encodeName(home));
    // A small BBS in each store, each with its own sysop.
    const QByteArray pg = NewTestDatabase();
    const bool sqliteBbs = direction == QLatin1String("--to") || target == QLatin1String("bbs");
    const bool pgBbs = target != QLatin1String("nothing");
    if (sqliteBbs) {
        UseSqlite();
        QCOMPARE(QString::fromStdString(wcadmin::CreateBbs(home.toStdString(), "Lite Sysop")),
                 QString());
        QCOMPARE(QString::fromStdString(wcadmin::AddArea(home.toStdString(), 1, "Lite")),
                 QString());
    }
    if (pgBbs) {
        UsePostgres(pg);
        QCOMPARE(QString::fromStdString(wcadmin::CreateBbs(home.toStdString(), "Pg Sysop")),
                 QString());
        QCOMPARE(QString::fromStdString(wcadmin::AddArea(home.toStdString(), 1, "Pg")), QString());
    }
    UseSqlite();
    const QStringList liteBefore = SqliteRows(dbPath);
    const auto liteImage = sqliteBbs ? BbsImage() : QMap<QString, QByteArray>();
    UsePostgres(pg);
    const auto pgImage = pgBbs ? BbsImage() : QMap<QString, QByteArray>();

    QByteArray out, err;
    int rc = 0;
    if (target == QLatin1String("self"))
        rc = RunTool(home, nullptr, {"copy-store", "--to", QString()}, &out, &err);
    else
        rc = RunTool(home, nullptr, {"copy-store", direction, QString::fromUtf8(pg)}, &out, &err);
    QVERIFY(rc != 0);
    QVERIFY2(err.startsWith("wcsrv-admin: "), err.constData());

    // Neither store changed.
    QCOMPARE(SqliteRows(dbPath), liteBefore);
    QCOMPARE(QFileInfo::exists(dbPath), sqliteBbs);
    UseSqlite();
    if (sqliteBbs)
        QVERIFY(BbsImage() == liteImage);
    UsePostgres(pg);
    QCOMPARE(Connects(), pgBbs);
    if (pgBbs)
        QVERIFY(BbsImage() == pgImage);
}

VT_TEST_MAIN(TestWcsrvStores)
#include "test_wcsrv_stores.moc"
