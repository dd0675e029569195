#include "WcStore.h"

#include "WcFolderIndex.h"
#include "WcRecordCopy.h"

#include "server/DiskNames.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace wcstore
{

namespace
{

// Every file record keeps its named fields as columns, so the database can be
// queried. The reserved stretches go into `opaque` (72 bytes of the FileRec
// part) and `opaque_ext` (the 260 bytes behind it), NULL while all zero.
// `text_image` holds the exact bytes of every text field when one of them
// carries something the text columns cannot give back (bytes behind the
// NUL, no NUL at all, a line break inside a long-description line); then it
// wins over the text columns. So a record comes back byte for byte as it
// was written.
const char* const kSchemaSql = R"sql(
CREATE TABLE bbs(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  sysop TEXT NOT NULL,
  makewild BLOB);
CREATE TABLE areas(
  number INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  folder TEXT NOT NULL);
CREATE TABLE users(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE);
CREATE TABLE files(
  area INTEGER NOT NULL,
  name TEXT NOT NULL COLLATE NOCASE,
  description TEXT NOT NULL DEFAULT '',
  password TEXT NOT NULL DEFAULT '',
  size INTEGER NOT NULL DEFAULT 0,
  file_time INTEGER NOT NULL DEFAULT 0,
  last_accessed INTEGER NOT NULL DEFAULT 0,
  never_overwrite INTEGER NOT NULL DEFAULT 0,
  never_delete INTEGER NOT NULL DEFAULT 0,
  free_file INTEGER NOT NULL DEFAULT 0,
  copy_before_download INTEGER NOT NULL DEFAULT 0,
  failed_scan INTEGER NOT NULL DEFAULT 0,
  free_time INTEGER NOT NULL DEFAULT 0,
  downloads INTEGER NOT NULL DEFAULT 0,
  cost INTEGER NOT NULL DEFAULT 0,
  uploader_id INTEGER NOT NULL DEFAULT 0,
  uploader_name TEXT NOT NULL DEFAULT '',
  has_long_description INTEGER NOT NULL DEFAULT 0,
  long_description TEXT,
  opaque BLOB,
  opaque_ext BLOB,
  text_image BLOB,
  PRIMARY KEY (area, name)) WITHOUT ROWID;
)sql";

// Reserved stretches of the FileRec part, in the order of the `opaque` blob.
struct Stretch {
    size_t offset, size;
};
constexpr Stretch kOpaque[] = {
    {offsetof(FileRec, Reserved0), 4},
    {offsetof(FileRec, Reserved1), 4},
    {offsetof(FileRec, Reserved2), 4},
    {offsetof(FileRec, Reserved3), 4},
    {offsetof(FileRec, Reserved4), 44},
    {offsetof(FileRec, Uploader) + offsetof(UserRef, Reserved), 12},
};
constexpr size_t kOpaqueSize = 72;
constexpr size_t kOpaqueExtSize = sizeof(FullFileRec::Reserved5);

// Text fields, in the order of the `text_image` blob. The first four lie in
// the FileRec part.
constexpr Stretch kTexts[] = {
    {offsetof(FileRec, Name), 16},
    {offsetof(FileRec, Description), 76},
    {offsetof(FileRec, Password), 32},
    {offsetof(FileRec, Uploader) + offsetof(UserRef, UserName), 72},
    {offsetof(FullFileRec, LongDescription), LongDescLines* LongDescLineSize},
};
constexpr size_t kTextRecPartSize = 16 + 76 + 32 + 72;
constexpr size_t kTextImageSize = kTextRecPartSize + LongDescLines * LongDescLineSize;

enum Col {
    cArea,
    cName,
    cDescription,
    cPassword,
    cSize,
    cFileTime,
    cLastAccessed,
    cNeverOverwrite,
    cNeverDelete,
    cFreeFile,
    cCopyBeforeDownload,
    cFailedScan,
    cFreeTime,
    cDownloads,
    cCost,
    cUploaderId,
    cUploaderName,
    cHasLongDescription,
    cLongDescription,
    cOpaque,
    cOpaqueExt,
    cTextImage,
};

bool AllZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i])
            return false;
    return true;
}

