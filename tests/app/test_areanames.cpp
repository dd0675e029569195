// Names, odd files and links of area folders through every command that
// gives files records (adding a folder's files, a drop, the list import's
// --add, the admin tool's import) and the duplicate finder, which finds each
// record's file: one table per kind of fault, each row one case through one
// of them. Disk names are bytes here from start to end.
#include "app/AddFilesRun.h"
#include "app/DropFilesRun.h"
#include "archive/DescriptionListRun.h"
#include "common/Text.h"
#include "managers/DuplicateRun.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/AreaFiles.h"
#include "server/ServerPath.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace
{

bool WriteFile(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
}

QByteArray ReadFile(const QByteArray& path)
{
    QByteArray bytes;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return "(unreadable)";
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

// Every entry of a folder by its name's bytes: a regular file as its bytes,
// a link as "-> target", anything else as its kind.
QMap<QByteArray, QByteArray> Entries(const QByteArray& folder)
{
    QMap<QByteArray, QByteArray> out;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return out;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        struct stat st {
        };
        ::lstat(path.constData(), &st);
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.constData(), target, sizeof target);
            out.insert(name, "-> " + QByteArray(target, n > 0 ? n : 0));
        } else {
            out.insert(name, S_ISREG(st.st_mode) ? ReadFile(path) : QByteArray("(not a file)"));
        }
    }
    ::closedir(dir);
    return out;
}

// The records of an area by their names' bytes, in walk order.
QList<QPair<QByteArray, FullFileRec>> Records(int area)
{
    QList<QPair<QByteArray, FullFileRec>> out;
    WalkArea(area, [&out](FileRec& rec) {
        FullFileRec full{};
        if (GetFullFileRec(&rec, &full))
            out.append({QByteArray(rec.Name, qsizetype(strnlen(rec.Name, sizeof rec.Name))), full});
        return true;
    });
    return out;
}

QByteArrayList Names(const QList<QPair<QByteArray, FullFileRec>>& records)
{
    QByteArrayList names;
    for (const auto& r : records)
        names << r.first;
    return names;
}

// The contents the files of a case get: each one of its own length.
QByteArray ContentOf(const QByteArray& name, int index)
{
    return "file " + name + ' ' + QByteArray(index * 7 + 1, 'x');
}

const QStringList kAdders = {"addfiles", "drop", "import --add", "admin import"};

// A FIFO would block an open for reading until a writer comes: the process
// is killed after this long, so a hang fails the test instead of stalling it.
struct HangGuard {
    explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
};

} // namespace

class TestAreaNames : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void namesKeepTheirBytes_data();
    void namesKeepTheirBytes();
    void oddFilesNeverBlock_data();
    void oddFilesNeverBlock();
    void linksInAreaFolders_data();
    void linksInAreaFolders();
    void writesNeverFollowLinks_data();
    void writesNeverFollowLinks();

private:
    // Gives the files (named by bytes, written to `from` first when given)
    // records through `how`; the refusals' texts go to `refusals`.
    void add(const QString& how, const QByteArray& from, const QByteArrayList& files,
             QStringList& refusals);
    QByteArray folder(int area) const { return QFile::encodeName(m_bbs->areaFolder(area)); }

    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    std::unique_ptr<QTemporaryDir> m_outside;
};

void TestAreaNames::init()
{
    SetAreaLinksAllowed(false);
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(2, QStringLiteral("Two"));
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
    m_outside = std::make_unique<QTemporaryDir>();
    QVERIFY(m_outside->isValid());
}

void TestAreaNames::cleanup()
{
    SetAreaLinksAllowed(false);
    // A name that is not UTF-8 has no text path for QTemporaryDir to remove
    // it by: the folders the tests wrote into go by their bytes.
    std::error_code ignored;
    for (const QByteArray& dir : {folder(1), folder(2), QFile::encodeName(m_outside->path())})
        std::filesystem::remove_all(dir.toStdString(), ignored);
    m_outside.reset();
    m_login.reset();
    m_bbs.reset();
}

