// The admin functions and the wcsrv-admin tool: creating a BBS, areas,
// users, importing files (with FILE_ID.DIZ) and the demo data.
#include "WcTestUtil.h"

#include "archive/DescriptionList.h"
#include "managers/DuplicateRun.h"
#include "platform/wcsrv/WcAdmin.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>
#include <zip.h>

class TestWcsrvAdmin : public QObject
{
    Q_OBJECT

private slots:
    void createTwiceRefused();
    void areasAndUsers();
    void badAreaAndUserInput_data();
    void badAreaAndUserInput();
    void importPlainFile();
    void importZipWithDiz();
    void importRefusals();
    void demoIsRepeatable();
    void demoContent();
    void demoShowsTheFeatures();
    void toolCommands();
    void toolBadInput_data();
    void toolBadInput();
    void importFileAlreadyInArea_data();
    void importFileAlreadyInArea();
    void importReadErrorFails();
    void namesLatin1CannotHold_data();
    void namesLatin1CannotHold();

private:
    static QString writeZip(const QString& path, const QByteArray& diz, const char* member);
};

void TestWcsrvAdmin::createTwiceRefused()
{
    TestBbs bbs;
    QVERIFY(bbs.ok());
    QVERIFY(TestStoreExists(bbs.home()));
    // On SQLite the records are in the home folder; on PostgreSQL nothing is.
    QCOMPARE(QFile::exists(QDir(bbs.home()).filePath(QStringLiteral("wcsrv.db"))),
             !TestsOnPostgres());
    const std::string again = wcadmin::CreateBbs(bbs.homeStd(), "Other");
    QVERIFY(!again.empty());
    QVERIFY(!wcadmin::CreateBbs(bbs.homeStd() + "/x", std::string(72, 'S')).empty());
}

void TestWcsrvAdmin::areasAndUsers()
{
    TestBbs bbs;
    bbs.addArea(2, QStringLiteral("Two"));
    QTemporaryDir elsewhere;
    const std::string folder = elsewhere.path().toStdString() + "/files";
    QVERIFY(wcadmin::AddArea(bbs.homeStd(), 9, "Nine", folder).empty());
    std::vector<wcadmin::AreaInfo> areas;
    QVERIFY(wcadmin::ListAreas(bbs.homeStd(), areas).empty());
    QCOMPARE(areas.size(), size_t(2));
    QCOMPARE(areas[0].number, 2);
    QCOMPARE(areas[0].folder, wcadmin::AreaFolder(bbs.homeStd(), 2));
    QVERIFY(QFileInfo(bbs.areaFolder(2)).isDir());
    QCOMPARE(areas[1].folder, folder);
    QVERIFY(QFileInfo(QString::fromStdString(folder)).isDir());
    QVERIFY(!wcadmin::AddArea(bbs.homeStd(), 2, "Again").empty());
    bbs.addUser(QStringLiteral("Jane Doe"));
    QVERIFY(!wcadmin::AddUser(bbs.homeStd(), "JANE DOE").empty());

    // The library sees the files of an area kept outside the home folder.
    ServerLogin login;
    QVERIFY(login.ok());
    const WcHandle h =
        WcCreateFile("wc:\\file\\area(9)\\OUT.TXT", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    WcCloseHandle(h);
    QVERIFY(QFile::exists(QString::fromStdString(folder) + QStringLiteral("/OUT.TXT")));
}

void TestWcsrvAdmin::badAreaAndUserInput_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("area 0") << 0 << "Zero";
    QTest::newRow("negative") << -3 << "Minus";
    QTest::newRow("empty name") << 4 << "";
    QTest::newRow("long name") << 4 << QString(76, QLatin1Char('n'));
}

void TestWcsrvAdmin::badAreaAndUserInput()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    TestBbs bbs;
    QVERIFY(!wcadmin::AddArea(bbs.homeStd(), number, name.toStdString()).empty());
    QVERIFY(!wcadmin::AddUser(bbs.homeStd(), "").empty());
    QVERIFY(!wcadmin::AddUser(bbs.homeStd(), std::string(72, 'u')).empty());
    QTemporaryDir none;
    ScopedTestStore empty;
    QVERIFY(!wcadmin::AddArea(none.path().toStdString(), 1, "No BBS").empty());
}

