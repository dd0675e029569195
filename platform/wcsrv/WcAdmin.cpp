#include "WcAdmin.h"

#include "WcAdminInternal.h"

#include <sys/stat.h>
#include <zip.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

namespace wcadmin
{

namespace detail
{

Db::~Db()
{
    sqlite3_close(m_db);
}

std::string Db::open(const std::string& home, bool create)
{
    std::string error;
    m_db = wcstore::OpenDatabase(home, create, error);
    return m_db ? std::string() : error;
}

std::string Db::error() const
{
    return m_db ? sqlite3_errmsg(m_db) : "no database";
}

bool Db::exec(const char* sql)
{
    return wcstore::Exec(m_db, sql);
}

Stmt::Stmt(sqlite3* db, const char* sql)
{
    if (sqlite3_prepare_v2(db, sql, -1, &m_st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_st);
        m_st = nullptr;
    }
}

Stmt::~Stmt()
{
    sqlite3_finalize(m_st);
}

bool MakeFolders(const std::string& path)
{
    std::string at;
    size_t i = 0;
    while (i <= path.size()) {
        const size_t slash = path.find('/', i);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        at = path.substr(0, end);
        if (!at.empty() && ::mkdir(at.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
        i = slash + 1;
    }
    struct stat sb {
    };
    return ::stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

std::string DefaultAreaFolder(int number)
{
    return "areas/" + std::to_string(number);
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (char ch : text) {
        if (ch == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (ch != '\r' && ch != 0x1a) { // CR of CR LF, DOS end-of-file mark
            line += ch;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

void SetField(char* field, size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

void ApplyDiz(FullFileRec& rec, const std::vector<std::string>& lines)
{
    if (lines.empty())
        return;
    SetField(rec.Rec.Description, sizeof rec.Rec.Description, lines[0]);
    bool any = false;
    for (size_t i = 0; i < lines.size() && i < size_t(LongDescLines); ++i) {
        SetField(rec.LongDescription[i], LongDescLineSize, lines[i]);
        any = any || !lines[i].empty();
    }
    rec.Rec.HasLongDescription = any ? 1 : 0;
}

bool ReadDizFromZip(const std::string& zipPath, std::string& text)
{
    int error = 0;
    zip_t* archive = zip_open(zipPath.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return false;
    bool found = false;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count && !found; ++i) {
        const char* name = zip_get_name(archive, zip_uint64_t(i), 0);
        if (!name)
            continue;
        const char* last = name;
        for (const char* p = name; *p; ++p)
            if (*p == '/' || *p == '\\')
                last = p + 1;
        if (!wcstore::EqualNoCase(last, std::strlen(last), "FILE_ID.DIZ", 11))
            continue;
        zip_file_t* member = zip_fopen_index(archive, zip_uint64_t(i), 0);
        if (!member)
            break;
        char buffer[4096];
        zip_int64_t n;
        text.clear();
        // A description file is small; more than 64 KiB is not read.
        while ((n = zip_fread(member, buffer, sizeof buffer)) > 0 && text.size() < 65536)
            text.append(buffer, size_t(n));
        zip_fclose(member);
        found = n >= 0 || !text.empty();
    }
    zip_discard(archive);
    return found;
}

} // namespace detail

using namespace detail;

std::string DefaultHome()
{
    return wcstore::DefaultHome();
}

uint64_t LocalFileTime(int64_t unixSeconds, long nanoseconds)
{
    const time_t t = time_t(unixSeconds);
    struct tm local {
    };
    localtime_r(&t, &local);
    return wcstore::UnixToFileTime(unixSeconds + local.tm_gmtoff, nanoseconds);
}

Result CreateBbs(const std::string& home, const std::string& sysopName)
{
    if (home.empty())
        return "no home folder given";
    if (sysopName.size() > 71)
        return "the sysop name is longer than 71 characters";
    struct stat sb {
    };
    if (::stat(wcstore::DatabasePath(home).c_str(), &sb) == 0)
        return home + " already holds a BBS";
    if (!MakeFolders(home))
        return "cannot create the folder " + home + ": " + std::strerror(errno);
    Db db;
    if (Result e = db.open(home, true); !e.empty())
        return e;
    Stmt st(db.get(), "INSERT INTO bbs(id, sysop) VALUES(1, ?1)");
    if (!st)
        return db.error();
    sqlite3_bind_text(st.get(), 1, sysopName.data(), int(sysopName.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st.get()) != SQLITE_DONE)
        return "cannot create the BBS: " + db.error();
    if (!MakeFolders(home + "/areas"))
        return "cannot create the folder " + home + "/areas";
    return {};
}

Result AddArea(const std::string& home, int number, const std::string& name,
               const std::string& folder)
{
    if (number < 1)
        return "the area number must be 1 or more";
    if (name.empty() || name.size() > 75)
        return "the area name must have 1 to 75 characters";
    Db db;
    if (Result e = db.open(home, false); !e.empty())
        return e;
    const std::string stored = folder.empty() ? DefaultAreaFolder(number) : folder;
    const std::string absolute = wcstore::ResolveFolder(home, stored);
    if (!MakeFolders(absolute))
        return "cannot create the folder " + absolute;
    Stmt st(db.get(), "INSERT INTO areas(number, name, folder) VALUES(?1, ?2, ?3)");
    if (!st)
        return db.error();
    sqlite3_bind_int(st.get(), 1, number);
    sqlite3_bind_text(st.get(), 2, name.data(), int(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st.get(), 3, stored.data(), int(stored.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st.get());
    if (rc == SQLITE_CONSTRAINT)
        return "area " + std::to_string(number) + " already exists";
    if (rc != SQLITE_DONE)
        return "cannot add the area: " + db.error();
    return {};
}

Result AddUser(const std::string& home, const std::string& name)
{
    if (name.empty() || name.size() > 71)
        return "the user name must have 1 to 71 characters";
    Db db;
    if (Result e = db.open(home, false); !e.empty())
        return e;
    Stmt st(db.get(), "INSERT INTO users(name) VALUES(?1)");
    if (!st)
        return db.error();
    sqlite3_bind_text(st.get(), 1, name.data(), int(name.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st.get());
    if (rc == SQLITE_CONSTRAINT)
        return "the user " + name + " already exists";
    if (rc != SQLITE_DONE)
        return "cannot add the user: " + db.error();
    return {};
}

Result ListAreas(const std::string& home, std::vector<AreaInfo>& out)
{
    out.clear();
    Db db;
    if (Result e = db.open(home, false); !e.empty())
        return e;
    Stmt st(db.get(), "SELECT number, name, folder FROM areas ORDER BY number");
    if (!st)
        return db.error();
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        AreaInfo a;
        a.number = sqlite3_column_int(st.get(), 0);
        a.name = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1));
        a.folder = wcstore::ResolveFolder(
            home, reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 2)));
        out.push_back(std::move(a));
    }
    return rc == SQLITE_DONE ? Result() : "cannot read the areas: " + db.error();
}

std::string AreaFolder(const std::string& home, int area)
{
    Db db;
    if (db.open(home, false).empty()) {
        Stmt st(db.get(), "SELECT folder FROM areas WHERE number = ?1");
        if (st) {
            sqlite3_bind_int(st.get(), 1, area);
            if (sqlite3_step(st.get()) == SQLITE_ROW)
                return wcstore::ResolveFolder(
                    home, reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0)));
        }
    }
    return wcstore::ResolveFolder(home, DefaultAreaFolder(area));
}

Result ListFiles(const std::string& home, int area, std::vector<FileInfo>& out)
{
    out.clear();
    Db db;
    if (Result e = db.open(home, false); !e.empty())
        return e;
    const std::string sql = std::string("SELECT ") + wcstore::kFileColumns +
                            " FROM files WHERE area = ?1 ORDER BY area, name";
    Stmt st(db.get(), sql.c_str());
    if (!st)
        return db.error();
    sqlite3_bind_int(st.get(), 1, area);
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        FileRec r;
        wcstore::ReadFileRec(st.get(), r);
        FileInfo f;
        f.name.assign(r.Name, wcstore::FieldLength(r.Name, sizeof r.Name));
        f.size = r.Size;
        f.fileTime = FileTimeValue(r.FileTime);
        f.description.assign(r.Description,
                             wcstore::FieldLength(r.Description, sizeof r.Description));
        out.push_back(std::move(f));
    }
    return rc == SQLITE_DONE ? Result() : "cannot read the records: " + db.error();
}

namespace
{

bool CopyFile(const std::string& from, const std::string& to, std::string& error)
{
    std::ifstream in(from, std::ios::binary);
    if (!in) {
        error = "cannot read " + from;
        return false;
    }
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot write " + to;
        return false;
    }
    // (`out << in.rdbuf()` would flag an empty file as a failed write.)
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        out.write(buffer, in.gcount());
    out.flush();
    if (!out) {
        error = "cannot write " + to;
        return false;
    }
    return true;
}

} // namespace

Result ImportFile(const std::string& home, int area, const std::string& path)
{
    struct stat sb {
    };
    if (::stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode))
        return path + ": no such file";
    if (sb.st_size > INT32_MAX)
        return path + ": the file is too large for a file record";
    std::string name = path.substr(path.rfind('/') + 1);
    for (char& ch : name)
        if (ch >= 'a' && ch <= 'z')
            ch = char(ch - 32);
    if (!wcstore::IsSafeFileName(name.data(), name.size()))
        return path + ": the file name must have 1 to 15 characters and no path parts";

    Db db;
    if (Result e = db.open(home, false); !e.empty())
        return e;
    std::string folder;
    {
        Stmt st(db.get(), "SELECT folder FROM areas WHERE number = ?1");
        if (!st)
            return db.error();
        sqlite3_bind_int(st.get(), 1, area);
        if (sqlite3_step(st.get()) != SQLITE_ROW)
            return "there is no area " + std::to_string(area);
        folder = wcstore::ResolveFolder(
            home, reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0)));
    }