void TestAreaNames::add(const QString& how, const QByteArray& from, const QByteArrayList& files,
                        QStringList& refusals)
{
    ScriptedRun run;
    if (how == u"addfiles") {
        AddFilesOptions options;
        options.areas = {1};
        options.preview = false;
        RunAddFiles(options, run);
    } else if (how == u"drop") {
        DropFilesOptions options;
        options.area = 1;
        for (const QByteArray& file : files)
            options.paths << QFile::decodeName(from + '/' + file);
        RunDropFiles(options, run);
    } else if (how == u"import --add") {
        DescriptionImportOptions options;
        options.area = 1;
        options.add = true;
        for (const QByteArray& file : files)
            options.list += file + "  about it\r\n";
        RunDescriptionImport(options, run);
    } else if (how == u"admin import") {
        for (const QByteArray& file : files) {
            const std::string error =
                wcadmin::ImportFile(m_bbs->homeStd(), 1, (from + '/' + file).toStdString());
            if (!error.empty())
                refusals << QString::fromStdString(error);
        }
    }
    for (const RunItem& item : run.items)
        if (item.outcome == RunOutcome::Refused || item.outcome == RunOutcome::Failed)
            refusals << item.name + u' ' + item.action;
    refusals << run.infos << run.warnings;
}

// ---- one mapping between disk names and record names ---------------------------

void TestAreaNames::namesKeepTheirBytes_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QByteArrayList>("files");   // names on disk
    QTest::addColumn<QByteArrayList>("records"); // the records made, in walk order
    QTest::addColumn<QStringList>("because");    // words each refusal holds (one of them)
    const QByteArray zhe6 = QByteArray("\xd0\x96").repeated(6) + ".TXT"; // 16 bytes
    const QByteArray zhe5 = QByteArray("\xd0\x96").repeated(5) + ".TXT"; // 14 bytes
    struct Case {
        const char* tag;
        QByteArrayList files, records;
        QStringList because;
        bool textPath; // a drop takes the file by a text path
    };
    const QList<Case> cases = {
        {"UTF-8 beside one byte",
         {"CAF\xc3\x89.TXT", "CAF\xc9.TXT"},
         {"CAF\xc3\x89.TXT", "CAF\xc9.TXT"},
         {},
         false},
        {"beyond Latin-1",
         {"\xd0\x96.TXT", "\xe2\x82\xac.TXT"},
         {"\xd0\x96.TXT", "\xe2\x82\xac.TXT"},
         {},
         true},
        {"not UTF-8", {"CAF\xc9.ZIP"}, {"CAF\xc9.ZIP"}, {}, false},
        {"lower case", {"caf\xc3\xa9.txt"}, {"CAF\xc3\xa9.TXT"}, {}, true},
        {"longer in bytes than in characters", {zhe6, zhe5}, {zhe5}, {"too long"}, true},
        {"control byte",
         {"A\x01"
          "B.TXT"},
         {},
         {"control character"},
         true},
        {"backslash", {"A\\B.TXT"}, {}, {"backslash", "not a file name"}, true},
    };
    for (const QString& how : kAdders)
        for (const Case& c : cases)
            if (how != u"drop" || c.textPath)
                QTest::addRow("%s, %s", qPrintable(how), c.tag)
                    << how << c.files << c.records << c.because;
    // The duplicate finder finds each record's file by the same bytes.
    for (const Case& c : cases)
        if (!c.records.isEmpty())
            QTest::addRow("dupes, %s", c.tag)
                << QStringLiteral("dupes") << c.records << c.records << QStringList();
}

