// Giving a file in an area's folder its record, and freshening a record
// from its file on disk: shared by the main window's freshen, the drop, the
// adding of a folder's files and the description list's --add. No widgets.
#pragma once

#include "common/RunDelegate.h"
#include "server/Records.h"

#include <QString>

#include <functional>

// Makes the record (area, name) for the file already in the area's folder:
// `describe` (may be empty) fills its texts, then the record is added.
// True when the server took it.
bool AddRecordOfAreaFile(int area, const QString& name,
                         const std::function<void(FullFileRec&)>& describe);
// Freshens the record just added (size and date from its file).
void FreshenAddedRecord(int area, const QString& name, RunDelegate& delegate);

// Freshens one record from its file on disk, with the window's messages
// ("File Not Found! Can not Freshen.", "Error! Could not Freshen.").
bool FreshenOneRecord(const FullFileRec& record, RunDelegate& delegate, bool dryRun = false);
