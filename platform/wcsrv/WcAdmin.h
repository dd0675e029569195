// Administration of a BBS without the BBS software: creating a BBS, its
// areas and users, importing files, building demo data. Used by the
// wcsrv-admin tool, and by tests and benchmarks to build their data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wcadmin
{

// Empty on success, else a message for the user.
using Result = std::string;

// The home folder WCSRV_HOME names, else $XDG_DATA_HOME/wcsrv
// (~/.local/share/wcsrv).
std::string DefaultHome();

// The database setting the admin functions use: a PostgreSQL connection
// string, or empty for wcsrv.db in the home folder. WCSRV_DATABASE unless
// UseDatabase named another.
std::string Database();
void UseDatabase(const std::string& setting);

Result CreateBbs(const std::string& home, const std::string& sysopName);
// folder empty: "<home>/areas/<number>".
Result AddArea(const std::string& home, int number, const std::string& name,
               const std::string& folder = std::string());
Result AddUser(const std::string& home, const std::string& name);
// The local-time FILETIME of a Unix time (the host's time zone).
uint64_t LocalFileTime(int64_t unixSeconds, long nanoseconds = 0);
// Copies the file into the area's folder and adds its record (the name's
// bytes with ASCII letters upper-cased, server/DiskNames.h; size and local
// date from the file, descriptions from a FILE_ID.DIZ when the file is a zip
// archive holding one). A link that lies in an area's folder is refused:
// it may point anywhere.
Result ImportFile(const std::string& home, int area, const std::string& path);

struct AreaInfo {
    int number = 0;
    std::string name;
    std::string folder;
};
Result ListAreas(const std::string& home, std::vector<AreaInfo>& out);
// The folder that holds the files of an area.
std::string AreaFolder(const std::string& home, int area);

struct FileInfo {
    std::string name;
    int32_t size = 0;
    uint64_t fileTime = 0; // FILETIME ticks holding local time
    std::string description;
};
// The records of an area in key order.
Result ListFiles(const std::string& home, int area, std::vector<FileInfo>& out);

struct DemoOptions {
    int areas = 12;
    long files = 600;
    uint32_t seed = 1;
    bool noFiles = false; // records only, no files on disk
};
// Builds a demo BBS in `home`, which must not hold a BBS yet; the same
// options give the same BBS.
Result MakeDemo(const std::string& home, const DemoOptions& options);

// Copies a whole BBS (the BBS row, areas, users, every byte of every
// record) from the store `from` into the store `to`, which must not hold a
// BBS yet; each is a database setting (empty: wcsrv.db in `home`). The
// area folders stay where they are.
Result CopyStore(const std::string& home, const std::string& from, const std::string& to);

} // namespace wcadmin
