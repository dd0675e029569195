// Freshen and update of the records chosen in the main window's list: a
// freshen takes the size and the time of the file on disk into the record,
// an update writes the record panel's edits into each record.
#pragma once

#include "archive/AreaFileRecord.h" // FreshenOneRecord
#include "common/AreaLines.h"
#include "common/RunDelegate.h"
#include "server/Records.h"

#include <QList>
#include <QString>

#include <functional>

// Reads the whole record of (area, name) afresh from the server.
bool ReadRecord(const EntryRef& entry, FullFileRec& full);

struct RecordRunOptions {
    QList<EntryRef> entries;
    // Set: an update, which applies these edits to each record before it is
    // written. Empty: a freshen.
    std::function<void(FullFileRec&)> edits;
    // Reports what a freshen would change (RunOutcome::Planned) and writes
    // nothing.
    bool dryRun = false;
};

// Runs through the entries in order; an entry without a record is passed
// over. Returns the number of records written (or planned in a dry run).
int RunRecordChanges(const RecordRunOptions& options, RunDelegate& delegate);

// Applies `edits` to a copy of `record` and writes it.
bool UpdateOneRecord(const FullFileRec& record, const std::function<void(FullFileRec&)>& edits);