// True when the field's text column gives the field back exactly: a NUL
// inside the field and only zero bytes behind it.
bool FieldIsPlain(const char* f, size_t size)
{
    const size_t n = FieldLength(f, size);
    if (n == size)
        return false;
    return AllZero(reinterpret_cast<const uint8_t*>(f) + n, size - n);
}

void BindText(sqlite3_stmt* st, int param, const char* f, size_t size)
{
    const size_t n = FieldLength(f, size);
    bool ascii = true;
    for (size_t i = 0; i < n && ascii; ++i)
        ascii = static_cast<unsigned char>(f[i]) < 0x80;
    if (ascii) {
        sqlite3_bind_text(st, param, f, int(n), SQLITE_TRANSIENT);
    } else {
        const std::string u = Latin1ToUtf8(f, n);
        sqlite3_bind_text(st, param, u.data(), int(u.size()), SQLITE_TRANSIENT);
    }
}

void ColumnText(sqlite3_stmt* st, int col, char* field, size_t size)
{
    const unsigned char* t = sqlite3_column_text(st, col);
    if (!t)
        return;
    const int n = sqlite3_column_bytes(st, col);
    // A field whose text has no NUL comes back through text_image.
    Utf8ToLatin1Field(t, n, field, size - 1);
}

} // namespace

const char* const kFileColumns =
    "area, name, description, password, size, file_time, last_accessed, never_overwrite, "
    "never_delete, free_file, copy_before_download, failed_scan, free_time, downloads, cost, "
    "uploader_id, uploader_name, has_long_description, long_description, opaque, opaque_ext, "
    "text_image";

const char* const kInsertFileSql =
    "INSERT INTO files(area, name, description, password, size, file_time, last_accessed, "
    "never_overwrite, never_delete, free_file, copy_before_download, failed_scan, free_time, "
    "downloads, cost, uploader_id, uploader_name, has_long_description, long_description, "
    "opaque, opaque_ext, text_image) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
    "?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22)";

const char* const kUpdateFileSql =
    "UPDATE files SET area = ?1, name = ?2, description = ?3, password = ?4, size = ?5, "
    "file_time = ?6, last_accessed = ?7, never_overwrite = ?8, never_delete = ?9, "
    "free_file = ?10, copy_before_download = ?11, failed_scan = ?12, free_time = ?13, "
    "downloads = ?14, cost = ?15, uploader_id = ?16, uploader_name = ?17, "
    "has_long_description = ?18, long_description = ?19, opaque = ?20, opaque_ext = ?21, "
    "text_image = ?22 WHERE area = ?23 AND name = ?24";

std::string DefaultHome()
{
    if (const char* home = std::getenv("WCSRV_HOME"); home && *home)
        return home;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/wcsrv";
    const char* user = std::getenv("HOME");
    return std::string(user && *user ? user : ".") + "/.local/share/wcsrv";
}

std::string DatabasePath(const std::string& home)
{
    std::string p = home;
    if (!p.empty() && p.back() != '/')
        p += '/';
    return p + kDatabaseName;
}

