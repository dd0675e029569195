// The BBS's storage, shared by the server library and the admin tool: the
// database schema, opening the database, turning records into table rows
// and back, and finding files in an area's folder. Not part of the
// library's exported interface.
#pragma once

#include "server/Records.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>

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
// characters, no path separator, not "." or "..", no control character.
bool IsSafeFileName(const char* name, size_t length);

// ASCII-only case-insensitive comparison, the order of names on key 1 and 2.
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
// path with the name as given. `exists` tells which.
std::string FindInFolder(const std::string& folder, const std::string& name, bool* exists);

// Windows FILETIME ticks (100 ns since 1601-01-01, UTC) from a Unix time.
uint64_t UnixToFileTime(int64_t seconds, long nanoseconds);

} // namespace wcstore
