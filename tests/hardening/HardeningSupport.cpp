#include "HardeningSupport.h"

#include "config/Settings.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcStore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include "TestSupport.h"
#include "platform/wcsrv/WcStore.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

namespace hard
{

QStringList Layout::namesIn(int a) const
{
    QStringList out;
    for (auto it = area.cbegin(); it != area.cend(); ++it)
        if (it.value() == a)
            out << it.key();
    return out; // QMap keeps them sorted, as the server's key order is
}

QByteArray FileContent(const QString& name, int size)
{
    QByteArray out;
    out.reserve(size);
    const QByteArray seed = "<" + name.toLatin1() + ">";
    while (out.size() < size)
        out += seed;
    out.truncate(size);
    return out;
}

// ---- record fields -------------------------------------------------------------

namespace
{

struct FieldSpan {
    Field field;
    const char* name;
    int offset;
    int size;
};

#define VT_REC_FIELD(f, member)                                                                    \
    FieldSpan                                                                                      \
    {                                                                                              \
        f, #member, int(offsetof(FileRec, member)), int(sizeof(FileRec::member))                   \
    }

// Every byte of a FullFileRec belongs to exactly one span (checked below).
constexpr FieldSpan kSpans[] = {
    VT_REC_FIELD(FOpaque0, Reserved0),
    VT_REC_FIELD(FArea, Area),
    VT_REC_FIELD(FName, Name),
    VT_REC_FIELD(FDescription, Description),
    VT_REC_FIELD(FPassword, Password),
    VT_REC_FIELD(FOpaque132, Reserved1),
    VT_REC_FIELD(FSize, Size),
    VT_REC_FIELD(FFileTime, FileTime),
    VT_REC_FIELD(FLastAccessed, LastAccessed),
    VT_REC_FIELD(FNeverOverwrite, NeverOverwrite),
    VT_REC_FIELD(FNeverDelete, NeverDelete),
    VT_REC_FIELD(FFreeFile, FreeFile),
    VT_REC_FIELD(FCopyBeforeDownload, CopyBeforeDownload),
    VT_REC_FIELD(FOpaque172, Reserved2),
    VT_REC_FIELD(FFailedScan, FailedScan),
    VT_REC_FIELD(FFreeTime, FreeTime),
    VT_REC_FIELD(FDownloads, Downloads),
    VT_REC_FIELD(FCost, Cost),
    VT_REC_FIELD(FUploader, Uploader),
    VT_REC_FIELD(FOpaque280, Reserved3),
    VT_REC_FIELD(FHasLongDescription, HasLongDescription),
    VT_REC_FIELD(FOpaque288, Reserved4),
    {FReserved5, "Reserved5", int(offsetof(FullFileRec, Reserved5)),
     int(sizeof(FullFileRec::Reserved5))},
    {FLongDescription, "LongDescription", int(offsetof(FullFileRec, LongDescription)),
     int(sizeof(FullFileRec::LongDescription))},
};

#undef VT_REC_FIELD

constexpr bool SpansCoverTheRecord()
{
    int next = 0;
    for (const FieldSpan& s : kSpans) {
        if (s.offset != next)
            return false;
        next += s.size;
    }
    return next == int(sizeof(FullFileRec));
}
static_assert(SpansCoverTheRecord(), "the field spans must tile all 1792 bytes");
static_assert(sizeof(FullFileRec) == 1792);
static_assert(offsetof(FullFileRec, Rec) == 0);

} // namespace

Fields DifferingFields(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != int(sizeof(FullFileRec)) || b.size() != int(sizeof(FullFileRec)))
        return ~kNoFields;
    Fields out = kNoFields;
    for (const FieldSpan& s : kSpans)
        if (std::memcmp(a.constData() + s.offset, b.constData() + s.offset, size_t(s.size)) != 0)
            out |= s.field;
    return out;
}

