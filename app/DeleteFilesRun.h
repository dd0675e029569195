// The main window's Delete button: the chosen records go from the file
// database, and their files from the disk when asked.
#pragma once

#include "app/RecordRun.h"
#include "common/RunDelegate.h"

struct DeleteFilesOptions {
    QList<EntryRef> entries;
    // The answer to "Delete Files from Disk also?".
    bool fromDisk = false;
};

// Deletes the records in order; an entry without a record is passed over.
// Returns the number deleted.
int RunDeleteFiles(const DeleteFilesOptions& options, RunDelegate& delegate);