// A record gets the bytes of its file's name (ASCII letters in upper case)
// and the size of exactly that file; a name that can't be a record's is
// refused with its reason, never changed into another name. Deleting the
// records with their files then deletes exactly those files.
void TestAreaNames::namesKeepTheirBytes()
{
    QFETCH(QString, how);
    QFETCH(QByteArrayList, files);
    QFETCH(QByteArrayList, records);
    QFETCH(QStringList, because);
    const bool copies = how == u"drop" || how == u"admin import";
    const QByteArray from = copies ? QFile::encodeName(m_outside->path()) : folder(1);
    QMap<QByteArray, QByteArray> contents; // by record name
    for (int i = 0; i < files.size(); ++i) {
        QVERIFY(WriteFile(from + '/' + files[i], ContentOf(files[i], i)));
        contents.insert(ToBytes(RecordNameOfDiskName(files[i])), ContentOf(files[i], i));
    }
    if (how == u"dupes") {
        // Records of these names in areas 1 and 2, each with its file.
        for (int area : {1, 2}) {
            for (int i = 0; i < files.size(); ++i) {
                QVERIFY(WriteFile(folder(area) + '/' + files[i], ContentOf(files[i], i)));
                FullFileRec full{};
                full.Rec.Area = area;
                std::memcpy(full.Rec.Name, files[i].constData(), std::size_t(files[i].size()));
                QVERIFY(AddFileRec(&full));
            }
        }
        ScriptedRun run;
        DupeOptions options;
        options.areas = {1, 2};
        options.by = DupeBy::Name;
        const DupeResult result = RunDuplicateScan(options, run);
        QCOMPARE(result.missing.size(), 0);
        QCOMPARE(result.groups.size(), files.size());
        for (const DupeGroup& group : result.groups) {
            QCOMPARE(group.members.size(), 2);
            for (const DupeRecord& r : group.members) {
                QVERIFY(r.present);
                QCOMPARE(r.diskSize, qint64(contents.value(ToBytes(r.name)).size()));
            }
        }
        return;
    }
    const auto before = Entries(folder(1));
    QStringList refusals;
    add(how, from, files, refusals);

    const auto made = Records(1);
    QCOMPARE(Names(made), records);
    for (const auto& [name, full] : made) {
        // The file the server opens for the record is the file of that
        // name, and the record has its size.
        QCOMPARE(ReadFile(AreaEntryOfName(1, FromBytes(name))), contents.value(name));
        QCOMPARE(full.Rec.Size, int32_t(contents.value(name).size()));
    }
    const qsizetype refused = files.size() - records.size();
    QCOMPARE(refusals.size(), refused);
    for (const QString& text : refusals) {
        bool said = false;
        for (const QString& word : because)
            said = said || text.contains(word);
        QVERIFY2(said, qPrintable(text));
    }
    // A file in place is left as it was; a copy has the record's name.
    auto after = Entries(folder(1));
    if (copies)
        for (const QByteArray& name : records)
            QCOMPARE(after.take(name), contents.value(name));
    QCOMPARE(after, before);

    // Each record means its own file: deleting them with their files leaves
    // exactly the files no record was made for.
    for (auto& [name, full] : made)
        QVERIFY(DeleteFileRec(&full.Rec, 1));
    QMap<QByteArray, QByteArray> left = before;
    if (!copies)
        for (const QByteArray& file : files)
            if (records.contains(ToBytes(RecordNameOfDiskName(file))))
                left.remove(file);
    QCOMPARE(Entries(folder(1)), left);
}

// ---- files that are not regular files ------------------------------------------

void TestAreaNames::oddFilesNeverBlock_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("kind");
    for (const QString& how : kAdders)
        for (const char* kind : {"FIFO", "device", "folder"})
            QTest::addRow("%s, %s", qPrintable(how), kind) << how << QString::fromLatin1(kind);
}

// A FIFO, a device (through a link, with links allowed so that the link is
// not what refuses it) or a folder under an archive's name is refused and
// never opened in a way that waits: no record, nothing written.
void TestAreaNames::oddFilesNeverBlock()
{
    QFETCH(QString, how);
    QFETCH(QString, kind);
    SetAreaLinksAllowed(true);
    const bool copies = how == u"drop" || how == u"admin import";
    const QByteArray from = copies ? QFile::encodeName(m_outside->path()) : folder(1);
    const QByteArray path = from + "/ODD.ZIP";
    if (kind == u"FIFO")
        QCOMPARE(::mkfifo(path.constData(), 0644), 0);
    else if (kind == u"device")
        QCOMPARE(::symlink("/dev/zero", path.constData()), 0);
    else
        QCOMPARE(::mkdir(path.constData(), 0755), 0);
    const auto before = Entries(folder(1));
    QStringList refusals;
    {
        HangGuard guard(60);
        add(how, from, {"ODD.ZIP"}, refusals);
    }
    QVERIFY(!refusals.isEmpty());
    QCOMPARE(Names(Records(1)), QByteArrayList());
    QCOMPARE(Entries(folder(1)), before);
}