QString FieldNames(Fields fields)
{
    QStringList out;
    for (const FieldSpan& s : kSpans)
        if (fields & s.field)
            out << QString::fromLatin1(s.name);
    return out.join(u',');
}

namespace
{

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path, bool* ok = nullptr)
{
    QFile f(path);
    const bool opened = f.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    return opened ? f.readAll() : QByteArray();
}

} // namespace

namespace
{
// On PostgreSQL: the database of each BBS home the tests built or copied.
QMap<QString, QByteArray> gDatabases;

void NewStoreFor(const QString& home, const QByteArray& copyOf = QByteArray())
{
    if (!TestsOnPostgres())
        return;
    const QByteArray setting = NewTestDatabase(copyOf);
    gDatabases.insert(QDir(home).absolutePath(), setting);
    qputenv("WCSRV_DATABASE", setting);
}
} // namespace

QByteArray DatabaseOf(const QString& home)
{
    return gDatabases.value(QDir(home).absolutePath());
}

Layout BuildStandardBbs(const QString& home)
{
    Layout layout;
    NewStoreFor(home);
    const std::string h = QFile::encodeName(home).toStdString();
    if (!wcadmin::CreateBbs(h, "Test Sysop").empty())
        return layout;
    const QList<QPair<QString, int>> areas = {
        {QStringLiteral("Alpha"), 12}, {QStringLiteral("Beta"), 18}, {QStringLiteral("Gamma"), 20}};
    const QString staging = home + QStringLiteral("/../staging");
    QDir().mkpath(staging);
    int serial = 0;
    for (int a = 0; a < areas.size(); ++a) {
        const int number = a + 1;
        if (!wcadmin::AddArea(h, number, areas[a].first.toStdString()).empty())
            return {};
        for (int i = 0; i < areas[a].second; ++i, ++serial) {
            const QString name = QStringLiteral("%1F%2.%3")
                                     .arg(QChar(u'A' + a))
                                     .arg(i, 2, 10, QLatin1Char('0'))
                                     .arg(i % 2 ? QStringLiteral("TXT") : QStringLiteral("BIN"));
            // Every sixth file needs more than one copy chunk (4096 bytes).
            const int size = serial % 6 == 0 ? 9000 + serial : 200 + 37 * serial;
            const QByteArray bytes = FileContent(name, size);
            const QString path = staging + u'/' + name;
            if (!WriteFile(path, bytes) ||
                !wcadmin::ImportFile(h, number, QFile::encodeName(path).toStdString()).empty())
                return {};
            QFile::remove(path);
            layout.contents.insert(name, bytes);
            layout.area.insert(name, number);
        }
    }
    QDir(staging).removeRecursively();
    if (!TakeImages(home, layout))
        return {};
    return layout;
}

Layout BuildBulkBbs(const QString& home, int areas, long files)
{
    Layout layout;
    NewStoreFor(home);
    const std::string h = QFile::encodeName(home).toStdString();
    wcadmin::DemoOptions options;
    options.areas = areas;
    options.files = files;
    options.seed = 7;
    options.noFiles = true;
    if (!wcadmin::MakeDemo(h, options).empty())
        return {};
    for (int a = 1; a <= areas; ++a) {
        std::vector<wcadmin::FileInfo> list;
        if (!wcadmin::ListFiles(h, a, list).empty())
            return {};
        const QString folder = QString::fromStdString(wcadmin::AreaFolder(h, a));
        QDir().mkpath(folder);
        for (const wcadmin::FileInfo& f : list) {
            const QString name = QString::fromStdString(f.name);
            const QByteArray bytes = FileContent(name, 64 + int(layout.contents.size() % 200));
            if (!WriteFile(folder + u'/' + name, bytes))
                return {};
            layout.contents.insert(name, bytes);
            layout.area.insert(name, a);
        }
    }
    if (!TakeImages(home, layout))
        return {};
    return layout;
}

