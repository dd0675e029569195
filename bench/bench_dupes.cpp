// The duplicate finder's scan (by name and by content, every area) over a
// BBS of 1,000,000 records with no two of the same name and no files on
// disk (records only), against the library walk of the same records in the
// same run. Both run once to warm the caches, then three times in
// alternating rounds; each side's best run counts. The scan walks every
// record, looks for its file in the area's folder, groups the names and
// lists the records whose file is missing (here: all of them). The ratio is
// the walk's time over the scan's; the scan must also end within 10 s.
#include "BenchMeasure.h"
#include "BenchRun.h"
#include "common/RunDelegate.h"
#include "managers/DuplicateRun.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcStore.h"
#include "server/wcsrv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// Measured 0.49 to 0.64 at loads of 4 to 7: the scan is a walk and more.
constexpr double kGoal = 0.4;
constexpr double kLimitSeconds = 10.0;
constexpr int kAreas = 12;

// A BBS of `total` records spread over the areas, every name used once
// ("D0000000.ZIP" upwards), each with a date, a description and an uploader.
bool MakeBbs(const std::string& home, long total)
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
    std::vector<FullFileRec> batch;
    batch.reserve(1000);
    for (int a = 1; a <= kAreas; ++a) {
        for (long i = a - 1; i < total; i += kAreas) {
            FullFileRec& rec = batch.emplace_back();
            std::memset(&rec, 0, sizeof rec);
            rec.Rec.Area = a;
            std::snprintf(rec.Rec.Name, sizeof rec.Rec.Name, "D%07u.ZIP", unsigned(i % 10000000));
            std::snprintf(rec.Rec.Description, sizeof rec.Rec.Description,
                          "Bench record number %ld", i);
            std::snprintf(rec.Rec.Uploader.UserName, sizeof rec.Rec.Uploader.UserName,
                          "Bench Sysop");
            rec.Rec.Size = int32_t(1000 + i % 5000);
            rec.Rec.FileTime = MakeFileTime(wcadmin::LocalFileTime(1200000000 + i * 60));
            if (batch.size() == 1000 || i + kAreas >= total) {
                if (store->InsertMany(batch.data(), batch.size()) != wcstore::Rc::Ok) {
                    std::fprintf(stderr, "insert: %s\n", store->Error().c_str());
                    store->Rollback();
                    return false;
                }
                batch.clear();
            }
        }
    }
    return store->Commit();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (total < 1 || total > 9999999) {
        std::fprintf(stderr, "the number of records must be 1 to 9999999\n");
        return 1;
    }
    QTemporaryDir dir;
    const std::string home = dir.path().toStdString();
    qputenv("WCSRV_HOME", QFile::encodeName(dir.path()));
    qunsetenv("WCSRV_DATABASE");
    QElapsedTimer built;
    built.start();
    if (!MakeBbs(home, total))
        return 1;
    std::printf("BBS: %d areas, %ld records with distinct names, no files, built in %.1f s\n",
                kAreas, total, double(built.elapsed()) / 1000.0);
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        return 1;
    }

    DupeOptions options;
    for (int a = 1; a <= kAreas; ++a)
        options.areas.append(a);
    options.by = DupeBy::Both;
    DupeResult last;
    auto scan = [&]() {
        // The records have no files on purpose: every area would look
        // offline, and the scan is to list them all as missing.
        BenchQuietRun run(true);
        last = DupeResult(); // one result in memory at a time
        const auto start = BenchClock::now();
        last = RunDuplicateScan(options, run);
        return SecondsSince(start);
    };

    // Warm-up of both sides, then alternating rounds.
    const WalkResult walk = LibraryWalk(false);
    scan();
    std::vector<double> walkTimes, scanTimes;
    for (int round = 0; round < 3; ++round) {
        walkTimes.push_back(LibraryWalk(false).seconds);
        scanTimes.push_back(scan());
    }
    LogoutUser();
    WildcatServerDeleteContext();

    if (walk.records != total || last.records != total || !last.groups.isEmpty() ||
        last.missing.size() != total || last.filesRead != 0) {
        std::fprintf(stderr,
                     "unexpected result: walk %ld, scan %lld records, %lld groups, %lld missing, "
                     "%lld files read\n",
                     walk.records, (long long)last.records, (long long)last.groups.size(),
                     (long long)last.missing.size(), (long long)last.filesRead);
        return 1;
    }
    const double walkSeconds = Best(walkTimes), scanSeconds = Best(scanTimes);
    std::printf("library walk: %ld records, best %.3f s of %s (%.0f records/s)\n", walk.records,
                walkSeconds, RunList(walkTimes).c_str(), double(walk.records) / walkSeconds);
    std::printf("dupes scan:   %lld records, 0 groups, %lld missing, best %.3f s of %s (%.0f "
                "records/s), limit %.0f s\n",
                (long long)last.records, (long long)last.missing.size(), scanSeconds,
                RunList(scanTimes).c_str(), double(last.records) / scanSeconds, kLimitSeconds);
    std::printf("peak memory of the whole run: %.0f MiB\n", StatusMiB("VmHWM"));
    if (scanSeconds >= kLimitSeconds)
        std::printf("goal missed: the scan took %.1f s, the limit is %.0f s\n", scanSeconds,
                    kLimitSeconds);
    const int code = RatioLine("dupes", walkSeconds / scanSeconds, kGoal);
    return scanSeconds >= kLimitSeconds ? 2 : code;
}
