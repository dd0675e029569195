// libwcsrv: moving a file between two areas' folders by a rename, and
// copying file data inside the kernel between two handles, or between a
// handle and a disk file the caller opened.
#pragma GCC visibility push(default)
#include "server/wcsrv.h"
#pragma GCC visibility pop
// After the contract, so its operations keep their default visibility.
#include "WcInternal.h"
#include "WcJournal.h"
#include "server/DiskNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

using namespace wcsrv::internal;

namespace
{

bool Fail(uint32_t code)
{
    SetLastError(code);
    return false;
}

// For tests on a machine with one file system: with WCSRV_TEST_SPLIT_DEVICES
// set (to anything but "" or "0"), every two folders count as lying on
// different file systems, so a move copies as it does between two disks; a
// rename inside one folder stays a rename.
bool DevicesSplitForTest()
{
    const char* split = std::getenv("WCSRV_TEST_SPLIT_DEVICES");
    return split && *split && std::strcmp(split, "0") != 0;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

// Renames `from` to `to` unless `to` exists. Where the file system cannot
// refuse to replace in the rename itself, a hard link does it (it fails on
// an existing name), and where it has no hard links either, the name is
// tested just before a plain rename. 0 or the errno of the failure.
int RenameNoReplace(const char* from, const char* to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (::link(from, to) == 0) {
        if (::unlink(from) == 0)
            return 0;
        const int error = errno;
        ::unlink(to);
        return error;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
        return errno;
    struct stat st {
    };
    if (::lstat(to, &st) == 0)
        return EEXIST;
    return ::rename(from, to) == 0 ? 0 : errno;
}

// The kernel cannot copy between these two files (old kernels across file
// systems, file systems without the call, a sandbox that forbids it).
bool KernelRefuses(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == EPERM;
}

} // namespace

namespace
{

// A rename checked and ready to be made: the two disk paths.
struct PlannedMove {
    std::string source, target;
};

// The names in a folder with ASCII letters in upper case, read once for a
// batch of moves into it instead of once per file.
using FolderNames = std::unordered_map<std::string, std::unordered_set<std::string>>;

std::unordered_set<std::string>& NamesIn(FolderNames& cache, const std::string& folder)
{
    auto [it, added] = cache.try_emplace(folder);
    if (added) {
        if (DIR* d = ::opendir(folder.c_str())) {
            while (const dirent* e = ::readdir(d))
                it->second.insert(disknames::RecordNameOfDiskName(e->d_name));
            ::closedir(d);
        }
    }
    return it->second;
}

// Checks one move as WcMoveFile makes it: 0 with `out` filled, else the
// error code it fails with. With `names`, the target is looked for in its
// folder's names read once for the batch (and taken into them), else on
// the disk.
uint32_t PlanMove(const char* from, const char* to, FolderNames* names, PlannedMove& out)
{
    bool sourceExists = false, targetExists = false;
    if (from && from[0] == '/') {
        // A file taken in from outside the areas (a mailer's inbound): its
        // absolute disk path.
        out.source = from;
        struct stat st {
        };
        sourceExists = ::lstat(from, &st) == 0;
    } else if (!DiskPathOf(from, &out.source, &sourceExists)) {
        return WcGetLastError() == WC_ITEM_NOT_FOUND ? uint32_t(WC_ITEM_NOT_FOUND)
                                                     : uint32_t(WC_ACCESS_DENIED);
    }
    std::unordered_set<std::string>* taken = nullptr;
    std::string targetName;
    if (names) {
        std::string folder, name;
        if (!FolderOfServerPath(to, &folder, &name))
            return uint32_t(WC_ACCESS_DENIED);
        taken = &NamesIn(*names, folder);
        targetName = disknames::RecordNameOfDiskName(name);
        targetExists = taken->count(targetName) != 0;
        if (!folder.empty() && folder.back() != '/')
            folder += '/';
        out.target = folder + name;
    } else if (!DiskPathOf(to, &out.target, &targetExists)) {
        return uint32_t(WC_ACCESS_DENIED);
    }
    struct stat file {
    };
    if (!sourceExists || ::lstat(out.source.c_str(), &file) != 0)
        return uint32_t(WC_ITEM_NOT_FOUND);
    // Only regular files are an area's files (as for WcExistFile).
    if (!S_ISLNK(file.st_mode) && !S_ISREG(file.st_mode))
        return uint32_t(WC_ITEM_NOT_FOUND);
    // Two areas may share a folder: there `to` can be `from` itself. A
    // taken name is told before a link is, so no caller copies over it.
    if (targetExists)
        return uint32_t(WC_ITEM_ALREADY_EXISTS);
    // A link at the file's name is not moved: the link alone would go, and
    // the caller's copy takes what it points at, as the move did before.
    if (S_ISLNK(file.st_mode))
        return uint32_t(WC_NO_ACTION_TAKEN);
    struct stat folder {
    };
    if (::stat(FolderOf(out.target).c_str(), &folder) != 0)
        return uint32_t(WC_ACCESS_DENIED);
    if (folder.st_dev != file.st_dev ||
        (DevicesSplitForTest() && FolderOf(out.source) != FolderOf(out.target)))
        return uint32_t(WC_NO_ACTION_TAKEN);
    if (taken)
        taken->insert(targetName); // a later move of the batch finds it taken
    return 0;
}

// The error code of a rename that failed with `error`.
uint32_t RenameFailure(int error, const std::string& source)
{
    struct stat st {
    };
    switch (error) {
    case EEXIST:
        return uint32_t(WC_ITEM_ALREADY_EXISTS);
    case ENOENT:
        return ::lstat(source.c_str(), &st) != 0 ? uint32_t(WC_ITEM_NOT_FOUND)
                                                 : uint32_t(WC_ACCESS_DENIED);
    case EXDEV: // one device, two mounts (a bind mount): copied instead
        return uint32_t(WC_NO_ACTION_TAKEN);
    default:
        return uint32_t(WC_ACCESS_DENIED);
    }
}

// Takes back the open run's entries after `mark`: their renames were not
// made. Should that fail, the entries stay, and undo passes over a file
// that never left.
void TakeBackNotes(uint32_t mark)
{
    if (!wcsrv::journal::CurrentRun())
        return;
    if (wcstore::Store* store = wcsrv::journal::lib::Store(nullptr))
        wcsrv::journal::TakeBack(*store, mark, {});
}

} // namespace

bool WcMoveFile(const char* from, const char* to)
{
    std::lock_guard<std::recursive_mutex> lock(LibraryLock());
    if (const uint32_t fault = CountCall("WcMoveFile"))
        return Fail(fault);
    if (!IsLoggedIn())
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN));
    PlannedMove move;
    if (const uint32_t refused = PlanMove(from, to, nullptr, move))
        return Fail(refused);
    // The one place a rename is noted for the open run, so undoing the run
    // renames back. The entry is committed first: a kill before the rename
    // leaves an entry whose file never left, which undo passes over, never
    // a file renamed without its entry. A rename that fails takes it back.
    uint32_t mark = 0;
    if (!wcsrv::journal::NoteFileMoved(move.source, move.target, &mark))
        return false;
    if (const int renamed = RenameNoReplace(move.source.c_str(), move.target.c_str())) {
        TakeBackNotes(mark);
        return Fail(RenameFailure(renamed, move.source));
    }
    return true;
}

