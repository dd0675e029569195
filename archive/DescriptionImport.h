// Taking a record's description from the FILE_ID.DIZ inside a zip archive,
// and the GUI side of the zip component (its start-up failure and its
// information message).
#pragma once

#include "archive/DescriptionPull.h" // IsZipName, ZipTempFolder, DescriptionFilePath
#include "server/Records.h"

#include <QString>

class StatusPanel;
class TUnzipFile;

// Extracts FILE_ID.DIZ (any member whose last name part is file_id.diz, any
// letter case) from the archive into the temporary folder. True when it was
// extracted; `descFile` is then its path. A missing FILE_ID.DIZ sets the
// status "FILE_ID.DIZ not found in file: " + name; a failed extraction shows
// "UnZip Failed. ZipFile: ..." `status` may be null. A temporary folder that
// can't be made throws WriteError (MakeFolderPath).
bool ExtractFileIdDiz(TUnzipFile& unzip, const QString& zipPath, QString& descFile,
                      StatusPanel* status);

// Fills the record's Description, LongDescription and HasLongDescription from
// the archive's FILE_ID.DIZ (a zip name: through the zip component as
// above; any other name: an archive of any other kind its first bytes
// show, its FILE_ID.DIZ or else DESC.SDI; a kind that can't be read is named in the
// failure message); long-description lines beyond those read are
// emptied. True when it did; false leaves the record unchanged.
bool ImportDescription(TUnzipFile& unzip, const QString& zipPath, FullFileRec& rec,
                       StatusPanel* status);

// Routes the component's information message to ShowInformation.
void InstallUnzipMessageHook();
// When the component's library or entry didn't load: shows the warning
// ("Could not load DUNZIP32.DLL!" / "Could not load dunzip function!") and
// returns true.
bool ReportUnzipLoadFailure(const TUnzipFile& unzip);
// For the main window right after creating the component: installs the
// message hook and, when the library didn't load, shows the warning and ends
// the program with exit code 1.
void ExitIfUnzipUnavailable(const TUnzipFile& unzip);