bool CopyTree(const QString& from, const QString& to)
{
    std::error_code ec;
    std::filesystem::copy(QFile::encodeName(from).toStdString(),
                          QFile::encodeName(to).toStdString(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing,
                          ec);
    return !ec;
}

// ---- sandbox -----------------------------------------------------------------

namespace
{

// Sandboxes live in memory when the system offers a shared-memory file
// system: a run creates and removes a hundred paths, which costs
// milliseconds each on a loaded disk.
QString SandboxPattern()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (shm.isDir() && shm.isWritable())
        return QStringLiteral("/dev/shm/vt-hard-XXXXXX");
    return QDir::tempPath() + QStringLiteral("/vt-hard-XXXXXX");
}

} // namespace

Sandbox::Sandbox(const QString& templateRoot) : m_dir(SandboxPattern())
{
    if (!m_dir.isValid())
        return;
    QDir d(m_dir.path());
    for (const char* sub : {"bbs", "prog", "out", "drop", "tmp"})
        d.mkpath(QString::fromLatin1(sub));
    if (!templateRoot.isEmpty()) {
        if (!CopyTree(templateRoot + QStringLiteral("/bbs"), home()) ||
            !CopyTree(templateRoot + QStringLiteral("/prog"), root() + QStringLiteral("/prog")))
            return;
        if (TestsOnPostgres()) {
            const QByteArray previous = qgetenv("WCSRV_DATABASE");
            NewStoreFor(home(), DatabaseOf(templateRoot + QStringLiteral("/bbs")));
            m_database = DatabaseOf(home());
            qputenv("WCSRV_DATABASE", previous);
        }
    } else {
        if (!WriteFile(prog() + QStringLiteral("vuru.cfg"),
                       "[General]\r\nSysopName=Test Sysop\r\nwcHomeDir=/wc5/\r\n"
                       "[Tools]\r\nZipViewer_Prg1=xdg-open\r\n"))
            return;
    }
    m_ok = true;
}

namespace
{

// Drops a sandbox's own database on the tests' server, so that a run of a
// few hundred sandboxes does not leave as many copies behind. A database
// still in use by a connection stays (the server is removed at the end).
void DropStore(const QByteArray& setting)
{
    const QByteArray name = setting.mid(setting.lastIndexOf('=') + 1);
    PGconn* conn = PQconnectdb((setting + " dbname=postgres").constData());
    if (PQstatus(conn) == CONNECTION_OK)
        PQclear(PQexec(conn, ("DROP DATABASE IF EXISTS " + name).constData()));
    PQfinish(conn);
}

} // namespace

