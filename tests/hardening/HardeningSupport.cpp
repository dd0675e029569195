#include "HardeningSupport.h"

#include "config/Settings.h"
#include "platform/wcsrv/WcAdmin.h"

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
#include <cstdio>
#include <cstdlib>
#include <filesystem>

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

Sandbox::~Sandbox()
{
    leave();
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

QList<RecordRow> AllRecords(const QString& home, QString* error)
{
    QList<RecordRow> out;
    if (TestsOnPostgres()) {
        std::string message;
        auto store = wcstore::OpenStore(QFile::encodeName(home).toStdString(),
                                        DatabaseOf(home).toStdString(), false, message);
        if (!store) {
            if (error)
                *error = QString::fromStdString(message);
            return out;
        }
        std::vector<FullFileRec> rows(1000);
        int32_t area = 0;
        std::string name;
        bool after = false;
        for (;;) {
            size_t count = 0;
            if (store->Seek(area, name.data(), name.size(), after, false, -1, rows.data(),
                            rows.size(), count) != wcstore::Rc::Ok) {
                if (error)
                    *error = QString::fromStdString(store->Error());
                return out;
            }
            for (size_t i = 0; i < count; ++i) {
                const FileRec& r = rows[i].Rec;
                out.append({r.Area, QString::fromLatin1(r.Name, qsizetype(wcstore::FieldLength(
                                                                    r.Name, sizeof r.Name)))});
            }
            if (count < rows.size())
                return out;
            area = rows[count - 1].Rec.Area;
            name.assign(
                rows[count - 1].Rec.Name,
                wcstore::FieldLength(rows[count - 1].Rec.Name, sizeof rows[count - 1].Rec.Name));
            after = true;
        }
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

QStringList CheckBbs(const Sandbox& box, const Layout& layout, const Expect& expect)
{
    QStringList problems;
    const QString integrity = IntegrityCheck(box.home());
    if (integrity != QLatin1String("ok"))
        problems << QStringLiteral("integrity: ") + integrity;
    QString error;
    const QList<RecordRow> rows = AllRecords(box.home(), &error);
    if (!error.isEmpty())
        problems << QStringLiteral("records: ") + error;

    // Area folders of the BBS, by number.
    const std::string h = QFile::encodeName(box.home()).toStdString();
    std::vector<wcadmin::AreaInfo> areas;
    wcadmin::ListAreas(h, areas);
    QMap<int, QString> folders;
    for (const wcadmin::AreaInfo& a : areas)
        folders.insert(a.number, QString::fromStdString(wcadmin::AreaFolder(h, a.number)));

    QMap<QString, int> count;
    for (const RecordRow& r : rows) {
        const QString key = r.name.toUpper();
        ++count[key];
        const bool known = layout.contents.contains(key);
        if (!known && !expect.mayAppear.contains(key)) {
            problems << QStringLiteral("unexpected record %1 in area %2").arg(r.name).arg(r.area);
            continue;
        }
        const QByteArray want = known ? layout.contents.value(key) : expect.mayAppear.value(key);
        bool intact = false;
        for (auto f = folders.cbegin(); f != folders.cend(); ++f) {
            bool ok = false;
            const QByteArray bytes = ReadFile(f.value() + u'/' + r.name, &ok);
            if (ok && bytes == want)
                intact = true;
            if (ok && f.key() == r.area && bytes != want && expect.strictOwnFolder)
                problems << QStringLiteral("record %1 in area %2 names a damaged file (%3 of %4 "
                                           "bytes)")
                                .arg(r.name)
                                .arg(r.area)
                                .arg(bytes.size())
                                .arg(want.size());
        }
        if (!intact)
            problems << QStringLiteral("the file of record %1 (area %2) is gone")
                            .arg(r.name)
                            .arg(r.area);
    }
    for (auto it = count.cbegin(); it != count.cend(); ++it)
        if (it.value() > 1)
            problems << QStringLiteral("record %1 exists %2 times").arg(it.key()).arg(it.value());
    for (auto it = layout.contents.cbegin(); it != layout.contents.cend(); ++it)
        if (!count.contains(it.key()) && !expect.mayVanish.contains(it.key()))
            problems << QStringLiteral("record %1 was lost").arg(it.key());
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
