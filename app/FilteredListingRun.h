// The filtered listing's walk: every record of the given areas that the
// filter in its options matches, as the main window's list lines (the area
// line prefix and the name). The window keeps filling its list from the lines;
// the command line prints them.
#pragma once

#include "common/RunDelegate.h"
#include "filter/AgeLimits.h"
#include "server/Records.h"

#include <QList>
#include <QString>

#include <functional>

struct FilteredListingOptions {
    // The areas in the order they are searched; areas the BBS does not
    // have are passed over.
    QList<int> areas;
    // The filter the records must pass; empty: every record is listed (the
    // command line without --filter).
    std::optional<SearchRecord> filter;
    // Record ages the command line asks for, applied with the filter.
    AgeLimits ages;
    // How often the front end gets its turn (and is asked for a stop);
    // 0 after every record.
    int turnIntervalMs = 15;
};

struct FilteredListingSink {
    // An area's search begins (the window shows its number).
    std::function<void(int area)> areaStarted;
    // A matching record and its list line.
    std::function<void(const FileRec& rec, const QString& line)> found;
    // A matching record alone, for a front end that makes its lines its own
    // way (the window's list, without a string per line). Called instead of
    // `found` when set.
    std::function<void(const FileRec& rec)> foundRecord;
    // The lines found so far should join the list now (four times a second
    // while the walk runs; never after a stop).
    std::function<void()> flush;
};

enum class FilteredListingResult { Complete, Stopped };

// The areas a filtered listing searches: the filter's one area when it has
// one, otherwise `shown` (the selector's areas, the command line's SPEC).
QList<int> FilteredListingAreas(const SearchRecord& filter, const QList<int>& shown);

// Walks the areas. Status marks ("Searching " and a bar per record) go to
// the delegate at most 25 times a second and once at the end; the delegate
// is asked for a stop every turnIntervalMs. On a stop the lines found since the last
// flush are not flushed: the caller decides whether they still belong.
FilteredListingResult RunFilteredListing(const FilteredListingOptions& options,
                                         RunDelegate& delegate, const FilteredListingSink& sink);
