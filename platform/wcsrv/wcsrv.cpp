// libwcsrv: the BBS server's access library on an SQLite database in the
// BBS home folder. One context per process; every operation takes the
// library lock, so the library may be called from any thread.
#include "WcStore.h"

// Only the contract's operations leave the library; everything else is
// hidden (the library is built with hidden visibility).
#pragma GCC visibility push(default)
#include "WcBlockWriter.h"
#include "WcFault.h"
#include "server/wcsrv.h"
#pragma GCC visibility pop

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace
{

// Codes for failures the contract's table has no closer name for.
constexpr uint32_t kBadArgument = WC_INVALID_OBJECT_ID;   // null pointer, bad value
constexpr uint32_t kStorageError = WC_NO_ACTION_TAKEN;    // database busy, damaged, I/O
constexpr uint32_t kNoServer = WC_INVALID_CONNECTION_ID;  // no BBS in the home folder
constexpr uint32_t kBadDatabase = WC_UNSUPPORTED_VERSION; // not a BBS database of ours

std::recursive_mutex gLock;
thread_local uint32_t tLastError = 0;

// ---- fault switch ----------------------------------------------------------

struct FaultState {
    long count = 0;
    long failAt = 0;
    uint32_t failAtCode = 0;
    std::string kind;
    uint32_t kindCode = 0;
};
FaultState gFault;

// Counts one operation call; returns the code it must fail with, or 0.
uint32_t FaultHit(const char* op)
{
    ++gFault.count;
    if (gFault.failAt > 0 && gFault.count == gFault.failAt) {
        gFault.failAt = 0;
        return gFault.failAtCode;
    }
    if (!gFault.kind.empty() && gFault.kind == op)
        return gFault.kindCode;
    return 0;
}

// ---- context ---------------------------------------------------------------

enum StmtSlot {
    sSeekFrom,  // first record at or after (area, name)
    sSeekAfter, // first record after (area, name)
    sByKey,
    sInsert,
    sUpdate,
    sDelete,
    sAreaFolder,
    sAreaName,
    sAreaCount,
    sFilesInArea,
    sSameName,
    sUserByName,
    sFirstUser,
    sNextUser,
    sMakewild,
    sSlotCount
};

// A file created anew for writing collects its writes into large blocks
// that a thread of its own stores (WcBlockWriter.h). So that no write that
// reported success can fail later (a close cannot report failure), disk
// space for the collected bytes is reserved before they are accepted; where
// space cannot be reserved, the handle falls back to writing each chunk
// through at once.
struct OpenFile {
    int fd = -1;
    std::unique_ptr<wcsrv::BlockWriter> writer; // write-behind in use
    off_t reserved = 0;                         // disk space reserved from offset 0
};

// Ends write-behind for a handle: collected bytes are written and any space
// reserved beyond the end of the file is given back.
bool EndCollecting(OpenFile& f)
{
    if (!f.writer)
        return true;
    const bool ok = f.writer->Finish();
    const off_t size = f.writer->Accepted();
    f.writer.reset();
    if (f.reserved > size)
        (void)::ftruncate(f.fd, size);
    return ok;
}

struct Context {
    std::string home;
    sqlite3* db = nullptr;
    bool loggedIn = false;
    sqlite3_stmt* stmts[sSlotCount] = {};

    // The walk cursor: a running seek statement that sits on the record it
    // delivered last. GetNextFileRec continues it when it is handed that
    // record back with the position word of that delivery.
    sqlite3_stmt* cursor = nullptr;
    uint32_t cursorSerial = 0;
    int32_t cursorArea = 0;
    char cursorName[16] = {};
    size_t cursorNameLength = 0;

    // The record a read delivered last: UpdateFileRec uses it to tell which
    // record is moving to another area.
    bool haveLastRead = false;
    int32_t lastReadArea = 0;
    std::string lastReadName;

    std::map<WcHandle, OpenFile> files;
    WcHandle nextHandle = 1;

    ~Context()
    {
        for (auto& [h, f] : files)
            ::close(f.fd);
        for (sqlite3_stmt*& st : stmts)
            sqlite3_finalize(st);
        sqlite3_close(db);
    }
};

bool gConnected = false;
std::string gHome;
std::unique_ptr<Context> gContext;

template <typename T> T Fail(uint32_t code, T value)
{
    tLastError = code;
    return value;
}

const char* const kSql[sSlotCount] = {
    nullptr, // built in Prepare
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "DELETE FROM files WHERE area = ?1 AND name = ?2",
    "SELECT folder FROM areas WHERE number = ?1",
    "SELECT name FROM areas WHERE number = ?1",
    "SELECT coalesce(max(number), 0) FROM areas",
    "SELECT count(*) FROM files WHERE area = ?1",
    "SELECT area FROM files WHERE name = ?1 AND area <> ?2 ORDER BY area",
    "SELECT id, name FROM users WHERE name = ?1",
    "SELECT id, name FROM users ORDER BY name LIMIT 1",
    "SELECT id, name FROM users WHERE name > ?1 ORDER BY name LIMIT 1",
    "SELECT sysop, makewild FROM bbs WHERE id = 1",
};

// The cached statement of a slot, reset and with its bindings cleared.
sqlite3_stmt* Prepare(Context& c, StmtSlot slot)
{
    sqlite3_stmt*& st = c.stmts[slot];
    if (!st) {
        std::string sql;
        const std::string cols = wcstore::kFileColumns;
        switch (slot) {
        case sSeekFrom:
            sql =
                "SELECT " + cols + " FROM files WHERE (area, name) >= (?1, ?2) ORDER BY area, name";
            break;
        case sSeekAfter:
            sql =
                "SELECT " + cols + " FROM files WHERE (area, name) > (?1, ?2) ORDER BY area, name";
            break;
        case sByKey:
            sql = "SELECT " + cols + " FROM files WHERE area = ?1 AND name = ?2";
            break;
        case sInsert:
            sql = wcstore::kInsertFileSql;
            break;
        case sUpdate:
            sql = wcstore::kUpdateFileSql;
            break;
        default:
            sql = kSql[slot];
        }
        if (sqlite3_prepare_v3(c.db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(st);
            st = nullptr;
            return nullptr;
        }
    } else {
        if (st == c.cursor)
            c.cursor = nullptr;
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
    }
    return st;
}

void ResetCursor(Context& c)
{
    if (c.cursor) {
        sqlite3_reset(c.cursor);
        c.cursor = nullptr;
    }
}

Context* LoggedIn()
{
    return gContext && gContext->loggedIn ? gContext.get() : nullptr;
}

// Bounded text of a fixed field or an argument.
struct Key {
    const char* text;
    size_t length;
};
Key FieldKey(const char* field, size_t size)
{
    return {field, wcstore::FieldLength(field, size)};
}

void BindKey(sqlite3_stmt* st, int area, const Key& name)
{
    sqlite3_bind_int(st, 1, area);
    const std::string u = wcstore::Latin1ToUtf8(name.text, name.length);
    sqlite3_bind_text(st, 2, u.data(), int(u.size()), SQLITE_TRANSIENT);
}

void NoteRead(Context& c, const FileRec& rec)
{
    c.haveLastRead = true;
    c.lastReadArea = rec.Area;
    c.lastReadName.assign(rec.Name, wcstore::FieldLength(rec.Name, sizeof rec.Name));
}

// Hands out the row the cursor sits on. Crossing into another area ends the
// cursor: walks stop there, and a live statement would keep the database's
// read snapshot open.
void Deliver(Context& c, sqlite3_stmt* st, FileRec* out, uint32_t* position)
{
    const bool continuing = c.cursor == st;
    const int32_t previousArea = c.cursorArea;
    wcstore::ReadFileRec(st, *out);
    NoteRead(c, *out);
    if (++c.cursorSerial == 0)
        c.cursorSerial = 1;
    c.cursor = st;
    c.cursorArea = out->Area;
    c.cursorNameLength = wcstore::FieldLength(out->Name, sizeof out->Name);
    std::memcpy(c.cursorName, out->Name, sizeof c.cursorName);
    *position = c.cursorSerial;
    if (continuing && previousArea != out->Area)
        ResetCursor(c);
}

bool CursorOn(const Context& c, int32_t area, const Key& name)
{
    return c.cursor && area == c.cursorArea && name.length == c.cursorNameLength &&
           std::memcmp(name.text, c.cursorName, name.length) == 0;
}

// Steps a seek statement and delivers its row. False at the end or on error.
bool StepAndDeliver(Context& c, sqlite3_stmt* st, FileRec* out, uint32_t* position)
{
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        Deliver(c, st, out, position);
        return true;
    }
    if (c.cursor == st)
        c.cursor = nullptr;
    sqlite3_reset(st);
    return Fail(rc == SQLITE_DONE ? uint32_t(WC_RECORD_NOT_FOUND) : kStorageError, false);
}

// Runs `body` inside one write transaction; rolls back when it fails.
template <typename Body> bool WriteTransaction(Context& c, Body body)
{
    ResetCursor(c);
    if (!wcstore::Exec(c.db, "BEGIN IMMEDIATE"))
        return Fail(kStorageError, false);
    if (!body()) {
        wcstore::Exec(c.db, "ROLLBACK");
        return false;
    }
    if (!wcstore::Exec(c.db, "COMMIT")) {
        wcstore::Exec(c.db, "ROLLBACK");
        return Fail(kStorageError, false);
    }
    return true;
}

// Reads the full record of (area, name) into `out`. 1 found, 0 not, -1 error.
int ReadByKey(Context& c, int32_t area, const Key& name, FullFileRec* out)
{
    sqlite3_stmt* st = Prepare(c, sByKey);
    if (!st)
        return -1;
    BindKey(st, area, name);
    const int rc = sqlite3_step(st);
    int result = rc == SQLITE_ROW ? 1 : rc == SQLITE_DONE ? 0 : -1;
    if (result == 1 && out)
        wcstore::ReadFullRec(st, *out);
    sqlite3_reset(st);
    return result;
}

// 1 when the area exists, 0 when not, -1 on error; `folder` gets its folder.
int AreaFolder(Context& c, int32_t area, std::string* folder)
{
    sqlite3_stmt* st = Prepare(c, sAreaFolder);
    if (!st)
        return -1;
    sqlite3_bind_int(st, 1, area);
    const int rc = sqlite3_step(st);
    int result = rc == SQLITE_ROW ? 1 : rc == SQLITE_DONE ? 0 : -1;
    if (result == 1 && folder) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        *folder = wcstore::ResolveFolder(c.home, t ? t : "");
    }
    sqlite3_reset(st);
    return result;
}

