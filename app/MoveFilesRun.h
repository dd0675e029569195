// The main window's Move button: the chosen records and their files go to
// another area. A file is copied first and its record changes only once the
// file is in the target area, so no record names a file that is not there.
#pragma once

#include "app/RecordRun.h"
#include "common/RunDelegate.h"

struct MoveFilesOptions {
    QList<EntryRef> entries;
    int target = 0;
};

// Moves the records in order, asking the window's questions through the
// delegate. Returns the number of records moved. A target that is the area
// of the last record is refused ("Can not move files to the same file
// area.", nothing changed).
int RunMoveFiles(const MoveFilesOptions& options, RunDelegate& delegate);