    FullFileRec rec{};
    rec.Rec.Area = area;
    SetField(rec.Rec.Name, sizeof rec.Rec.Name, name);
    rec.Rec.Size = int32_t(sb.st_size);
    rec.Rec.FileTime = MakeFileTime(LocalFileTime(sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec));
    rec.Rec.LastAccessed = rec.Rec.FileTime;
    std::string diz;
    if (ReadDizFromZip(path, diz))
        ApplyDiz(rec, SplitLines(diz));

    if (!db.exec("BEGIN IMMEDIATE"))
        return "the database is busy: " + db.error();
    Stmt insert(db.get(), wcstore::kInsertFileSql);
    if (!insert) {
        db.exec("ROLLBACK");
        return db.error();
    }
    wcstore::BindFullRec(insert.get(), rec);
    const int rc = sqlite3_step(insert.get());
    if (rc != SQLITE_DONE) {
        const std::string e = rc == SQLITE_CONSTRAINT
                                  ? "area " + std::to_string(area) + " already has a file " + name
                                  : "cannot add the record: " + db.error();
        db.exec("ROLLBACK");
        return e;
    }
    // The record is committed only when the file is in place.
    const std::string target = wcstore::FindInFolder(folder, name, nullptr);
    std::string error;
    if (!CopyFile(path, target, error)) {
        db.exec("ROLLBACK");
        return error;
    }
    const struct timespec times[2] = {sb.st_atim, sb.st_mtim};
    ::utimensat(AT_FDCWD, target.c_str(), times, 0);
    if (!db.exec("COMMIT")) {
        db.exec("ROLLBACK");
        return "cannot add the record: " + db.error();
    }
    return {};
}

} // namespace wcadmin