bool WcMoveFiles(uint32_t count, const char* const* from, const char* const* to, uint32_t* results)
{
    std::lock_guard<std::recursive_mutex> lock(LibraryLock());
    if (const uint32_t fault = CountCall("WcMoveFiles"))
        return Fail(fault);
    if (!IsLoggedIn())
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN));
    if (count > 0 && (!from || !to || !results))
        return Fail(uint32_t(WC_INVALID_OBJECT_ID));
    FolderNames names;
    std::vector<PlannedMove> moves;
    std::vector<uint32_t> index; // the place in the caller's arrays of each move
    for (uint32_t i = 0; i < count; ++i) {
        PlannedMove move;
        results[i] = PlanMove(from[i], to[i], &names, move);
        if (results[i] == 0) {
            moves.push_back(std::move(move));
            index.push_back(i);
        }
    }
    // As for one move: the entries are committed before the renames, here
    // all of them in one transaction. A rename that fails takes back its
    // entry and those after it, and the renames left are noted again.
    std::size_t next = 0;
    while (next < moves.size()) {
        std::vector<std::pair<std::string, std::string>> notes;
        for (std::size_t k = next; k < moves.size(); ++k)
            notes.emplace_back(moves[k].source, moves[k].target);
        uint32_t mark = 0;
        if (!wcsrv::journal::NoteFilesMoved(notes, &mark)) {
            const uint32_t code = WcGetLastError();
            for (std::size_t k = next; k < moves.size(); ++k)
                results[index[k]] = code;
            break;
        }
        std::size_t k = next;
        for (; k < moves.size(); ++k) {
            if (const int renamed =
                    RenameNoReplace(moves[k].source.c_str(), moves[k].target.c_str())) {
                results[index[k]] = RenameFailure(renamed, moves[k].source);
                TakeBackNotes(mark + uint32_t(k - next));
                break;
            }
        }
        next = k + 1;
    }
    return true;
}