// Writes `full` over the stored record (area, name). Sets the error code.
bool StoreOver(Context& c, int32_t area, const Key& name, const FullFileRec& full)
{
    sqlite3_stmt* st = Prepare(c, sUpdate);
    if (!st)
        return Fail(kStorageError, false);
    wcstore::BindFullRec(st, full);
    sqlite3_bind_int(st, 23, area);
    const std::string u = wcstore::Latin1ToUtf8(name.text, name.length);
    sqlite3_bind_text(st, 24, u.data(), int(u.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc == SQLITE_CONSTRAINT)
        return Fail(uint32_t(WC_DUPLICATE_RECORD), false);
    if (rc != SQLITE_DONE)
        return Fail(kStorageError, false);
    if (sqlite3_changes(c.db) == 0)
        return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
    return true;
}

// The FileRec part of two records is equal apart from the area.
bool SameButArea(const FileRec& a, const FileRec& b)
{
    FileRec x = a, y = b;
    x.Area = y.Area = 0;
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// ---- server paths ----------------------------------------------------------

struct DiskFile {
    std::string path;
    bool exists = false;
};

bool StartsNoCase(const char* s, const char* prefix)
{
    for (; *prefix; ++s, ++prefix) {
        char a = *s, b = *prefix;
        if (a >= 'A' && a <= 'Z')
            a = char(a + 32);
        if (a != b)
            return false;
    }
    return true;
}

// Splits "wc:\file\area(N)\NAME" into the area and the name, touching
// neither the disk nor the database. 0 when the path has that form, an area
// of 1 or more and a name that can only name a file inside the area's
// folder; else the error code for it.
uint32_t ParseServerPath(const char* path, int32_t& areaOut, const char*& nameOut,
                         size_t& nameLengthOut)
{
    if (!path)
        return kBadArgument;
    const size_t length = ::strnlen(path, 100);
    if (length >= 100)
        return uint32_t(WC_ACCESS_DENIED);
    static const char kPrefix[] = "wc:\\file\\area(";
    if (!StartsNoCase(path, kPrefix))
        return uint32_t(WC_ITEM_NOT_FOUND);
    const char* p = path + sizeof kPrefix - 1;
    int64_t area = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 11) {
        area = area * 10 + (*p - '0');
        ++p;
        ++digits;
    }
    if (digits == 0 || digits > 10 || area > INT32_MAX || p[0] != ')' || p[1] != '\\')
        return uint32_t(WC_ITEM_NOT_FOUND);
    const char* name = p + 2;
    const size_t nameLength = std::strlen(name);
    if (!wcstore::IsSafeFileName(name, nameLength))
        return uint32_t(WC_ACCESS_DENIED);
    // Areas are numbered from 1: area 0 is never a known area.
    if (area < 1)
        return uint32_t(WC_INVALID_FILEAREA);
    areaOut = int32_t(area);
    nameOut = name;
    nameLengthOut = nameLength;
    return 0;
}

// Turns "wc:\file\area(N)\NAME" into the disk path of NAME in area N's
// folder. Refuses, without touching the disk, anything that could name a
// file outside that folder. Sets the error code on failure.
bool ResolveServerPath(Context& c, const char* path, DiskFile& out)
{
    int32_t area = 0;
    const char* name = nullptr;
    size_t nameLength = 0;
    if (const uint32_t error = ParseServerPath(path, area, name, nameLength))
        return Fail(error, false);
    std::string folder;
    const int known = AreaFolder(c, area, &folder);
    if (known < 0)
        return Fail(kStorageError, false);
    if (known == 0)
        return Fail(uint32_t(WC_INVALID_FILEAREA), false);
    out.path = wcstore::FindInFolder(folder, std::string(name, nameLength), &out.exists);
    return true;
}

OpenFile* FindHandle(Context& c, WcHandle h)
{
    auto it = c.files.find(h);
    return it == c.files.end() ? nullptr : &it->second;
}

void CloseAllFiles(Context& c)
{
    for (auto& [h, f] : c.files) {
        EndCollecting(f);
        ::close(f.fd);
    }
    c.files.clear();
}

} // namespace

