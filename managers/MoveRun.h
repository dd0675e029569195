// The move manager's run: moves every record (or every record that passes
// the filter) of one file area to another, optionally with its file, which
// is copied through the delegate before the record changes.
#pragma once

#include "common/RunDelegate.h"
#include "filter/AgeLimits.h"

struct MoveOptions {
    int from = 0;
    int to = 0;
    // Only records that pass this filter; empty: no filter.
    std::optional<SearchRecord> filter;
    AgeLimits ages;         // and only records of these ages
    bool moveFiles = false; // the files on disk go with their records
    bool dryRun = false;    // reports Planned items and changes nothing
    // The source area's record count: the progress range.
    qint64 sourceTotal = 0;
};

struct MoveResult {
    long moved = 0;        // records moved (planned, for a dry run)
    bool notMoved = false; // a file could not be moved and its record stayed
    bool stopped = false;  // a stop was asked for and confirmed
};

// Refuses a move of an area onto itself ("Can not move files to the same
// file area.", nothing changed). Ends with the "Some files ... were not
// moved" message when a file could not be moved; nothing after a confirmed
// stop or when the area cannot be read ("Error getting files.").
MoveResult RunMove(const MoveOptions& options, RunDelegate& run);
