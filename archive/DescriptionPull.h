// Taking a record's description out of an archive without widgets: the
// description member extracted into a temporary folder, read into the
// record and removed again. The main window's extract button and drop (with
// their status texts and messages) and the adding of the files already in an
// area's folder (without them) all go through here.
#pragma once

#include "archive/ArchiveReader.h"
#include "server/Records.h"

#include <QString>

#include <functional>

class StatusPanel;
class TUnzipFile;

// Shows an information message (the windows pass ShowInformation).
using InformFunction = std::function<void(const QString& text)>;

// True when the text contains ".zip", ".ZIP" or ".Zip" (exactly these cases).
bool IsZipName(const QString& text);

// The temporary folder: WithTrailingBackslash(ProgramFolder) + "Temp/".
QString ZipTempFolder();
// Where FILE_ID.DIZ is extracted to: the temporary folder + "file_id.diz".
QString DescriptionFilePath();

// The description member of any archive kind known here (zip through
// `unzip`, which may be null) extracted into `folder`, read into `rec` and
// removed. `applied`: the record took it (a member without lines leaves the
// record unchanged).
struct DescriptionPull {
    DescriptionExtraction extraction;
    bool applied = false;
};
DescriptionPull PullArchiveDescription(const QByteArray& archivePath, const QString& folder,
                                       TUnzipFile* unzip, FullFileRec& rec);

// ExtractFileIdDiz (DescriptionImport.h) with its messages through `inform`.
bool PullFileIdDiz(TUnzipFile& unzip, const QString& zipPath, QString& descFile,
                   StatusPanel* status, const InformFunction& inform);
// ImportDescription (DescriptionImport.h) with its messages through `inform`.
bool PullDescription(TUnzipFile& unzip, const QString& zipPath, FullFileRec& rec,
                     StatusPanel* status, const InformFunction& inform);
