#include "app/FilteredListingRun.h"

#include "common/AreaLines.h"
#include "common/CoarseClock.h"
#include "common/Text.h"
#include "filter/AgeLimits.h"
#include "filter/SearchRecord.h"
#include "server/ReadFailures.h"
#include "server/wcsrv.h"

QList<int> FilteredListingAreas(const SearchRecord& filter, const QList<int>& shown)
{
    if (filter.AreaCriterion != 0)
        return {int(filter.AreaCriterion)};
    return shown;
}

FilteredListingResult RunFilteredListing(const FilteredListingOptions& options,
                                         RunDelegate& delegate, const FilteredListingSink& sink)
{
    // The status text is "Searching " and a mark per record of the area,
    // back to "Searching " from the 201st record on. It is kept as the
    // number of marks and made only when drawn, at most 25 times a second:
    // drawing (or even making) it per record would cost more than the
    // search.
    int marks = 0;
    auto drawStatus = [&]() {
        delegate.Status(QStringLiteral("Searching ") + QString(marks, u'|'));
    };
    // One read of the coarse clock per record decides when to draw, when
    // to give the front end its turn and when found lines join the list.
    qint64 lastDraw = CoarseClockMs();
    qint64 lastTurn = lastDraw;
    qint64 lastLines = lastDraw;

    TakeReadFailure(); // only this run's failures count
    for (int area : options.areas) {
        if (sink.areaStarted)
            sink.areaStarted(area);
        FileAreaRec areaRec{};
        if (!GetFileArea(area, &areaRec)) {
            NoteReadFailure();
            continue;
        }
        marks = 0;
        drawStatus();
        lastDraw = CoarseClockMs();
        int counter = 0;
        FileRec rec{};
        uint32_t position = 0;
        if (!SearchFileRecByAreaName(area, "", &rec, &position)) {
            NoteReadFailure();
            continue;
        }
        while (rec.Area == area) {
            marks = ++counter > 200 ? 0 : counter;
            const qint64 now = CoarseClockMs();
            if (now - lastDraw >= 40) {
                drawStatus();
                lastDraw = now;
            }
            if (PassesRecordChoice(options.filter, options.ages, rec)) {
                if (sink.foundRecord)
                    sink.foundRecord(rec);
                else if (sink.found)
                    sink.found(rec, AreaLinePrefix(rec.Area) + RecText(rec.Name));
            }
            if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &position)) {
                NoteReadFailure();
                break;
            }
            // The front end gets its turn once 15 ms have passed rather than
            // after every record: a window repaints and takes clicks just as
            // well, and the search keeps its speed. A stop can only be asked
            // for during that turn.
            if (now - lastTurn >= options.turnIntervalMs) {
                // Found lines join the list four times a second: the list
                // lays out all its lines after each extension, which would
                // cost more than the search if done every 15 ms.
                if (now - lastLines >= 250) {
                    if (sink.flush)
                        sink.flush();
                    lastLines = now;
                }
                const bool stop = delegate.StopRequested();
                lastTurn = CoarseClockMs();
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
