// Helpers shared by the admin functions and the demo builder.
#pragma once

#include "WcStore.h"

#include <string>
#include <vector>

namespace wcadmin::detail
{

// An open BBS database, closed on destruction.
class Db
{
public:
    Db() = default;
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    ~Db();
    // Empty on success, else a message.
    std::string open(const std::string& home, bool create);
    sqlite3* get() const { return m_db; }
    std::string error() const;
    // One-statement helpers; false on error.
    bool exec(const char* sql);

private:
    sqlite3* m_db = nullptr;
};

// A prepared statement, finalized on destruction.
class Stmt
{
public:
    Stmt(sqlite3* db, const char* sql);
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    explicit operator bool() const { return m_st != nullptr; }
    sqlite3_stmt* get() const { return m_st; }

private:
    sqlite3_stmt* m_st = nullptr;
};

bool MakeFolders(const std::string& path);
// "areas/<number>" under the home folder.
std::string DefaultAreaFolder(int number);

// The lines of a FILE_ID.DIZ text (line ends CR LF or LF).
std::vector<std::string> SplitLines(const std::string& text);
// Fills Description, LongDescription and HasLongDescription from the lines.
void ApplyDiz(FullFileRec& rec, const std::vector<std::string>& lines);
// The FILE_ID.DIZ inside a zip archive (member name compared by its last
// part, without regard to case). False when there is none.
bool ReadDizFromZip(const std::string& zipPath, std::string& text);

void SetField(char* field, size_t size, const std::string& text);

} // namespace wcadmin::detail
