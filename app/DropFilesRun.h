// Files dropped on the main window: each is copied into the chosen area and
// given a record, its description taken from the archive, then freshened.
#pragma once

#include "common/RunDelegate.h"
#include "server/AreaFiles.h"
#include "server/Records.h"

#include <QList>
#include <QStringList>
#include <QUrl>

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
// folder: the name mapping and the checks of an entry (server/AreaFiles.h),
// and the making of the record (archive/AreaFileRecord.h).

// The local files among dropped URLs, in order. A path whose bytes are not
// UTF-8 has no exact text: the path made of it would name another file (or
// none). Such a file is left out and its name, shown as the record text of
// its bytes, goes to `refused`.
QStringList DroppedLocalPaths(const QList<QUrl>& urls, QStringList& refused);

// Adds the files in order; stops at the first file that cannot be copied.
// Returns the number of records added.
int RunDropFiles(const DropFilesOptions& options, RunDelegate& delegate);
