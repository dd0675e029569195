// Filtered listing in the real main window over a demo BBS of 1,000,000
// records (all areas; criteria testing a number, a flag and a text), against
// the plain walk of the same records in the same run. The ratio is the
// listing's rate over the walk's rate; the listing also reads every full
// record for the test and keeps the window responsive, so a third of the
// walk's rate is the goal.
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
    QList<int> areas;
    for (int i = 0; i < window.AreaListBox->count(); ++i)
        areas << AreaNumberOfLine(window.AreaListBox->itemText(i));

    // Criteria: size at least 1 (a number), not a failed scan (a flag), a
    // description holding "e" (a text). Most records pass every test, so
    // all three are evaluated for nearly every record.
    std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
    CurrentSearchRecord.SizeOp = OpGreater;
    CurrentSearchRecord.Template.Rec.Size = 1;
    CurrentSearchRecord.FailedScanOp = FlagNo;
    std::strcpy(CurrentSearchRecord.Template.Rec.Description, "e");

    // Baseline: the plain walk of the same areas.
    QElapsedTimer t;
    t.start();
    long walked = 0;
    for (int area : std::as_const(areas))
        walked += WalkArea(area, [](FileRec&) { return true; });
    const double walkSeconds = double(t.nsecsElapsed()) / 1e9;

    // For reference: the same walk with the match test, no window.
    t.restart();
    long matched = 0;
    for (int area : std::as_const(areas))
        WalkArea(area, [&matched](FileRec& r) {
            matched += MatchesFilter(r) ? 1 : 0;
            return true;
        });
    const double matchSeconds = double(t.nsecsElapsed()) / 1e9;

    // The filtered listing, started as the user starts it.
    FilterDefined = true;
    t.restart();
    window.cb_FileFilter->click();
    const double listSeconds = double(t.nsecsElapsed()) / 1e9;
    const long found = window.FileListBox->Count();
    if (found != matched) {
        std::fprintf(stderr, "listing found %ld lines, the match walk %ld\n", found, matched);
        return 1;
    }

    const double walkRate = double(walked) / walkSeconds;
    const double matchRate = double(walked) / matchSeconds;
    const double listRate = double(walked) / listSeconds;
    std::printf("plain walk:        %8ld records in %6.2f s = %9.0f records/s\n", walked,
                walkSeconds, walkRate);
    std::printf("walk + match test: %8ld records in %6.2f s = %9.0f records/s (no window)\n",
                walked, matchSeconds, matchRate);
    std::printf("filtered listing:  %8ld records in %6.2f s = %9.0f records/s, %ld lines found\n",
                walked, listSeconds, listRate, found);
    std::printf("window overhead over the match walk: %.1f %%\n",
                100.0 * (listSeconds - matchSeconds) / matchSeconds);
    std::printf("filter: ratio %.2f (goal 0.33)\n", listRate / walkRate);
    window.close();
    return 0;
}