Sandbox::~Sandbox()
{
    leave();
    if (!m_database.isEmpty()) {
        gDatabases.remove(QDir(home()).absolutePath());
        DropStore(m_database);
    }
    // Read-only leftovers of a test must not keep the folder from going.
    QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::setPermissions(it.next(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void Sandbox::enter()
{
    if (m_entered)
        return;
    m_entered = true;
    m_hadHome = qEnvironmentVariableIsSet("WCSRV_HOME");
    m_oldHome = qgetenv("WCSRV_HOME");
    m_hadTmp = qEnvironmentVariableIsSet("TMPDIR");
    m_oldTmp = qgetenv("TMPDIR");
    qputenv("WCSRV_HOME", QFile::encodeName(home()));
    m_oldDatabase = qgetenv("WCSRV_DATABASE");
    if (!m_database.isEmpty())
        qputenv("WCSRV_DATABASE", m_database);
    qputenv("TMPDIR", QFile::encodeName(root() + QStringLiteral("/tmp")));
    ProgramFolderOverride = prog();
}

void Sandbox::leave()
{
    if (!m_entered)
        return;
    m_entered = false;
    if (m_hadHome)
        qputenv("WCSRV_HOME", m_oldHome);
    else
        qunsetenv("WCSRV_HOME");
    if (!m_database.isEmpty())
        qputenv("WCSRV_DATABASE", m_oldDatabase);
    if (m_hadTmp)
        qputenv("TMPDIR", m_oldTmp);
    else
        qunsetenv("TMPDIR");
    ProgramFolderOverride.clear();
}

QMap<QString, qint64> Snapshot(const QString& root, const QStringList& allowed)
{
    QMap<QString, qint64> out;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QString rel = base.relativeFilePath(path);
        bool skip = false;
        for (const QString& a : allowed)
            if (rel == a || rel.startsWith(a + u'/'))
                skip = true;
        if (skip)
            continue;
        if (info.isDir() && !info.isSymLink())
            out.insert(rel + u'/', -1);
        else
            out.insert(rel, info.size());
    }
    return out;
}

QStringList SnapshotDiff(const QMap<QString, qint64>& before, const QMap<QString, qint64>& after)
{
    QStringList out;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (!before.contains(it.key()))
            out << QStringLiteral("written: ") + it.key();
        else if (before.value(it.key()) != it.value())
            out << QStringLiteral("changed: ") + it.key();
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (!after.contains(it.key()))
            out << QStringLiteral("removed: ") + it.key();
    return out;
}

// ---- database ----------------------------------------------------------------

namespace
{

// Read-write, so that a database left by a killed process can be recovered
// from its write-ahead log before it is checked.
sqlite3* OpenDb(const QString& home, QString* error)
{
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(home + QStringLiteral("/wcsrv.db"));
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("cannot open the database: ") +
                     QString::fromUtf8(db ? sqlite3_errmsg(db) : "no memory");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    return db;
}

} // namespace

QString IntegrityCheck(const QString& home)
{
    if (TestsOnPostgres()) {
        // Every record whole: both parts of their full length, under the
        // key of the name the record holds.
        PGconn* conn = PQconnectdb(DatabaseOf(home).constData());
        QString result;
        PGresult* r = PQexec(conn, "SELECT count(*) FROM files WHERE length(rec) <> 332 OR "
                                   "length(ext) <> 1460 OR area <> get_byte(rec, 4) + "
                                   "256 * get_byte(rec, 5) + 65536 * get_byte(rec, 6)");
        if (PQresultStatus(r) != PGRES_TUPLES_OK)
            result = QString::fromUtf8(PQerrorMessage(conn));
        else if (std::atol(PQgetvalue(r, 0, 0)) != 0)
            result = QStringLiteral("%1 damaged records").arg(PQgetvalue(r, 0, 0));
        else
            result = QStringLiteral("ok");
        PQclear(r);
        PQfinish(conn);
        return result;
    }
    QString error;
    sqlite3* db = OpenDb(home, &error);
    if (!db)
        return error;
    sqlite3_stmt* st = nullptr;
    QStringList lines;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) != SQLITE_OK) {
        lines << QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            lines << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        if (rc != SQLITE_DONE)
            lines << QString::fromUtf8(sqlite3_errmsg(db));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return lines.join(u'\n');
}

namespace
{

// Every record of the BBS's PostgreSQL store in key order, read through the
// store in batches: whole records (`full`) or the FileRec part only.
bool WalkStore(const QString& home, bool full, const std::function<void(const FullFileRec&)>& fn,
               QString* error)
{
    std::string message;
    auto store = wcstore::OpenStore(QFile::encodeName(home).toStdString(),
                                    DatabaseOf(home).toStdString(), false, message);
    if (!store) {
        if (error)
            *error = QString::fromStdString(message);
        return false;
    }
    std::vector<FullFileRec> rows(1000);
    int32_t area = 0;
    std::string name;
    bool after = false;
    for (;;) {
        size_t count = 0;
        if (store->Seek(area, name.data(), name.size(), after, full, -1, rows.data(), rows.size(),
                        count) != wcstore::Rc::Ok) {
            if (error)
                *error = QString::fromStdString(store->Error());
            return false;
        }
        for (size_t i = 0; i < count; ++i)
            fn(rows[i]);
        if (count < rows.size())
            return true;
        const FileRec& last = rows[count - 1].Rec;
        area = last.Area;
        name.assign(last.Name, wcstore::FieldLength(last.Name, sizeof last.Name));
        after = true;
    }
}

} // namespace

QList<RecordRow> AllRecords(const QString& home, QString* error)
{
    QList<RecordRow> out;
    if (TestsOnPostgres()) {
        WalkStore(
            home, false,
            [&out](const FullFileRec& full) {
                const FileRec& r = full.Rec;
                out.append({r.Area, QString::fromLatin1(r.Name, qsizetype(wcstore::FieldLength(
                                                                    r.Name, sizeof r.Name)))});
            },
            error);
        return out;
    }
    sqlite3* db = OpenDb(home, error);
    if (!db)
        return out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT area, name FROM files ORDER BY area, name", -1, &st,
                           nullptr) == SQLITE_OK) {
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            out.append({sqlite3_column_int(st, 0), QString::fromUtf8(reinterpret_cast<const char*>(
                                                       sqlite3_column_text(st, 1)))});
        if (rc != SQLITE_DONE && error)
            *error = QString::fromUtf8(sqlite3_errmsg(db));
    } else if (error) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