// ---- links in area folders -------------------------------------------------------

void TestAreaNames::linksInAreaFolders_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("where");   // where the link lies
    QTest::addColumn<QString>("outcome"); // "refused", "link" (the record names it), "copy"
    for (const bool allowed : {false, true}) {
        for (const char* how : {"addfiles", "import --add"})
            QTest::addRow("%s, links %s", how, allowed ? "allowed" : "not allowed")
                << QString::fromLatin1(how) << allowed << "this area's folder"
                << (allowed ? "link" : "refused");
        QTest::addRow("drop from this area's folder, links %s", allowed ? "allowed" : "not allowed")
            << "drop" << allowed << "this area's folder" << (allowed ? "link" : "refused");
        QTest::addRow("drop from another area's folder, links %s",
                      allowed ? "allowed" : "not allowed")
            << "drop" << allowed << "another area's folder" << (allowed ? "copy" : "refused");
    }
    // A link from elsewhere is copied as any copy reads it: its target's bytes.
    QTest::newRow("drop from elsewhere") << "drop" << false << "elsewhere"
                                         << "copy";
    // The admin tool knows no setting: links in area folders never get records.
    QTest::newRow("admin import from this area's folder")
        << "admin import" << false << "this area's folder"
        << "refused";
    QTest::newRow("admin import from another area's folder")
        << "admin import" << false << "another area's folder"
        << "refused";
    QTest::newRow("admin import from elsewhere") << "admin import" << false << "elsewhere"
                                                 << "copy";
}

// A link in an area's folder (planted by an upload account that may make
// links) points at a file outside the BBS: it gets a record only when the
// sysop allows links, and the file it points at is never changed.
void TestAreaNames::linksInAreaFolders()
{
    QFETCH(QString, how);
    QFETCH(bool, allowed);
    QFETCH(QString, where);
    QFETCH(QString, outcome);
    SetAreaLinksAllowed(allowed);
    const QByteArray secret = "a file the BBS can read but never offered";
    const QByteArray outside = QFile::encodeName(m_outside->path());
    QVERIFY(WriteFile(outside + "/secret.txt", secret));
    const QByteArray from = where == u"this area's folder"      ? folder(1)
                            : where == u"another area's folder" ? folder(2)
                                                                : outside + "/uploads";
    QVERIFY(QDir().mkpath(QFile::decodeName(from)));
    QCOMPARE(::symlink((outside + "/secret.txt").constData(), (from + "/LINK.TXT").constData()), 0);
    auto before = Entries(folder(1));
    QStringList refusals;
    add(how, from, {"LINK.TXT"}, refusals);

    QCOMPARE(ReadFile(outside + "/secret.txt"), secret);
    const auto made = Records(1);
    auto after = Entries(folder(1));
    if (outcome == u"refused") {
        QCOMPARE(Names(made), QByteArrayList());
        QCOMPARE(refusals.size(), 1);
        QVERIFY2(refusals.first().contains(QLatin1String("link")), qPrintable(refusals.first()));
        QCOMPARE(after, before);
        return;
    }
    QVERIFY2(refusals.isEmpty(), qPrintable(refusals.join(u'|')));
    QCOMPARE(Names(made), QByteArrayList{"LINK.TXT"});
    QCOMPARE(made.first().second.Rec.Size, int32_t(secret.size()));
    if (outcome == u"copy") // a file of its own, with the target's bytes
        before.insert("LINK.TXT", secret);
    QCOMPARE(after, before);
}

// ---- nothing is written through a link ----------------------------------------

void TestAreaNames::writesNeverFollowLinks_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("link"); // where the planted link lies
    QTest::newRow("export, a link at the list's name") << "export"
                                                       << "1/FILES.BBS";
    QTest::newRow("export, a link at a DESCRIPT.ION") << "export descript.ion"
                                                      << "1/DESCRIPT.ION";
    QTest::newRow("export, the area's folder a link") << "export"
                                                      << "1";
    QTest::newRow("export dry run, the area's folder a link") << "export dry run"
                                                              << "1";
    QTest::newRow("drop onto a link in the area's folder") << "drop"
                                                           << "NEW.TXT";
    QTest::newRow("admin import onto a link in the area's folder") << "admin import"
                                                                   << "NEW.TXT";
}

