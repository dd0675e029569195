#include "server/ServerFileCopy.h"

#include "common/Text.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Paths longer than this are refused like the platform refuses them.
constexpr qsizetype kMaxPath = 260;

// The loop's reads: a system call per 64 chunks instead of per chunk; the
// buffer stays in the processor's cache beside the block the server fills.
constexpr uint32_t kCopyBufferBytes = uint32_t(1) << 18;
// What the kernel copies between two moves of the bar.
constexpr uint64_t kKernelCopyStep = uint64_t(8) << 20;

// Opens a disk file without blocking (a FIFO would wait for a writer) and
// keeps it only when it is what `accept` wants; the descriptor is then
// blocking again. -1 on failure.
int OpenDisk(const QString& path, int flags, bool (*accept)(mode_t))
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return -1;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !accept(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One end of a copy: a server file or a disk file, opened and closed with
// the functions of its own kind. The destructor closes it, so every way out
// of CopyServerFile closes both files.
class CopyEnd
{
public:
    explicit CopyEnd(const QString& path) : m_path(path), m_server(IsServerPath(path)) {}
    ~CopyEnd() { close(); }
    CopyEnd(const CopyEnd&) = delete;
    CopyEnd& operator=(const CopyEnd&) = delete;

    // Only a regular file is a source: a folder, FIFO or device is refused
    // like a missing file, and opening one never blocks.
    bool openRead()
    {
        if (m_path.size() > kMaxPath)
            return false;
        if (m_server) {
            m_handle = WcCreateFile(ToBytes(m_path).constData(), WC_GENERIC_READ, WC_SHARE_READ,
                                    WC_OPEN_EXISTING);
        } else {
            m_handle = OpenDisk(m_path, O_RDONLY, [](mode_t m) { return S_ISREG(m); });
            // The source is read once from start to end.
            if (m_handle > 0)
                ::posix_fadvise(int(m_handle), 0, 0, POSIX_FADV_SEQUENTIAL);
        }
        return valid();
    }

    // The disk file this end names, found the way its own functions find
    // it (a server path through the server, without regard to letter
    // case). False when there is none.
    bool identity(WcFileId& id) const
    {
        if (m_server)
            return WcGetFileId(ToBytes(m_path).constData(), &id);
        struct stat st {
        };
        const int rc = valid() ? ::fstat(int(m_handle), &st)
                               : ::stat(QFile::encodeName(m_path).constData(), &st);
        if (rc != 0)
            return false;
        id = WcFileId{uint64_t(st.st_dev), uint64_t(st.st_ino)};
        return true;
    }

    // True when this end and `other` are the same file: then creating this
    // end would empty the other before it is read.
    bool sameFileAs(const CopyEnd& other) const
    {
        WcFileId a{}, b{};
        return identity(a) && other.identity(b) && a.Volume == b.Volume && a.File == b.File;
    }

    bool createWrite()
    {
        if (m_path.size() > kMaxPath)
            return false;
        if (m_server) {
            m_handle = WcCreateFile(ToBytes(m_path).constData(), WC_GENERIC_WRITE, WC_SHARE_NONE,
                                    WC_CREATE_ALWAYS);
        } else {
            // A device such as /dev/null may be written to; a FIFO without a
            // reader is refused instead of waited on.
            m_handle = OpenDisk(m_path, O_WRONLY | O_CREAT | O_TRUNC,
                                [](mode_t m) { return !S_ISDIR(m); });
        }
        return valid();
    }

    qint64 size() const
    {
        if (m_server) {
            // A size the server can't tell (a file too large for a record)
            // leaves the progress without a range.
            const uint32_t size = WcGetFileSize(m_handle);
            return size == 0xFFFFFFFFu ? 0 : qint64(size);
        }
        struct stat st {
        };
        return ::fstat(int(m_handle), &st) == 0 ? qint64(st.st_size) : 0;
    }

    bool read(void* buffer, uint32_t count, uint32_t& done)
    {
        done = 0;
        if (m_server)
            return WcReadFile(m_handle, buffer, count, &done);
        ssize_t n;
        do
            n = ::read(int(m_handle), buffer, count);
        while (n < 0 && errno == EINTR);
        if (n < 0)
            return false;
        done = uint32_t(n);
        return true;
    }

    // A disk write that stores only part of the bytes is continued, as the
    // platform's own file write would; it fails when the rest cannot be stored.
    bool write(const void* buffer, uint32_t count, uint32_t& done)
    {
        done = 0;
        if (m_server)
            return WcWriteFile(m_handle, buffer, count, &done);
        const char* p = static_cast<const char*>(buffer);
        while (done < count) {
            const ssize_t n = ::write(int(m_handle), p + done, count - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                break;
            done += uint32_t(n);
        }
        return true;
    }

    // False when bytes that writes accepted could not be stored after all
    // (the server's writes are stored behind the caller's back).
    bool close()
    {
        if (!valid())
            return true;
        bool ok;
        if (m_server)
            ok = WcCloseHandle(m_handle);
        else
            ok = ::close(int(m_handle)) == 0 || errno == EINTR;
        m_handle = 0;
        return ok;
    }

    bool isServer() const { return m_server; }
    WcHandle handle() const { return m_handle; }

private:
    // A handle is valid only when greater than 0.
    bool valid() const { return m_handle > 0; }

    QString m_path;
    bool m_server;
    WcHandle m_handle = 0;
};

// Copies up to `count` bytes from `from`'s position to `to`'s inside the
// kernel, through the server: between two server files by their handles,
// between a server file and a disk file by the disk file's descriptor. The
// disk end is opened, read, written and closed by CopyEnd alone, as in the
// loop, so only the copy itself is the server's call. False where the
// server cannot or the copy failed; `copied` holds what it copied anyway.
bool CopyInKernel(const CopyEnd& from, const CopyEnd& to, uint64_t count, uint64_t& copied)
{
    if (from.isServer() && to.isServer())
        return WcCopyFileData(from.handle(), to.handle(), count, &copied);
    if (to.isServer())
        return WcCopyFromDiskFile(int(from.handle()), to.handle(), count, &copied);
    if (from.isServer())
        return WcCopyToDiskFile(from.handle(), int(to.handle()), count, &copied);
    return false;
}

} // namespace

bool CopyServerFileWith(const QString& source, const QString& destination, const QString& caption,
                        CopyObserver& observer)
{
    CopyEnd from(source);
    if (!from.openRead()) {
        observer.Warn(QStringLiteral("Error Opening: %1").arg(source));
        return false;
    }
    // A copy onto the file it reads is refused before anything is opened
    // for writing: the create would empty the source. Server paths are
    // resolved by the server (any letter case, areas sharing a folder).
    CopyEnd to(destination);
    if (to.sameFileAs(from) || !to.createWrite()) {
        observer.Warn(QStringLiteral("Error Creating: %1").arg(destination));
        return false;
    }

    const int maximum = int(from.size() / kCopyChunkSize);
    observer.Begin(caption, maximum);

    // The bar moves in steps of a 256th of the file at the least (about a
    // pixel of the progress window's bar): a bar update formats its text,
    // which per 4096-byte chunk would cost more than the copy, and even a
    // thousand of them cost a few percent of a large copy. Before a
    // message and at the end it shows exactly how far the copy came.
    const int barStep = std::max(1, maximum / 256);
    int shown = 0;
    auto showProgress = [&](qint64 total, bool exact) {
        const int chunks = int(total / kCopyChunkSize);
        if (exact ? chunks != shown : chunks - shown >= barStep) {
            shown = chunks;
            observer.Progress(chunks);
        }
    };
    qint64 total = 0;
    bool ok = false;

    // Where either end is a server file the kernel copies the bytes (a disk
    // end through its descriptor), a large step at a time with the bar
    // moved between steps. Where it cannot (other file systems, a host
    // without the call, a device) or fails, the loop below goes on from
    // where it stopped: it reads to the end, and it names a failure as a
    // failing read or write.
    if (from.isServer() || to.isServer()) {
        for (;;) {
            uint64_t copied = 0;
            const bool copiedOk = CopyInKernel(from, to, kKernelCopyStep, copied);
            total += qint64(copied);
            showProgress(total, false);
            if (!copiedOk || copied < kKernelCopyStep)
                break;
        }
    }

    // The loop reads large pieces; a server destination takes them in
    // chunks (its write-behind collects them without a system call, and a
    // failure shows at the chunk it hit), a disk destination whole. The bar
    // counts the bytes read up to and with the chunk being written, so a
    // failure message shows it at the chunk that failed.
    const std::unique_ptr<char[]> buffer(new char[kCopyBufferBytes]);
    const uint32_t writeStep = to.isServer() ? uint32_t(kCopyChunkSize) : kCopyBufferBytes;
    bool failed = false;
    while (!failed) {
        uint32_t read = 0;
        const bool readOk = from.read(buffer.get(), kCopyBufferBytes, read);
        // Bytes a failing read delivered are written before the failure is
        // told, as a copy in chunks would have.
        for (uint32_t at = 0; at < read && !failed;) {
            const uint32_t part = std::min(writeStep, read - at);
            const qint64 before = total;
            total += part;
            showProgress(total, false);
            uint32_t written = 0;
            const bool writeOk = to.write(buffer.get() + at, part, written);
            if (!writeOk || written != part) {
                total = before + std::min<qint64>(part, (written / kCopyChunkSize + 1) *
                                                            qint64(kCopyChunkSize));
                showProgress(total, true);
                observer.Warn(writeOk ? QStringLiteral("Bytes Written not equal to Bytes Read.")
                                      : QStringLiteral("Error Writing new file"));
                failed = true;
            }
            at += part;
        }
        if (failed)
            break;
        if (!readOk) {
            showProgress(total, true);
            observer.Warn(QStringLiteral("Error Reading from file"));
            break;
        }
        if (read == 0) {
            showProgress(total, true);
            ok = true;
            break;
        }
    }
    from.close();
    // The server stores writes behind the copy: a block it fails to store
    // shows only here.
    if (!to.close() && ok) {
        observer.Warn(QStringLiteral("Error Writing new file"));
        ok = false;
    }
    observer.End();
    return ok;
}

FileMove MoveServerFileWith(const QString& source, const QString& destination,
                            const QString& caption, CopyObserver& observer)
{
    if (IsServerPath(source) && IsServerPath(destination) && source.size() <= kMaxPath &&
        destination.size() <= kMaxPath) {
        if (WcMoveFile(ToBytes(source).constData(), ToBytes(destination).constData())) {
            observer.Begin(caption, 1);
            observer.Progress(1);
            observer.End();
            return FileMove::Renamed;
        }
        // The copy would replace the file that holds the name (or empty
        // the source itself): the caller says the name is taken.
        if (WcGetLastError() == WC_ITEM_ALREADY_EXISTS)
            return FileMove::Taken;
    }
    return CopyServerFileWith(source, destination, caption, observer) ? FileMove::Copied
                                                                      : FileMove::Failed;
}

bool PutBackMovedFile(const QString& moved, const QString& original)
{
    return WcMoveFile(ToBytes(moved).constData(), ToBytes(original).constData());
}
