// Records for the files that already lie in file areas' folders (uploaded by
// other means, copied from a disc): each file without a record gets one as a
// dropped file does, without a copy. The folder's FILES.BBS or DESCRIPT.ION
// is read for descriptions and is never added itself.
#pragma once

#include "common/RunDelegate.h"

#include <QList>

class TUnzipFile;

struct AddFilesOptions {
    QList<int> areas;
    // Reports what would be added (Planned) and refused; writes nothing.
    bool dryRun = false;
    // Reports the plan (Planned items) and asks before anything is written;
    // without it the run adds at once (the command line's --yes).
    bool preview = true;
    // The zip component for zip archives' descriptions; may be null (zip
    // archives then take their description from the folder's list only).
    TUnzipFile* unzip = nullptr;
};

struct AddFilesResult {
    int planned = 0; // files that get (or would get) a record
    int added = 0;
    int refused = 0;
    int failed = 0;
    bool cancelled = false; // the preview was answered No
    bool stopped = false;
};

// Where a new record's description comes from, first found wins.
enum class AddedDescriptionSource { FileIdDiz, DescSdi, List, None };

AddFilesResult RunAddFiles(const AddFilesOptions& options, RunDelegate& delegate);