// A link planted where the program writes (a list's name in the export
// folder, an area's folder there, a file name in an area's folder) points
// at a file or folder the sysop's account can write: the program never
// writes through it. A link at a file's name is replaced, a linked folder
// refused.
void TestAreaNames::writesNeverFollowLinks()
{
    QFETCH(QString, how);
    QFETCH(QString, link);
    const QByteArray outside = QFile::encodeName(m_outside->path());
    const QByteArray precious = "the sysop's own file";
    QVERIFY(QDir().mkpath(m_outside->filePath(QStringLiteral("victim"))));
    QVERIFY(WriteFile(outside + "/victim/FILES.BBS", precious));
    QVERIFY(WriteFile(outside + "/victim/DESCRIPT.ION", precious));
    QVERIFY(WriteFile(outside + "/victim.txt", precious));
    const auto victims = Entries(outside + "/victim");
    const QByteArray linkTarget = link == u"1"             ? outside + "/victim"
                                  : link.endsWith(u".ION") ? outside + "/victim/DESCRIPT.ION"
                                  : link == u"NEW.TXT"     ? outside + "/victim.txt"
                                                           : outside + "/victim/FILES.BBS";
    m_bbs->addFile(1, QStringLiteral("LISTED.TXT"), nullptr,
                   [](FullFileRec& f) { SetRecText(f.Rec.Description, QStringLiteral("listed")); });

    if (how.startsWith(u"export")) {
        const QByteArray out = QFile::encodeName(m_outside->filePath(QStringLiteral("out")));
        QVERIFY(QDir().mkpath(QFile::decodeName(out + (link == u"1" ? "" : "/1"))));
        QCOMPARE(::symlink(linkTarget.constData(), (out + '/' + ToBytes(link)).constData()), 0);
        DescriptionExportOptions options;
        options.areas = {1};
        options.folder = QFile::decodeName(out);
        options.dryRun = how.endsWith(u"dry run");
        options.layout = how.endsWith(u"descript.ion") ? DescriptionListLayout::DescriptIon
                                                       : DescriptionListLayout::FilesBbs;
        ScriptedRun run;
        const DescriptionExportResult result = RunDescriptionExport(options, run);
        QCOMPARE(Entries(outside + "/victim"), victims);
        if (link == u"1") {
            // The linked folder is refused, the run says so and fails.
            QVERIFY(result.failed);
            QCOMPARE(run.lines(RunOutcome::Failed),
                     QStringList{DescriptionListFileName(options.layout) + u' ' +
                                 QFile::decodeName(out) +
                                 QStringLiteral("/1 is a link; no list "
                                                "written")});
            QVERIFY(result.written.isEmpty());
            return;
        }
        // The link was replaced by the list, a file of its own.
        QVERIFY(!result.failed);
        const QByteArray list = out + '/' + ToBytes(link);
        QVERIFY(!IsDiskLink(list));
        QVERIFY(ReadFile(list).startsWith("LISTED.TXT"));
        return;
    }

    // A link of the new file's name lies in the area's folder (no record
    // names it): the copy into the area must not write through it.
    QCOMPARE(::symlink(linkTarget.constData(), (folder(1) + "/NEW.TXT").constData()), 0);
    QVERIFY(WriteFile(outside + "/NEW.TXT", "the dropped file's bytes"));
    QStringList refusals;
    add(how, outside, {"NEW.TXT"}, refusals);
    QCOMPARE(ReadFile(outside + "/victim.txt"), precious);
    QVERIFY(!refusals.isEmpty());
    QCOMPARE(Names(Records(1)), QByteArrayList{"LISTED.TXT"});
    QVERIFY(IsDiskLink(folder(1) + "/NEW.TXT"));
}

VT_TEST_MAIN(TestAreaNames)
#include "test_areanames.moc"
