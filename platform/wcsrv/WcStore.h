// The BBS's storage, shared by the server library and the admin tool: the
// database schema, opening the database, turning records into table rows
// and back, and finding files in an area's folder. Not part of the
// library's exported interface.
#pragma once

#include "server/Records.h"

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace wcstore
{

inline constexpr const char* kDatabaseName = "wcsrv.db";
inline constexpr int kSchemaVersion = 1;
inline constexpr int kBusyTimeoutMs = 10000;

// Opens the database of the BBS in `home`. `create` makes a new one (and
// its tables); otherwise the file must exist and hold our schema. On
// failure returns null and sets `error`.
sqlite3* OpenDatabase(const std::string& home, bool create, std::string& error);
// True when the database holds the tables and schema version of a BBS.
bool CheckSchema(sqlite3* db);

std::string DatabasePath(const std::string& home);
// WCSRV_HOME, else $XDG_DATA_HOME/wcsrv, else ~/.local/share/wcsrv.
std::string DefaultHome();

// Runs one statement without results. False on error.
bool Exec(sqlite3* db, const char* sql);

// The columns of the file table in the order the row helpers use them:
// the text after SELECT of every file query.
extern const char* const kFileColumns;
inline constexpr int kFileColumnCount = 22;
// "INSERT INTO files(<columns>) VALUES(?1..?22)".
extern const char* const kInsertFileSql;
// "UPDATE files SET <column>=?n ... WHERE area=?23 AND name=?24".
extern const char* const kUpdateFileSql;

// Binds the whole record to parameters 1..22 of kInsertFileSql/kUpdateFileSql.
void BindFullRec(sqlite3_stmt* st, const FullFileRec& rec);
// Rebuilds a record from a row selected with kFileColumns: ReadFileRec
// only the FileRec part (the walk), ReadFullRec all 1792 bytes.
void ReadFileRec(sqlite3_stmt* st, FileRec& rec);
void ReadFullRec(sqlite3_stmt* st, FullFileRec& rec);

// Bounded length of a fixed text field (up to its NUL or its size).
inline size_t FieldLength(const char* field, size_t size)
{
    size_t n = 0;
    while (n < size && field[n])
        ++n;
    return n;
}

// A file name that may name a file in an area's folder: 1 to 15
// characters, no path separator, not "." or "..", no control character
// (disknames::ProblemOfFileName, server/DiskNames.h).
bool IsSafeFileName(const char* name, size_t length);

// ASCII-only case-insensitive comparison, the order of names on key 1 and 2
// (disknames::SameNameAnyCase).
bool EqualNoCase(const char* a, size_t an, const char* b, size_t bn);

// Latin-1 record bytes <-> UTF-8 column text.
std::string Latin1ToUtf8(const char* s, size_t n);
// Writes at most `size` bytes (no NUL added beyond `size`).
void Utf8ToLatin1Field(const unsigned char* s, int n, char* field, size_t size);

// The absolute folder of an area from its stored folder text: a relative
// folder lies under `home`.
std::string ResolveFolder(const std::string& home, const std::string& stored);

// The disk path of `name` in `folder`: the existing entry whose name equals
// it without regard to ASCII letter case (an exact match first), else the
// path with the name as given. `exists` tells which. The program finds a
// record's file the same way (disknames::FindInFolder, server/DiskNames.h).
std::string FindInFolder(const std::string& folder, const std::string& name, bool* exists);

// ---- the record store -------------------------------------------------------
//
// The records of a BBS (the BBS row, areas, users, file records) live in a
// store: SQLite in wcsrv.db under the home folder, or a PostgreSQL
// database when the database setting holds a connection string. Texts of
// areas, users and the sysop pass as UTF-8; file names as the Latin-1
// bytes of a record's Name field. File names compare and sort as SQLite's
// NOCASE does: ASCII letters folded to lower case, then the bytes.

enum class Rc { Ok, NotFound, Duplicate, Error };

struct AreaRow {
    int32_t number = 0;
    std::string name;
    std::string folder; // as stored: relative to the home folder unless absolute
};

struct UserRow {
    uint32_t id = 0;
    std::string name;
};

// ---- the store's own check (WcCheckStore) ----------------------------------

// What a finding is about; the numbers are WcCheckPart's (server/wcsrv.h).
enum class CheckPart { Database = 1, Config = 2, User = 3, Area = 4, Record = 5 };

struct CheckFinding {
    CheckPart part = CheckPart::Database;
    int32_t area = 0;
    uint32_t id = 0;
    std::string name; // a record's name as Latin-1 bytes
    std::string text;
};

struct CheckCounts {
    uint64_t records = 0, users = 0, areas = 0;
    bool integrity = false; // the integrity pass ran
};

// Gets each finding; false ends the check.
using CheckVisit = std::function<bool(const CheckFinding&)>;

// A parameter or a column of Store::Sql: an integer, bytes or NULL.
struct SqlValue {
    enum Kind { Null, Int, Bytes } kind = Null;
    int64_t i = 0;
    std::string b;
    static SqlValue Of(int64_t v) { return {Int, v, {}}; }
    static SqlValue Of(std::string v) { return {Bytes, 0, std::move(v)}; }
    static SqlValue Of(const void* p, size_t n)
    {
        return {Bytes, 0, std::string(static_cast<const char*>(p), n)};
    }
};
using SqlRowVisit = std::function<bool(const std::vector<SqlValue>&)>;

// The FileRec part of a row a seek fills.
inline FileRec& RecOf(FullFileRec& row)
{
    return row.Rec;
}
inline FileRec& RecOf(FileRec& row)
{
    return row;
}

class Store
{
public:
    virtual ~Store() = default;
    virtual bool IsPostgres() const = 0;
    // The last error's text.
    virtual std::string Error() const = 0;

    // A write transaction: every change between Begin and Commit lands
    // together or not at all.
    virtual bool Begin() = 0;
    virtual bool Commit() = 0;
    virtual void Rollback() = 0;

    virtual Rc GetBbs(std::string& sysop, std::string& makewild) = 0;
    // Creates the BBS row (the store's tables exist).
    virtual Rc PutBbs(const std::string& sysop, const std::string& makewild) = 0;

    // The highest area number (0 without areas).
    virtual Rc AreaCount(int32_t& n) = 0;
    virtual Rc GetArea(int32_t number, AreaRow* out) = 0;
    virtual Rc ListAreas(std::vector<AreaRow>& out) = 0;
    virtual Rc AddArea(const AreaRow& area) = 0;

    // id 0: the next free id.
    virtual Rc AddUser(const std::string& name, uint32_t id = 0) = 0;
    virtual Rc UserByName(const std::string& name, UserRow& out) = 0;
    virtual Rc FirstUser(UserRow& out) = 0;
    // The user after the user `id`, by name; after `name` when that user is gone.
    virtual Rc NextUser(const std::string& name, uint32_t id, UserRow& out) = 0;
    virtual Rc ListUsers(std::vector<UserRow>& out) = 0;

    virtual Rc CountFiles(int32_t area, int32_t& n) = 0;
    // Reads records in key order from (area, name), or from the record
    // after it (`after`), into rows[0..max): whole records (`full`) or the
    // FileRec part only. Stops after the first record of an area other
    // than `stopArea` (stopArea < 0: never). Ok with count 0 at the end.
    virtual Rc Seek(int32_t area, const char* name, size_t nameLength, bool after, bool full,
                    int32_t stopArea, FullFileRec* rows, size_t max, size_t& count) = 0;
    // The same, FileRec parts only, packed one after another: a walk's
    // batch of them stays small enough for the processor's cache.
    virtual Rc SeekParts(int32_t area, const char* name, size_t nameLength, bool after,
                         int32_t stopArea, FileRec* rows, size_t max, size_t& count) = 0;
    // The whole record (area, name); out may be null.
    virtual Rc Read(int32_t area, const char* name, size_t nameLength, FullFileRec* out) = 0;
    virtual Rc Insert(const FullFileRec& rec) = 0;
    // Many records at once inside a transaction (the demo, copies).
    virtual Rc InsertMany(const FullFileRec* recs, size_t n);
    // Writes `rec` (its own area and name) over the record (area, name).
    virtual Rc Update(int32_t area, const char* name, size_t nameLength,
                      const FullFileRec& rec) = 0;
    virtual Rc Remove(int32_t area, const char* name, size_t nameLength) = 0;
    // The areas other than `except` holding a record of this name, ascending.
    virtual Rc AreasWithName(const char* name, size_t nameLength, int32_t except,
                             std::vector<int32_t>& out) = 0;
    // The rows a walk reads ahead per query: FileRec parts, and whole
    // records (larger: fewer of them keep the read-ahead small).
    virtual size_t WalkBatch() const = 0;
    virtual size_t WalkBatchFull() const { return WalkBatch(); }

    // ---- content hashes of files ----
    // The duplicate finder keeps the SHA-256 of a record's file with the
    // size, last write time and file number the file had when it was read,
    // keyed by the record's (area, name). The table is made by the first
    // put, so a store made before it existed works unchanged; reads of a
    // store without it find nothing and write nothing.
    struct FileHash {
        uint64_t size = 0;
        uint64_t lastWrite = 0; // FILETIME ticks, UTC
        uint64_t file = 0;
        unsigned char sha256[32] = {};
    };
    struct FileHashEntry {
        int32_t area = 0;
        std::string name; // the Latin-1 bytes of the record's name
        FileHash hash;
    };
    virtual Rc GetFileHash(int32_t area, const char* name, size_t nameLength, FileHash& out) = 0;
    virtual Rc PutFileHash(int32_t area, const char* name, size_t nameLength,
                           const FileHash& hash) = 0;
    // Every kept hash; `visit` returning false ends the walk with Error.
    virtual Rc EachFileHash(const std::function<bool(const FileHashEntry&)>& visit) = 0;

    // ---- tables kept beside the records (the run journal) ----
    // One statement on the store's own connection, inside the write
    // transaction when one is open: `sql` is SQLite's text with ?1, ?2, ...
    // (PostgreSQL gets them as $1, $2, ...), prepared once under `id`
    // (empty: not kept). Each result row goes to `visit` (false ends the
    // rows); `changed` gets the rows the statement changed. Duplicate when
    // a unique key refused a row.
    virtual Rc Sql(const std::string& id, const std::string& sql, const std::vector<SqlValue>& args,
                   const SqlRowVisit& visit = {}, int64_t* changed = nullptr) = 0;

    // ---- the check ----
    // The part of CheckStore that depends on the database: with
    // `integrity`, the database's own check of its pages (SQLite) and every
    // file record row decoded, each row's area looked up in `areas`;
    // without it nothing. Reads only. False when `visit` ended the check.
    virtual bool CheckFiles(bool integrity, const std::set<int32_t>& areas, const CheckVisit& visit,
                            CheckCounts& counts) = 0;
};

// Checks the store and changes nothing: the configuration record, every
// user and area row, then the database's own part (Store::CheckFiles). A
// read that fails is a finding. False when `visit` ended the check.
bool CheckStore(Store& store, bool integrity, const CheckVisit& visit, CheckCounts& counts);
// Why the FileRec part of a row read from the column `area` is no record
// the library can hand out (its name unterminated or no file name, its Area
// not the row's); empty when it is one.
std::string ProblemOfRecord(const FileRec& rec, int32_t area);
// Why a SQLite file row selected with kFileColumns cannot be read back as
// the record it was written from (a column of another type, a text beyond
// Latin-1 or longer than its field, a blob of the wrong size); empty when
// it can.
std::string ProblemOfFileRow(sqlite3_stmt* st);

// True when `setting` is a PostgreSQL connection string (a postgres:// or
// postgresql:// URI, or key=value pairs).
bool IsPostgresSetting(const std::string& setting);
// The database setting: WCSRV_DATABASE, empty when unset.
std::string DatabaseSetting();

enum class OpenResult { Ok, NoBbs, BadDatabase, Unreachable };

// Opens the store of the BBS in `home`: PostgreSQL when `setting` is a
// connection string, else wcsrv.db under `home`. `create` makes the
// store's tables (the database must not hold a BBS yet) without the BBS
// row. On failure returns null, `why` and a message in `error`.
std::unique_ptr<Store> OpenStore(const std::string& home, const std::string& setting, bool create,
                                 std::string& error, OpenResult* why = nullptr);
// Whether the store named by (home, setting) holds a BBS's tables.
bool StoreExists(const std::string& home, const std::string& setting);

std::unique_ptr<Store> OpenSqliteStore(const std::string& home, bool create, std::string& error,
                                       OpenResult* why);
std::unique_ptr<Store> OpenPostgresStore(const std::string& conninfo, bool create,
                                         std::string& error, OpenResult* why);
bool PostgresStoreExists(const std::string& conninfo);

// The order key of a file or user name: the UTF-8 text of the Latin-1
// bytes with ASCII letters in lower case.
std::string NameKey(const char* name, size_t length);
// The same key of a UTF-8 text (user names).
std::string Utf8Key(const std::string& text);

// Windows FILETIME ticks (100 ns since 1601-01-01, UTC) from a Unix time.
uint64_t UnixToFileTime(int64_t seconds, long nanoseconds);

} // namespace wcstore
