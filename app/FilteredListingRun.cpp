#include "app/FilteredListingRun.h"

#include "common/AreaLines.h"
#include "common/ReadFailures.h"
#include "common/Text.h"
#include "filter/Matching.h"
#include "filter/SearchRecord.h"
#include "server/wcsrv.h"

#include <QElapsedTimer>

QList<int> FilteredListingAreas(const QList<int>& shown)
{
    if (CurrentSearchRecord.AreaCriterion != 0)
        return {int(CurrentSearchRecord.AreaCriterion)};
    return shown;
}

FilteredListingResult RunFilteredListing(const FilteredListingOptions& options,
                                         RunDelegate& delegate, const FilteredListingSink& sink)
{
    QString status;
    QElapsedTimer sinceEvents;
    QElapsedTimer sinceDraw;
    QElapsedTimer sinceLines;
    sinceEvents.start();
    sinceDraw.start();
    sinceLines.start();

    // Status marks are kept exactly as written but drawn at most 25 times a
    // second: drawing the bar per record would cost more than the search.
    auto drawStatus = [&]() {
        delegate.Status(status);
        sinceDraw.restart();
    };

    TakeReadFailure(); // only this run's failures count
    for (int area : options.areas) {
        if (sink.areaStarted)
            sink.areaStarted(area);
        FileAreaRec areaRec{};
        if (!GetFileArea(area, &areaRec)) {
            NoteReadFailure();
            continue;
        }
        status = QStringLiteral("Searching ");
        drawStatus();
        int counter = 0;
        FileRec rec{};
        uint32_t position = 0;
        if (!SearchFileRecByAreaName(area, "", &rec, &position)) {
            NoteReadFailure();
            continue;
        }
        while (rec.Area == area) {
            status += u'|';
            if (++counter > 200)
                status = QStringLiteral("Searching ");
            if (sinceDraw.elapsed() >= 40)
                drawStatus();
            if ((!options.applyFilter || MatchesFilter(rec)) && sink.found)
                sink.found(rec, AreaLinePrefix(rec.Area) + RecText(rec.Name));
            if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &position)) {
                NoteReadFailure();
                break;
            }
            // The front end gets its turn once 15 ms have passed rather than
            // after every record: a window repaints and takes clicks just as
            // well, and the search keeps its speed. A stop can only be asked
            // for during that turn.
            if (sinceEvents.elapsed() >= options.turnIntervalMs) {
                // Found lines join the list four times a second: the list
                // lays out all its lines after each extension, which would
                // cost more than the search if done every 15 ms.
                if (sinceLines.elapsed() >= 250) {
                    if (sink.flush)
                        sink.flush();
                    sinceLines.restart();
                }
                const bool stop = delegate.StopRequested();
                sinceEvents.restart();
                if (stop)
                    return FilteredListingResult::Stopped;
            }
        }
    }
    if (sink.flush)
        sink.flush();
    drawStatus();
    // A server read that failed left records out: it is shown, never a
    // silently short list.
    if (const uint32_t code = TakeReadFailure())
        delegate.ServerError(code);
    return FilteredListingResult::Complete;
}