QString TestWcsrvAdmin::writeZip(const QString& path, const QByteArray& diz, const char* member)
{
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return {};
    zip_source_t* s = zip_source_buffer(z, diz.constData(), zip_uint64_t(diz.size()), 0);
    zip_file_add(z, member, s, 0);
    static const char other[] = "other member";
    zip_source_t* o = zip_source_buffer(z, other, sizeof other - 1, 0);
    zip_file_add(z, "PROG.EXE", o, 0);
    return zip_close(z) == 0 ? path : QString();
}

void TestWcsrvAdmin::importPlainFile()
{
    TestBbs bbs;
    bbs.addArea(3, QStringLiteral("Three"));
    QTemporaryDir src;
    const QString path = src.filePath(QStringLiteral("notes.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("twelve bytes");
    f.close();
    const QDateTime when = QDateTime(QDate(1996, 7, 4), QTime(13, 45, 10));
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
    f.close();
    QCOMPARE(wcadmin::ImportFile(bbs.homeStd(), 3, path.toStdString()), std::string());
    QVERIFY(bbs.fileOnDisk(3, QStringLiteral("NOTES.TXT")));

    ServerLogin login;
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(GetFileRecByAreaName(3, "NOTES.TXT", &r, &pos));
    QCOMPARE(QString::fromLatin1(r.Name), QStringLiteral("NOTES.TXT"));
    QCOMPARE(r.Size, 12);
    // The record's date is the file's local time, as ticks since 1601.
    const QDateTime asUtc(when.date(), when.time(), Qt::UTC);
    const uint64_t want = uint64_t(asUtc.toSecsSinceEpoch() + 11644473600LL) * 10000000ULL;
    QCOMPARE(FileTimeValue(r.FileTime), want);
    QCOMPARE(r.HasLongDescription, 0);
    QCOMPARE(QString::fromLatin1(r.Description), QString());
    // The copy keeps the file's time, so a freshen gives the same date.
    QCOMPARE(QFileInfo(bbs.areaFolder(3) + QStringLiteral("/NOTES.TXT")).lastModified(), when);
}

void TestWcsrvAdmin::importZipWithDiz()
{
    TestBbs bbs;
    bbs.addArea(1, QStringLiteral("One"));
    QTemporaryDir src;
    QByteArray diz;
    diz += QByteArray("First line of the description that is rather long and goes on past "
                      "seventy-five characters\r\n");
    for (int i = 2; i <= 17; ++i)
        diz += "Line " + QByteArray::number(i) + " " + QByteArray(90, char('a' + i)) + "\r\n";
    const QString zip = writeZip(src.filePath(QStringLiteral("Game.zip")), diz, "docs/file_id.diz");
    QVERIFY(!zip.isEmpty());
    QCOMPARE(wcadmin::ImportFile(bbs.homeStd(), 1, zip.toStdString()), std::string());

    ServerLogin login;
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(GetFileRecByAreaName(1, "GAME.ZIP", &r, &pos));
    FullFileRec full;
    QVERIFY(GetFullFileRec(&r, &full));
    QCOMPARE(QByteArray(full.Rec.Description), diz.left(75));
    QCOMPARE(full.Rec.HasLongDescription, 1);
    QCOMPARE(QByteArray(full.LongDescription[0]), diz.left(79));
    QCOMPARE(QByteArray(full.LongDescription[1]), ("Line 2 " + QByteArray(90, 'c')).left(79));
    QCOMPARE(QByteArray(full.LongDescription[14]), ("Line 15 " + QByteArray(90, 'p')).left(79));
    QCOMPARE(r.Size, int(QFileInfo(zip).size()));
}

void TestWcsrvAdmin::importRefusals()
{
    TestBbs bbs;
    bbs.addArea(1, QStringLiteral("One"));
    QTemporaryDir src;
    QFile f(src.filePath(QStringLiteral("a.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QFile longName(src.filePath(QStringLiteral("averylongname.txt")));
    QVERIFY(longName.open(QIODevice::WriteOnly));
    longName.close();
    const std::string home = bbs.homeStd();
    QVERIFY(wcadmin::ImportFile(home, 1, f.fileName().toStdString()).empty());
    QVERIFY(!wcadmin::ImportFile(home, 1, f.fileName().toStdString()).empty()); // duplicate
    QVERIFY(!wcadmin::ImportFile(home, 2, f.fileName().toStdString()).empty()); // no area
    QVERIFY(!wcadmin::ImportFile(home, 1, longName.fileName().toStdString()).empty());
    QVERIFY(!wcadmin::ImportFile(home, 1, src.path().toStdString()).empty()); // a folder
    QVERIFY(!wcadmin::ImportFile(home, 1, "/nonexistent/file").empty());
    QCOMPARE(FilesBelow(bbs.areaFolder(1)), QStringList({"A.TXT"}));
}

static QByteArray Dump(const QString& home, const ScopedTestStore& store)
{
    // Every full record, in walk order, plus the files on disk.
    qputenv("WCSRV_HOME", QFile::encodeName(home));
    store.use();
    QByteArray out;
    ServerLogin login;
    if (!login.ok())
        return "no login";
    FileRec r{};
    uint32_t pos = 0;
    if (SearchFileRecByAreaName(0, "", &r, &pos)) {
        do {
            FullFileRec full;
            if (!GetFullFileRec(&r, &full))
                return "no full record";
            out += Bytes(&full, sizeof full);
        } while (GetNextFileRec(1, &r, &pos));
    }
    out += FilesBelow(home + QStringLiteral("/areas")).join(QLatin1Char('\n')).toLatin1();
    return out;
}

void TestWcsrvAdmin::demoIsRepeatable()
{
    QTemporaryDir a, b, c;
    // Each home with a store of its own (on PostgreSQL a database each).
    ScopedTestStore sa, sb, sc;
    wcadmin::DemoOptions options;
    options.areas = 4;
    options.files = 80;
    options.seed = 7;
    sa.use();
    QCOMPARE(wcadmin::MakeDemo(a.path().toStdString() + "/bbs", options), std::string());
    sb.use();
    QCOMPARE(wcadmin::MakeDemo(b.path().toStdString() + "/bbs", options), std::string());
    options.seed = 8;
    sc.use();
    QCOMPARE(wcadmin::MakeDemo(c.path().toStdString() + "/bbs", options), std::string());
    const QByteArray da = Dump(a.path() + QStringLiteral("/bbs"), sa);
    QVERIFY(da.size() > 80 * int(sizeof(FullFileRec)));
    QCOMPARE(da, Dump(b.path() + QStringLiteral("/bbs"), sb));
    QVERIFY(da != Dump(c.path() + QStringLiteral("/bbs"), sc));
    // A second demo into the same home is refused.
    sa.use();
    QVERIFY(!wcadmin::MakeDemo(a.path().toStdString() + "/bbs", options).empty());
    qunsetenv("WCSRV_HOME");
}

void TestWcsrvAdmin::demoContent()
{
    QTemporaryDir dir;
    ScopedTestStore store;
    wcadmin::DemoOptions options;
    options.areas = 3;
    options.files = 300;
    QCOMPARE(wcadmin::MakeDemo(dir.path().toStdString(), options), std::string());
    qputenv("WCSRV_HOME", QFile::encodeName(dir.path()));
    ServerLogin login;
    QVERIFY(login.ok());
    QCOMPARE(GetFileAreaCount(), 3);
    int total = 0, missing = 0, withLong = 0, withUploader = 0, withPassword = 0, zips = 0;
    QSet<QString> uploaders;
    for (int area = 1; area <= 3; ++area) {
        total += GetTotalFilesInArea(area);
        FileRec r{};
        uint32_t pos = 0;
        QVERIFY(SearchFileRecByAreaName(area, "", &r, &pos));
        while (r.Area == area) {
            FullFileRec full;
            QVERIFY(GetFullFileRec(&r, &full));
            QVERIFY(std::strlen(r.Name) <= 15 && std::strlen(r.Description) > 0);
            const QByteArray path = "wc:\\file\\area(" + QByteArray::number(area) + ")\\" + r.Name;
            if (!WcExistFile(path.constData())) {
                ++missing;
            } else {
                const WcHandle h = WcCreateFile(path.constData(), WC_GENERIC_READ, 1, 3);
                QVERIFY(h > 0);
                QCOMPARE(int(WcGetFileSize(h)), r.Size);
                char magic[2] = {};
                uint32_t done = 0;
                QVERIFY(WcReadFile(h, magic, 2, &done));
                if (QByteArray(magic, 2) == "PK") {
                    ++zips;
                    QCOMPARE(full.Rec.HasLongDescription == 1 || full.Rec.Description[0], true);
                }
                WcCloseHandle(h);
            }
            withLong += full.Rec.HasLongDescription ? 1 : 0;
            withPassword += r.Password[0] ? 1 : 0;
            if (r.Uploader.UserId) {
                ++withUploader;
                uploaders.insert(QString::fromLatin1(r.Uploader.UserName));
                UserRef ref;
                QVERIFY(LookupName(r.Uploader.UserName, &ref));
                QCOMPARE(ref.UserId, r.Uploader.UserId);
            }
            if (!GetNextFileRec(1, &r, &pos))
                break;
        }
    }
    QCOMPARE(total, 300);
    QVERIFY(missing > 0 && missing < 50);
    QVERIFY(withLong > 50);
    QVERIFY(withUploader > 200 && uploaders.size() > 5);
    QVERIFY(withPassword > 0);
    QVERIFY(zips > 10);
    qunsetenv("WCSRV_HOME");
}

// What the README shows on the demo BBS is there: a duplicate the Duplicate
// Mgr finds (by name and by content), texts in code page 437, and a
// FILES.BBS describing files of an area's folder that have no record.
void TestWcsrvAdmin::demoShowsTheFeatures()
{
    QTemporaryDir dir;
    ScopedTestStore store;
    wcadmin::DemoOptions options;
    options.areas = 3;
    options.files = 300;
    QCOMPARE(wcadmin::MakeDemo(dir.path().toStdString(), options), std::string());
    qputenv("WCSRV_HOME", QFile::encodeName(dir.path()));
    {
        ServerLogin login;
        QVERIFY(login.ok());

        ScriptedRun run;
        const DupeResult found = RunDuplicateScan({{1, 2, 3}, DupeBy::Both}, run);
        QVERIFY(!found.stopped);
        QSet<int> byName, byContent;
        for (const DupeGroup& group : found.groups)
            for (const DupeRecord& r : group.members)
                (group.kind == DupeKind::Name ? byName : byContent).insert(r.area);
        QCOMPARE(byName, (QSet<int>{1, 2}));
        QCOMPARE(byContent, (QSet<int>{1, 2, 3}));

        // Shades and box drawing of code page 437 in descriptions.
        int dosTexts = 0;
        for (int area = 1; area <= 3; ++area) {
            FileRec r{};
            uint32_t pos = 0;
            QVERIFY(SearchFileRecByAreaName(area, "", &r, &pos));
            do {
                FullFileRec full{};
                QVERIFY(GetFullFileRec(&r, &full));
                if (QByteArray(full.LongDescription[0]).startsWith("\xC9\xCD\xCD"))
                    ++dosTexts;
            } while (GetNextFileRec(1, &r, &pos) && r.Area == area);
        }
        QVERIFY2(dosTexts >= 10, qPrintable(QString::number(dosTexts)));

        // The last area's FILES.BBS names files of its folder without a record.
        const QString folder =
            QString::fromStdString(wcadmin::AreaFolder(dir.path().toStdString(), 3));
        const DescriptionListFile file =
            ReadDescriptionListFile(folder + QStringLiteral("/FILES.BBS"));
        QVERIFY2(file.ok(), qPrintable(file.failure));
        const DescriptionList list = ParseDescriptionList(file.bytes);
        QCOMPARE(list.unread.size(), 0);
        QStringList named;
        for (const DescriptionEntry& e : list.entries) {
            named << QString::fromLatin1(e.name);
            QVERIFY(QFileInfo(folder + u'/' + QString::fromLatin1(e.name)).isFile());
            FileRec rec{};
            uint32_t at = 0;
            QVERIFY(!GetFileRecByAreaName(3, e.name.constData(), &rec, &at));
        }
        QCOMPARE(named, (QStringList{QStringLiteral("NEWGAME.ARJ"), QStringLiteral("RECIPES.TXT"),
                                     QStringLiteral("386MAN.DOC")}));
        // The DOS directory layout, with a blank line in the long description.
        QCOMPARE(list.entries.at(0).longLines.size(), 3);
        QCOMPARE(list.entries.at(2).description, QByteArray("80386 processor manual"));
    }
    qunsetenv("WCSRV_HOME");
}

static int RunTool(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr)
{
    QProcess p;
    p.start(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin")), args);
    if (!p.waitForFinished(60000))
        return -100;
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -101;
}

void TestWcsrvAdmin::toolCommands()
{
    if (!QFileInfo::exists(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin"))))
        QSKIP("wcsrv-admin not built");
    QTemporaryDir dir;
    ScopedTestStore store; // the tool's store: WCSRV_DATABASE passes to it
    const QString home = dir.filePath(QStringLiteral("bbs"));
    QCOMPARE(RunTool({"--home", home, "init", "--sysop", "Tool Sysop"}), 0);
    QCOMPARE(RunTool({"--home", home, "area", "add", "4", "Four Files"}), 0);
    QCOMPARE(RunTool({"--home", home, "user", "add", "Tool User"}), 0);
    QFile f(dir.filePath(QStringLiteral("x.bin")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("12345");
    f.close();
    QCOMPARE(RunTool({"--home", home, "import", "4", f.fileName()}), 0);
    QByteArray out;
    QCOMPARE(RunTool({"--home", home, "area", "list"}, &out), 0);
    QCOMPARE(out, QByteArray("   4: Four Files\n"));
    QCOMPARE(RunTool({"--home", home, "list", "4"}, &out), 0);
    QVERIFY2(out.startsWith("X.BIN                    5 "), out.constData());
    // WCSRV_HOME is the default home.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WCSRV_HOME"), home);
    p.setProcessEnvironment(env);
    p.start(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin")), {"area", "list"});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.readAllStandardOutput(), QByteArray("   4: Four Files\n"));
}

void TestWcsrvAdmin::toolBadInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no command") << QStringList();
    QTest::newRow("unknown") << QStringList({"frobnicate"});
    QTest::newRow("area number") << QStringList({"area", "add", "x1", "Name"});
    QTest::newRow("area missing name") << QStringList({"area", "add", "5"});
    QTest::newRow("area twice") << QStringList({"area", "add", "1", "Again"});
    QTest::newRow("import no files") << QStringList({"import", "1"});
    QTest::newRow("import missing file") << QStringList({"import", "1", "/no/such/file"});
    QTest::newRow("list bad area") << QStringList({"list", "one"});
    QTest::newRow("demo bad count") << QStringList({"demo", "--files", "-5"});
    QTest::newRow("demo existing") << QStringList({"demo"});
    QTest::newRow("init existing") << QStringList({"init"});
    QTest::newRow("user empty") << QStringList({"user", "add", ""});
}

void TestWcsrvAdmin::toolBadInput()
{
    QFETCH(QStringList, args);
    if (!QFileInfo::exists(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin"))))
        QSKIP("wcsrv-admin not built");
    TestBbs bbs;
    bbs.addArea(1, QStringLiteral("One"));
    QByteArray err;
    const int code = RunTool(QStringList({"--home", bbs.home()}) + args, nullptr, &err);
    QVERIFY2(code > 0, qPrintable(QString::number(code)));
    QVERIFY(err.startsWith("wcsrv-admin: "));
    // Without a BBS every command fails as well.
    QTemporaryDir none;
    ScopedTestStore empty;
    QVERIFY(RunTool({"--home", none.path(), "area", "list"}) > 0);
}

// A file that already lies in the area's folder (an upload without a
// record) gets its record and keeps every byte: copying it onto itself
// would empty it.
void TestWcsrvAdmin::importFileAlreadyInArea_data()
{
    QTest::addColumn<QString>("onDisk");
    QTest::addColumn<bool>("throughTool");
    QTest::newRow("same name") << "UPLOAD.ZIP" << false;
    QTest::newRow("lower-case name") << "upload.zip" << false;
    QTest::newRow("the tool") << "upload.zip" << true;
}

void TestWcsrvAdmin::importFileAlreadyInArea()
{
    QFETCH(QString, onDisk);
    QFETCH(bool, throughTool);
    if (throughTool && !QFileInfo::exists(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin"))))
        QSKIP("wcsrv-admin not built");
    TestBbs bbs;
    bbs.addArea(3, QStringLiteral("Three"));
    QByteArray content(70000, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char((i * 31) & 0xff);
    const QString path = QDir(bbs.areaFolder(3)).filePath(onDisk);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(content), content.size());
    f.close();
    const QDateTime when = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6));
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
    f.close();
    if (throughTool)
        QCOMPARE(RunTool({"--home", bbs.home(), "import", "3", path}), 0);
    else
        QCOMPARE(wcadmin::ImportFile(bbs.homeStd(), 3, path.toStdString()), std::string());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == content);
    f.close();
    QCOMPARE(FilesBelow(bbs.areaFolder(3)), QStringList{onDisk});
    QCOMPARE(QFileInfo(path).lastModified(), when);
    ServerLogin login;
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(GetFileRecByAreaName(3, "UPLOAD.ZIP", &r, &pos));
    QCOMPARE(r.Size, int(content.size()));
}

// A file whose reads fail (this process's memory at address 0) is not
// imported: the tool says so and exits non-zero, and leaves neither a
// record nor a file.
void TestWcsrvAdmin::importReadErrorFails()
{
    if (!QFileInfo::exists(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin"))))
        QSKIP("wcsrv-admin not built");
    if (!QFileInfo(QStringLiteral("/proc/self/mem")).isFile())
        QSKIP("no /proc/self/mem: no file whose reads fail");
    TestBbs bbs;
    bbs.addArea(3, QStringLiteral("Three"));
    QByteArray err;
    QCOMPARE(RunTool({"--home", bbs.home(), "import", "3", "/proc/self/mem"}, nullptr, &err), 1);
    QVERIFY2(err.startsWith("wcsrv-admin: cannot read /proc/self/mem"), err.constData());
    QCOMPARE(FilesBelow(bbs.areaFolder(3)), QStringList());
    std::vector<wcadmin::FileInfo> files;
    QVERIFY(wcadmin::ListFiles(bbs.homeStd(), 3, files).empty());
    QCOMPARE(files.size(), size_t(0));
}

// Names reach the records as Latin-1: a user name with a character beyond
// it is refused with a message that says why (the library would read it
// back with '?' in it); Latin-1 letters given as UTF-8 are kept.
void TestWcsrvAdmin::namesLatin1CannotHold_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("Cyrillic") << QByteArray("\xd0\x96\xd0\xb0\xd0\xbd\xd0\xbd\xd0\xb0")
                              << QByteArray("U+0416");
    QTest::newRow("euro sign") << QByteArray("Eve \xe2\x82\xac") << QByteArray("U+20AC");
    QTest::newRow("emoji") << QByteArray("Sam \xf0\x9f\x98\x80") << QByteArray("U+1F600");
    QTest::newRow("not UTF-8") << QByteArray("J\xf6rg") << QByteArray("not UTF-8");
    QTest::newRow("cut UTF-8") << QByteArray("Jo\xc3") << QByteArray("not UTF-8");
    QTest::newRow("Latin-1 letters") << QByteArray("J\xc3\xb6rg M\xc3\xbcller") << QByteArray();
    QTest::newRow("71 Latin-1 letters") << QByteArray(71 * 2, '\0') << QByteArray();
}

void TestWcsrvAdmin::namesLatin1CannotHold()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, message);
    if (name.startsWith('\0')) // 71 times "é": 142 bytes, 71 characters
        for (qsizetype i = 0; i < name.size(); i += 2)
            name[i] = char(0xc3), name[i + 1] = char(0xa9);
    if (!QFileInfo::exists(QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin"))))
        QSKIP("wcsrv-admin not built");
    TestBbs bbs;
    QByteArray err;
    int code = 1;
    if (QString::fromUtf8(name).toUtf8() == name) {
        code =
            RunTool({"--home", bbs.home(), "user", "add", QString::fromUtf8(name)}, nullptr, &err);
    } else {
        // Bytes that are not UTF-8 cannot pass through a QString argument:
        // the function the tool calls gets them.
        err = QByteArray::fromStdString(wcadmin::AddUser(bbs.homeStd(), name.toStdString()));
    }
    if (message.isEmpty()) {
        QCOMPARE(code, 0);
        ServerLogin login;
        UserRecord u;
        uint32_t pos = 0;
        QVERIFY(GetFirstUser(2, &u, &pos));
        QCOMPARE(QString::fromLatin1(u.Name), QString::fromUtf8(name));
        QVERIFY(!GetNextUser(2, &u, &pos));
        return;
    }
    QCOMPARE(code, 1);
    QVERIFY2(err.contains(message), err.constData());
    QVERIFY2(err.contains("the user name"), err.constData());
    QVERIFY(!wcadmin::AddUser(bbs.homeStd(), name.toStdString()).empty());
    ServerLogin login;
    UserRecord u;
    uint32_t pos = 0;
    QVERIFY(!GetFirstUser(2, &u, &pos)); // no user was added
}

VT_TEST_MAIN(TestWcsrvAdmin)
#include "test_wcsrv_admin.moc"
