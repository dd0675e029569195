// Walks every record of a 1,000,000-record BBS through the server library
// (SearchFileRecByAreaName, then GetNextFileRec while the area stays) and
// reads the same rows with one raw SQLite query; prints both rates and
// their ratio. Also times the walk with GetFullFileRec for every record, as
// the filtered listing does. Each walk runs once to warm the caches, then
// three times in alternating rounds; each side's best run counts.
//
// usage: bench_walk [BBS-FOLDER]   (default /tmp/vt-bench-walk; built when missing)
#include "BenchMeasure.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/wcsrv.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

constexpr long kRecords = 1000000;
constexpr double kGoal = 0.85;
// The texts of the FileRec part at the start of a record's exact text
// bytes: name, description, password, uploader name.
constexpr size_t kTextRecPart = 16 + 76 + 32 + 72;

void CopyText(sqlite3_stmt* st, int col, char* field, size_t size)
{
    const unsigned char* t = sqlite3_column_text(st, col);
    const size_t n = std::min(size - 1, size_t(sqlite3_column_bytes(st, col)));
    if (t)
        std::memcpy(field, t, n);
    field[n] = 0;
}

// The same rows, with the same columns read into a record, in one query.
// The connection is opened as the library opens its own (no SQLite mutex,
// no memory map), so the baseline pays for nothing the library is spared. Text columns are copied
// as they are; the exact text bytes, when a record carries them, replace them as in the library.
WalkResult RawWalk(const std::string& home)
{
    WalkResult w;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((home + "/wcsrv.db").c_str(), &db,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "PRAGMA mmap_size=0", nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open the database: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
    const auto start = BenchClock::now();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT area, name, description, password, size, file_time, "
                       "last_accessed, never_overwrite, never_delete, free_file, "
                       "copy_before_download, failed_scan, free_time, downloads, cost, "
                       "uploader_id, uploader_name, has_long_description, opaque, text_image "
                       "FROM files ORDER BY area, name",
                       -1, &st, nullptr);
    FileRec r;
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::memset(&r, 0, sizeof r);
        r.Area = sqlite3_column_int(st, 0);
        CopyText(st, 1, r.Name, sizeof r.Name);
        CopyText(st, 2, r.Description, sizeof r.Description);
        CopyText(st, 3, r.Password, sizeof r.Password);
        r.Size = sqlite3_column_int(st, 4);
        r.FileTime = MakeFileTime(uint64_t(sqlite3_column_int64(st, 5)));
        r.LastAccessed = MakeFileTime(uint64_t(sqlite3_column_int64(st, 6)));
        r.NeverOverwrite = sqlite3_column_int(st, 7);
        r.NeverDelete = sqlite3_column_int(st, 8);
        r.FreeFile = sqlite3_column_int(st, 9);
        r.CopyBeforeDownload = sqlite3_column_int(st, 10);
        r.FailedScan = sqlite3_column_int(st, 11);
        r.FreeTime = sqlite3_column_int(st, 12);
        r.Downloads = sqlite3_column_int(st, 13);
        r.Cost = sqlite3_column_int(st, 14);
        r.Uploader.UserId = uint32_t(sqlite3_column_int64(st, 15));
        CopyText(st, 16, r.Uploader.UserName, sizeof r.Uploader.UserName);
        r.HasLongDescription = sqlite3_column_int(st, 17);
        if (sqlite3_column_bytes(st, 18) == 72)
            std::memcpy(r.Reserved4, sqlite3_column_blob(st, 18), sizeof r.Reserved4);
        if (sqlite3_column_bytes(st, 19) >= int(kTextRecPart)) {
            const auto* image = static_cast<const char*>(sqlite3_column_blob(st, 19));
            std::memcpy(r.Name, image, sizeof r.Name);
            std::memcpy(r.Description, image + 16, sizeof r.Description);
            std::memcpy(r.Password, image + 92, sizeof r.Password);
            std::memcpy(r.Uploader.UserName, image + 124, sizeof r.Uploader.UserName);
        }
        w.sizeSum += r.Size;
        ++w.records;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    w.seconds = SecondsSince(start);
    return w;
}

long CountRecords(const std::string& home)
{
    sqlite3* db = nullptr;
    long n = -1;
    if (sqlite3_open_v2((home + "/wcsrv.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM files", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            n = long(sqlite3_column_int64(st, 0));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string home = argc > 1 ? argv[1] : "/tmp/vt-bench-walk";
    struct stat sb {
    };
    if (::stat((home + "/wcsrv.db").c_str(), &sb) != 0) {
        std::printf("building a %ld-record demo BBS in %s ...\n", kRecords, home.c_str());
        std::fflush(stdout);
        wcadmin::DemoOptions options;
        options.files = kRecords;
        options.noFiles = true;
        const auto start = BenchClock::now();
        if (const auto e = wcadmin::MakeDemo(home, options); !e.empty()) {
            std::fprintf(stderr, "bench_walk: %s\n", e.c_str());
            return 1;
        }
        std::printf("built in %.1f s\n", SecondsSince(start));
    }
    const long total = CountRecords(home);
    std::printf("records: %ld\n", total);

    setenv("WCSRV_HOME", home.c_str(), 1);
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "bench_walk: login failed: %x\n", WcGetLastError());
        return 1;
    }
    // A warm-up of each walk, then alternating rounds: every side reads from
    // the same warm caches, and a burst of load elsewhere hits all sides.
    RawWalk(home);
    LibraryWalk(false);
    LibraryWalk(true);
    WalkResult raw, lib, full;
    std::vector<double> rawTimes, libTimes, fullTimes;
    for (int i = 0; i < 3; ++i) {
        const WalkResult a = RawWalk(home);
        const WalkResult b = LibraryWalk(false);
        const WalkResult c = LibraryWalk(true);
        rawTimes.push_back(a.seconds);
        libTimes.push_back(b.seconds);
        fullTimes.push_back(c.seconds);
        if (i == 0 || a.seconds < raw.seconds)
            raw = a;
        if (i == 0 || b.seconds < lib.seconds)
            lib = b;
        if (i == 0 || c.seconds < full.seconds)
            full = c;
    }
    LogoutUser();
    WildcatServerDeleteContext();

    if (lib.records != raw.records || lib.sizeSum != raw.sizeSum || full.records != raw.records ||
        full.sizeSum != raw.sizeSum) {
        std::fprintf(
            stderr, "bench_walk: walks differ: raw %ld/%lld library %ld/%lld full %ld/%lld\n",
            raw.records, raw.sizeSum, lib.records, lib.sizeSum, full.records, full.sizeSum);
        return 1;
    }
    const double rawRate = raw.records / raw.seconds;
    const double libRate = lib.records / lib.seconds;
    const double fullRate = full.records / full.seconds;
    std::printf("raw SQLite query:          %10.0f records/s (best %.3f s of %s)\n", rawRate,
                raw.seconds, RunList(rawTimes).c_str());
    std::printf("library walk:              %10.0f records/s (best %.3f s of %s)\n", libRate,
                lib.seconds, RunList(libTimes).c_str());
    std::printf("walk with GetFullFileRec:  %10.0f records/s (best %.3f s of %s), %.2f of the "
                "walk\n",
                fullRate, full.seconds, RunList(fullTimes).c_str(), fullRate / libRate);
    return RatioLine("walk", libRate / rawRate, kGoal);
}
