#include "app/DropFilesRun.h"

#include "app/RecordRun.h"
#include "common/FileUtils.h"
#include "common/Text.h"
#include "server/ServerFileCopy.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The file-name part of a dropped path: after its last separator or colon.
QString DroppedFileName(const QString& path)
{
    const qsizetype cut =
        std::max({path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'), path.lastIndexOf(u':')});
    return path.mid(cut + 1);
}

} // namespace

// Whether a dropped path names a regular file, found without opening it:
// opening a FIFO for reading waits for a writer, and a folder or a device
// copied into an area would leave a file that holds nothing of it.
bool IsRegularDiskFile(const QString& path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether the dropped file is the very file behind the server path: the
// same device and inode. A file dropped from the area's own folder (an
// upload given its record) is found by the server under its name in any
// letter case; copying it onto itself would empty it.
bool IsFileBehind(const QString& serverPath, const QString& diskPath)
{
    struct stat st {
    };
    WcFileId id{};
    return ::stat(QFile::encodeName(diskPath).constData(), &st) == 0 &&
           WcGetFileId(ToBytes(serverPath).constData(), &id) && id.Volume == uint64_t(st.st_dev) &&
           id.File == uint64_t(st.st_ino);
}

QString RecordNameOfFile(const QString& fileName)
{
    QString text = fileName;
    for (QChar& c : text)
        if (c >= u'a' && c <= u'z')
            c = QChar(char16_t(c.unicode() - 32));
    return text;
}

bool NameTooLongForDatabase(const QString& name)
{
    return name.size() >= 15;
}

bool AddRecordOfAreaFile(int area, const QString& name,
                         const std::function<void(FullFileRec&)>& describe)
{
    FullFileRec full{};
    std::memset(&full, 0, sizeof full);
    SetRecText(full.Rec.Name, name);
    full.Rec.Area = area;
    if (describe)
        describe(full);
    return AddFileRec(&full);
}

void FreshenAddedRecord(int area, const QString& name, RunDelegate& delegate)
{
    FileRec rec{};
    uint32_t position = 0;
    FullFileRec stored{};
    if (GetFileRecByAreaName(area, ToBytes(name).constData(), &rec, &position) &&
        GetFullFileRec(&rec, &stored))
        FreshenOneRecord(stored, delegate);
}

int RunDropFiles(const DropFilesOptions& options, RunDelegate& delegate)
{
    const int area = options.area;
    int added = 0;
    const QString areaText = QString::number(area);

    for (const QString& path : options.paths) {
        const QString name = RecordNameOfFile(DroppedFileName(path.left(MaxDiskPath)));
        if (NameTooLongForDatabase(name)) {
            delegate.Inform(QStringLiteral("File: ") + name +
                            QStringLiteral(" is too long for the file database."));
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
        const QString target = ServerFilePath(area, name);
        // A folder, FIFO or device fails as a source the copy can't open,
        // before any record or file is made.
        if (!IsRegularDiskFile(source)) {
            delegate.Warn(QStringLiteral("Error Opening: ") + source);
            delegate.Warn(QStringLiteral("Error copying file to filearea path"));
            return added;
        }
        const bool inPlace = IsFileBehind(target, source);
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
