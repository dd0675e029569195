#include "WcAdmin.h"

#include "WcAdminInternal.h"

#include <sys/stat.h>
#include <zip.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

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

namespace
{

// Checks that UTF-8 `text` holds only characters that Latin-1 record text
// can keep (the library converts between the two), at most `limit` of them.
// Empty when it does, else the message.
Result CheckLatin1(const std::string& text, const char* what, size_t limit)
{
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++count) {
        const auto c = static_cast<unsigned char>(text[i]);
        uint32_t code = c;
        size_t extra = 0;
        if (c >= 0xF0 && c <= 0xF4)
            code = c & 0x07, extra = 3;
        else if (c >= 0xE0 && c <= 0xEF)
            code = c & 0x0F, extra = 2;
        else if (c >= 0xC2 && c <= 0xDF)
            code = c & 0x1F, extra = 1;
        else if (c >= 0x80)
            return std::string(what) + " is not UTF-8 text";
        if (i + extra >= text.size() + (extra ? 0 : 1))
            return std::string(what) + " is not UTF-8 text";
        for (size_t k = 1; k <= extra; ++k) {
            const auto n = static_cast<unsigned char>(text[i + k]);
            if ((n & 0xC0) != 0x80)
                return std::string(what) + " is not UTF-8 text";
            code = (code << 6) | (n & 0x3F);
        }
        if (code > 0xFF) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "U+%04X", unsigned(code));
            return std::string(what) + " \"" + text + "\" holds " + text.substr(i, extra + 1) +
                   " (" + hex +
                   "), which is not a Latin-1 character: records keep Latin-1 text only";
        }
        i += extra + 1;
    }
    if (count == 0 || count > limit)
        return std::string(what) + " must have 1 to " + std::to_string(limit) + " characters";
    return {};
}

} // namespace

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
    if (sysopName.empty())
        return "the sysop name must have 1 to 71 characters";
    if (Result e = CheckLatin1(sysopName, "the sysop name", 71); !e.empty())
        return e;
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
    if (Result e = CheckLatin1(name, "the area name", 75); !e.empty())
        return e;
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
    // A name Latin-1 cannot hold would come back from the library with '?'
    // in it: refused here, so every user keeps the name it was given.
    if (Result e = CheckLatin1(name, "the user name", 71); !e.empty())
        return e;
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

bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

// Copies the open source `in` to `to`, created anew. Every read and write
// error is reported; a partial copy is removed.
bool CopyFile(int in, const std::string& from, const std::string& to, std::string& error)
{
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        error = "cannot write " + to + ": " + std::strerror(errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + from + ": " + std::strerror(errno);
            break;
        }
        if (n == 0) {
            if (::close(out) != 0) {
                error = "cannot write " + to + ": " + std::strerror(errno);
                ::unlink(to.c_str());
                return false;
            }
            return true;
        }
        if (!WriteAll(out, buffer, size_t(n))) {
            error = "cannot write " + to + ": " + std::strerror(errno);
            break;
        }
    }
    ::close(out);
    ::unlink(to.c_str());
    return false;
}

// Reads the whole file to check that it can be read (a file that already
// lies in the area's folder is not copied).
bool ReadThrough(int in, const std::string& from, std::string& error)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + from + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
    }
}

// An open descriptor, closed on destruction.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

Result ImportFile(const std::string& home, int area, const std::string& path)
{
    // Opened without blocking (a FIFO would wait for a writer); only a
    // regular file is imported.
    Fd source;
    source.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat sb {
    };
    if (source.fd < 0 || ::fstat(source.fd, &sb) != 0 || !S_ISREG(sb.st_mode))
        return path + ": no such file";
    (void)::fcntl(source.fd, F_SETFL, ::fcntl(source.fd, F_GETFL) & ~O_NONBLOCK);
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
    // The record is committed only when the file is in place. A file that
    // already lies in the area's folder (under any letter case) is that
    // file: it gets its record and keeps its bytes; copying it onto itself
    // would empty it.
    bool exists = false;
    const std::string target = wcstore::FindInFolder(folder, name, &exists);
    struct stat tb {
    };
    const bool inPlace = exists && ::stat(target.c_str(), &tb) == 0 && tb.st_dev == sb.st_dev &&
                         tb.st_ino == sb.st_ino;
    std::string error;
    if (inPlace ? !ReadThrough(source.fd, path, error)
                : !CopyFile(source.fd, path, target, error)) {
        db.exec("ROLLBACK");
        return error;
    }
    if (!inPlace) {
        const struct timespec times[2] = {sb.st_atim, sb.st_mtim};
        ::utimensat(AT_FDCWD, target.c_str(), times, 0);
    }
    if (!db.exec("COMMIT")) {
        db.exec("ROLLBACK");
        return "cannot add the record: " + db.error();
    }
    return {};
}

} // namespace wcadmin
