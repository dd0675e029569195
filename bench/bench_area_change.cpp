// Area change in the real main window on an area of 100,000 records, against
// the library walk of the same area in the same run (the walk bench_walk
// times). After a warm-up round, both sides alternate; each side's median
// counts. The ratio is walk time / area change time: 1.0 would mean the list
// costs nothing beyond reading the records. The absolute limit is one second.
#include "BenchMeasure.h"
#include "BenchWindow.h"

#include "app/TFileMgr.h"
#include "common/VtApplication.h"
#include "server/ServerPath.h"

#include <QComboBox>

namespace
{
constexpr double kGoal = 0.8;
constexpr double kLimitMs = 1000.0;
} // namespace

int main(int argc, char** argv)
{
    UseOffscreenPlatform();
    VtApplication app(argc, argv);
    const long perArea = 100000;
    BenchBbs bbs(2, 2 * perArea);
    if (!bbs.ok)
        return 1;

    TFileMgr window;
    window.show();
    QApplication::processEvents();
    if (!window.LoggedIn()) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }

    std::vector<double> walks, changes, paints;
    long listed = 0;
    // Round 0 warms the caches and is not counted.
    for (int round = 0; round < 6; ++round) {
        for (int index : {1, 0}) {
            const int area = index + 1;
            const WalkResult walk = LibraryWalk(false, {area});
            const long walked = walk.records;
            if (round > 0)
                walks.push_back(walk.seconds * 1e3);
            if (walked != perArea) {
                std::fprintf(stderr, "walk of area %d gave %ld records\n", area, walked);
                return 1;
            }

            QElapsedTimer t;
            t.start();
            window.ChooseArea(index);
            // The change is done when the window has drawn the new list.
            window.repaint();
            const double change = double(t.nsecsElapsed()) / 1e6;
            listed = window.FileListBox->Count();
            t.restart();
            QApplication::processEvents();
            if (round > 0) {
                changes.push_back(change);
                paints.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            if (listed != perArea) {
                std::fprintf(stderr, "area %d listed %ld lines\n", area, listed);
                return 1;
            }
        }
    }
    const double walk = Median(walks);
    const double change = Median(changes);
    std::printf("library walk of %ld records: %8.1f ms (median of %zu: %s)\n", perArea, walk,
                walks.size(), RunList(walks).c_str());
    std::printf("area change to %ld lines:    %8.1f ms (median of %zu: %s; limit %.0f ms)\n",
                listed, change, changes.size(), RunList(changes).c_str(), kLimitMs);
    std::printf("events after the change:      %8.1f ms (window responsive again)\n",
                Median(paints));
    const bool inTime = change < kLimitMs;
    std::printf("area change within the 1-second limit: %s\n", inTime ? "yes" : "NO");
    if (!inTime)
        std::printf("goal missed: area change over %.0f ms\n", kLimitMs);
    window.close();
    const int result = RatioLine("area_change", walk / change, kGoal);
    return inTime ? result : 2;
}
