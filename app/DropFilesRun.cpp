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

// Whether a dropped path names a regular file, found without opening it:
// opening a FIFO for reading waits for a writer, and a folder or a device
// copied into an area would leave a file that holds nothing of it.
bool IsRegularDiskFile(const QString& path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether the server file already holds the dropped disk file: the same
// size, the same modification time to the tick and the same bytes. A file
// dropped from the area's own folder (an upload given its record) is that
// very file, found by the server under its name in any letter case; copying
// it onto itself would empty it. A copy that agrees in all three is left as
// it is too: copying it again would change nothing of it.
bool ServerFileHolds(const QString& serverPath, const QString& diskPath)
{
    const int fd =
        ::open(QFile::encodeName(diskPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {
    };
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const WcHandle handle = same ? WcCreateFile(ToBytes(serverPath).constData(), WC_GENERIC_READ,
                                                WC_SHARE_READ, WC_OPEN_EXISTING)
                                 : 0;
    FILETIME utc{};
    if (handle <= 0 || !WcGetFileTime(handle, &utc) ||
        WcGetFileSize(handle) != uint32_t(uint64_t(st.st_size)))
        same = false;
    // The server's file times count 100-ns ticks since 1601-01-01 (UTC).
    constexpr uint64_t kSecondsTo1970 = 11644473600ULL;
    const uint64_t ticks = (uint64_t(int64_t(st.st_mtim.tv_sec)) + kSecondsTo1970) * 10000000ULL +
                           uint64_t(st.st_mtim.tv_nsec) / 100;
    if (same && FileTimeValue(utc) != ticks)
        same = false;
    // Both sides are read a full chunk at a time (less only at the end), so
    // that chunks of either reader line up whatever its short reads.
    auto readDisk = [fd](char* buffer, uint32_t& done) {
        done = 0;
        while (done < kCopyChunkSize) {
            const ssize_t n = ::read(fd, buffer + done, kCopyChunkSize - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                break;
            done += uint32_t(n);
        }
        return true;
    };
    auto readServer = [handle](char* buffer, uint32_t& done) {
        done = 0;
        while (done < kCopyChunkSize) {
            uint32_t n = 0;
            if (!WcReadFile(handle, buffer + done, kCopyChunkSize - done, &n))
                return false;
            if (n == 0)
                break;
            done += n;
        }
        return true;
    };
    char disk[kCopyChunkSize];
    char server[kCopyChunkSize];
    while (same) {
        uint32_t n = 0;
        uint32_t m = 0;
        if (!readDisk(disk, n) || !readServer(server, m) || n != m ||
            std::memcmp(disk, server, n) != 0) {
            same = false;
            break;
        }
        if (n < uint32_t(kCopyChunkSize))
            break;
    }
    if (handle > 0)
        WcCloseHandle(handle);
    ::close(fd);
    return same;
}

// Letters a-z become A-Z; every other character stays as it is.
QString UpperAsciiLetters(QString text)
{
    for (QChar& c : text)
        if (c >= u'a' && c <= u'z')
            c = QChar(char16_t(c.unicode() - 32));
    return text;
}

} // namespace

int RunDropFiles(const DropFilesOptions& options, RunDelegate& delegate)
{
    const int area = options.area;
    int added = 0;
    const QString areaText = QString::number(area);

    for (const QString& path : options.paths) {
        const QString name = UpperAsciiLetters(DroppedFileName(path.left(MaxDiskPath)));
        if (name.size() >= 15) {
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
        const bool inPlace =
            WcExistFile(ToBytes(target).constData()) && ServerFileHolds(target, source);
        if (!inPlace &&
            !delegate.Copy(source, target, QStringLiteral("Copy File to FileArea #") + areaText)) {
            delegate.Warn(QStringLiteral("Error copying file to filearea path"));
            return added;
        }
        FullFileRec full{};
        std::memset(&full, 0, sizeof full);
        SetRecText(full.Rec.Name, name);
        full.Rec.Area = area;
        if (options.importDescription)
            options.importDescription(path, full);
        if (!AddFileRec(&full))
            continue;
        ++added;
        if (options.added)
            options.added(name);

        FileRec rec{};
        uint32_t position = 0;
        FullFileRec stored{};
        if (GetFileRecByAreaName(area, ToBytes(name).constData(), &rec, &position) &&
            GetFullFileRec(&rec, &stored))
            FreshenOneRecord(stored, delegate);
    }
    return added;
}
