// The deletion manager's run: deletes every record (or every record that
// passes the filter) of the given file areas, optionally with the files on
// disk, asking through the delegate what the window asks.
#pragma once

#include "common/AreaLines.h"
#include "common/RunDelegate.h"
#include "server/wcsrv.h"

#include <QList>

struct DeletionOptions {
    // The areas in the order they are worked through; an area the server
    // does not have is passed over.
    QList<int> areas;
    bool applyFilter = false;    // only records that pass the current filter
    bool promptFirst = false;    // "Delete file ... ?" for each record
    bool deleteFromDisk = false; // the files go with their records
    bool dryRun = false;         // reports Planned items and changes nothing
    // Records counted beforehand: when above 0 the progress counts records
    // against it, otherwise it counts areas.
    qint64 recordTotal = 0;

    // When not empty: the run deletes exactly these records, in this order,
    // instead of walking `areas` (the filter and recordTotal play no part;
    // the progress counts these records). With deleteFromDisk, a record's
    // file stays on disk while another record still names that disk file
    // (a record of the same name in an area sharing the folder, not deleted
    // by this run) or when it is one of `keepFiles`.
    QList<EntryRef> records;
    QList<WcFileId> keepFiles;
};

struct DeletionResult {
    long deleted = 0;     // records deleted (planned, for a dry run)
    bool stopped = false; // a stop was asked for and confirmed
};

DeletionResult RunDeletion(const DeletionOptions& options, RunDelegate& run);
