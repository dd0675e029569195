#include "app/ExtractDescription.h"

#include "archive/ArchiveReader.h"
#include "archive/DescriptionPull.h"
#include "common/AppError.h"
#include "common/FileUtils.h"
#include "common/Text.h"
#include "server/ServerQueries.h"
#include "server/wcsrv.h"

#include <QFile>

ArchiveEntryCheck CheckArchiveEntry(const QString& serverPath, bool zipName)
{
    // Any other name counts when its first bytes show an archive kind other
    // than zip (a zip is known by its name).
    if (!zipName) {
        const ArchiveKind kind = ServerFileArchiveKind(serverPath);
        if (kind == ArchiveKind::Unknown || kind == ArchiveKind::Zip)
            return ArchiveEntryCheck::NotArchive;
    }
    if (!ServerFileExists(serverPath))
        return ArchiveEntryCheck::Missing;
    return ArchiveEntryCheck::Ready;
}

bool EnsureTempFolder(QString& folder, RunDelegate& delegate)
{
    folder = ZipTempFolder();
    bool ok = FolderExists(folder);
    if (!ok) {
        try {
            ok = MakeFolderPath(folder);
        } catch (const AppError&) {
            ok = false; // reported below, as a folder that couldn't be made
        }
    }
    if (!ok)
        delegate.Warn(QStringLiteral("Error creating directory: ") + folder);
    return ok;
}

ExtractDescriptionResult RunExtractDescription(const EntryRef& entry, const QString& serverPath,
                                               TUnzipFile& unzip, StatusPanel* status,
                                               RunDelegate& delegate)
{
    ExtractDescriptionResult result;
    FileRec rec{};
    uint32_t position = 0;
    if (!GetFileRecByAreaName(entry.area, ToBytes(entry.name).constData(), &rec, &position)) {
        delegate.ServerError(WcGetLastError());
        return result;
    }
    FullFileRec full{};
    if (!GetFullFileRec(&rec, &full)) {
        delegate.ServerError(WcGetLastError());
        return result;
    }
    QString folder;
    if (!EnsureTempFolder(folder, delegate))
        return result;
    result.attempted = true;
    const QString tempPath = folder + entry.name;
    // The temporary copy goes whatever happens to the import, an error
    // included; the error is shown after it has gone.
    try {
        if (delegate.Copy(serverPath, tempPath, QStringLiteral("Creating Temp File"))) {
            result.tempPath = tempPath;
            const InformFunction inform = [&delegate](const QString& text) {
                delegate.Inform(text);
            };
            if (PullDescription(unzip, tempPath, full, status, inform) && !UpdateFullFileRec(&full))
                delegate.ServerError(WcGetLastError());
        }
    } catch (const AppError& e) {
        result.error = e.message();
    }
    if (QFile::exists(tempPath))
        DeleteDiskFile(tempPath);
    return result;
}
