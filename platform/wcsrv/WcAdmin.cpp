#include "WcAdmin.h"

#include "WcAdminInternal.h"
#include "WcJournalStore.h"
#include "server/DiskNames.h"

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

namespace
{
bool gDatabaseSet = false;
std::string gDatabase;
} // namespace

std::unique_ptr<wcstore::Store> OpenStore(const std::string& home, bool create, std::string& error)
{
    return wcstore::OpenStore(home, Database(), create, error);
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

bool ReadDizFromZip(int fd, std::string& text)
{
    // The file already checked and open is the one read: a path opened
    // again could name another file by now (a FIFO, which would block).
    const int copy = ::dup(fd);
    if (copy < 0)
        return false;
    int error = 0;
    zip_t* archive = zip_fdopen(copy, 0, &error);
    if (!archive) {
        ::close(copy);
        ::lseek(fd, 0, SEEK_SET); // the copy shares the file position
        return false;
    }
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
    ::lseek(fd, 0, SEEK_SET);
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

std::string Database()
{
    return detail::gDatabaseSet ? detail::gDatabase : wcstore::DatabaseSetting();
}

void UseDatabase(const std::string& setting)
{
    detail::gDatabaseSet = true;
    detail::gDatabase = setting;
}

Result CreateBbs(const std::string& home, const std::string& sysopName)
{
    if (home.empty())
        return "no home folder given";
    if (sysopName.empty())
        return "the sysop name must have 1 to 71 characters";
    if (Result e = CheckLatin1(sysopName, "the sysop name", 71); !e.empty())
        return e;
    const std::string database = Database();
    if (wcstore::StoreExists(home, database))
        return (wcstore::IsPostgresSetting(database) ? "the database " + database : home) +
               " already holds a BBS";
    if (!MakeFolders(home))
        return "cannot create the folder " + home + ": " + std::strerror(errno);
    std::string error;
    auto store = OpenStore(home, true, error);
    if (!store)
        return error;
    if (store->PutBbs(sysopName, std::string()) != wcstore::Rc::Ok)
        return "cannot create the BBS: " + store->Error();
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
    std::string error;
    auto store = OpenStore(home, false, error);
    if (!store)
        return error;
    const std::string stored = folder.empty() ? DefaultAreaFolder(number) : folder;
    const std::string absolute = wcstore::ResolveFolder(home, stored);
    if (!MakeFolders(absolute))
        return "cannot create the folder " + absolute;
    const wcstore::Rc rc = store->AddArea({number, name, stored});
    if (rc == wcstore::Rc::Duplicate)
        return "area " + std::to_string(number) + " already exists";
    if (rc != wcstore::Rc::Ok)
        return "cannot add the area: " + store->Error();
    return {};
}

Result AddUser(const std::string& home, const std::string& name)
{
    // A name Latin-1 cannot hold would come back from the library with '?'
    // in it: refused here, so every user keeps the name it was given.
    if (Result e = CheckLatin1(name, "the user name", 71); !e.empty())
        return e;
    std::string error;
    auto store = OpenStore(home, false, error);
    if (!store)
        return error;
    const wcstore::Rc rc = store->AddUser(name);
    if (rc == wcstore::Rc::Duplicate)
        return "the user " + name + " already exists";
    if (rc != wcstore::Rc::Ok)
        return "cannot add the user: " + store->Error();
    return {};
}

Result ListAreas(const std::string& home, std::vector<AreaInfo>& out)
{
    out.clear();
    std::string error;
    auto store = OpenStore(home, false, error);
    if (!store)
        return error;
    std::vector<wcstore::AreaRow> rows;
    if (store->ListAreas(rows) != wcstore::Rc::Ok)
        return "cannot read the areas: " + store->Error();
    for (const wcstore::AreaRow& r : rows)
        out.push_back({r.number, r.name, wcstore::ResolveFolder(home, r.folder)});
    return {};
}

std::string AreaFolder(const std::string& home, int area)
{
    std::string error;
    if (auto store = OpenStore(home, false, error)) {
        wcstore::AreaRow row;
        if (store->GetArea(area, &row) == wcstore::Rc::Ok)
            return wcstore::ResolveFolder(home, row.folder);
    }
    return wcstore::ResolveFolder(home, DefaultAreaFolder(area));
}

Result ListFiles(const std::string& home, int area, std::vector<FileInfo>& out)
{
    out.clear();
    std::string error;
    auto store = OpenStore(home, false, error);
    if (!store)
        return error;
    std::vector<FullFileRec> rows(store->WalkBatch());
    std::string from;
    bool after = false;
    for (;;) {
        size_t count = 0;
        if (store->Seek(area, from.data(), from.size(), after, false, area, rows.data(),
                        rows.size(), count) != wcstore::Rc::Ok)
            return "cannot read the records: " + store->Error();
        size_t i = 0;
        for (; i < count && rows[i].Rec.Area == area; ++i) {
            const FileRec& r = rows[i].Rec;
            FileInfo f;
            f.name.assign(r.Name, wcstore::FieldLength(r.Name, sizeof r.Name));
            f.size = r.Size;
            f.fileTime = FileTimeValue(r.FileTime);
            f.description.assign(r.Description,
                                 wcstore::FieldLength(r.Description, sizeof r.Description));
            out.push_back(std::move(f));
        }
        if (i < count || count < rows.size())
            return {};
        const FileRec& last = rows[count - 1].Rec;
        from.assign(last.Name, wcstore::FieldLength(last.Name, sizeof last.Name));
        after = true;
    }
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
    // A link at the target's name is not written through (it may point
    // anywhere): the copy fails instead.
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
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

bool IsLink(const std::string& path)
{
    struct stat sb {
    };
    return ::lstat(path.c_str(), &sb) == 0 && S_ISLNK(sb.st_mode);
}

// The folder that holds the path's last part.
std::string ParentOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// True when both name the same folder, however each is reached.
bool SameFolder(const std::string& a, const std::string& b)
{
    struct stat x {
    }, y{};
    return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
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
    if (sb.st_size > kMaxRecordFileSize)
        return path + ": the file is too large for a file record";
    // The record name is the file name's bytes, ASCII letters in upper case.
    const std::string name = disknames::RecordNameOfDiskName(path.substr(path.rfind('/') + 1));
    switch (disknames::ProblemOfFileName(name)) {
    case disknames::NameProblem::None:
        break;
    case disknames::NameProblem::TooLong:
        return path + ": the file name is too long (more than 15 bytes)";
    case disknames::NameProblem::ControlByte:
        return path + ": the file name holds a control character";
    case disknames::NameProblem::Separator:
        return path + ": the file name holds a backslash";
    case disknames::NameProblem::Empty:
    case disknames::NameProblem::FolderName:
        return path + ": not a file name";
    }

    std::string openError;
    auto store = OpenStore(home, false, openError);
    if (!store)
        return openError;
    std::string folder;
    {
        wcstore::AreaRow row;
        const wcstore::Rc rc = store->GetArea(area, &row);
        if (rc == wcstore::Rc::NotFound)
            return "there is no area " + std::to_string(area);
        if (rc != wcstore::Rc::Ok)
            return store->Error();
        folder = wcstore::ResolveFolder(home, row.folder);
    }
    // A link that lies in an area's folder may point at any file this
    // account can read: it gets no record (a link from elsewhere is copied
    // by its target's bytes, as any copy reads it).
    if (IsLink(path)) {
        std::vector<wcstore::AreaRow> areas;
        if (store->ListAreas(areas) != wcstore::Rc::Ok)
            return store->Error();
        for (const wcstore::AreaRow& a : areas)
            if (SameFolder(ParentOf(path), wcstore::ResolveFolder(home, a.folder)))
                return path + ": a link in the folder of area " + std::to_string(a.number);
    }

    FullFileRec rec{};
    rec.Rec.Area = area;
    SetField(rec.Rec.Name, sizeof rec.Rec.Name, name);
    rec.Rec.Size = int32_t(sb.st_size);
    rec.Rec.FileTime = MakeFileTime(LocalFileTime(sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec));
    rec.Rec.LastAccessed = rec.Rec.FileTime;
    std::string diz;
    if (ReadDizFromZip(source.fd, diz))
        ApplyDiz(rec, SplitLines(diz));

    if (!store->Begin())
        return "the database is busy: " + store->Error();
    const wcstore::Rc rc = store->Insert(rec);
    if (rc != wcstore::Rc::Ok) {
        const std::string e = rc == wcstore::Rc::Duplicate
                                  ? "area " + std::to_string(area) + " already has a file " + name
                                  : "cannot add the record: " + store->Error();
        store->Rollback();
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
    // The entry the record would name is a link (to the file given): it may
    // point at any file this account can read, so it gets no record.
    if (inPlace && IsLink(target)) {
        store->Rollback();
        return path + ": the area's folder holds it through a link " + target;
    }
    std::string error;
    if (inPlace ? !ReadThrough(source.fd, path, error)
                : !CopyFile(source.fd, path, target, error)) {
        store->Rollback();
        return error;
    }
    if (!inPlace) {
        const struct timespec times[2] = {sb.st_atim, sb.st_mtim};
        ::utimensat(AT_FDCWD, target.c_str(), times, 0);
    }
    if (!store->Commit()) {
        store->Rollback();
        return "cannot add the record: " + store->Error();
    }
    return {};
}

Result CopyStore(const std::string& home, const std::string& from, const std::string& to)
{
    if (wcstore::IsPostgresSetting(from) == wcstore::IsPostgresSetting(to) && from == to)
        return "the source and the target are the same store";
    std::string error;
    auto source = wcstore::OpenStore(home, from, false, error);
    if (!source)
        return error;
    if (wcstore::StoreExists(home, to))
        return (wcstore::IsPostgresSetting(to) ? "the database " + to : home) +
               " already holds a BBS";
    auto target = wcstore::OpenStore(home, to, true, error);
    if (!target)
        return error;
    std::string sysop, makewild;
    std::vector<wcstore::AreaRow> areas;
    std::vector<wcstore::UserRow> users;
    if (source->GetBbs(sysop, makewild) != wcstore::Rc::Ok ||
        source->ListAreas(areas) != wcstore::Rc::Ok || source->ListUsers(users) != wcstore::Rc::Ok)
        return "cannot read the BBS: " + source->Error();
    // One transaction: the target holds the whole BBS or nothing of it.
    if (!target->Begin())
        return "cannot write the BBS: " + target->Error();
    auto fail = [&](const std::string& what) {
        const std::string e = what + target->Error();
        target->Rollback();
        return e;
    };
    if (target->PutBbs(sysop, makewild) != wcstore::Rc::Ok)
        return fail("cannot write the BBS: ");
    for (const wcstore::AreaRow& a : areas)
        if (target->AddArea(a) != wcstore::Rc::Ok)
            return fail("cannot write area " + std::to_string(a.number) + ": ");
    for (const wcstore::UserRow& u : users)
        if (target->AddUser(u.name, u.id) != wcstore::Rc::Ok)
            return fail("cannot write the user " + u.name + ": ");
    std::vector<FullFileRec> rows(2000);
    int32_t area = 0;
    std::string name;
    bool after = false;
    for (;;) {
        size_t count = 0;
        if (source->Seek(area, name.data(), name.size(), after, true, -1, rows.data(), rows.size(),
                         count) != wcstore::Rc::Ok) {
            target->Rollback();
            return "cannot read the records: " + source->Error();
        }
        if (count && target->InsertMany(rows.data(), count) != wcstore::Rc::Ok)
            return fail("cannot write the records: ");
        if (count < rows.size())
            break;
        const FileRec& last = rows[count - 1].Rec;
        area = last.Area;
        name.assign(last.Name, wcstore::FieldLength(last.Name, sizeof last.Name));
        after = true;
    }
    // The content hashes kept for the records' files go along, so the
    // duplicate finder's first scan on the copy reads no unchanged file.
    std::string unwritten; // the name whose hash the target refused
    const wcstore::Rc hashes = source->EachFileHash([&](const wcstore::Store::FileHashEntry& e) {
        if (target->PutFileHash(e.area, e.name.data(), e.name.size(), e.hash) == wcstore::Rc::Ok)
            return true;
        unwritten = std::to_string(e.area) + ":" + e.name;
        return false;
    });
    if (!unwritten.empty())
        return fail("cannot write the file hash of " + unwritten + ": ");
    if (hashes != wcstore::Rc::Ok) {
        target->Rollback();
        return "cannot read the file hashes: " + source->Error();
    }
    // The run journal goes along: history and undo work on the copy.
    if (const std::string journal = wcstore::journal::CopyJournal(*source, *target);
        !journal.empty()) {
        target->Rollback();
        return journal;
    }
    if (!target->Commit())
        return fail("cannot write the BBS: ");
    return {};
}

} // namespace wcadmin