bool Exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool CheckSchema(sqlite3* db)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr) != SQLITE_OK)
        return false;
    const bool versionOk =
        sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == kSchemaVersion;
    sqlite3_finalize(st);
    if (!versionOk)
        return false;
    // Each table must be there with the columns we use.
    const char* probes[] = {"SELECT id, sysop, makewild FROM bbs LIMIT 0",
                            "SELECT number, name, folder FROM areas LIMIT 0",
                            "SELECT id, name FROM users LIMIT 0"};
    for (const char* probe : probes) {
        if (sqlite3_prepare_v2(db, probe, -1, &st, nullptr) != SQLITE_OK)
            return false;
        sqlite3_finalize(st);
    }
    const std::string files = std::string("SELECT ") + kFileColumns + " FROM files LIMIT 0";
    if (sqlite3_prepare_v2(db, files.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return false;
    sqlite3_finalize(st);
    return true;
}

sqlite3* OpenDatabase(const std::string& home, bool create, std::string& error)
{
    const std::string path = DatabasePath(home);
    struct stat sb {
    };
    const bool exists = ::stat(path.c_str(), &sb) == 0;
    if (!create && (!exists || !S_ISREG(sb.st_mode))) {
        error = "no BBS database in " + home;
        return nullptr;
    }
    sqlite3* db = nullptr;
    // No mutex of SQLite's own: each connection is used by one thread at a
    // time (the library calls it under the library lock, the admin tool from
    // the thread that made it), and a mutex taken on every column read costs
    // a fifth of a walk.
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // WAL lets the BBS and the admin tool read while one of them writes.
    // No memory map: every page a walk touched would stay counted in the
    // process's memory (a database of a million records adds 190 MB), and
    // reads through SQLite's own small cache walk as fast here.
    if (!Exec(db, "PRAGMA journal_mode=WAL") || !Exec(db, "PRAGMA synchronous=NORMAL") ||
        !Exec(db, "PRAGMA mmap_size=0")) {
        error = "cannot open " + path + ": " + sqlite3_errmsg(db);
        sqlite3_close(db);
        return nullptr;
    }
    if (create && exists && CheckSchema(db))
        return db;
    if (create) {
        if (!Exec(db, "BEGIN IMMEDIATE")) {
            error = std::string("cannot create the database: ") + sqlite3_errmsg(db);
            sqlite3_close(db);
            return nullptr;
        }
        const std::string sql =
            std::string(kSchemaSql) + "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
        if (!Exec(db, sql.c_str()) || !Exec(db, "COMMIT")) {
            error = std::string("cannot create the database: ") + sqlite3_errmsg(db);
            Exec(db, "ROLLBACK");
            sqlite3_close(db);
            return nullptr;
        }
    }
    if (!CheckSchema(db)) {
        error = path + " is not a BBS database (damaged or of another version)";
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

void BindFullRec(sqlite3_stmt* st, const FullFileRec& full)
{
    const FileRec& r = full.Rec;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&full);
    sqlite3_bind_int(st, cArea + 1, r.Area);
    BindText(st, cName + 1, r.Name, sizeof r.Name);
    BindText(st, cDescription + 1, r.Description, sizeof r.Description);
    BindText(st, cPassword + 1, r.Password, sizeof r.Password);
    sqlite3_bind_int(st, cSize + 1, r.Size);
    sqlite3_bind_int64(st, cFileTime + 1, int64_t(FileTimeValue(r.FileTime)));
    sqlite3_bind_int64(st, cLastAccessed + 1, int64_t(FileTimeValue(r.LastAccessed)));
    sqlite3_bind_int(st, cNeverOverwrite + 1, r.NeverOverwrite);
    sqlite3_bind_int(st, cNeverDelete + 1, r.NeverDelete);
    sqlite3_bind_int(st, cFreeFile + 1, r.FreeFile);
    sqlite3_bind_int(st, cCopyBeforeDownload + 1, r.CopyBeforeDownload);
    sqlite3_bind_int(st, cFailedScan + 1, r.FailedScan);
    sqlite3_bind_int(st, cFreeTime + 1, r.FreeTime);
    sqlite3_bind_int(st, cDownloads + 1, r.Downloads);
    sqlite3_bind_int(st, cCost + 1, r.Cost);
    sqlite3_bind_int64(st, cUploaderId + 1, r.Uploader.UserId);
    BindText(st, cUploaderName + 1, r.Uploader.UserName, sizeof r.Uploader.UserName);
    sqlite3_bind_int(st, cHasLongDescription + 1, r.HasLongDescription);

    // Long description: the lines joined by line feeds, empty lines at the
    // end left out; NULL when every line is empty.
    bool textsPlain = true;
    int lastLine = -1;
    for (int i = 0; i < LongDescLines; ++i) {
        const char* line = full.LongDescription[i];
        if (!FieldIsPlain(line, LongDescLineSize))
            textsPlain = false;
        const size_t n = FieldLength(line, LongDescLineSize);
        if (std::memchr(line, '\n', n))
            textsPlain = false;
        if (n)
            lastLine = i;
    }
    if (lastLine < 0) {
        sqlite3_bind_null(st, cLongDescription + 1);
    } else {
        std::string text;
        for (int i = 0; i <= lastLine; ++i) {
            if (i)
                text += '\n';
            const char* line = full.LongDescription[i];
            text.append(line, FieldLength(line, LongDescLineSize));
        }
        const std::string u = Latin1ToUtf8(text.data(), text.size());
        sqlite3_bind_text(st, cLongDescription + 1, u.data(), int(u.size()), SQLITE_TRANSIENT);
    }

    uint8_t opaque[kOpaqueSize];
    size_t at = 0;
    for (const Stretch& s : kOpaque) {
        std::memcpy(opaque + at, bytes + s.offset, s.size);
        at += s.size;
    }
    if (AllZero(opaque, kOpaqueSize))
        sqlite3_bind_null(st, cOpaque + 1);
    else
        sqlite3_bind_blob(st, cOpaque + 1, opaque, int(kOpaqueSize), SQLITE_TRANSIENT);
    if (AllZero(full.Reserved5, kOpaqueExtSize))
        sqlite3_bind_null(st, cOpaqueExt + 1);
    else
        sqlite3_bind_blob(st, cOpaqueExt + 1, full.Reserved5, int(kOpaqueExtSize),
                          SQLITE_TRANSIENT);

    for (int i = 0; i < 4; ++i)
        if (!FieldIsPlain(reinterpret_cast<const char*>(bytes + kTexts[i].offset), kTexts[i].size))
            textsPlain = false;
    if (textsPlain) {
        sqlite3_bind_null(st, cTextImage + 1);
    } else {
        uint8_t image[kTextImageSize];
        at = 0;
        for (const Stretch& s : kTexts) {
            std::memcpy(image + at, bytes + s.offset, s.size);
            at += s.size;
        }
        sqlite3_bind_blob(st, cTextImage + 1, image, int(kTextImageSize), SQLITE_TRANSIENT);
    }
}

namespace
{

// The bytes of a blob column holding exactly `size` bytes, else null. Most
// such columns are NULL: that costs one call.
const uint8_t* BlobOf(sqlite3_stmt* st, int col, size_t size)
{
    const void* p = sqlite3_column_blob(st, col);
    if (!p || sqlite3_column_bytes(st, col) != int(size) ||
        sqlite3_column_type(st, col) != SQLITE_BLOB)
        return nullptr;
    return static_cast<const uint8_t*>(p);
}

// The FileRec part of a row; `textImage` gets the row's exact text bytes
// when it carries them, else null.
void ReadRecPart(sqlite3_stmt* st, FileRec& r, const uint8_t** textImage)
{
    ClearRecord(&r);
    auto* bytes = reinterpret_cast<uint8_t*>(&r);
    r.Area = sqlite3_column_int(st, cArea);
    ColumnText(st, cName, r.Name, sizeof r.Name);
    ColumnText(st, cDescription, r.Description, sizeof r.Description);
    ColumnText(st, cPassword, r.Password, sizeof r.Password);
    r.Size = sqlite3_column_int(st, cSize);
    r.FileTime = MakeFileTime(uint64_t(sqlite3_column_int64(st, cFileTime)));
    r.LastAccessed = MakeFileTime(uint64_t(sqlite3_column_int64(st, cLastAccessed)));
    r.NeverOverwrite = sqlite3_column_int(st, cNeverOverwrite);
    r.NeverDelete = sqlite3_column_int(st, cNeverDelete);
    r.FreeFile = sqlite3_column_int(st, cFreeFile);
    r.CopyBeforeDownload = sqlite3_column_int(st, cCopyBeforeDownload);
    r.FailedScan = sqlite3_column_int(st, cFailedScan);
    r.FreeTime = sqlite3_column_int(st, cFreeTime);
    r.Downloads = sqlite3_column_int(st, cDownloads);
    r.Cost = sqlite3_column_int(st, cCost);
    r.Uploader.UserId = uint32_t(sqlite3_column_int64(st, cUploaderId));
    ColumnText(st, cUploaderName, r.Uploader.UserName, sizeof r.Uploader.UserName);
    r.HasLongDescription = sqlite3_column_int(st, cHasLongDescription);
    if (const auto* p = BlobOf(st, cOpaque, kOpaqueSize)) {
        size_t at = 0;
        for (const Stretch& s : kOpaque) {
            std::memcpy(bytes + s.offset, p + at, s.size);
            at += s.size;
        }
    }
    *textImage = nullptr;
    if (const auto* p = BlobOf(st, cTextImage, kTextImageSize)) {
        *textImage = p;
        size_t at = 0;
        for (int i = 0; i < 4; ++i) {
            std::memcpy(bytes + kTexts[i].offset, p + at, kTexts[i].size);
            at += kTexts[i].size;
        }
    }
}

} // namespace

void ReadFileRec(sqlite3_stmt* st, FileRec& rec)
{
    const uint8_t* textImage = nullptr;
    ReadRecPart(st, rec, &textImage);
}

void ReadFullRec(sqlite3_stmt* st, FullFileRec& full)
{
    // ReadRecPart clears the FileRec part itself.
    std::memset(full.Reserved5, 0, sizeof full - offsetof(FullFileRec, Reserved5));
    static_assert(offsetof(FullFileRec, Reserved5) == sizeof(FileRec));
    static_assert(offsetof(FullFileRec, LongDescription) + sizeof full.LongDescription ==
                  sizeof(FullFileRec));
    const uint8_t* textImage = nullptr;
    ReadRecPart(st, full.Rec, &textImage);
    if (const uint8_t* ext = BlobOf(st, cOpaqueExt, kOpaqueExtSize))
        std::memcpy(full.Reserved5, ext, kOpaqueExtSize);
    if (textImage) {
        std::memcpy(full.LongDescription, textImage + kTextRecPartSize,
                    sizeof full.LongDescription);
        return;
    }
    const unsigned char* t = sqlite3_column_text(st, cLongDescription);
    if (!t)
        return;
    const int n = sqlite3_column_bytes(st, cLongDescription);
    // The lines are separated by line feeds.
    const unsigned char* at = t;
    const unsigned char* const end = t + n;
    for (int line = 0; line < LongDescLines; ++line) {
        const auto* feed =
            static_cast<const unsigned char*>(std::memchr(at, '\n', size_t(end - at)));
        const unsigned char* lineEnd = feed ? feed : end;
        Utf8ToLatin1Field(at, int(lineEnd - at), full.LongDescription[line], LongDescLineSize - 1);
        if (!feed)
            break;
        at = feed + 1;
    }
}

namespace
{

// Reads UTF-8: false when the bytes are not UTF-8. `characters` gets the
// number of characters, `highest` the highest code point.
bool DecodeUtf8(const unsigned char* s, size_t n, size_t& characters, uint32_t& highest)
{
    characters = 0;
    highest = 0;
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        size_t extra = 0;
        uint32_t v = 0;
        if (c < 0x80) {
            v = c;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            extra = 1;
            v = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            v = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            extra = 3;
            v = c & 0x07;
        } else {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= n || (s[i + k] & 0xC0) != 0x80)
                return false;
            v = (v << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms and surrogates are no UTF-8.
        if ((extra == 2 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) ||
            (extra == 3 && (v < 0x10000 || v > 0x10FFFF)))
            return false;
        highest = std::max(highest, v);
        ++characters;
        i += extra + 1;
    }
    return true;
}

// Why a text column of a file row does not give its field back: `max`
// characters at most, each a Latin-1 one. NULL is an empty text when
// `nullable`.
std::string TextColumnProblem(sqlite3_stmt* st, int col, const char* what, size_t max,
                              bool nullable)
{
    const int type = sqlite3_column_type(st, col);
    if (type == SQLITE_NULL)
        return nullable ? std::string() : std::string(what) + " is missing";
    if (type != SQLITE_TEXT)
        return std::string(what) + " is not a text";
    const unsigned char* t = sqlite3_column_text(st, col);
    const size_t n = size_t(sqlite3_column_bytes(st, col));
    size_t characters = 0;
    uint32_t highest = 0;
    if (!DecodeUtf8(t, n, characters, highest))
        return std::string(what) + " is not UTF-8";
    if (highest > 0xFF)
        return std::string(what) + " holds a character beyond Latin-1";
    if (characters > max)
        return std::string(what) + " is " + std::to_string(characters) +
               " characters long; the record holds " + std::to_string(max);
    return {};
}

std::string IntColumnProblem(sqlite3_stmt* st, int col, const char* what, int64_t low, int64_t high)
{
    if (sqlite3_column_type(st, col) != SQLITE_INTEGER)
        return std::string(what) + " is not a whole number";
    const int64_t v = sqlite3_column_int64(st, col);
    if (v < low || v > high)
        return std::string(what) + " " + std::to_string(v) + " does not fit the record";
    return {};
}

std::string BlobColumnProblem(sqlite3_stmt* st, int col, const char* what, size_t size)
{
    const int type = sqlite3_column_type(st, col);
    if (type == SQLITE_NULL)
        return {};
    if (type != SQLITE_BLOB || sqlite3_column_bytes(st, col) != int(size))
        return std::string(what) + " is not " + std::to_string(size) + " bytes";
    return {};
}

} // namespace

std::string ProblemOfFileRow(sqlite3_stmt* st)
{
    constexpr int64_t kInt32Min = INT32_MIN, kInt32Max = INT32_MAX;
    const bool image = sqlite3_column_type(st, cTextImage) != SQLITE_NULL;
    std::string p = BlobColumnProblem(st, cTextImage, "the text image", kTextImageSize);
    if (p.empty())
        p = BlobColumnProblem(st, cOpaque, "the reserved stretch", kOpaqueSize);
    if (p.empty())
        p = BlobColumnProblem(st, cOpaqueExt, "the reserved stretch of the long part",
                              kOpaqueExtSize);
    if (p.empty())
        p = IntColumnProblem(st, cArea, "the area", kInt32Min, kInt32Max);
    // With a text image the text columns only help queries: the image
    // gives the fields back.
    if (p.empty() && !image) {
        p = TextColumnProblem(st, cName, "the name", sizeof(FileRec::Name) - 1, false);
        if (p.empty())
            p = TextColumnProblem(st, cDescription, "the description",
                                  sizeof(FileRec::Description) - 1, false);
        if (p.empty())
            p = TextColumnProblem(st, cPassword, "the password", sizeof(FileRec::Password) - 1,
                                  false);
        if (p.empty())
            p = TextColumnProblem(st, cUploaderName, "the uploader's name",
                                  sizeof(UserRef::UserName) - 1, false);
        if (p.empty())
            p = TextColumnProblem(st, cLongDescription, "the long description",
                                  size_t(LongDescLines) * LongDescLineSize, true);
    }
    struct IntColumn {
        int col;
        const char* what;
        int64_t low, high;
    };
    static const IntColumn kInts[] = {
        {cSize, "the size", kInt32Min, kInt32Max},
        {cFileTime, "the file date", INT64_MIN, INT64_MAX},
        {cLastAccessed, "the last access", INT64_MIN, INT64_MAX},
        {cNeverOverwrite, "the never-overwrite flag", kInt32Min, kInt32Max},
        {cNeverDelete, "the never-delete flag", kInt32Min, kInt32Max},
        {cFreeFile, "the free-file flag", kInt32Min, kInt32Max},
        {cCopyBeforeDownload, "the copy-before-download flag", kInt32Min, kInt32Max},
        {cFailedScan, "the failed-scan flag", kInt32Min, kInt32Max},
        {cFreeTime, "the free time", kInt32Min, kInt32Max},
        {cDownloads, "the download count", kInt32Min, kInt32Max},
        {cCost, "the cost", kInt32Min, kInt32Max},
        {cUploaderId, "the uploader's id", 0, int64_t(UINT32_MAX)},
        {cHasLongDescription, "the long-description flag", kInt32Min, kInt32Max},
    };
    for (const IntColumn& c : kInts) {
        if (!p.empty())
            break;
        p = IntColumnProblem(st, c.col, c.what, c.low, c.high);
    }
    return p;
}

std::string ProblemOfRecord(const FileRec& rec, int32_t area)
{
    const size_t n = FieldLength(rec.Name, sizeof rec.Name);
    if (n == sizeof rec.Name)
        return "the name has no end";
    if (!IsSafeFileName(rec.Name, n))
        return "the name can name no file";
    if (rec.Area != area)
        return "the record says area " + std::to_string(rec.Area) + ", its row area " +
               std::to_string(area);
    return {};
}

bool CheckStore(Store& store, bool integrity, const CheckVisit& visit, CheckCounts& counts)
{
    auto found = [&](CheckPart part, int32_t area, uint32_t id, std::string text) {
        CheckFinding f;
        f.part = part;
        f.area = area;
        f.id = id;
        f.text = std::move(text);
        return visit(f);
    };
    auto utf8 = [](const std::string& text, size_t* characters) {
        size_t n = 0;
        uint32_t highest = 0;
        const bool ok = DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                                   n, highest);
        if (characters)
            *characters = n;
        return ok;
    };

    // The configuration record.
    std::string sysop, makewild;
    const Rc bbs = store.GetBbs(sysop, makewild);
    if (bbs == Rc::NotFound) {
        if (!found(CheckPart::Config, 0, 0, "there is no configuration record"))
            return false;
    } else if (bbs != Rc::Ok) {
        if (!found(CheckPart::Config, 0, 0,
                   "the configuration record cannot be read: " + store.Error()))
            return false;
    } else {
        // An empty one is the record of a new BBS (all zero); any other
        // must be the whole record.
        if (!makewild.empty() && makewild.size() != sizeof(MakewildRec) &&
            !found(CheckPart::Config, 0, 0,
                   "the configuration record is " + std::to_string(makewild.size()) +
                       " bytes, not " + std::to_string(sizeof(MakewildRec))))
            return false;
        if (sysop.empty() && !found(CheckPart::Config, 0, 0, "the sysop's name is empty"))
            return false;
        if (!utf8(sysop, nullptr) &&
            !found(CheckPart::Config, 0, 0, "the sysop's name is not UTF-8"))
            return false;
    }

    // The users.
    std::vector<UserRow> users;
    if (store.ListUsers(users) != Rc::Ok) {
        if (!found(CheckPart::User, 0, 0, "the users cannot be read: " + store.Error()))
            return false;
        users.clear();
    }
    std::map<std::string, uint32_t> userKeys;
    for (const UserRow& u : users) {
        ++counts.users;
        std::string problem;
        size_t characters = 0;
        if (u.id == 0)
            problem = "a user without an id";
        else if (u.name.empty())
            problem = "the user has no name";
        else if (!utf8(u.name, &characters))
            problem = "the user's name is not UTF-8";
        else if (characters > sizeof(UserRecord::Name) - 1)
            problem = "the user's name is longer than a user record holds";
        else if (auto [it, added] = userKeys.emplace(Utf8Key(u.name), u.id); !added)
            problem = "the user has the name of user " + std::to_string(it->second);
        if (!problem.empty() && !found(CheckPart::User, 0, u.id, problem))
            return false;
    }

    // The areas.
    std::vector<AreaRow> areas;
    if (store.ListAreas(areas) != Rc::Ok) {
        if (!found(CheckPart::Area, 0, 0, "the areas cannot be read: " + store.Error()))
            return false;
        areas.clear();
    }
    std::set<int32_t> numbers;
    for (const AreaRow& a : areas) {
        ++counts.areas;
        numbers.insert(a.number);
        std::string problem;
        if (a.number <= 0)
            problem = "the area number is not above 0";
        else if (a.name.empty())
            problem = "the area has no name";
        else if (!utf8(a.name, nullptr))
            problem = "the area's name is not UTF-8";
        else if (a.folder.empty())
            problem = "the area has no folder";
        if (!problem.empty() && !found(CheckPart::Area, a.number, 0, problem))
            return false;
    }

    counts.integrity = integrity;
    return store.CheckFiles(integrity, numbers, visit, counts);
}

bool IsSafeFileName(const char* name, size_t length)
{
    return name && disknames::IsFileName(std::string_view(name, length));
}

bool EqualNoCase(const char* a, size_t an, const char* b, size_t bn)
{
    return disknames::SameNameAnyCase(std::string_view(a, an), std::string_view(b, bn));
}

std::string Latin1ToUtf8(const char* s, size_t n)
{
    std::string out;
    out.reserve(n + 8);
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void Utf8ToLatin1Field(const unsigned char* s, int n, char* field, size_t size)
{
    // Keep a NUL inside the field unless the text fills it exactly.
    // Texts are mostly ASCII, which is the same in both: the leading ASCII
    // run is copied as it is, eight bytes tested at a time.
    const size_t limit = std::min(size_t(n > 0 ? n : 0), size);
    constexpr uint64_t kHighBits = 0x8080808080808080ULL;
    auto asciiWord = [s](size_t at) {
        uint64_t word;
        std::memcpy(&word, s + at, sizeof word);
        return (word & kHighBits) == 0;
    };
    size_t ascii = 0;
    while (ascii + 8 <= limit && asciiWord(ascii))
        ascii += 8;
    // The last bytes as one word reaching back into those already tested.
    if (ascii < limit && limit >= 8 && ascii + 8 > limit && asciiWord(limit - 8))
        ascii = limit;
    while (ascii < limit && s[ascii] < 0x80)
        ++ascii;
    std::memcpy(field, s, ascii);
    size_t out = ascii;
    for (int i = int(ascii); i < n && out < size; ++i) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            field[out++] = char(c);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) {
            const unsigned v = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            field[out++] = v <= 0xFF ? char(v) : '?';
            ++i;
        } else if (c >= 0xC0) {
            // A character beyond Latin-1 (written by another tool): one '?'.
            int extra = (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 1;
            while (extra-- > 0 && i + 1 < n && (s[i + 1] & 0xC0) == 0x80)
                ++i;
            field[out++] = '?';
        } else {
            field[out++] = char(c);
        }
    }
}

std::string ResolveFolder(const std::string& home, const std::string& stored)
{
    if (!stored.empty() && stored[0] == '/')
        return stored;
    std::string p = home;
    if (!p.empty() && p.back() != '/')
        p += '/';
    return p + stored;
}

std::string FindInFolder(const std::string& folder, const std::string& name, bool* exists)
{
    // A folder searched often answers from its index of names.
    return disknames::FindInFolderWith(folder, name, exists,
                                       [](const std::string& dir, std::string_view wanted) {
                                           std::string found;
                                           if (!folderindex::FindVariant(dir, wanted, found))
                                               found = disknames::FindOtherCase(dir, wanted);
                                           return found;
                                       });
}

uint64_t UnixToFileTime(int64_t seconds, long nanoseconds)
{
    constexpr int64_t kEpochDelta = 11644473600LL; // seconds 1601-01-01 .. 1970-01-01
    const int64_t s = seconds + kEpochDelta;
    if (s < 0)
        return 0;
    return uint64_t(s) * 10000000ULL + uint64_t(nanoseconds / 100);
}

} // namespace wcstore