QStringList RecordNamesIn(const Sandbox& box, int area)
{
    QStringList out;
    for (const RecordRow& r : AllRecords(box.home()))
        if (r.area == area)
            out << r.name;
    return out;
}

void ForEachFullRecord(const QString& home, const std::function<void(const FullFileRec&)>& fn,
                       QString* error)
{
    if (TestsOnPostgres()) {
        WalkStore(home, true, fn, error);
        return;
    }
    sqlite3* db = OpenDb(home, error);
    if (!db)
        return;
    const std::string sql =
        std::string("SELECT ") + wcstore::kFileColumns + " FROM files ORDER BY area, name";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            FullFileRec full;
            wcstore::ReadFullRec(st, full);
            fn(full);
        }
        if (rc != SQLITE_DONE && error)
            *error = QString::fromUtf8(sqlite3_errmsg(db));
    } else if (error) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
}

QMap<QString, QByteArray> RecordImages(const QString& home, QMap<QString, int>* areaOf,
                                       QString* error)
{
    QMap<QString, QByteArray> out;
    // A name twice (in two areas) keeps the first; CheckBbs reports the
    // duplicate from the plain rows.
    ForEachFullRecord(
        home,
        [&out, areaOf](const FullFileRec& full) {
            const QString name =
                QString::fromLatin1(full.Rec.Name,
                                    int(wcstore::FieldLength(full.Rec.Name, sizeof full.Rec.Name)))
                    .toUpper();
            if (!out.contains(name)) {
                out.insert(name, QByteArray(reinterpret_cast<const char*>(&full), sizeof full));
                if (areaOf)
                    areaOf->insert(name, full.Rec.Area);
            }
        },
        error);
    return out;
}

bool TakeImages(const QString& home, Layout& layout)
{
    QString error;
    const QMap<QString, QByteArray> all = RecordImages(home, nullptr, &error);
    if (!error.isEmpty())
        return false;
    layout.images.clear();
    for (auto it = layout.contents.cbegin(); it != layout.contents.cend(); ++it) {
        if (!all.contains(it.key()))
            return false;
        layout.images.insert(it.key(), all.value(it.key()));
    }
    return true;
}

void Expect::allow(const QStringList& names, Fields fields)
{
    for (const QString& n : names)
        mayChange[n.toUpper()] |= fields;
}

void Expect::allowMove(const QStringList& names, int target)
{
    for (const QString& n : names)
        mayMoveTo[n.toUpper()].insert(target);
}