// Prologue of every operation: the lock, the count and the fault switch.
#define WC_OP(name, failValue)                                                                     \
    std::lock_guard<std::recursive_mutex> lock_(gLock);                                            \
    if (const uint32_t fault_ = FaultHit(name))                                                    \
        return Fail(fault_, failValue);

#define WC_LOGGED_IN(failValue)                                                                    \
    Context* c = LoggedIn();                                                                       \
    if (!c)                                                                                        \
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), failValue);                                   \
    Context& ctx = *c;

// ---- life cycle ------------------------------------------------------------

bool WildcatServerConnect(void*)
{
    WC_OP("WildcatServerConnect", false);
    if (gContext)
        return true; // the connection in use stays
    gConnected = false;
    const std::string home = wcstore::DefaultHome();
    struct stat sb {
    };
    if (::stat(wcstore::DatabasePath(home).c_str(), &sb) != 0 || !S_ISREG(sb.st_mode))
        return Fail(kNoServer, false);
    std::string error;
    sqlite3* db = wcstore::OpenDatabase(home, false, error);
    if (!db)
        return Fail(kBadDatabase, false);
    sqlite3_close(db);
    gHome = home;
    gConnected = true;
    return true;
}

bool WildcatServerCreateContext(void)
{
    WC_OP("WildcatServerCreateContext", false);
    if (gContext)
        return Fail(uint32_t(WC_CONTEXT_ALREADY_INITIALIZED), false);
    if (!gConnected)
        return Fail(kNoServer, false);
    std::string error;
    sqlite3* db = wcstore::OpenDatabase(gHome, false, error);
    if (!db)
        return Fail(kBadDatabase, false);
    auto c = std::make_unique<Context>();
    c->home = gHome;
    c->db = db;
    gContext = std::move(c);
    return true;
}

