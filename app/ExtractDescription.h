// The main window's archive commands without widgets: which list entries
// they take, the temporary folder they copy into, and the extract button's
// whole step (the record read afresh, its file copied into the temporary
// folder, the description pulled out of the copy, the record written, the
// copy removed). The window asks for these and shows what they report.
#pragma once

#include "common/AreaLines.h"
#include "common/RunDelegate.h"

#include <QString>

class StatusPanel;
class TUnzipFile;

enum class ArchiveEntryCheck {
    NotArchive, // neither a zip name nor the first bytes of another archive kind
    Missing,    // the file is not on disk
    Ready,
};
// The file behind `serverPath` as the archive commands see it. A zip name
// (IsZipName of the list line) counts as it is; any other name only when
// the file's first bytes show an archive kind other than zip.
ArchiveEntryCheck CheckArchiveEntry(const QString& serverPath, bool zipName);

// The temporary folder (ZipTempFolder), made when missing; false after the
// warning "Error creating directory: <folder>".
bool EnsureTempFolder(QString& folder, RunDelegate& delegate);

struct ExtractDescriptionResult {
    // The record was read and the temporary folder is there: the copy was
    // tried (the window shows the record again afterwards).
    bool attempted = false;
    // The temporary copy once it was made (removed again before the return).
    QString tempPath;
    // An error that ended the import; the window shows it, the copy is gone.
    QString error;
};

// The extract button for the entry whose file is `serverPath`. Failures of
// the server are told through the delegate, the pull's status texts through
// `status` (may be null), its messages through the delegate's Inform.
ExtractDescriptionResult RunExtractDescription(const EntryRef& entry, const QString& serverPath,
                                               TUnzipFile& unzip, StatusPanel* status,
                                               RunDelegate& delegate);
