// Filtered listing in the real main window over a demo BBS of 1,000,000
// records (all areas; criteria testing a number, a flag and a text, passed
// by most records), against the library walk of the same records in the same
// run (the walk bench_walk times). Each side runs once to warm the caches,
// then three times in alternating rounds; each side's best run counts. The
// ratio is the listing's rate over the walk's rate.
#include "BenchMeasure.h"
#include "BenchWindow.h"

#include "app/TFileMgr.h"
#include "common/AreaLines.h"
#include "common/VtApplication.h"
#include "filter/Matching.h"
#include "filter/SearchRecord.h"
#include "server/ServerPath.h"

#include <QCheckBox>
#include <QComboBox>

#include <cstring>

namespace
{
constexpr double kGoal = 0.6;
constexpr double kMemoryLimitMiB = 200;
} // namespace

int main(int argc, char** argv)
{
    UseOffscreenPlatform();
    VtApplication app(argc, argv);
    long total = 1000000;
    if (argc > 1)
        total = std::atol(argv[1]);
    BenchBbs bbs(12, total);
    if (!bbs.ok)
        return 1;

    TFileMgr window;
    window.show();
    QApplication::processEvents();
    if (!window.LoggedIn()) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }
    std::vector<int32_t> areas;
    for (int i = 0; i < window.AreaListBox->count(); ++i)
        areas.push_back(AreaNumberOfLine(window.AreaListBox->itemText(i)));

    // Criteria: size at least 1 (a number), not a failed scan (a flag), a
    // description holding "e" (a text). Most records pass every test, so
    // all three are evaluated for nearly every record.
    std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
    CurrentSearchRecord.SizeOp = OpGreater;
    CurrentSearchRecord.Template.Rec.Size = 1;
    CurrentSearchRecord.FailedScanOp = FlagNo;
    std::strcpy(CurrentSearchRecord.Template.Rec.Description, "e");
    FilterDefined = true;

    // For reference: the walk with the match test, no window.
    long matched = 0;
    auto matchWalk = [&]() {
        QElapsedTimer t;
        t.start();
        matched = 0;
        for (const int32_t area : areas)
            WalkArea(area, [&matched](FileRec& r) {
                matched += MatchesFilter(CurrentSearchRecord, r) ? 1 : 0;
                return true;
            });
        return double(t.nsecsElapsed()) / 1e9;
    };
    // The filtered listing, started as the user starts it: a click on the
    // unchecked "File Filter ON" box.
    auto listing = [&window]() {
        window.cb_FileFilter->setChecked(false);
        QElapsedTimer t;
        t.start();
        window.cb_FileFilter->click();
        return double(t.nsecsElapsed()) / 1e9;
    };

    const double idle = StatusMiB("VmRSS"); // the window with no lines yet
    const WalkResult walk = LibraryWalk(false, areas);
    matchWalk();
    listing();
    std::vector<double> walkTimes, matchTimes, listTimes;
    double peak = 0;
    bool peakKnown = true;
    const double before = StatusMiB("VmRSS");
    long found = 0;
    for (int round = 0; round < 3; ++round) {
        walkTimes.push_back(LibraryWalk(false, areas).seconds);
        matchTimes.push_back(matchWalk());
        peakKnown = ResetPeakMemory() && peakKnown;
        listTimes.push_back(listing());
        peak = std::max(peak, StatusMiB("VmHWM"));
        found = window.FileListBox->Count();
        if (found != matched) {
            std::fprintf(stderr, "listing found %ld lines, the match walk %ld\n", found, matched);
            return 1;
        }
    }
    window.close();

    const long walked = walk.records;
    const double walkSeconds = Best(walkTimes);
    const double matchSeconds = Best(matchTimes);
    const double listSeconds = Best(listTimes);
    const double walkRate = double(walked) / walkSeconds;
    std::printf("library walk:      %8ld records, best %6.3f s of %s = %9.0f records/s\n", walked,
                walkSeconds, RunList(walkTimes).c_str(), walkRate);
    std::printf("walk + match test: %8ld records, best %6.3f s of %s = %9.0f records/s (no "
                "window)\n",
                walked, matchSeconds, RunList(matchTimes).c_str(), double(walked) / matchSeconds);
    std::printf("filtered listing:  %8ld records, best %6.3f s of %s = %9.0f records/s, %ld lines "
                "found\n",
                walked, listSeconds, RunList(listTimes).c_str(), double(walked) / listSeconds,
                found);
    std::printf("window overhead over the match walk: %.1f %%\n",
                100.0 * (listSeconds - matchSeconds) / matchSeconds);
    if (peakKnown)
        std::printf("peak memory while listing: %.0f MiB (%.0f MiB with the last list, %.0f MiB "
                    "with none; limit %.0f MiB)\n",
                    peak, before, idle, kMemoryLimitMiB);
    else
        std::printf("peak memory of the whole run: %.0f MiB (limit %.0f MiB)\n",
                    peak = StatusMiB("VmHWM"), kMemoryLimitMiB);
    if (peak > kMemoryLimitMiB)
        std::printf("goal missed: listing memory above %.0f MiB\n", kMemoryLimitMiB);
    const int result = RatioLine("filter", (double(walked) / listSeconds) / walkRate, kGoal);
    return peak > kMemoryLimitMiB ? 2 : result;
}