bool LoginSystem(void)
{
    WC_OP("LoginSystem", false);
    if (!gContext)
        return Fail(uint32_t(WC_CONTEXT_NOT_INITIALIZED), false);
    if (gContext->loggedIn)
        return Fail(uint32_t(WC_ALREADY_LOGGED_IN), false);
    gContext->loggedIn = true;
    return true;
}

bool LogoutUser(void)
{
    WC_OP("LogoutUser", false);
    if (!gContext)
        return Fail(uint32_t(WC_CONTEXT_NOT_INITIALIZED), false);
    if (!gContext->loggedIn)
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), false);
    ResetCursor(*gContext);
    CloseAllFiles(*gContext);
    gContext->haveLastRead = false;
    gContext->loggedIn = false;
    return true;
}

bool WildcatServerDeleteContext(void)
{
    WC_OP("WildcatServerDeleteContext", false);
    if (!gContext)
        return Fail(uint32_t(WC_CONTEXT_NOT_INITIALIZED), false);
    gContext.reset(); // closes files, statements and the database
    gConnected = false;
    return true;
}

// ---- BBS, areas, users -----------------------------------------------------

bool GetMakewild(MakewildRec* out)
{
    WC_OP("GetMakewild", false);
    WC_LOGGED_IN(false);
    if (!out)
        return Fail(kBadArgument, false);
    ResetCursor(ctx);
    sqlite3_stmt* st = Prepare(ctx, sMakewild);
    if (!st)
        return Fail(kStorageError, false);
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(st);
        return Fail(rc == SQLITE_DONE ? uint32_t(WC_RECORD_NOT_FOUND) : kStorageError, false);
    }
    std::memset(out, 0, sizeof *out);
    if (sqlite3_column_bytes(st, 1) == int(sizeof *out))
        std::memcpy(out, sqlite3_column_blob(st, 1), sizeof *out);
    std::memset(out->SysopName, 0, sizeof out->SysopName);
    if (const unsigned char* t = sqlite3_column_text(st, 0))
        wcstore::Utf8ToLatin1Field(t, sqlite3_column_bytes(st, 0), out->SysopName,
                                   sizeof out->SysopName - 1);
    sqlite3_reset(st);
    return true;
}

int32_t GetFileAreaCount(void)
{
    WC_OP("GetFileAreaCount", 0);
    WC_LOGGED_IN(0);
    ResetCursor(ctx);
    sqlite3_stmt* st = Prepare(ctx, sAreaCount);
    if (!st || sqlite3_step(st) != SQLITE_ROW) {
        if (st)
            sqlite3_reset(st);
        return Fail(kStorageError, 0);
    }
    const int32_t n = sqlite3_column_int(st, 0);
    sqlite3_reset(st);
    return n;
}

bool GetFileArea(int32_t area, FileAreaRec* out)
{
    WC_OP("GetFileArea", false);
    WC_LOGGED_IN(false);
    if (!out)
        return Fail(kBadArgument, false);
    ResetCursor(ctx);
    sqlite3_stmt* st = Prepare(ctx, sAreaName);
    if (!st)
        return Fail(kStorageError, false);
    sqlite3_bind_int(st, 1, area);
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(st);
        return Fail(rc == SQLITE_DONE ? uint32_t(WC_INVALID_FILEAREA) : kStorageError, false);
    }
    std::memset(out, 0, sizeof *out);
    out->Number = area;
    if (const unsigned char* t = sqlite3_column_text(st, 0))
        wcstore::Utf8ToLatin1Field(t, sqlite3_column_bytes(st, 0), out->Name, sizeof out->Name - 1);
    sqlite3_reset(st);
    return true;
}

