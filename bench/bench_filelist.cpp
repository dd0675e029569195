// The file list of a demo BBS of 1,000,000 records (all areas, no filter)
// written through the real file list window offscreen, against the library
// walk of the same records in the same run (the walk bench_walk times). Both
// run once to warm the caches, then three times in alternating rounds; each
// side's best run counts. The ratio is the walk's time over the list's time;
// the list formats and writes every record and keeps its window responsive.
#include "BenchMeasure.h"
#include "BenchWindow.h"
#include "common/Dialogs.h"
#include "common/VtApplication.h"
#include "managers/TFileListMgrForm.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include <cstdio>
#include <cstdlib>

namespace
{

constexpr double kGoal = 0.8;

// The areas holding at least one record: each adds its block to the list.
int AreasWithRecords()
{
    int n = 0;
    for (int32_t a = 1, count = GetFileAreaCount(); a <= count; ++a)
        n += GetTotalFilesInArea(a) > 0;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenPlatform();
    VtApplication app(argc, argv);
    const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
    PrintMessages();

    BenchBbs bbs(12, total);
    if (!bbs.ok)
        return 1;

    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        return 1;
    }

    const QString output = bbs.dir.path() + QStringLiteral("/files.txt");
    TFileListMgrForm form;
    form.show();
    form.b_SelectAllClick();
    form.e_OutputFile->setText(output);
    auto makeList = [&form]() {
        QElapsedTimer t;
        t.start();
        form.b_MakeFileListClick();
        return double(t.nsecsElapsed()) / 1e9;
    };

    // Warm-up of both sides, then alternating rounds.
    WalkResult walk = LibraryWalk(false);
    makeList();
    std::vector<double> walkTimes, listTimes;
    double peak = 0;
    const double before = StatusMiB("VmRSS");
    bool peakKnown = true;
    for (int round = 0; round < 3; ++round) {
        const WalkResult w = LibraryWalk(false);
        walkTimes.push_back(w.seconds);
        if (w.records != walk.records) {
            std::fprintf(stderr, "walks differ: %ld and %ld records\n", w.records, walk.records);
            return 1;
        }
        peakKnown = ResetPeakMemory() && peakKnown;
        listTimes.push_back(makeList());
        peak = std::max(peak, StatusMiB("VmHWM"));
    }
    form.close();

    // Every record gives one 82-byte line; each written area adds its blank
    // line (9 bytes), heading, rule, total and closing line (82 each).
    const long walked = walk.records;
    const qint64 size = QFileInfo(output).size();
    const qint64 expected = qint64(walked) * 82 + qint64(AreasWithRecords()) * (9 + 4 * 82);
    LogoutUser();
    WildcatServerDeleteContext();

    const double walkSeconds = Best(walkTimes);
    const double listSeconds = Best(listTimes);
    std::printf("library walk: %ld records, best %.3f s of %s (%.0f records/s)\n", walked,
                walkSeconds, RunList(walkTimes).c_str(), double(walked) / walkSeconds);
    std::printf("file list:    %lld bytes, best %.3f s of %s (%.0f records/s)%s\n", (long long)size,
                listSeconds, RunList(listTimes).c_str(), double(walked) / listSeconds,
                size == expected ? "" : "  [unexpected size]");
    if (peakKnown)
        std::printf("peak memory while the list is made: %.0f MiB (%.0f MiB before)\n", peak,
                    before);
    else
        std::printf("peak memory of the whole run: %.0f MiB\n", StatusMiB("VmHWM"));
    if (size != expected) {
        std::fprintf(stderr, "the list has %lld bytes, %lld expected\n", (long long)size,
                     (long long)expected);
        return 1;
    }
    return RatioLine("filelist", walkSeconds / listSeconds, kGoal);
}
