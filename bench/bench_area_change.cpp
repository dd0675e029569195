// Area change in the real main window on an area of 100,000 records, against
// the plain walk of the same area in the same run. The ratio is walk time /
// area change time: 1.0 would mean the listing costs nothing beyond reading
// the records. The goal 0.5 allows the list to cost as much as the walk
// itself; the absolute limit is one second.
#include "BenchWindow.h"

#include "app/TFileMgr.h"
#include "common/VtApplication.h"
#include "server/ServerPath.h"

#include <QComboBox>

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
    for (int round = 0; round < 5; ++round) {
        for (int index : {1, 0}) {
            const int area = index + 1;
            QElapsedTimer t;
            t.start();
            long walked = 0;
            WalkArea(area, [&walked](FileRec&) {
                ++walked;
                return true;
            });
            walks.push_back(double(t.nsecsElapsed()) / 1e6);
            if (walked != perArea) {
                std::fprintf(stderr, "walk of area %d gave %ld records\n", area, walked);
                return 1;
            }

            t.restart();
            window.ChooseArea(index);
            // The change is done when the window has drawn the new list.
            window.repaint();
            changes.push_back(double(t.nsecsElapsed()) / 1e6);
            listed = window.FileListBox->Count();
            t.restart();
            QApplication::processEvents();
            paints.push_back(double(t.nsecsElapsed()) / 1e6);
            if (listed != perArea) {
                std::fprintf(stderr, "area %d listed %ld lines\n", area, listed);
                return 1;
            }
        }
    }
    const double walk = Median(walks);
    const double change = Median(changes);
    std::printf("plain walk of %ld records:   %8.1f ms (median of %zu)\n", perArea, walk,
                walks.size());
    std::printf("area change to %ld lines:    %8.1f ms (median of %zu, limit 1000 ms)\n", listed,
                change, changes.size());
    std::printf("events after the change:      %8.1f ms (window responsive again)\n",
                Median(paints));
    std::printf("area change within the 1-second limit: %s\n", change < 1000.0 ? "yes" : "NO");
    std::printf("area_change: ratio %.2f (goal 0.5)\n", walk / change);
    window.close();
    return 0;
}