int32_t GetTotalFilesInArea(int32_t area)
{
    WC_OP("GetTotalFilesInArea", 0);
    WC_LOGGED_IN(0);
    ResetCursor(ctx);
    const int known = AreaFolder(ctx, area, nullptr);
    if (known <= 0)
        return Fail(known < 0 ? kStorageError : uint32_t(WC_INVALID_FILEAREA), 0);
    sqlite3_stmt* st = Prepare(ctx, sFilesInArea);
    if (!st)
        return Fail(kStorageError, 0);
    sqlite3_bind_int(st, 1, area);
    if (sqlite3_step(st) != SQLITE_ROW) {
        sqlite3_reset(st);
        return Fail(kStorageError, 0);
    }
    const int32_t n = sqlite3_column_int(st, 0);
    sqlite3_reset(st);
    return n;
}

bool LookupName(const char* name, UserRef* out)
{
    WC_OP("LookupName", false);
    WC_LOGGED_IN(false);
    if (!name || !out)
        return Fail(kBadArgument, false);
    const size_t length = ::strnlen(name, sizeof out->UserName);
    if (length == 0 || length >= sizeof out->UserName)
        return Fail(uint32_t(WC_USER_NOT_FOUND), false);
    sqlite3_stmt* st = Prepare(ctx, sUserByName);
    if (!st)
        return Fail(kStorageError, false);
    const std::string u = wcstore::Latin1ToUtf8(name, length);
    sqlite3_bind_text(st, 1, u.data(), int(u.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(st);
        return Fail(rc == SQLITE_DONE ? uint32_t(WC_USER_NOT_FOUND) : kStorageError, false);
    }
    std::memset(out, 0, sizeof *out);
    out->UserId = uint32_t(sqlite3_column_int64(st, 0));
    if (const unsigned char* t = sqlite3_column_text(st, 1))
        wcstore::Utf8ToLatin1Field(t, sqlite3_column_bytes(st, 1), out->UserName,
                                   sizeof out->UserName - 1);
    sqlite3_reset(st);
    return true;
}

namespace
{

bool DeliverUser(sqlite3_stmt* st, UserRecord* out, uint32_t* position)
{
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(st);
        return Fail(rc == SQLITE_DONE ? uint32_t(WC_RECORD_NOT_FOUND) : kStorageError, false);
    }
    std::memset(out, 0, sizeof *out);
    const uint32_t id = uint32_t(sqlite3_column_int64(st, 0));
    std::memcpy(out->Reserved0, &id, sizeof id);
    if (const unsigned char* t = sqlite3_column_text(st, 1))
        wcstore::Utf8ToLatin1Field(t, sqlite3_column_bytes(st, 1), out->Name, sizeof out->Name - 1);
    sqlite3_reset(st);
    if (position)
        *position = id;
    return true;
}

} // namespace

bool GetFirstUser(int32_t key, UserRecord* out, uint32_t* position)
{
    WC_OP("GetFirstUser", false);
    WC_LOGGED_IN(false);
    if (!out || !position)
        return Fail(kBadArgument, false);
    if (key != WC_KEY_USER_NAME)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    ResetCursor(ctx);
    sqlite3_stmt* st = Prepare(ctx, sFirstUser);
    if (!st)
        return Fail(kStorageError, false);
    return DeliverUser(st, out, position);
}

bool GetNextUser(int32_t key, UserRecord* out, uint32_t* position)
{
    WC_OP("GetNextUser", false);
    WC_LOGGED_IN(false);
    if (!out || !position)
        return Fail(kBadArgument, false);
    if (key != WC_KEY_USER_NAME)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    ResetCursor(ctx);
    sqlite3_stmt* st = Prepare(ctx, sNextUser);
    if (!st)
        return Fail(kStorageError, false);
    // The user after the one in the buffer, by name.
    const size_t length = wcstore::FieldLength(out->Name, sizeof out->Name);
    const std::string u = wcstore::Latin1ToUtf8(out->Name, length);
    sqlite3_bind_text(st, 1, u.data(), int(u.size()), SQLITE_TRANSIENT);
    return DeliverUser(st, out, position);
}

// ---- file records ----------------------------------------------------------

bool SearchFileRecByAreaName(int32_t area, const char* name, FileRec* out, uint32_t* position)
{
    WC_OP("SearchFileRecByAreaName", false);
    WC_LOGGED_IN(false);
    if (!name || !out || !position)
        return Fail(kBadArgument, false);
    const size_t length = ::strnlen(name, 17);
    if (length > 16)
        return Fail(kBadArgument, false);
    ResetCursor(ctx);
    sqlite3_stmt* st = Prepare(ctx, sSeekFrom);
    if (!st)
        return Fail(kStorageError, false);
    BindKey(st, area, Key{name, length});
    return StepAndDeliver(ctx, st, out, position);
}

