// The cost of the run journal. A freshen-like pass (every record read by
// its key, its file's size and time read through the server and taken into
// the record, the record written back with UpdateFileRec) over 100,000
// records, without a run and inside an open run, where each
// write stores its entry (both images of the record) in the same
// transaction. After one warm-up pass of each, the two alternate for five
// rounds; each side's best pass counts (the processor time of each pass is
// printed beside it: neither side waits for the disk). The ratio is the time without the
// journal over the time with it: at least 0.75. Then a run deletes all
// 100,000 records and its undo is timed: at most 10 seconds.
//
// usage: bench_journal [RECORDS]   (default 100000; the BBS is built in a
//                                   temporary folder and removed at the end)
//        WCSRV_DATABASE=CONN bench_journal ...   the same on PostgreSQL: the
//                                   BBS is built with SQLite and copied into
//                                   the (empty) database CONN names
#include "BenchMeasure.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/wcsrv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr double kGoal = 0.75;
constexpr double kUndoLimitSeconds = 10.0;
constexpr int kAreas = 2;
constexpr int kRounds = 5;

// The keys of every record, by the walk (before any timing).
std::vector<std::pair<int32_t, std::string>> AllKeys()
{
    std::vector<std::pair<int32_t, std::string>> keys;
    FileRec r;
    for (int32_t area = 1; area <= kAreas; ++area) {
        uint32_t position = 0;
        if (!SearchFileRecByAreaName(area, "", &r, &position))
            continue;
        while (r.Area == area) {
            keys.emplace_back(area, std::string(r.Name, strnlen(r.Name, sizeof r.Name)));
            if (!GetNextFileRec(WC_KEY_AREA_NAME, &r, &position))
                break;
        }
    }
    return keys;
}

// Gives every record a small file in its area's folder (the demo BBS is
// built without files): a freshen reads each file's size and time.
bool WriteFiles(const std::string& home, const std::vector<std::pair<int32_t, std::string>>& keys)
{
    // Each area's folder asked once: on PostgreSQL every question is a
    // connection of its own.
    std::map<int32_t, std::string> folders;
    for (const auto& [area, name] : keys) {
        auto folder = folders.find(area);
        if (folder == folders.end())
            folder = folders.emplace(area, wcadmin::AreaFolder(home, area)).first;
        const std::string path = folder->second + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fputs(name.c_str(), f) < 0 || std::fclose(f) != 0)
            return false;
    }
    return true;
}

// A freshen of every record: its file's size and time read through the
// server (as the program's freshen does), taken into the record, and the
// record written back with UpdateFileRec. `stamp` changes the time taken,
// so every record is really written. The number written, or -1.
long Freshen(const std::vector<std::pair<int32_t, std::string>>& keys, uint32_t stamp)
{
    long written = 0;
    FileRec r;
    uint32_t position = 0;
    for (const auto& [area, name] : keys) {
        const std::string path = "wc:\\file\\area(" + std::to_string(area) + ")\\" + name;
        if (!GetFileRecByAreaName(area, name.c_str(), &r, &position) || !WcExistFile(path.c_str()))
            return -1;
        const WcHandle h =
            WcCreateFile(path.c_str(), WC_GENERIC_READ, WC_SHARE_READ, WC_OPEN_EXISTING);
        FILETIME utc{};
        const uint32_t size = h > 0 ? WcGetFileSize(h) : 0xFFFFFFFFu;
        const bool timed = h > 0 && WcGetFileTime(h, &utc);
        if (h <= 0 || !WcCloseHandle(h) || size == 0xFFFFFFFFu || !timed)
            return -1;
        r.Size = int32_t(size);
        r.FileTime = utc;
        r.FileTime.dwLowDateTime += stamp;
        if (!UpdateFileRec(&r)) {
            std::fprintf(stderr, "UpdateFileRec failed: %x\n", WcGetLastError());
            return -1;
        }
        ++written;
    }
    return written;
}

