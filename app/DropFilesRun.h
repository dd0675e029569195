// Files dropped on the main window: each is copied into the chosen area and
// given a record, its description taken from the archive, then freshened.
#pragma once

#include "common/RunDelegate.h"
#include "server/Records.h"

#include <QStringList>

#include <functional>

struct DropFilesOptions {
    int area = 0;
    QStringList paths;
    // Takes the description of the dropped file (an archive) into the new
    // record; may be empty.
    std::function<void(const QString& path, FullFileRec& record)> importDescription;
    // A record was added (the window appends its name to the list).
    std::function<void(const QString& name)> added;
};

// The pieces a drop shares with the adding of files already in an area's
// folder.
// The record name of a file name: letters a-z become A-Z, all else stays.
QString RecordNameOfFile(const QString& fileName);
// True when a record name is too long for the file database (15 or more).
bool NameTooLongForDatabase(const QString& name);
// Whether the path names a regular file, found without opening it.
bool IsRegularDiskFile(const QString& path);
// Whether the disk file is the very file behind the server path (same
// device and inode).
bool IsFileBehind(const QString& serverPath, const QString& diskPath);
// Makes the record (area, name) for the file already in the area's folder:
// `describe` (may be empty) fills its texts, then the record is added.
// True when the server took it.
bool AddRecordOfAreaFile(int area, const QString& name,
                         const std::function<void(FullFileRec&)>& describe);
// Freshens the record just added (size and date from its file).
void FreshenAddedRecord(int area, const QString& name, RunDelegate& delegate);

// Adds the files in order; stops at the first file that cannot be copied.
// Returns the number of records added.
int RunDropFiles(const DropFilesOptions& options, RunDelegate& delegate);