bool GetNextFileRec(int32_t key, FileRec* rec, uint32_t* position)
{
    WC_OP("GetNextFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec || !position)
        return Fail(kBadArgument, false);
    if (key != WC_KEY_AREA_NAME)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    const Key name = FieldKey(rec->Name, sizeof rec->Name);
    // Fast path: the caller hands back the record this cursor delivered
    // last, so the running statement's next row is the answer.
    if (*position == ctx.cursorSerial && CursorOn(ctx, rec->Area, name))
        return StepAndDeliver(ctx, ctx.cursor, rec, position);
    // Otherwise seek past the buffer's (area, name), which need not exist
    // any more (deleted or moved since it was read).
    ResetCursor(ctx);
    sqlite3_stmt* st = Prepare(ctx, sSeekAfter);
    if (!st)
        return Fail(kStorageError, false);
    const FileRec from = *rec;
    BindKey(st, from.Area, FieldKey(from.Name, sizeof from.Name));
    return StepAndDeliver(ctx, st, rec, position);
}

bool GetFileRecByAreaName(int32_t area, const char* name, FileRec* out, uint32_t* position)
{
    WC_OP("GetFileRecByAreaName", false);
    WC_LOGGED_IN(false);
    if (!name || !out)
        return Fail(kBadArgument, false);
    const size_t length = ::strnlen(name, 17);
    if (length > 16)
        return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
    ResetCursor(ctx);
    FullFileRec full;
    const int found = ReadByKey(ctx, area, Key{name, length}, &full);
    if (found <= 0)
        return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
    std::memcpy(out, &full.Rec, sizeof *out);
    NoteRead(ctx, *out);
    if (position)
        *position = 0; // no cursor: a following GetNextFileRec seeks
    return true;
}

bool GetFullFileRec(const FileRec* rec, FullFileRec* out)
{
    WC_OP("GetFullFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec || !out)
        return Fail(kBadArgument, false);
    const FileRec key = *rec; // `out` may overlap `rec`
    const Key name = FieldKey(key.Name, sizeof key.Name);
    // The record the walk just delivered: its row is still under the cursor.
    if (CursorOn(ctx, key.Area, name)) {
        wcstore::ReadFullRec(ctx.cursor, *out);
        NoteRead(ctx, out->Rec);
        return true;
    }
    const int found = ReadByKey(ctx, key.Area, name, out);
    if (found <= 0)
        return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
    NoteRead(ctx, out->Rec);
    return true;
}

bool UpdateFullFileRec(const FullFileRec* rec)
{
    WC_OP("UpdateFullFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec)
        return Fail(kBadArgument, false);
    const FullFileRec full = *rec;
    const Key name = FieldKey(full.Rec.Name, sizeof full.Rec.Name);
    return WriteTransaction(ctx, [&] { return StoreOver(ctx, full.Rec.Area, name, full); });
}

bool UpdateFileRec(const FileRec* rec)
{
    WC_OP("UpdateFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec)
        return Fail(kBadArgument, false);
    const FileRec r = *rec;
    const Key name = FieldKey(r.Name, sizeof r.Name);
    return WriteTransaction(ctx, [&]() -> bool {
        // Which stored record does the buffer stand for? The one at its own
        // (area, name), unless its Area was changed to move it: then the
        // record of that name that was read last, or the only record of
        // that name in another area.
        FullFileRec here, last;
        const int atTarget = ReadByKey(ctx, r.Area, name, &here);
        if (atTarget < 0)
            return Fail(kStorageError, false);
        int32_t source = 0;
        bool haveSource = false;
        if (ctx.haveLastRead && ctx.lastReadArea != r.Area &&
            wcstore::EqualNoCase(ctx.lastReadName.data(), ctx.lastReadName.size(), name.text,
                                 name.length)) {
            const int found = ReadByKey(ctx, ctx.lastReadArea, name, &last);
            if (found < 0)
                return Fail(kStorageError, false);
            if (found == 1) {
                if (atTarget == 1 && SameButArea(last.Rec, r))
                    return Fail(uint32_t(WC_DUPLICATE_RECORD), false);
                if (atTarget == 0) {
                    source = ctx.lastReadArea;
                    haveSource = true;
                }
            }
        }
        if (!haveSource && atTarget == 1) {
            source = r.Area;
            haveSource = true;
        }
        if (!haveSource) {
            sqlite3_stmt* st = Prepare(ctx, sSameName);
            if (!st)
                return Fail(kStorageError, false);
            sqlite3_bind_int(st, 2, r.Area);
            const std::string u = wcstore::Latin1ToUtf8(name.text, name.length);
            sqlite3_bind_text(st, 1, u.data(), int(u.size()), SQLITE_TRANSIENT);
            int count = 0, rc;
            int32_t only = 0;
            while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
                only = sqlite3_column_int(st, 0);
                ++count;
            }
            sqlite3_reset(st);
            if (rc != SQLITE_DONE)
                return Fail(kStorageError, false);
            if (count != 1)
                return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
            source = only;
            haveSource = true;
        }
        if (source != r.Area) {
            const int known = AreaFolder(ctx, r.Area, nullptr);
            if (known <= 0)
                return Fail(known < 0 ? kStorageError : uint32_t(WC_INVALID_FILEAREA), false);
        }
        FullFileRec stored;
        const int found = ReadByKey(ctx, source, name, &stored);
        if (found <= 0)
            return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
        std::memcpy(&stored.Rec, &r, sizeof r);
        return StoreOver(ctx, source, name, stored);
    });
}

bool AddFileRec(const FullFileRec* rec)
{
    WC_OP("AddFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec)
        return Fail(kBadArgument, false);
    const FullFileRec full = *rec;
    const Key name = FieldKey(full.Rec.Name, sizeof full.Rec.Name);
    if (name.length == 0)
        return Fail(uint32_t(WC_ITEM_REQUIRES_NAME), false);
    if (!wcstore::IsSafeFileName(name.text, name.length))
        return Fail(kBadArgument, false);
    return WriteTransaction(ctx, [&]() -> bool {
        const int known = AreaFolder(ctx, full.Rec.Area, nullptr);
        if (known <= 0)
            return Fail(known < 0 ? kStorageError : uint32_t(WC_INVALID_FILEAREA), false);
        sqlite3_stmt* st = Prepare(ctx, sInsert);
        if (!st)
            return Fail(kStorageError, false);
        wcstore::BindFullRec(st, full);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc == SQLITE_CONSTRAINT)
            return Fail(uint32_t(WC_DUPLICATE_RECORD), false);
        if (rc != SQLITE_DONE)
            return Fail(kStorageError, false);
        return true;
    });
}

bool DeleteFileRec(const FileRec* rec, int32_t deleteFile)
{
    WC_OP("DeleteFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec)
        return Fail(kBadArgument, false);
    const FileRec r = *rec;
    const Key name = FieldKey(r.Name, sizeof r.Name);
    return WriteTransaction(ctx, [&]() -> bool {
        sqlite3_stmt* st = Prepare(ctx, sDelete);
        if (!st)
            return Fail(kStorageError, false);
        BindKey(st, r.Area, name);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            return Fail(kStorageError, false);
        if (sqlite3_changes(ctx.db) == 0)
            return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
        if (!deleteFile)
            return true;
        // The record's file goes too; a name that could leave the area's
        // folder is never used on the disk.
        if (!wcstore::IsSafeFileName(name.text, name.length))
            return Fail(uint32_t(WC_ACCESS_DENIED), false);
        std::string folder;
        const int known = AreaFolder(ctx, r.Area, &folder);
        if (known < 0)
            return Fail(kStorageError, false);
        if (known == 0)
            return true;
        bool exists = false;
        const std::string path =
            wcstore::FindInFolder(folder, std::string(name.text, name.length), &exists);
        struct stat sb {
        };
        if (exists && ::lstat(path.c_str(), &sb) == 0 && !S_ISDIR(sb.st_mode) &&
            ::unlink(path.c_str()) != 0 && errno != ENOENT)
            return Fail(uint32_t(WC_ACCESS_DENIED), false);
        return true;
    });
}

// ---- server files ----------------------------------------------------------

bool WcExistFile(const char* path)
{
    WC_OP("WcExistFile", false);
    WC_LOGGED_IN(false);
    DiskFile f;
    if (!ResolveServerPath(ctx, path, f))
        return false;
    struct stat sb {
    };
    if (!f.exists || ::stat(f.path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode))
        return Fail(uint32_t(WC_ITEM_NOT_FOUND), false);
    return true;
}

WcHandle WcCreateFile(const char* path, uint32_t access, uint32_t share, uint32_t disposition)
{
    (void)share; // sharing is not enforced: files are opened for every process
    WC_OP("WcCreateFile", WcHandle(0));
    WC_LOGGED_IN(WcHandle(0));
    int flags = O_CLOEXEC;
    const bool read = access & WC_GENERIC_READ, write = access & WC_GENERIC_WRITE;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (disposition) {
    case 1: // create new
        flags |= O_CREAT | O_EXCL;
        break;
    case WC_CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case WC_OPEN_EXISTING:
        break;
    case 4: // open always
        flags |= O_CREAT;
        break;
    case 5: // truncate existing
        if (!write)
            return Fail(kBadArgument, WcHandle(0));
        flags |= O_TRUNC;
        break;
    default:
        return Fail(kBadArgument, WcHandle(0));
    }
    DiskFile f;
    if (!ResolveServerPath(ctx, path, f))
        return 0;
    if (!f.exists && !(flags & O_CREAT))
        return Fail(uint32_t(WC_ITEM_NOT_FOUND), WcHandle(0));
    const int fd = ::open(f.path.c_str(), flags, 0644);
    if (fd < 0)
        return Fail(errno == EEXIST   ? uint32_t(WC_ITEM_ALREADY_EXISTS)
                    : errno == ENOENT ? uint32_t(WC_ITEM_NOT_FOUND)
                                      : uint32_t(WC_ACCESS_DENIED),
                    WcHandle(0));
    struct stat sb {
    };
    if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        ::close(fd);
        return Fail(uint32_t(WC_ACCESS_DENIED), WcHandle(0));
    }
    const WcHandle h = ctx.nextHandle++;
    OpenFile& opened = ctx.files[h];
    opened.fd = fd;
    // A new file written from the start: collect its writes.
    if (write && !read && (flags & O_TRUNC))
        opened.writer = wcsrv::BlockWriter::Create(fd);
    return h;
}

bool WcGetFileTime(WcHandle handle, FILETIME* utc)
{
    WC_OP("WcGetFileTime", false);
    WC_LOGGED_IN(false);
    OpenFile* f = FindHandle(ctx, handle);
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    if (!utc)
        return Fail(kBadArgument, false);
    if (!EndCollecting(*f))
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    struct stat sb {
    };
    if (::fstat(f->fd, &sb) != 0)
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    *utc = MakeFileTime(wcstore::UnixToFileTime(sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec));
    return true;
}

uint32_t WcGetFileSize(WcHandle handle)
{
    constexpr uint32_t kInvalidSize = 0xFFFFFFFFu;
    WC_OP("WcGetFileSize", kInvalidSize);
    WC_LOGGED_IN(kInvalidSize);
    OpenFile* f = FindHandle(ctx, handle);
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), kInvalidSize);
    struct stat sb {
    };
    if (::fstat(f->fd, &sb) != 0)
        return Fail(uint32_t(WC_ACCESS_DENIED), kInvalidSize);
    const off_t size = std::max<off_t>(sb.st_size, f->writer ? f->writer->Accepted() : 0);
    return uint32_t(size); // the low word, as the size of a record holds it
}

bool WcReadFile(WcHandle handle, void* buffer, uint32_t count, uint32_t* done)
{
    WC_OP("WcReadFile", false);
    WC_LOGGED_IN(false);
    OpenFile* f = FindHandle(ctx, handle);
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    if ((!buffer && count) || !done)
        return Fail(kBadArgument, false);
    *done = 0;
    auto* p = static_cast<char*>(buffer);
    while (*done < count) {
        const ssize_t n = ::read(f->fd, p + *done, count - *done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(uint32_t(WC_ACCESS_DENIED), false);
        if (n == 0)
            break;
        *done += uint32_t(n);
    }
    return true;
}

bool WcWriteFile(WcHandle handle, const void* buffer, uint32_t count, uint32_t* done)
{
    WC_OP("WcWriteFile", false);
    WC_LOGGED_IN(false);
    OpenFile* f = FindHandle(ctx, handle);
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    if ((!buffer && count) || !done)
        return Fail(kBadArgument, false);
    *done = 0;
    const auto* p = static_cast<const char*>(buffer);
    if (f->writer) {
        const off_t end = f->writer->Accepted() + off_t(count);
        if (end > f->reserved) {
            const off_t step =
                std::max<off_t>(end - f->reserved, off_t(wcsrv::BlockWriter::kBlockBytes));
            if (::fallocate(f->fd, FALLOC_FL_KEEP_SIZE, f->reserved, step) == 0) {
                f->reserved += step;
            } else if (!EndCollecting(*f)) {
                // No space to reserve: what was collected is written now, so
                // a failure shows at this call.
                return Fail(uint32_t(WC_ACCESS_DENIED), false);
            }
        }
        if (f->writer) {
            if (!f->writer->Append(p, count))
                return Fail(uint32_t(WC_ACCESS_DENIED), false);
            *done = count;
            return true;
        }
    }
    while (*done < count) {
        const ssize_t n = ::write(f->fd, p + *done, count - *done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(uint32_t(WC_ACCESS_DENIED), false);
        *done += uint32_t(n);
    }
    return true;
}

void WcCloseHandle(WcHandle handle)
{
    // A close cannot report failure; a faulted one leaves the handle open.
    // Bytes a write already accepted are stored first in any case: the
    // caller was told they were written.
    std::lock_guard<std::recursive_mutex> lock(gLock);
    if (gContext) {
        auto open = gContext->files.find(handle);
        if (open != gContext->files.end())
            EndCollecting(open->second);
    }
    if (const uint32_t fault = FaultHit("WcCloseHandle")) {
        tLastError = fault;
        return;
    }
    Context* c = LoggedIn();
    if (!c) {
        tLastError = WC_USER_NOT_LOGGED_IN;
        return;
    }
    Context& ctx = *c;
    auto it = ctx.files.find(handle);
    if (it == ctx.files.end()) {
        tLastError = WC_INVALID_INDEX;
        return;
    }
    EndCollecting(it->second);
    ::close(it->second.fd);
    ctx.files.erase(it);
}

uint32_t WcGetLastError(void)
{
    return tLastError;
}

// ---- fault switch ----------------------------------------------------------

void WcFaultFailNth(long k, uint32_t code)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    gFault.count = 0;
    gFault.failAt = k;
    gFault.failAtCode = code;
}

void WcFaultFailKind(const char* operation, uint32_t code)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    gFault.kind = operation ? operation : "";
    gFault.kindCode = code;
}

void WcFaultReset(void)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    gFault = FaultState{};
}

long WcFaultCallCount(void)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    return gFault.count;
}

bool WcTestParseServerPath(const char* path, int32_t* area, char name[16])
{
    int32_t a = 0;
    const char* n = nullptr;
    size_t length = 0;
    if (ParseServerPath(path, a, n, length) != 0)
        return false;
    if (area)
        *area = a;
    if (name) {
        std::memcpy(name, n, length);
        name[length] = '\0';
    }
    return true;
}