namespace
{

// Collects the allowed leftovers of one kind for the run's notes.
struct NoteBook {
    QMap<QString, QStringList> kinds;
    void add(const QString& kind, const QString& what) { kinds[kind] << what; }
    QStringList lines() const
    {
        QStringList out;
        for (auto it = kinds.cbegin(); it != kinds.cend(); ++it)
            out << QStringLiteral("%1: %2 (%3%4)")
                       .arg(it.key())
                       .arg(it.value().size())
                       .arg(it.value().mid(0, 3).join(QStringLiteral(", ")))
                       .arg(it.value().size() > 3 ? QStringLiteral(", ...") : QString());
        return out;
    }
};

// Regular files directly in an area folder (what the library can name).
QMap<QString, QString> FilesIn(const QString& folder)
{
    QMap<QString, QString> out; // upper-case name -> name on disk
    const QFileInfoList list =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& f : list)
        out.insert(f.fileName().toUpper(), f.fileName());
    return out;
}

QString Bytes(const QByteArray& got, const QByteArray& want)
{
    return QStringLiteral("%1 of %2 bytes").arg(got.size()).arg(want.size());
}

} // namespace

QStringList CheckBbs(const Sandbox& box, const Layout& layout, const Expect& expect,
                     QStringList* notes)
{
    QStringList problems;
    NoteBook book;
    const QString integrity = IntegrityCheck(box.home());
    if (integrity != QLatin1String("ok"))
        problems << QStringLiteral("integrity: ") + integrity;
    QString error;
    const QList<RecordRow> rows = AllRecords(box.home(), &error);
    if (!error.isEmpty())
        problems << QStringLiteral("records: ") + error;
    QString imageError;
    const QMap<QString, QByteArray> images = RecordImages(box.home(), nullptr, &imageError);
    if (!imageError.isEmpty())
        problems << QStringLiteral("record images: ") + imageError;

    // Area folders of the BBS, by number, and what each holds.
    const std::string h = QFile::encodeName(box.home()).toStdString();
    std::vector<wcadmin::AreaInfo> areas;
    wcadmin::ListAreas(h, areas);
    QMap<int, QString> folders;
    QMap<int, QMap<QString, QString>> onDisk;
    for (const wcadmin::AreaInfo& a : areas) {
        folders.insert(a.number, QString::fromStdString(wcadmin::AreaFolder(h, a.number)));
        onDisk.insert(a.number, FilesIn(folders.value(a.number)));
    }
    auto read = [&](int area, const QString& upper, bool* ok) {
        *ok = false;
        const QString disk = onDisk.value(area).value(upper);
        return disk.isEmpty() ? QByteArray() : ReadFile(folders.value(area) + u'/' + disk, ok);
    };

    // Areas may share a folder: a file there is recorded when any of them
    // has a record of it.
    QMap<int, QString> canonical;
    for (auto f = folders.cbegin(); f != folders.cend(); ++f) {
        const QString c = QFileInfo(f.value()).canonicalFilePath();
        canonical.insert(f.key(), c.isEmpty() ? f.value() : c);
    }
    QMap<QString, int> count;
    QSet<QPair<QString, QString>> recorded; // (folder, upper-case name) of every record
    for (const RecordRow& r : rows) {
        const QString key = r.name.toUpper();
        ++count[key];
        recorded.insert({canonical.value(r.area), key});
    }
    QSet<QString> seenFolders;
    for (const RecordRow& r : rows) {
        const QString key = r.name.toUpper();
        const bool known = layout.contents.contains(key);
        if (!known && !expect.mayAppear.contains(key)) {
            problems << QStringLiteral("unexpected record %1 in area %2").arg(r.name).arg(r.area);
            continue;
        }
        const QByteArray want = known ? layout.contents.value(key) : expect.mayAppear.value(key);

        // Where the record may be.
        const int home = known ? layout.area.value(key) : expect.appearIn.value(key, r.area);
        if (r.area != home && !expect.mayMoveTo.value(key).contains(r.area))
            problems << QStringLiteral("record %1 is in area %2, it may be in %3 only")
                            .arg(r.name)
                            .arg(r.area)
                            .arg(home);

        // Its bytes: only the fields the command may change differ.
        const QByteArray now = images.value(key);
        if (known && count.value(key) == 1) {
            Fields allowed = expect.mayChange.value(key);
            if (r.area != home)
                allowed |= FArea;
            const Fields changed = DifferingFields(layout.images.value(key), now) & ~allowed;
            if (changed)
                problems << QStringLiteral("record %1 (area %2): %3 changed")
                                .arg(r.name)
                                .arg(r.area)
                                .arg(FieldNames(changed));
        } else if (!known && count.value(key) == 1) {
            const QByteArray zero(int(sizeof(FullFileRec)), '\0');
            const Fields set = DifferingFields(zero, now) & ~expect.newRecordFields;
            if (set)
                problems << QStringLiteral("new record %1 (area %2): %3 not zero")
                                .arg(r.name)
                                .arg(r.area)
                                .arg(FieldNames(set));
            FullFileRec full;
            std::memcpy(&full, now.constData(), sizeof full);
            const bool unfreshened = expect.addedMayStayUnfreshened && full.Rec.Size == 0 &&
                                     full.Rec.FileTime.dwLowDateTime == 0 &&
                                     full.Rec.FileTime.dwHighDateTime == 0;
            if ((expect.newRecordFields & FSize) && full.Rec.Size != want.size() && !unfreshened)
                problems << QStringLiteral("new record %1 (area %2) has size %3, its file %4")
                                .arg(r.name)
                                .arg(r.area)
                                .arg(full.Rec.Size)
                                .arg(want.size());
        }

        // Its file: in its own area's folder, with its bytes.
        bool ok = false;
        const QByteArray bytes = read(r.area, key, &ok);
        if (ok && bytes == want)
            continue;
        if (ok) {
            problems << QStringLiteral("record %1 in area %2 names a damaged file (%3)")
                            .arg(r.name)
                            .arg(r.area)
                            .arg(Bytes(bytes, want));
            continue;
        }
        // Moved alone: the file stays whole in the area the record came from.
        bool left = false;
        const QByteArray there = read(home, key, &left);
        if (expect.recordMayMoveAlone && r.area != home && left && there == want) {
            book.add(QStringLiteral("records moved alone, their files stay in the area they came "
                                    "from"),
                     r.name);
            continue;
        }
        bool renamedAhead = false;
        for (const int to : expect.mayMoveTo.value(key)) {
            bool there = false;
            renamedAhead = expect.renamedMayLeadRecord && to != r.area &&
                           read(to, key, &there) == want && there;
            if (renamedAhead)
                break;
        }
        if (renamedAhead) {
            book.add(QStringLiteral("files renamed ahead of their record (a killed move)"), r.name);
            continue;
        }
        problems << QStringLiteral("the file of record %1 is not in area %2's folder")
                        .arg(r.name)
                        .arg(r.area);
    }
    for (auto it = count.cbegin(); it != count.cend(); ++it)
        if (it.value() > 1)
            problems << QStringLiteral("record %1 exists %2 times").arg(it.key()).arg(it.value());
    for (auto it = layout.contents.cbegin(); it != layout.contents.cend(); ++it)
        if (!count.contains(it.key()) && !expect.mayVanish.contains(it.key()))
            problems << QStringLiteral("record %1 was lost").arg(it.key());

    // Files in area folders that no record of that area names.
    for (auto a = onDisk.cbegin(); a != onDisk.cend(); ++a) {
        const QString folder = canonical.value(a.key());
        if (seenFolders.contains(folder))
            continue; // a shared folder is checked once, for its first area
        seenFolders.insert(folder);
        for (auto f = a.value().cbegin(); f != a.value().cend(); ++f) {
            const QString key = f.key();
            if (recorded.contains({folder, key}) || expect.ignoreFiles.contains(key))
                continue;
            bool ok = false;
            const QByteArray bytes = read(a.key(), key, &ok);
            const QString where = QStringLiteral("%1 in area %2").arg(f.value()).arg(a.key());
            const bool known = layout.contents.contains(key);
            const QByteArray want =
                known ? layout.contents.value(key) : expect.mayAppear.value(key);
            const bool appears =
                !known && expect.mayAppear.contains(key) &&
                (!expect.appearIn.contains(key) || expect.appearIn.value(key) == a.key());
            if (!ok) {
                problems << QStringLiteral("file %1 can't be read").arg(where);
            } else if (known && layout.area.value(key) == a.key()) {
                // The record's own first file: a move copies, it never removes.
                if (expect.mayMoveTo.contains(key) && bytes == want)
                    book.add(QStringLiteral("source files that stay after a move"), where);
                else if (expect.mayVanish.contains(key) && expect.deleteMayKeepFile &&
                         bytes == want)
                    book.add(QStringLiteral("files of deleted records kept"), where);
                else
                    problems << QStringLiteral("file %1 has no record (%2)")
                                    .arg(where)
                                    .arg(Bytes(bytes, want));
            } else if ((known && expect.mayMoveTo.value(key).contains(a.key())) || appears) {
                // A copy into a move's target (or a drop) whose record did
                // not follow: whole when the record update was refused,
                // the bytes written so far when the copy failed.
                if (!expect.copiesMayStay)
                    problems << QStringLiteral("copy %1 has no record").arg(where);
                else if (bytes == want)
                    book.add(QStringLiteral("whole copies without a record (record not stored)"),
                             where);
                else if (bytes.size() < want.size() && want.startsWith(bytes))
                    book.add(QStringLiteral("partial copies left by a failed copy"),
                             QStringLiteral("%1 (%2)").arg(where, Bytes(bytes, want)));
                else
                    problems << QStringLiteral("copy %1 without a record is damaged (%2)")
                                    .arg(where)
                                    .arg(Bytes(bytes, want));
            } else {
                problems << QStringLiteral("file %1 has no record (%2 bytes)")
                                .arg(where)
                                .arg(bytes.size());
            }
        }
    }
    if (notes)
        *notes << book.lines();
    return problems;
}

