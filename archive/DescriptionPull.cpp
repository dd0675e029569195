#include "archive/DescriptionPull.h"

#include "archive/DizReader.h"
#include "archive/TUnzipFile.h"
#include "common/FileUtils.h"
#include "common/StatusPanel.h"
#include "config/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace
{

const QString DizName = QStringLiteral("file_id.diz");

// The file-name part of a path: after its last separator or colon.
QString FileNamePart(const QString& path)
{
    const qsizetype cut =
        std::max({path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'), path.lastIndexOf(u':')});
    return path.mid(cut + 1);
}

// Every entry of the folder named file_id.diz in any letter case. The
// library writes a member under its own name (FILE_ID.DIZ, File_Id.Diz...),
// and this file system tells the cases apart.
QStringList DizCandidates(const QString& folder)
{
    QStringList out;
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        if (name.compare(DizName, Qt::CaseInsensitive) == 0)
            out << name;
    return out;
}

} // namespace

bool IsZipName(const QString& text)
{
    return text.contains(QStringLiteral(".zip")) || text.contains(QStringLiteral(".ZIP")) ||
           text.contains(QStringLiteral(".Zip"));
}

QString ZipTempFolder()
{
    return WithTrailingBackslash(ProgramFolder) + QStringLiteral("Temp/");
}

QString DescriptionFilePath()
{
    return ZipTempFolder() + DizName;
}

bool PullFileIdDiz(TUnzipFile& unzip, const QString& zipPath, QString& descFile,
                   StatusPanel* status, const InformFunction& inform)
{
    if (!IsZipName(zipPath))
        return false;
    unzip.lpszZipFile()->SetText(zipPath.left(MaxDiskPath - 1));

    const QString folder = ZipTempFolder();
    if (!FolderExists(folder) && !MakeFolderPath(folder))
        return false;
    unzip.lpszDestination()->SetText(folder);
    unzip.lpszFileSpec()->SetText(DizName);

    // Their results are not looked at: a failure shows as a count of 0 or
    // as a failed extraction below.
    unzip.RunUnzip(DZ_COUNT_ITEMS);
    unzip.RunUnzip(DZ_COUNT_MATCHES);
    if (unzip.ItemCount() == 0) {
        if (status) {
            status->SetStatusText(QStringLiteral("FILE_ID.DIZ not found in file: ") +
                                  FileNamePart(zipPath));
            status->StartClearStatus();
        }
        return false;
    }

    // A description left from an earlier run (under any letter case) must not
    // pass for this archive's.
    for (const QString& name : DizCandidates(folder))
        DeleteDiskFile(folder + name);

    bool ok = unzip.RunUnzip(DZ_EXTRACT);
    descFile = DescriptionFilePath();
    if (ok) {
        // Bring the member's own spelling to the one name the reader opens.
        const QStringList found = DizCandidates(folder);
        if (!found.contains(DizName)) {
            if (found.isEmpty())
                ok = false;
            else
                ok = QDir(folder).rename(found.first(), DizName);
        }
    }
    if (!ok)
        inform(QStringLiteral("UnZip Failed. ZipFile: ") + zipPath +
               QStringLiteral("  fileDesc: ") + descFile);
    if (status)
        status->StartClearStatus();
    return ok;
}

namespace
{

// A zip name's FILE_ID.DIZ, extracted by the zip component, read into the
// record and removed.
bool TakeDescriptionFile(const QString& descFile, FullFileRec& rec, StatusPanel* status)
{
    QStringList lines;
    ReadDizFile(descFile, lines);
    if (status)
        status->SetStatusText(QStringLiteral("Adding Description..."));
    const bool result = ApplyDizLines(lines, rec);
    DeleteDiskFile(descFile);
    if (status)
        status->StartClearStatus();
    return result;
}

// An archive of any other kind (or a zip without a zip name): the
// description member through the archive reader, FILE_ID.DIZ then DESC.SDI.
bool PullAnyArchiveDescription(TUnzipFile& unzip, const QString& path, FullFileRec& rec,
                               StatusPanel* status, const InformFunction& inform)
{
    // Zip archives are known by their name alone (the zip component's rule):
    // a zip under another name, like a file of no archive kind, is left alone,
    // before the temporary folder is made.
    ArchiveKind kind = ArchiveKind::Unknown;
    if (!DetectArchiveKindOfFile(path, kind) || kind == ArchiveKind::Unknown ||
        kind == ArchiveKind::Zip)
        return false;
    const QString folder = ZipTempFolder();
    if (!FolderExists(folder) && !MakeFolderPath(folder))
        return false;
    const DescriptionPull pull =
        PullArchiveDescription(QFile::encodeName(path), folder, &unzip, rec);
    const DescriptionExtraction& found = pull.extraction;
    const QString failed = QStringLiteral("UnZip Failed. ZipFile: ") + path +
                           QStringLiteral("  fileDesc: ") + DescriptionFilePath();
    switch (found.failure) {
    case DescriptionFailure::None:
        if (status) {
            status->SetStatusText(QStringLiteral("Adding Description..."));
            status->StartClearStatus();
        }
        return pull.applied;
    case DescriptionFailure::NotAnArchive:
        return false; // not an archive: nothing to take a description from
    case DescriptionFailure::NotFound:
        if (status) {
            status->SetStatusText(QStringLiteral("FILE_ID.DIZ not found in file: ") +
                                  FileNamePart(path));
            status->StartClearStatus();
        }
        return false;
    case DescriptionFailure::UnreadableKind:
        inform(failed + QStringLiteral(" (") + found.kindName +
               QStringLiteral(" archives cannot be read)"));
        return false;
    case DescriptionFailure::ExtractFailed:
    case DescriptionFailure::FolderFailed:
        break;
    }
    inform(failed);
    return false;
}

} // namespace

DescriptionPull PullArchiveDescription(const QByteArray& archivePath, const QString& folder,
                                       TUnzipFile* unzip, FullFileRec& rec)
{
    DescriptionPull pull;
    pull.extraction = ExtractArchiveDescription(archivePath, folder, unzip);
    if (!pull.extraction.ok())
        return pull;
    QStringList lines;
    const bool read = ReadDizFile(pull.extraction.path, lines);
    QFile::remove(pull.extraction.path);
    pull.applied = read && ApplyDizLines(lines, rec);
    return pull;
}

bool PullDescription(TUnzipFile& unzip, const QString& zipPath, FullFileRec& rec,
                     StatusPanel* status, const InformFunction& inform)
{
    // A zip name keeps the zip component's own path; any other name is
    // told by the file's first bytes.
    if (!IsZipName(zipPath))
        return PullAnyArchiveDescription(unzip, zipPath, rec, status, inform);
    QString descFile;
    if (!PullFileIdDiz(unzip, zipPath, descFile, status, inform) || !QFileInfo::exists(descFile))
        return false;
    return TakeDescriptionFile(descFile, rec, status);
}
