#include "app/DropFilesRun.h"

#include "archive/AreaFileRecord.h"
#include "common/FileUtils.h"
#include "common/Text.h"
#include "server/RecordFileSize.h"
#include "server/ServerFileCopy.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QFile>

namespace
{

// The file-name part of a dropped path: after its last separator, the
// host's '/'. A backslash or colon is part of a Linux file name: the name
// keeps it (and a backslash, which no server path carries, is refused), so
// a drop names a file as adding it from its folder would.
QString DroppedFileName(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

int RunDropFiles(const DropFilesOptions& options, RunDelegate& delegate)
{
    const int area = options.area;
    int added = 0;
    const QString areaText = QString::number(area);

    for (const QString& path : options.paths) {
        // The record name is made of the bytes of the file's name on disk
        // (DiskNames.h), so the copy, the record and its file agree.
        const QString name =
            RecordNameOfDiskName(QFile::encodeName(DroppedFileName(path.left(MaxDiskPath))));
        if (NameTooLongForDatabase(name)) {
            delegate.Inform(QStringLiteral("File: ") + name +
                            QStringLiteral(" is too long for the file database."));
            continue;
        }
        if (const QString why = FileNameRefusal(name); !why.isEmpty()) {
            delegate.Inform(QStringLiteral("File: ") + name + QStringLiteral(" can't be added: ") +
                            why + u'.');
            continue;
        }
        // A record of this name in the area keeps its file: the copy would
        // replace that file, and the new record would be refused as a
        // duplicate, leaving the old record naming someone else's file.
        {
            FileRec there{};
            uint32_t at = 0;
            if (GetFileRecByAreaName(area, ToBytes(name).constData(), &there, &at)) {
                delegate.Warn(QStringLiteral("File: ") + name +
                              QStringLiteral(" already exists in file area #") + areaText + u'.');
                continue;
            }
            const unsigned code = WcGetLastError();
            if (code != WC_RECORD_NOT_FOUND) {
                delegate.ServerError(code); // the server can't tell: copy nothing
                continue;
            }
        }
        const QString source = path.left(MaxDiskPath);
        const QByteArray sourceBytes = QFile::encodeName(source);
        const QString target = ServerFilePath(area, name);
        // A link that lies in an area's folder (planted there by an upload
        // account) may point at any file the BBS can read: it is neither
        // given a record nor copied, unless the sysop allows links. A link
        // from elsewhere is copied as any copy reads it, by its target.
        if (!AreaLinksAllowed()) {
            const QByteArray entry = AreaEntryOfName(area, name);
            if ((IsDiskLink(sourceBytes) && LiesInAreaFolder(sourceBytes)) ||
                (!entry.isEmpty() && IsDiskLink(entry) && IsFileBehind(target, sourceBytes))) {
                delegate.Inform(QStringLiteral("File: ") + name +
                                QStringLiteral(" is a link in a file area's folder; links are "
                                               "not allowed."));
                continue;
            }
        }
        // A folder, FIFO or device fails as a source the copy can't open,
        // before any record or file is made.
        if (!IsRegularDiskFile(sourceBytes)) {
            delegate.Warn(QStringLiteral("Error Opening: ") + source);
            delegate.Warn(QStringLiteral("Error copying file to filearea path"));
            return added;
        }
        // Refused before the copy: a record could not hold its size.
        if (const QString why = FileTooLargeMessage(name, DiskFileSize(sourceBytes));
            !why.isEmpty()) {
            delegate.Warn(why);
            continue;
        }
        const bool inPlace = IsFileBehind(target, sourceBytes);
        if (!inPlace &&
            !delegate.Copy(source, target, QStringLiteral("Copy File to FileArea #") + areaText)) {
            delegate.Warn(QStringLiteral("Error copying file to filearea path"));
            return added;
        }
        std::function<void(FullFileRec&)> describe;
        if (options.importDescription)
            describe = [&](FullFileRec& full) { options.importDescription(path, full); };
        if (!AddRecordOfAreaFile(area, name, describe))
            continue;
        ++added;
        if (options.added)
            options.added(name);
        FreshenAddedRecord(area, name, delegate);
    }
    return added;
}

QStringList DroppedLocalPaths(const QList<QUrl>& urls, QStringList& refused)
{
    QStringList paths;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QByteArray bytes =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (url.host().isEmpty() && QFile::encodeName(url.toLocalFile()) != bytes) {
            refused << FromBytes(bytes.mid(bytes.lastIndexOf('/') + 1));
            continue;
        }
        paths << url.toLocalFile();
    }
    return paths;
}
