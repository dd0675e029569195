// The check of the whole base (vtfilemgr-cli check without --integrity)
// over a BBS of 1,000,000 records whose files lie on disk, against the
// library walk of the same records in the same run. Both run once to warm
// the caches, then three times in alternating rounds; each side's best run
// counts. The check walks every record, reads each area folder once (one
// listing, one status per entry), compares sizes and dates, looks for files
// without a record and names in two letter cases, and reads the store's
// small tables. The ratio is the check's time over the walk's: at most 2.
// The integrity pass (SQLite's integrity check and every row decoded) is
// timed once after, for the record, outside the ratio.
//
// usage: bench_check [RECORDS]   (default 1000000; the BBS is built in a
//                                 temporary folder and removed at the end)
#include "BenchMeasure.h"
#include "BenchRun.h"
#include "common/RunDelegate.h"
#include "managers/CheckRun.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcStore.h"
#include "server/wcsrv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace
{

constexpr double kGoal = 2.0;
constexpr int kAreas = 12;
// Every this many records one has no file (a "missing" finding each).
constexpr long kMissingEvery = 1000;

// The processor time of the whole process (every thread), user and system.
double CpuSeconds()
{
    struct rusage u {
    };
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The first line of /proc/loadavg: other work on the machine slows both
// sides, and the check's two threads more.
std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line + "\n";
}

// A BBS of `total` records over the areas, each with an empty file of its
// name in its area's folder (but every kMissingEvery-th), the record's date
// the file's, and one file without a record per area.
bool MakeBbs(const std::string& home, long total, long& missing)
{
    if (const std::string e = wcadmin::CreateBbs(home, "Bench Sysop"); !e.empty()) {
        std::fprintf(stderr, "CreateBbs: %s\n", e.c_str());
        return false;
    }
    for (int a = 1; a <= kAreas; ++a)
        if (const std::string e = wcadmin::AddArea(home, a, "Area " + std::to_string(a));
            !e.empty()) {
            std::fprintf(stderr, "AddArea: %s\n", e.c_str());
            return false;
        }
    std::string error;
    auto store = wcstore::OpenStore(home, "", false, error);
    if (!store || !store->Begin()) {
        std::fprintf(stderr, "store: %s\n", error.c_str());
        return false;
    }
    missing = 0;
    std::vector<FullFileRec> batch;
    batch.reserve(1000);
    for (int a = 1; a <= kAreas; ++a) {
        const std::string folder = wcadmin::AreaFolder(home, a);
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) {
            std::perror(folder.c_str());
            return false;
        }
        const int orphan = ::openat(dir, "ORPHAN.BIN", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (orphan >= 0)
            ::close(orphan);
        for (long i = a - 1; i < total; i += kAreas) {
            FullFileRec& rec = batch.emplace_back();
            std::memset(&rec, 0, sizeof rec);
            rec.Rec.Area = a;
            std::snprintf(rec.Rec.Name, sizeof rec.Rec.Name, "C%07ld.ZIP", i % 10000000);
            std::snprintf(rec.Rec.Description, sizeof rec.Rec.Description,
                          "Bench record number %ld", i);
            rec.Rec.Size = 0;
            if (i % kMissingEvery == kMissingEvery - 1) {
                ++missing;
                rec.Rec.FileTime = MakeFileTime(wcadmin::LocalFileTime(1200000000 + i, 0));
            } else {
                const int fd = ::openat(dir, rec.Rec.Name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                struct stat sb {
                };
                if (fd < 0 || ::fstat(fd, &sb) != 0) {
                    std::perror(rec.Rec.Name);
                    return false;
                }
                ::close(fd);
                rec.Rec.FileTime =
                    MakeFileTime(wcadmin::LocalFileTime(sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec));
            }
            if (batch.size() == 1000 || i + kAreas >= total) {
                if (store->InsertMany(batch.data(), batch.size()) != wcstore::Rc::Ok) {
                    std::fprintf(stderr, "insert: %s\n", store->Error().c_str());
                    store->Rollback();
                    return false;
                }
                batch.clear();
            }
        }
        ::close(dir);
    }
    return store->Commit();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (total < kAreas || total > 9999999) {
        std::fprintf(stderr, "the number of records must be %d to 9999999\n", kAreas);
        return 1;
    }
    QTemporaryDir dir;
    const std::string home = dir.path().toStdString();
    qputenv("WCSRV_HOME", QFile::encodeName(dir.path()));
    qunsetenv("WCSRV_DATABASE");
    QElapsedTimer built;
    built.start();
    long missing = 0;
    if (!MakeBbs(home, total, missing))
        return 1;
    std::printf("BBS: %d areas, %ld records, %ld files on disk (%s), built in %.1f s\n", kAreas,
                total, total - missing + kAreas, FileSystemKind(home).c_str(),
                double(built.elapsed()) / 1000.0);
    std::fflush(stdout);
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        return 1;
    }

    CheckOptions options;
    for (int a = 1; a <= kAreas; ++a)
        options.areas.append(a);
    CheckResult last;
    auto check = [&]() {
        BenchQuietRun run;
        last = CheckResult(); // one result in memory at a time
        const auto start = BenchClock::now();
        last = RunCheck(options, run);
        return SecondsSince(start);
    };

    // Warm-up of both sides, then alternating rounds.
    const WalkResult walk = LibraryWalk(false);
    check();
    std::vector<double> walkTimes, checkTimes, walkCpu, checkCpu;
    for (int round = 0; round < 3; ++round) {
        double cpu = CpuSeconds();
        walkTimes.push_back(LibraryWalk(false).seconds);
        walkCpu.push_back(CpuSeconds() - cpu);
        cpu = CpuSeconds();
        checkTimes.push_back(check());
        checkCpu.push_back(CpuSeconds() - cpu);
    }
    if (walk.records != total || last.records != total ||
        last.Count(CheckKind::Missing) != missing || last.Count(CheckKind::Orphan) != kAreas ||
        last.findings.size() != missing + kAreas || !last.storeChecked) {
        std::fprintf(stderr,
                     "unexpected result: walk %ld, check %lld records, %lld findings (%d missing, "
                     "%d orphans)\n",
                     walk.records, (long long)last.records, (long long)last.findings.size(),
                     last.Count(CheckKind::Missing), last.Count(CheckKind::Orphan));
        return 1;
    }
    const double walkSeconds = Best(walkTimes), checkSeconds = Best(checkTimes);
    std::printf("library walk: %ld records, best %.3f s of %s (%.0f records/s), processor "
                "time %s s\n",
                walk.records, walkSeconds, RunList(walkTimes).c_str(),
                double(walk.records) / walkSeconds, RunList(walkCpu).c_str());
    std::printf("check:        %lld records, %lld files, %lld findings, best %.3f s of %s (%.0f "
                "records/s), processor time %s s (two threads)\n",
                (long long)last.records, (long long)last.files, (long long)last.findings.size(),
                checkSeconds, RunList(checkTimes).c_str(), double(last.records) / checkSeconds,
                RunList(checkCpu).c_str());
    std::printf("load average: %s", LoadAverage().c_str());

    // The integrity pass, once, for the record.
    {
        options.integrity = true;
        const double seconds = check();
        std::printf("check with the integrity pass: %.3f s (%u rows decoded, %lld findings)\n",
                    seconds, last.store.Records, (long long)last.findings.size());
    }
    LogoutUser();
    WildcatServerDeleteContext();
    std::printf("peak memory of the whole run: %.0f MiB\n", StatusMiB("VmHWM"));

    // Lower is better here: the ratio is printed rounded up, so it never
    // claims less than was measured.
    const double ratio = checkSeconds / walkSeconds;
    const bool met = ratio <= kGoal;
    if (!met)
        std::printf("goal missed: check\n");
    std::printf("check: ratio %.2f (goal %g)\n", std::ceil(ratio * 100.0) / 100.0, kGoal);
    std::fflush(stdout);
    return met ? 0 : 2;
}
