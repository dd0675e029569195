// Walks every record of a 1,000,000-record BBS through the server library
// (SearchFileRecByAreaName, then GetNextFileRec while the area stays) and
// reads the same rows with one raw SQLite query; prints both rates and
// their ratio. Also times the walk with GetFullFileRec for every record, as
// the filtered listing does.
//
// usage: bench_walk [BBS-FOLDER]   (default /tmp/vt-bench-walk; built when missing)
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

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct WalkResult {
    long records = 0;
    long long sizeSum = 0;
    double seconds = 0;
};

WalkResult LibraryWalk(bool withFull)
{
    WalkResult w;
    const auto start = Clock::now();
    const int32_t areas = GetFileAreaCount();
    FileRec r;
    FullFileRec full;
    for (int32_t area = 1; area <= areas; ++area) {
        uint32_t position = 0;
        if (!SearchFileRecByAreaName(area, "", &r, &position))
            continue;
        while (r.Area == area) {
            if (withFull) {
                if (!GetFullFileRec(&r, &full))
                    break;
                w.sizeSum += full.Rec.Size;
            } else {
                w.sizeSum += r.Size;
            }
            ++w.records;
            if (!GetNextFileRec(1, &r, &position))
                break;
        }
    }
    w.seconds = Seconds(start);
    return w;
}

void CopyText(sqlite3_stmt* st, int col, char* field, size_t size)
{
    const unsigned char* t = sqlite3_column_text(st, col);
    const size_t n = std::min(size - 1, size_t(sqlite3_column_bytes(st, col)));
    if (t)
        std::memcpy(field, t, n);
    field[n] = 0;
}

// The same rows, with the same columns read into a record, in one query.
WalkResult RawWalk(const std::string& home)
{
    WalkResult w;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((home + "/wcsrv.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        std::fprintf(stderr, "cannot open the database: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
    const auto start = Clock::now();
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
        w.sizeSum += r.Size;
        ++w.records;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    w.seconds = Seconds(start);
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
        const auto start = Clock::now();
        if (const auto e = wcadmin::MakeDemo(home, options); !e.empty()) {
            std::fprintf(stderr, "bench_walk: %s\n", e.c_str());
            return 1;
        }
        std::printf("built in %.1f s\n", Seconds(start));
    }
    const long total = CountRecords(home);
    std::printf("records: %ld\n", total);

    setenv("WCSRV_HOME", home.c_str(), 1);
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "bench_walk: login failed: %x\n", WcGetLastError());
        return 1;
    }
    // Best of three runs each, after a warm-up, so both read from the cache.
    RawWalk(home);
    WalkResult raw, lib, full;
    for (int i = 0; i < 3; ++i) {
        const WalkResult a = RawWalk(home);
        const WalkResult b = LibraryWalk(false);
        const WalkResult c = LibraryWalk(true);
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
    std::printf("raw SQLite query:          %10.0f records/s (%.3f s)\n", rawRate, raw.seconds);
    std::printf("library walk:              %10.0f records/s (%.3f s)\n", libRate, lib.seconds);
    std::printf(
        "walk with GetFullFileRec:  %10.0f records/s (%.3f s), %.2f of the walk (goal 0.33)\n",
        fullRate, full.seconds, fullRate / libRate);
    std::printf("walk: ratio %.2f (goal 0.5)\n", libRate / rawRate);
    return 0;
}
