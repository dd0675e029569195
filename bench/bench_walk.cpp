// Walks every record of a 1,000,000-record BBS through the server library
// (SearchFileRecByAreaName, then GetNextFileRec while the area stays) and
// reads the same rows with one raw SQLite query; prints both rates and
// their ratio. Also times the walk with GetFullFileRec for every record, as
// the filtered listing does. Each walk runs once to warm the caches, then
// three times in alternating rounds; each side's best run counts.
//
// The same walk on PostgreSQL comes first (see the PostgreSQL section): its
// ratio is printed on a line of its own before the SQLite figures, whose
// ratio stays the last line. The exit code is 2 when either misses its goal.
//
// usage: bench_walk [BBS-FOLDER]   (default /tmp/vt-bench-walk; built when missing)
//        WCSRV_DATABASE=CONN bench_walk ...   PostgreSQL on CONN instead of a
//                                             throwaway server
#include "BenchMeasure.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/wcsrv.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// Times the raw side and the two library walks on the store the library is
// logged in to: a warm-up of each, then three alternating rounds, so every
// side reads from the same warm caches and a burst of load elsewhere hits
// all sides; each side's best run counts. Prints the three rates under the
// raw side's label and returns the library walk over the raw side, or -1
// when the three did not see the same records.
template <typename RawSide> double CompareWalks(const char* rawLabel, RawSide raw)
{
    raw();
    LibraryWalk(false);
    LibraryWalk(true);
    WalkResult best[3];
    std::vector<double> times[3];
    for (int i = 0; i < 3; ++i) {
        const WalkResult round[3] = {raw(), LibraryWalk(false), LibraryWalk(true)};
        for (int side = 0; side < 3; ++side) {
            times[side].push_back(round[side].seconds);
            if (i == 0 || round[side].seconds < best[side].seconds)
                best[side] = round[side];
        }
    }
    const WalkResult &r = best[0], &lib = best[1], &full = best[2];
    if (r.records <= 0 || lib.records != r.records || lib.sizeSum != r.sizeSum ||
        full.records != r.records || full.sizeSum != r.sizeSum) {
        std::fprintf(
            stderr, "bench_walk: walks differ: %s %ld/%lld library %ld/%lld full %ld/%lld\n",
            rawLabel, r.records, r.sizeSum, lib.records, lib.sizeSum, full.records, full.sizeSum);
        return -1;
    }
    const double rawRate = r.records / r.seconds;
    const double libRate = lib.records / lib.seconds;
    const double fullRate = full.records / full.seconds;
    std::printf("%-26s %10.0f records/s (best %.3f s of %s)\n", rawLabel, rawRate, r.seconds,
                RunList(times[0]).c_str());
    std::printf("library walk:              %10.0f records/s (best %.3f s of %s)\n", libRate,
                lib.seconds, RunList(times[1]).c_str());
    std::printf("walk with GetFullFileRec:  %10.0f records/s (best %.3f s of %s), %.2f of the "
                "walk\n",
                fullRate, full.seconds, RunList(times[2]).c_str(), fullRate / libRate);
    return libRate / rawRate;
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

// ---- PostgreSQL ------------------------------------------------------------
//
// The records of the SQLite BBS copied into a PostgreSQL database (unless
// the database WCSRV_DATABASE names holds a BBS already), then the library
// walk against one COPY of the same rows, in the same order, in binary form,
// each row read into a record as the library does. Without WCSRV_DATABASE a
// throwaway server is started for the run (tools/pg-test-server.sh) and
// stopped at the end, also when the benchmark fails or is killed.
namespace pgwalk
{

constexpr double kGoal = 0.5;

// A server of tools/pg-test-server.sh in a temporary folder. A helper
// process of its own stops it and removes the folder as soon as this
// process ends, whichever way it ends: it waits for the end of a pipe
// that only this process holds open.
class ThrowawayServer
{
public:
    bool start(std::string& conninfo)
    {
        char dir[] = "/tmp/vt-bench-pg-XXXXXX";
        if (!::mkdtemp(dir))
            return false;
        m_dir = dir;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        m_reaper = ::fork();
        if (m_reaper < 0)
            return false;
        if (m_reaper == 0) {
            // Apart from the terminal's signals: only the pipe's end counts.
            ::setsid();
            ::signal(SIGINT, SIG_IGN);
            ::signal(SIGTERM, SIG_IGN);
            ::signal(SIGHUP, SIG_IGN);
            ::close(fds[1]);
            char c;
            while (::read(fds[0], &c, 1) != 0 && errno == EINTR) {
            }
            ::execl(VT_PG_SERVER_SCRIPT, VT_PG_SERVER_SCRIPT, "stop", m_dir.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[0]);
        m_pipe = fds[1];
        const std::string command = std::string(VT_PG_SERVER_SCRIPT) + " start " + m_dir + " 2>&1";
        FILE* out = ::popen(command.c_str(), "r");
        if (!out)
            return false;
        char line[512];
        std::string last;
        while (std::fgets(line, sizeof line, out))
            last = line;
        if (::pclose(out) != 0) {
            std::fprintf(stderr, "bench_walk: the PostgreSQL server did not start: %s",
                         last.c_str());
            return false;
        }
        while (!last.empty() && (last.back() == '\n' || last.back() == '\r'))
            last.pop_back();
        conninfo = last;
        return true;
    }
    ~ThrowawayServer()
    {
        if (m_pipe >= 0) {
            ::close(m_pipe); // the helper stops the server now
            int status = 0;
            ::waitpid(m_reaper, &status, 0);
        }
    }

private:
    std::string m_dir;
    pid_t m_reaper = -1;
    int m_pipe = -1;
};

// One COPY of the FileRec part of every record in key order, each row
// read into a record. The connection reads the rows in the order of the
// key's index, as the walk does, and compiles nothing: left to itself the
// planner sorts a parallel scan with compiled expressions, which is slower
// and would flatter the walk.
WalkResult CopyWalk(PGconn* conn)
{
    WalkResult w;
    const auto start = BenchClock::now();
    PGresult* r = PQexec(conn, "COPY (SELECT rec FROM files ORDER BY area, name_key) TO STDOUT "
                               "(FORMAT binary)");
    const bool copying = PQresultStatus(r) == PGRES_COPY_OUT;
    PQclear(r);
    if (!copying) {
        std::fprintf(stderr, "bench_walk: %s", PQerrorMessage(conn));
        w.records = -1;
        return w;
    }
    auto be32 = [](const char* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return ntohl(v);
    };
    FileRec rec;
    char* data = nullptr;
    int n;
    bool header = true;
    while ((n = PQgetCopyData(conn, &data, 0)) > 0) {
        const char* p = data;
        if (header) { // signature, flags, header extension length and bytes
            p += 11 + 4 + 4 + be32(p + 15);
            header = false;
        }
        // One row per message: a field count of 1, the field's length, its bytes.
        if (n - (p - data) >= 6 && p[0] == 0 && p[1] == 1) {
            const uint32_t length = be32(p + 2);
            std::memset(&rec, 0, sizeof rec);
            std::memcpy(&rec, p + 6, std::min<size_t>(length, sizeof rec));
            w.sizeSum += rec.Size;
            ++w.records;
        }
        PQfreemem(data);
    }
    while ((r = PQgetResult(conn)))
        PQclear(r);
    w.seconds = SecondsSince(start);
    return w;
}

bool Exec(PGconn* conn, const char* sql)
{
    PGresult* r = PQexec(conn, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok)
        std::fprintf(stderr, "bench_walk: %s", PQerrorMessage(conn));
    PQclear(r);
    return ok;
}

// Measures and prints; returns 0 (goal met), 2 (missed) or 1 (failed).
int Measure(const std::string& home, const std::string& conninfo, long records)
{
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        std::fprintf(stderr, "bench_walk: %s", PQerrorMessage(conn));
        PQfinish(conn);
        return 1;
    }
    PGresult* r = PQexec(conn, "SELECT to_regclass('files') IS NOT NULL");
    const bool hasBbs = PQresultStatus(r) == PGRES_TUPLES_OK && PQgetvalue(r, 0, 0)[0] == 't';
    PQclear(r);
    if (!hasBbs) {
        std::printf("copying the %ld records to PostgreSQL ...\n", records);
        std::fflush(stdout);
        const auto start = BenchClock::now();
        if (const auto e = wcadmin::CopyStore(home, "", conninfo); !e.empty()) {
            std::fprintf(stderr, "bench_walk: %s\n", e.c_str());
            PQfinish(conn);
            return 1;
        }
        std::printf("copied in %.1f s\n", SecondsSince(start));
    }
    // Planner statistics, and every row's visibility settled once, for
    // both sides alike.
    if (!Exec(conn, "VACUUM ANALYZE files") || !Exec(conn, "SET jit = off") ||
        !Exec(conn, "SET enable_sort = off")) {
        PQfinish(conn);
        return 1;
    }
    setenv("WCSRV_HOME", home.c_str(), 1);
    setenv("WCSRV_DATABASE", conninfo.c_str(), 1);
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "bench_walk: login on PostgreSQL failed: %x\n", WcGetLastError());
        PQfinish(conn);
        return 1;
    }
    std::printf("PostgreSQL, %ld records:\n", records);
    const double ratio = CompareWalks("raw COPY in key order:", [conn] { return CopyWalk(conn); });
    LogoutUser();
    WildcatServerDeleteContext();
    PQfinish(conn);
    return ratio < 0 ? 1 : RatioLine("walk on PostgreSQL", ratio, kGoal);
}

// The whole PostgreSQL part. The SQLite part after it runs without
// WCSRV_DATABASE.
int Run(const std::string& home, long records)
{
    const char* given = std::getenv("WCSRV_DATABASE");
    std::string conninfo = given ? given : "";
    int code = 1;
    if (!conninfo.empty()) {
        code = Measure(home, conninfo, records);
    } else {
        ThrowawayServer server;
        if (server.start(conninfo))
            code = Measure(home, conninfo, records);
    }
    unsetenv("WCSRV_DATABASE");
    if (code == 1)
        std::printf("walk on PostgreSQL: not measured\n");
    std::fflush(stdout);
    return code;
}

} // namespace pgwalk

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
    const int pgCode = pgwalk::Run(home, total);

    setenv("WCSRV_HOME", home.c_str(), 1);
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "bench_walk: login failed: %x\n", WcGetLastError());
        return 1;
    }
    const double ratio = CompareWalks("raw SQLite query:", [&home] { return RawWalk(home); });
    LogoutUser();
    WildcatServerDeleteContext();
    if (ratio < 0)
        return 1;
    const int code = RatioLine("walk", ratio, kGoal);
    return pgCode == 1 ? 1 : std::max(code, pgCode);
}