namespace
{

// One end of a kernel copy: a server file's handle, or a descriptor the
// caller opened itself (handle 0).
struct CopySide {
    WcHandle handle = 0;
    int fd = -1;
    HandleFile file;
};

// The end of a handle, open for reading or writing as the copy needs it.
bool HandleSide(WcHandle handle, bool reads, CopySide* out)
{
    if (!FileOfHandle(handle, &out->file))
        return false;
    if (reads ? !out->file.read : !out->file.write)
        return Fail(uint32_t(WC_ACCESS_DENIED));
    out->handle = handle;
    out->fd = out->file.fd;
    return true;
}

// The end of a caller's descriptor. Only a regular file that is written at
// its position can be copied into by the kernel: a device, pipe or socket,
// or a file opened to append, is left to the caller's reads and writes.
bool DiskSide(int fd, bool reads, CopySide* out)
{
    const int flags = fd >= 0 ? ::fcntl(fd, F_GETFL) : -1;
    if (flags < 0)
        return Fail(uint32_t(WC_INVALID_INDEX));
    const int mode = flags & O_ACCMODE;
    if ((flags & O_PATH) || (reads ? mode == O_WRONLY : mode == O_RDONLY))
        return Fail(uint32_t(WC_ACCESS_DENIED));
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        return Fail(uint32_t(WC_ACCESS_DENIED));
    if (!S_ISREG(st.st_mode) || (!reads && (flags & O_APPEND)))
        return Fail(uint32_t(WC_NO_ACTION_TAKEN));
    out->fd = fd;
    return true;
}

// The copy of WcCopyFileData and its disk-file variants, once the two ends
// are known and the call was counted.
bool KernelCopy(const CopySide& in, const CopySide& out, uint64_t count, uint64_t* done)
{
    // The kernel reads and writes what WcReadFile and WcWriteFile would: a
    // fault the tests set on those fails this copy as well (a disk file's
    // own reads and writes are no server calls).
    if (in.handle > 0)
        if (const uint32_t fault = FaultKindCode("WcReadFile"))
            return Fail(fault);
    if (out.handle > 0)
        if (const uint32_t fault = FaultKindCode("WcWriteFile"))
            return Fail(fault);
    if (count == 0)
        return true;
    // Bytes the write-behind took go first: the kernel copies behind them.
    // A write-behind that took nothing yet is left alone until the kernel
    // copies, so a refused copy leaves the handle as it was.
    const bool collecting = out.handle > 0 && out.file.collecting;
    if (collecting && out.file.collected > 0 && !EndWriteBehind(out.handle))
        return false;
    off_t readAt = ::lseek(in.fd, 0, SEEK_CUR);
    off_t writeAt = ::lseek(out.fd, 0, SEEK_CUR);
    if (readAt < 0 || writeAt < 0)
        return Fail(uint32_t(WC_ACCESS_DENIED));

    // Explicit offsets leave the descriptors' own where they are until the
    // end, when they are moved past what was copied.
    uint64_t copied = 0;
    int error = 0;
    while (copied < count) {
        const size_t step = size_t(std::min<uint64_t>(count - copied, uint64_t(1) << 30));
        const ssize_t n = ::copy_file_range(in.fd, &readAt, out.fd, &writeAt, step, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0) // the end of the source
            break;
        copied += uint64_t(n);
    }
    if (copied == 0 && KernelRefuses(error))
        return Fail(uint32_t(WC_NO_ACTION_TAKEN));
    if (copied > 0 && collecting && out.file.collected == 0 && !EndWriteBehind(out.handle))
        return false;
    if (::lseek(in.fd, readAt, SEEK_SET) < 0 || ::lseek(out.fd, writeAt, SEEK_SET) < 0)
        return Fail(uint32_t(WC_ACCESS_DENIED));
    *done += copied;
    // Refused after some bytes: those count, and the next call is refused
    // at once.
    if (error != 0 && !KernelRefuses(error))
        return Fail(uint32_t(WC_ACCESS_DENIED));
    return true;
}

} // namespace

namespace
{

// What the three kernel-copy calls share: the count under the call's name,
// the login and the result pointer checked, then the two ends that `sides`
// makes (in the order it checks them) and the copy.
bool CopyCall(const char* name, uint64_t count, uint64_t* done,
              const std::function<bool(CopySide&, CopySide&)>& sides)
{
    std::lock_guard<std::recursive_mutex> lock(LibraryLock());
    if (const uint32_t fault = CountCall(name))
        return Fail(fault);
    if (!IsLoggedIn())
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN));
    if (!done)
        return Fail(uint32_t(WC_INVALID_OBJECT_ID));
    CopySide in, out;
    return sides(in, out) && KernelCopy(in, out, count, done);
}

} // namespace

bool WcCopyFileData(WcHandle from, WcHandle to, uint64_t count, uint64_t* done)
{
    return CopyCall("WcCopyFileData", count, done, [&](CopySide& in, CopySide& out) {
        return HandleSide(from, true, &in) && HandleSide(to, false, &out);
    });
}

bool WcCopyFromDiskFile(int fd, WcHandle to, uint64_t count, uint64_t* done)
{
    return CopyCall("WcCopyFromDiskFile", count, done, [&](CopySide& in, CopySide& out) {
        return HandleSide(to, false, &out) && DiskSide(fd, true, &in);
    });
}

bool WcCopyToDiskFile(WcHandle from, int fd, uint64_t count, uint64_t* done)
{
    return CopyCall("WcCopyToDiskFile", count, done, [&](CopySide& in, CopySide& out) {
        return HandleSide(from, true, &in) && DiskSide(fd, false, &out);
    });
}