// The processor time of the process so far, user and system.
double CpuSeconds()
{
    struct rusage u {
    };
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
double gCpu = 0; // of the last pass

// One freshen pass, inside a run of its own when `journaled`; its seconds.
double FreshenPass(const std::vector<std::pair<int32_t, std::string>>& keys, bool journaled,
                   uint32_t stamp, long expected)
{
    const auto start = BenchClock::now();
    const double cpu = CpuSeconds();
    const uint32_t run = journaled ? WcBeginRun("freshen (bench)", 7) : 0;
    if (journaled && !run) {
        std::fprintf(stderr, "WcBeginRun failed: %x\n", WcGetLastError());
        std::exit(1);
    }
    const long written = Freshen(keys, stamp);
    if (journaled && !WcEndRun(run)) {
        std::fprintf(stderr, "WcEndRun failed: %x\n", WcGetLastError());
        std::exit(1);
    }
    const double seconds = SecondsSince(start);
    gCpu = CpuSeconds() - cpu;
    if (written != expected) {
        std::fprintf(stderr, "freshen wrote %ld records, not %ld\n", written, expected);
        std::exit(1);
    }
    return seconds;
}

// Deletes every record inside a run; the run's id.
uint32_t DeleteAll(long expected, double& seconds)
{
    const auto start = BenchClock::now();
    const uint32_t run = WcBeginRun("delete (bench)", 7);
    long deleted = 0;
    FileRec r;
    for (int32_t area = 1; area <= kAreas; ++area) {
        uint32_t position = 0;
        // The first record of the area, again and again.
        while (SearchFileRecByAreaName(area, "", &r, &position) && r.Area == area) {
            if (!DeleteFileRec(&r, 0)) {
                std::fprintf(stderr, "DeleteFileRec failed: %x\n", WcGetLastError());
                std::exit(1);
            }
            ++deleted;
        }
    }
    WcEndRun(run);
    seconds = SecondsSince(start);
    if (deleted != expected) {
        std::fprintf(stderr, "deleted %ld records, not %ld\n", deleted, expected);
        std::exit(1);
    }
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long records = argc > 1 ? std::atol(argv[1]) : 100000;
    QTemporaryDir dir;
    if (!dir.isValid() || records <= 0)
        return 1;
    const std::string home = dir.path().toStdString() + "/bbs";
    qputenv("WCSRV_HOME", home.c_str());
    const QByteArray database = qgetenv("WCSRV_DATABASE");
    qunsetenv("WCSRV_DATABASE");
    wcadmin::DemoOptions options;
    options.areas = kAreas;
    options.files = records;
    options.noFiles = true;
    QElapsedTimer built;
    built.start();
    if (const std::string error = wcadmin::MakeDemo(home, options); !error.empty()) {
        std::fprintf(stderr, "MakeDemo: %s\n", error.c_str());
        return 1;
    }
    if (!database.isEmpty()) {
        if (const std::string e = wcadmin::CopyStore(home, "", database.toStdString());
            !e.empty()) {
            std::fprintf(stderr, "CopyStore: %s\n", e.c_str());
            return 1;
        }
        qputenv("WCSRV_DATABASE", database);
    }
    std::printf("demo BBS: %d areas, %ld records, built in %.1f s (on %s; the store on %s)\n",
                kAreas, records, double(built.elapsed()) / 1000.0, FileSystemKind(home).c_str(),
                database.isEmpty() ? "SQLite" : "PostgreSQL");
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        return 1;
    }

    // Round 0 warms the caches (and makes the journal's tables) and is not
    // counted.
    const std::vector<std::pair<int32_t, std::string>> keys = AllKeys();
    if (!WriteFiles(home, keys)) {
        std::fprintf(stderr, "cannot write the records' files\n");
        return 1;
    }
    std::vector<double> plain, journaled, plainCpu, journaledCpu;
    uint32_t stamp = 1;
    for (int round = 0; round <= kRounds; ++round) {
        const double a = FreshenPass(keys, false, stamp++, records);
        const double aCpu = gCpu;
        const double b = FreshenPass(keys, true, stamp++, records);
        if (round > 0) {
            plain.push_back(a);
            journaled.push_back(b);
            plainCpu.push_back(aCpu);
            journaledCpu.push_back(gCpu);
        }
    }
    const double without = Best(plain), with = Best(journaled);
    std::printf("freshen of %ld records without a run: %7.3f s (best of %zu: %s)\n", records,
                without, plain.size(), RunList(plain).c_str());
    std::printf("freshen of %ld records in a run:      %7.3f s (best of %zu: %s)\n", records, with,
                journaled.size(), RunList(journaled).c_str());
    std::printf("per record: %.1f us without, %.1f us with the journal\n", without / records * 1e6,
                with / records * 1e6);
    std::printf("processor time: %.3f s without, %.3f s with the journal (best of each; ratio "
                "%.2f)\n",
                Best(plainCpu), Best(journaledCpu), Best(plainCpu) / Best(journaledCpu));

    double deleteSeconds = 0;
    const uint32_t run = DeleteAll(records, deleteSeconds);
    std::printf("deletion of %ld records in a run:     %7.3f s\n", records, deleteSeconds);
    const auto start = BenchClock::now();
    WcUndoSummary summary{};
    if (!WcUndoRun(run, 0, nullptr, nullptr, &summary)) {
        std::fprintf(stderr, "WcUndoRun failed: %x\n", WcGetLastError());
        return 1;
    }
    const double undo = SecondsSince(start);
    int32_t back = 0;
    for (int32_t area = 1; area <= kAreas; ++area)
        back += GetTotalFilesInArea(area);
    std::printf("undo of that deletion:                %7.3f s (%u records put back, %u "
                "conflicts, %u failed; limit %.0f s)\n",
                undo, summary.Done, summary.Conflicts, summary.Failed, kUndoLimitSeconds);
    const bool whole = back == records && summary.Done == uint32_t(records);
    if (!whole)
        std::printf("goal missed: the undo put back %d of %ld records\n", back, records);
    const bool inTime = undo <= kUndoLimitSeconds;
    if (!inTime)
        std::printf("goal missed: undo over %.0f s\n", kUndoLimitSeconds);
    LogoutUser();
    WildcatServerDeleteContext();
    const int result = RatioLine("journal", without / with, kGoal);
    return whole && inTime ? result : 2;
}