// ---- answers -----------------------------------------------------------------

AnswerHook::AnswerHook(DialogAnswer withAll) : m_withAll(withAll)
{
    m_previous =
        SetMessageHook([this](MessageKind, const QString& text, const QStringList& buttons) {
            texts << text;
            if (decide) {
                const DialogAnswer a = decide(text);
                if (a != DialogAnswer::Closed)
                    return a;
            }
            if (buttons.size() <= 1)
                return DialogAnswer::Ok;
            if (buttons.contains(QStringLiteral("&All")))
                return m_withAll;
            return DialogAnswer::Yes;
        });
}

AnswerHook::~AnswerHook()
{
    SetMessageHook(m_previous);
}

// ---- watchdog ----------------------------------------------------------------

Watchdog::Watchdog(const QString& label, int seconds)
{
    const QByteArray text = label.toLocal8Bit();
    m_thread = std::thread([this, text, seconds]() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; })) {
            std::fprintf(stderr, "HANG: %s did not end within %d s\n", text.constData(), seconds);
            std::fflush(stderr);
            std::abort();
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

qint64 WallMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int HangSeconds()
{
#if defined(__SANITIZE_ADDRESS__)
    return 120;
#else
    return 40;
#endif
}

void PrintFigures(const QString& title, const QList<Figure>& figures)
{
    QString text =
        QStringLiteral("\n%1\n| what | runs | failures | note |\n|---|---|---|---|\n").arg(title);
    for (const Figure& f : figures)
        text += QStringLiteral("| %1 | %2 | %3 | %4 |\n")
                    .arg(f.what)
                    .arg(f.runs)
                    .arg(f.failures)
                    .arg(f.note);
    std::fprintf(stdout, "%s", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace hard
