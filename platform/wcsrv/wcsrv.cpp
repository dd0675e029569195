// libwcsrv: the BBS server's access library. The records live in a store
// (WcStore.h: SQLite in the BBS home folder, or a PostgreSQL database); the
// files in the areas' folders. One context per process; every operation
// takes the library lock, so the library may be called from any thread.
#include "WcJournal.h"
#include "WcStore.h"

// Only the contract's operations leave the library; everything else is
// hidden (the library is built with hidden visibility).
#pragma GCC visibility push(default)
#include "WcBlockWriter.h"
#include "WcFault.h"
#include "server/wcsrv.h"
#pragma GCC visibility pop
// After the contract, so its operations keep their default visibility.
#include "WcInternal.h"
#include "WcRecordCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace
{

// Codes for failures the contract's table has no closer name for.
constexpr uint32_t kBadArgument = WC_INVALID_OBJECT_ID;   // null pointer, bad value
constexpr uint32_t kStorageError = WC_NO_ACTION_TAKEN;    // database busy, damaged, I/O
constexpr uint32_t kNoServer = WC_INVALID_CONNECTION_ID;  // no BBS in the home folder
constexpr uint32_t kBadDatabase = WC_UNSUPPORTED_VERSION; // not a BBS database of ours

std::recursive_mutex gLock;
thread_local uint32_t tLastError = 0;

// ---- fault switch ----------------------------------------------------------

struct FaultState {
    long count = 0;
    long failAt = 0;
    uint32_t failAtCode = 0;
    std::string kind;
    uint32_t kindCode = 0;
    long failBlock = 0; // the write-behind block of new files that fails to store
};
FaultState gFault;

// Renames a file into the run's trash. "TrashRename" (a test's fault
// switch) refuses it as a file system that will not take the rename would.
bool RenameIntoTrash(const std::string& path, const std::string& trash)
{
    if (gFault.kind == "TrashRename") {
        errno = EACCES;
        return false;
    }
    return ::rename(path.c_str(), trash.c_str()) == 0;
}

// Counts one operation call; returns the code it must fail with, or 0.
uint32_t FaultHit(const char* op)
{
    ++gFault.count;
    if (gFault.failAt > 0 && gFault.count == gFault.failAt) {
        gFault.failAt = 0;
        return gFault.failAtCode;
    }
    if (!gFault.kind.empty() && gFault.kind == op)
        return gFault.kindCode;
    return 0;
}

// ---- context ---------------------------------------------------------------

// A file created anew for writing collects its writes into large blocks
// that a thread of its own stores (WcBlockWriter.h). Disk space for the
// collected bytes is reserved before they are accepted, so that a full disk
// shows at the write; where space cannot be reserved, the handle falls back
// to writing each chunk through at once. A block that still fails to store
// (an I/O error) shows at the next write, at WcGetFileTime or at the close,
// which then returns false.
struct OpenFile {
    int fd = -1;
    std::unique_ptr<wcsrv::BlockWriter> writer; // write-behind in use
    off_t reserved = 0;                         // disk space reserved from offset 0
    bool lost = false;                          // bytes a write accepted were not stored
    // What the handle was opened for, and what it lets other handles do.
    bool read = false, write = false, shareRead = false, shareWrite = false;
    dev_t device = 0;
    ino_t inode = 0;
    int lockFd = -1; // a reading descriptor of the file for the share locks, when fd cannot read
};

// Ends write-behind for a handle: collected bytes are written and any space
// reserved beyond the end of the file is given back. When a block failed,
// the file is cut back to the bytes stored before it: a file of full length
// with a hole of zeros inside would look complete.
bool EndCollecting(OpenFile& f)
{
    if (!f.writer)
        return !f.lost;
    const bool ok = f.writer->Finish();
    const off_t end = ok ? f.writer->Accepted() : f.writer->Stored();
    f.writer.reset();
    if (!ok || f.reserved > end)
        (void)::ftruncate(f.fd, end);
    if (!ok) {
        (void)::lseek(f.fd, end, SEEK_SET);
        f.lost = true;
    }
    f.reserved = 0;
    return ok;
}

// Reserves disk space for a collecting handle up to at least `end`. The
// reservation grows with the file (doubling, from one block up to 64
// blocks at a time), so a large copy asks the file system a few dozen
// times instead of once per block. Near a full disk, where the large step
// does not fit, exactly what is needed is tried before giving up.
bool Reserve(OpenFile& f, off_t end)
{
    constexpr off_t kBlock = off_t(wcsrv::BlockWriter::kBlockBytes);
    const off_t needed = end - f.reserved;
    const off_t step = std::max(needed, std::clamp<off_t>(f.reserved, kBlock, 64 * kBlock));
    for (const off_t size : {step, needed}) {
        if (::fallocate(f.fd, FALLOC_FL_KEEP_SIZE, f.reserved, size) == 0) {
            f.reserved += size;
            return true;
        }
        if (size == needed)
            break;
    }
    return false;
}

// True when the file of `fd` holds no bytes now, nor blocks reserved
// beyond its end.
bool IsEmptyFile(int fd)
{
    struct stat sb {
    };
    return ::fstat(fd, &sb) == 0 && sb.st_size == 0 && sb.st_blocks == 0;
}

void CloseFile(OpenFile& f)
{
    EndCollecting(f);
    ::close(f.fd);
    f.fd = -1;
    if (f.lockFd >= 0)
        ::close(f.lockFd);
    f.lockFd = -1;
}

// What one delivery of a record put into a caller's buffer: UpdateFileRec
// uses it to tell which stored record a buffer stands for.
struct Delivery {
    const void* buffer;
    FileRec image;                // as delivered; its Area is the area it was read from
    const FileRec* row = nullptr; // else: the walk's row read ahead that was delivered

    const FileRec& Image() const { return row ? *row : image; }
};
constexpr size_t kDeliveriesKept = 16;

// The last deliveries, one per buffer, in a fixed set of slots: a new
// buffer takes the slot of the oldest. A walk delivers into the same
// buffer record after record, which then costs a compare and a copy.
class DeliveryLog
{
public:
    void Note(const void* buffer, const FileRec& rec)
    {
        Delivery& d = SlotOf(buffer);
        wcstore::CopyRecord(&d.image, &rec);
        d.row = nullptr;
    }

    // A delivery of a walk's row read ahead: the row itself stands for the
    // image until KeepRows, which must come before the rows are read over.
    // A walk delivers every record, so this spares it a copy of each.
    void NoteRow(const void* buffer, const FileRec* row) { SlotOf(buffer).row = row; }

    void KeepRows()
    {
        for (size_t i = 0; i < m_count; ++i)
            if (m_slots[i].row) {
                wcstore::CopyRecord(&m_slots[i].image, m_slots[i].row);
                m_slots[i].row = nullptr;
            }
    }

    // The deliveries, newest first.
    std::vector<const Delivery*> NewestFirst() const
    {
        std::vector<const Delivery*> out;
        out.reserve(m_count);
        for (size_t i = 0; i < m_count; ++i)
            out.push_back(&m_slots[i]);
        std::sort(out.begin(), out.end(), [this](const Delivery* a, const Delivery* b) {
            return m_age[size_t(a - m_slots)] > m_age[size_t(b - m_slots)];
        });
        return out;
    }

    void Clear() { m_count = m_last = 0; }

private:
    Delivery& SlotOf(const void* buffer)
    {
        if (m_count == 0 || m_slots[m_last].buffer != buffer)
            m_last = SlotFor(buffer);
        m_age[m_last] = ++m_clock;
        return m_slots[m_last];
    }

    size_t SlotFor(const void* buffer)
    {
        for (size_t i = 0; i < m_count; ++i)
            if (m_slots[i].buffer == buffer)
                return i;
        size_t slot = m_count;
        if (m_count < kDeliveriesKept) {
            ++m_count;
        } else {
            slot = 0;
            for (size_t i = 1; i < m_count; ++i)
                if (m_age[i] < m_age[slot])
                    slot = i;
        }
        m_slots[slot].buffer = buffer;
        return slot;
    }

    Delivery m_slots[kDeliveriesKept];
    uint64_t m_age[kDeliveriesKept] = {};
    uint64_t m_clock = 0;
    size_t m_count = 0;
    size_t m_last = 0;
};

struct Context {
    std::string home;
    std::unique_ptr<wcstore::Store> store;
    bool loggedIn = false;

    // The walk: rows read ahead by one seek, of the walked area and the
    // first row after it. GetNextFileRec hands out the next of them when it
    // is handed back the record delivered last with the position word of
    // that delivery. The seek statement is reset as soon as its rows are
    // read, so no read snapshot stays open between calls: a walk that
    // stops early holds nothing, other processes' writes show at the next
    // read ahead, and checkpoints of the database's log are never blocked.
    // The rows read ahead, in walkRows when they are whole records, else
    // in walkParts; each is allocated for the store's batch at first use.
    std::vector<FullFileRec> walkRows;
    std::vector<FileRec> walkParts;
    size_t walkCount = 0;       // rows read ahead
    size_t walkNext = 0;        // the next row to hand out
    bool walkOpen = false;      // row walkNext - 1 was delivered last
    bool walkRowsFull = false;  // the rows hold whole records
    bool walkWantsFull = false; // this walk reads whole records: read them ahead
    int32_t walkArea = 0;       // the area being walked
    uint32_t walkSerial = 0;

    DeliveryLog deliveries; // one per buffer

    std::map<WcHandle, OpenFile> files;
    WcHandle nextHandle = 1;

    ~Context()
    {
        // Pending blocks are stored before their descriptors close; a
        // writer left to its own destructor would write into a closed and
        // perhaps reused descriptor.
        for (auto& [h, f] : files)
            CloseFile(f);
        files.clear();
    }
};

bool gConnected = false;
std::string gHome;
std::string gDatabase; // the database setting of the connection
std::unique_ptr<Context> gContext;

template <typename T> T Fail(uint32_t code, T value)
{
    tLastError = code;
    return value;
}

// Drops the rows read ahead: the next GetNextFileRec seeks afresh.
void ResetCursor(Context& c)
{
    c.walkOpen = false;
    c.walkCount = c.walkNext = 0;
    c.walkWantsFull = false;
}

Context* LoggedIn()
{
    return gContext && gContext->loggedIn ? gContext.get() : nullptr;
}

// Bounded text of a fixed field or an argument.
struct Key {
    const char* text;
    size_t length;
};
Key FieldKey(const char* field, size_t size)
{
    return {field, wcstore::FieldLength(field, size)};
}

// Remembers what was delivered into `buffer` (one entry per buffer).
void NoteRead(Context& c, const void* buffer, const FileRec& rec)
{
    c.deliveries.Note(buffer, rec);
}

// Row `i` of the rows read ahead.
const FileRec& WalkRow(const Context& c, size_t i)
{
    return c.walkRowsFull ? c.walkRows[i].Rec : c.walkParts[i];
}

// The row delivered last, while the walk is open.
const FileRec* WalkRecord(const Context& c)
{
    return c.walkOpen ? &WalkRow(c, c.walkNext - 1) : nullptr;
}

bool CursorOn(const Context& c, int32_t area, const Key& name)
{
    const FileRec* at = WalkRecord(c);
    return at && area == at->Area &&
           name.length == wcstore::FieldLength(at->Name, sizeof at->Name) &&
           std::memcmp(name.text, at->Name, name.length) == 0;
}

// Hands out the next row read ahead. The first row past the walked area
// ends the walk: walks stop there.
void Deliver(Context& c, FileRec* out, uint32_t* position)
{
    const FileRec& row = WalkRow(c, c.walkNext++);
    wcstore::CopyRecord(out, &row);
    c.deliveries.NoteRow(out, &row);
    if (++c.walkSerial == 0)
        c.walkSerial = 1;
    *position = c.walkSerial;
    c.walkOpen = row.Area == c.walkArea;
    if (!c.walkOpen)
        c.walkCount = c.walkNext = 0;
}

// Reads up to `batch` rows ahead from (area, name), or past it (`after`),
// into the walk's rows: whole records (`full`) or FileRec parts. Stops
// after the first row of an area other than `stopArea`. Deliveries that
// stand on the rows read before keep copies of them first.
wcstore::Rc ReadAhead(Context& c, int32_t area, const Key& name, bool after, bool full,
                      int32_t stopArea, size_t batch, size_t& count)
{
    c.deliveries.KeepRows();
    count = 0;
    if (full) {
        const size_t capacity = c.store->WalkBatchFull();
        if (c.walkRows.size() < capacity)
            c.walkRows.resize(capacity);
        return c.store->Seek(area, name.text, name.length, after, true, stopArea, c.walkRows.data(),
                             std::min(batch, capacity), count);
    }
    const size_t capacity = c.store->WalkBatch();
    if (c.walkParts.size() < capacity)
        c.walkParts.resize(capacity);
    return c.store->SeekParts(area, name.text, name.length, after, stopArea, c.walkParts.data(),
                              std::min(batch, capacity), count);
}

// Rows read ahead when a walk begins: its caller may want whole records
// from its first record on, or stop after a record or two.
constexpr size_t kOpeningRows = 32;

// Seeks for the walk of `area` from (area, name), or past it (`after`):
// reads a batch of rows ahead, up to the first row past the area, in one
// query that leaves nothing open, and delivers the first row. A walk that
// begins (`opening`) reads a short batch first. False at the end or on
// error.
bool SeekAndDeliver(Context& c, int32_t area, const Key& name, bool after, FileRec* out,
                    uint32_t* position, bool opening = false)
{
    c.walkOpen = false;
    c.walkCount = c.walkNext = 0;
    c.walkArea = area;
    c.walkRowsFull = c.walkWantsFull;
    size_t count = 0;
    const wcstore::Rc rc = ReadAhead(c, area, name, after, c.walkRowsFull, area,
                                     opening ? kOpeningRows : SIZE_MAX, count);
    if (rc != wcstore::Rc::Ok)
        return Fail(kStorageError, false);
    if (count == 0)
        return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
    c.walkCount = count;
    Deliver(c, out, position);
    return true;
}

// The error code of a store result that is not Ok.
uint32_t CodeOf(wcstore::Rc rc, uint32_t notFound)
{
    switch (rc) {
    case wcstore::Rc::NotFound:
        return notFound;
    case wcstore::Rc::Duplicate:
        return uint32_t(WC_DUPLICATE_RECORD);
    default:
        return kStorageError;
    }
}

// Runs `body` inside one write transaction; rolls back when it fails.
template <typename Body> bool WriteTransaction(Context& c, Body body)
{
    ResetCursor(c);
    if (!c.store->Begin())
        return Fail(kStorageError, false);
    wcsrv::journal::TransactionBegun();
    if (!body()) {
        c.store->Rollback();
        wcsrv::journal::TransactionEnded(false);
        return false;
    }
    // The fault kind "Commit" stands for a commit the store refuses (a lost
    // connection, a full disk) after the body did its work.
    if (gFault.kind == "Commit" || !c.store->Commit()) {
        c.store->Rollback();
        wcsrv::journal::TransactionEnded(false);
        return Fail(kStorageError, false);
    }
    wcsrv::journal::TransactionEnded(true);
    return true;
}

// Reads the full record of (area, name) into `out`. 1 found, 0 not, -1 error.
int ReadByKey(Context& c, int32_t area, const Key& name, FullFileRec* out)
{
    const wcstore::Rc rc = c.store->Read(area, name.text, name.length, out);
    return rc == wcstore::Rc::Ok ? 1 : rc == wcstore::Rc::NotFound ? 0 : -1;
}

// 1 when the area exists, 0 when not, -1 on error; `folder` gets its folder.
int AreaFolder(Context& c, int32_t area, std::string* folder)
{
    wcstore::AreaRow row;
    const wcstore::Rc rc = c.store->GetArea(area, &row);
    if (rc == wcstore::Rc::Ok && folder)
        *folder = wcstore::ResolveFolder(c.home, row.folder);
    return rc == wcstore::Rc::Ok ? 1 : rc == wcstore::Rc::NotFound ? 0 : -1;
}

// Writes `full` over the stored record (area, name). Sets the error code.
bool StoreOver(Context& c, int32_t area, const Key& name, const FullFileRec& full)
{
    const wcstore::Rc rc = c.store->Update(area, name.text, name.length, full);
    if (rc != wcstore::Rc::Ok)
        return Fail(CodeOf(rc, uint32_t(WC_RECORD_NOT_FOUND)), false);
    return true;
}

// The FileRec part of two records is equal apart from the area.
bool SameButArea(const FileRec& a, const FileRec& b)
{
    FileRec x = a, y = b;
    x.Area = y.Area = 0;
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// ---- server paths ----------------------------------------------------------

struct DiskFile {
    std::string path;
    bool exists = false;
    int32_t area = 0;
    std::string name;   // as the caller named it
    std::string folder; // the area's folder
};

bool StartsNoCase(const char* s, const char* prefix)
{
    for (; *prefix; ++s, ++prefix) {
        char a = *s, b = *prefix;
        if (a >= 'A' && a <= 'Z')
            a = char(a + 32);
        if (a != b)
            return false;
    }
    return true;
}

// Splits "wc:\file\area(N)\NAME" into the area and the name, touching
// neither the disk nor the database. 0 when the path has that form, an area
// of 1 or more and a name that can only name a file inside the area's
// folder; else the error code for it.
uint32_t ParseServerPath(const char* path, int32_t& areaOut, const char*& nameOut,
                         size_t& nameLengthOut)
{
    if (!path)
        return kBadArgument;
    const size_t length = ::strnlen(path, 100);
    if (length >= 100)
        return uint32_t(WC_ACCESS_DENIED);
    static const char kPrefix[] = "wc:\\file\\area(";
    if (!StartsNoCase(path, kPrefix))
        return uint32_t(WC_ITEM_NOT_FOUND);
    const char* p = path + sizeof kPrefix - 1;
    int64_t area = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 11) {
        area = area * 10 + (*p - '0');
        ++p;
        ++digits;
    }
    if (digits == 0 || digits > 10 || area > INT32_MAX || p[0] != ')' || p[1] != '\\')
        return uint32_t(WC_ITEM_NOT_FOUND);
    const char* name = p + 2;
    const size_t nameLength = std::strlen(name);
    if (!wcstore::IsSafeFileName(name, nameLength))
        return uint32_t(WC_ACCESS_DENIED);
    // Areas are numbered from 1: area 0 is never a known area.
    if (area < 1)
        return uint32_t(WC_INVALID_FILEAREA);
    areaOut = int32_t(area);
    nameOut = name;
    nameLengthOut = nameLength;
    return 0;
}

// The area, its disk folder and the file name of a server path, without
// looking for the file. Refuses, without touching the disk, anything that
// could name a file outside that folder. Sets the error code on failure.
bool ServerPathFolder(Context& c, const char* path, int32_t& area, std::string& folder,
                      std::string& name)
{
    const char* text = nullptr;
    size_t length = 0;
    if (const uint32_t error = ParseServerPath(path, area, text, length))
        return Fail(error, false);
    const int known = AreaFolder(c, area, &folder);
    if (known < 0)
        return Fail(kStorageError, false);
    if (known == 0)
        return Fail(uint32_t(WC_INVALID_FILEAREA), false);
    name.assign(text, length);
    return true;
}

// Turns "wc:\file\area(N)\NAME" into the disk path of NAME in area N's
// folder (in any letter case of it found there). Sets the error code on
// failure.
bool ResolveServerPath(Context& c, const char* path, DiskFile& out)
{
    if (!ServerPathFolder(c, path, out.area, out.folder, out.name))
        return false;
    out.path = wcstore::FindInFolder(out.folder, out.name, &out.exists);
    return true;
}

OpenFile* FindHandle(Context& c, WcHandle h)
{
    auto it = c.files.find(h);
    return it == c.files.end() ? nullptr : &it->second;
}

void CloseAllFiles(Context& c)
{
    for (auto& [h, f] : c.files)
        CloseFile(f);
    c.files.clear();
}

// ---- share modes -------------------------------------------------------------
//
// A handle may be refused because of what other handles on the same disk
// file do or let others do: reading needs every other handle to share
// reading, writing to share writing, and a handle that does not share
// reading (writing) is refused while another handle reads (writes).
// Handles of this process are compared directly; other processes are seen
// through advisory open-file-description locks on four bytes far beyond
// any file's data, one per "reads", "writes", "denies reading", "denies
// writing". A handle takes shared locks on the bytes that describe it and
// then tests the opposite bytes for locks of others; two handles that
// open at the same moment may then both be refused, never both admitted.

constexpr off_t kShareLockBase = off_t(0x7fffffff00000000LL);
enum ShareByte { kReads, kWrites, kDeniesReading, kDeniesWriting };

bool ShareLock(int fd, ShareByte byte)
{
    struct flock l {
    };
    l.l_type = F_RDLCK;
    l.l_whence = SEEK_SET;
    l.l_start = kShareLockBase + byte;
    l.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &l) == 0;
}

// True when a handle of another open file description holds `byte`.
bool ShareHeldByOthers(int fd, ShareByte byte)
{
    struct flock l {
    };
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    l.l_start = kShareLockBase + byte;
    l.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &l) == 0 && l.l_type != F_UNLCK;
}

bool SharingConflict(const OpenFile& a, const OpenFile& b)
{
    return (a.read && !b.shareRead) || (a.write && !b.shareWrite) || (b.read && !a.shareRead) ||
           (b.write && !a.shareWrite);
}

// True when `f` (open as `path`, not yet registered) may be used next to
// every other handle on its file, in this process and in others. Shared
// locks need a descriptor that reads: a handle that only writes gets a
// second one (f.lockFd), closed with it.
bool ShareAdmits(const Context& c, OpenFile& f, const std::string& path)
{
    for (const auto& [h, other] : c.files)
        if (other.device == f.device && other.inode == f.inode && SharingConflict(f, other))
            return false;
    int fd = f.fd;
    if (!f.read) {
        f.lockFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat sb {
        };
        if (f.lockFd >= 0 &&
            (::fstat(f.lockFd, &sb) != 0 || sb.st_dev != f.device || sb.st_ino != f.inode)) {
            ::close(f.lockFd);
            f.lockFd = -1;
            return false; // the name was given to another file meanwhile
        }
        // A file this process may not read: other processes cannot be
        // asked; handles of this process are still kept apart above.
        if (f.lockFd < 0)
            return true;
        fd = f.lockFd;
    }
    struct Need {
        bool mine;
        ShareByte take, test;
    };
    const Need needs[] = {{f.read, kReads, kDeniesReading},
                          {f.write, kWrites, kDeniesWriting},
                          {!f.shareRead, kDeniesReading, kReads},
                          {!f.shareWrite, kDeniesWriting, kWrites}};
    for (const Need& n : needs) {
        // A file system without these locks cannot tell about other
        // processes; handles of this process are still kept apart above.
        if (n.mine && !ShareLock(fd, n.take))
            return errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP;
    }
    for (const Need& n : needs)
        if (n.mine && ShareHeldByOthers(fd, n.test))
            return false;
    return true;
}

} // namespace

// Prologue of every operation: the lock, the count and the fault switch.
#define WC_OP(name, failValue)                                                                     \
    std::lock_guard<std::recursive_mutex> lock_(gLock);                                            \
    if (const uint32_t fault_ = FaultHit(name))                                                    \
        return Fail(fault_, failValue);

#define WC_LOGGED_IN(failValue)                                                                    \
    Context* c = LoggedIn();                                                                       \
    if (!c)                                                                                        \
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), failValue);                                   \
    Context& ctx = *c;

// ---- life cycle ------------------------------------------------------------

bool WildcatServerConnect(void*)
{
    WC_OP("WildcatServerConnect", false);
    if (gContext)
        return true; // the connection in use stays
    gConnected = false;
    const std::string home = wcstore::DefaultHome();
    const std::string database = wcstore::DatabaseSetting();
    std::string error;
    wcstore::OpenResult why = wcstore::OpenResult::Ok;
    if (!wcstore::OpenStore(home, database, false, error, &why))
        return Fail(why == wcstore::OpenResult::BadDatabase ? kBadDatabase : kNoServer, false);
    gHome = home;
    gDatabase = database;
    gConnected = true;
    return true;
}

bool WildcatServerCreateContext(void)
{
    WC_OP("WildcatServerCreateContext", false);
    if (gContext)
        return Fail(uint32_t(WC_CONTEXT_ALREADY_INITIALIZED), false);
    if (!gConnected)
        return Fail(kNoServer, false);
    std::string error;
    wcstore::OpenResult why = wcstore::OpenResult::Ok;
    std::unique_ptr<wcstore::Store> store =
        wcstore::OpenStore(gHome, gDatabase, false, error, &why);
    if (!store)
        return Fail(why == wcstore::OpenResult::Unreachable ? kNoServer : kBadDatabase, false);
    auto c = std::make_unique<Context>();
    c->home = gHome;
    c->store = std::move(store);
    gContext = std::move(c);
    return true;
}

bool LoginSystem(void)
{
    WC_OP("LoginSystem", false);
    if (!gContext)
        return Fail(uint32_t(WC_CONTEXT_NOT_INITIALIZED), false);
    if (gContext->loggedIn)
        return Fail(uint32_t(WC_ALREADY_LOGGED_IN), false);
    gContext->loggedIn = true;
    return true;
}

bool LogoutUser(void)
{
    WC_OP("LogoutUser", false);
    if (!gContext)
        return Fail(uint32_t(WC_CONTEXT_NOT_INITIALIZED), false);
    if (!gContext->loggedIn)
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), false);
    ResetCursor(*gContext);
    CloseAllFiles(*gContext);
    gContext->deliveries.Clear();
    wcsrv::journal::LoggingOut(*gContext->store);
    gContext->loggedIn = false;
    return true;
}

bool WildcatServerDeleteContext(void)
{
    WC_OP("WildcatServerDeleteContext", false);
    if (!gContext)
        return Fail(uint32_t(WC_CONTEXT_NOT_INITIALIZED), false);
    wcsrv::journal::LoggingOut(*gContext->store);
    gContext.reset(); // closes files and the store
    gConnected = false;
    return true;
}

// ---- BBS, areas, users -----------------------------------------------------

bool GetMakewild(MakewildRec* out)
{
    WC_OP("GetMakewild", false);
    WC_LOGGED_IN(false);
    if (!out)
        return Fail(kBadArgument, false);
    ResetCursor(ctx);
    std::string sysop, makewild;
    const wcstore::Rc rc = ctx.store->GetBbs(sysop, makewild);
    if (rc != wcstore::Rc::Ok)
        return Fail(CodeOf(rc, uint32_t(WC_RECORD_NOT_FOUND)), false);
    std::memset(out, 0, sizeof *out);
    if (makewild.size() == sizeof *out)
        std::memcpy(out, makewild.data(), sizeof *out);
    std::memset(out->SysopName, 0, sizeof out->SysopName);
    wcstore::Utf8ToLatin1Field(reinterpret_cast<const unsigned char*>(sysop.data()),
                               int(sysop.size()), out->SysopName, sizeof out->SysopName - 1);
    return true;
}

int32_t GetFileAreaCount(void)
{
    WC_OP("GetFileAreaCount", 0);
    WC_LOGGED_IN(0);
    ResetCursor(ctx);
    int32_t n = 0;
    if (ctx.store->AreaCount(n) != wcstore::Rc::Ok)
        return Fail(kStorageError, 0);
    return n;
}

bool GetFileArea(int32_t area, FileAreaRec* out)
{
    WC_OP("GetFileArea", false);
    WC_LOGGED_IN(false);
    if (!out)
        return Fail(kBadArgument, false);
    ResetCursor(ctx);
    wcstore::AreaRow row;
    const wcstore::Rc rc = ctx.store->GetArea(area, &row);
    if (rc != wcstore::Rc::Ok)
        return Fail(CodeOf(rc, uint32_t(WC_INVALID_FILEAREA)), false);
    std::memset(out, 0, sizeof *out);
    out->Number = area;
    wcstore::Utf8ToLatin1Field(reinterpret_cast<const unsigned char*>(row.name.data()),
                               int(row.name.size()), out->Name, sizeof out->Name - 1);
    return true;
}

int32_t GetTotalFilesInArea(int32_t area)
{
    WC_OP("GetTotalFilesInArea", 0);
    WC_LOGGED_IN(0);
    ResetCursor(ctx);
    const int known = AreaFolder(ctx, area, nullptr);
    if (known <= 0)
        return Fail(known < 0 ? kStorageError : uint32_t(WC_INVALID_FILEAREA), 0);
    int32_t n = 0;
    if (ctx.store->CountFiles(area, n) != wcstore::Rc::Ok)
        return Fail(kStorageError, 0);
    return n;
}

bool WcGetFileAreaFolder(int32_t area, char* out, uint32_t size)
{
    WC_OP("WcGetFileAreaFolder", false);
    WC_LOGGED_IN(false);
    if (!out || size == 0)
        return Fail(kBadArgument, false);
    ResetCursor(ctx);
    std::string folder;
    const int known = AreaFolder(ctx, area, &folder);
    if (known <= 0)
        return Fail(known < 0 ? kStorageError : uint32_t(WC_INVALID_FILEAREA), false);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.size() >= size)
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    std::memcpy(out, folder.c_str(), folder.size() + 1);
    return true;
}

bool LookupName(const char* name, UserRef* out)
{
    WC_OP("LookupName", false);
    WC_LOGGED_IN(false);
    if (!name || !out)
        return Fail(kBadArgument, false);
    const size_t length = ::strnlen(name, sizeof out->UserName);
    if (length == 0 || length >= sizeof out->UserName)
        return Fail(uint32_t(WC_USER_NOT_FOUND), false);
    wcstore::UserRow row;
    const wcstore::Rc rc = ctx.store->UserByName(wcstore::Latin1ToUtf8(name, length), row);
    if (rc != wcstore::Rc::Ok)
        return Fail(CodeOf(rc, uint32_t(WC_USER_NOT_FOUND)), false);
    std::memset(out, 0, sizeof *out);
    out->UserId = row.id;
    wcstore::Utf8ToLatin1Field(reinterpret_cast<const unsigned char*>(row.name.data()),
                               int(row.name.size()), out->UserName, sizeof out->UserName - 1);
    return true;
}

namespace
{

bool DeliverUser(wcstore::Rc rc, const wcstore::UserRow& row, UserRecord* out, uint32_t* position)
{
    if (rc != wcstore::Rc::Ok)
        return Fail(CodeOf(rc, uint32_t(WC_RECORD_NOT_FOUND)), false);
    std::memset(out, 0, sizeof *out);
    std::memcpy(out->Reserved0, &row.id, sizeof row.id);
    wcstore::Utf8ToLatin1Field(reinterpret_cast<const unsigned char*>(row.name.data()),
                               int(row.name.size()), out->Name, sizeof out->Name - 1);
    if (position)
        *position = row.id;
    return true;
}

} // namespace

bool GetFirstUser(int32_t key, UserRecord* out, uint32_t* position)
{
    WC_OP("GetFirstUser", false);
    WC_LOGGED_IN(false);
    if (!out || !position)
        return Fail(kBadArgument, false);
    if (key != WC_KEY_USER_NAME)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    ResetCursor(ctx);
    wcstore::UserRow row;
    const wcstore::Rc rc = ctx.store->FirstUser(row);
    return DeliverUser(rc, row, out, position);
}

bool GetNextUser(int32_t key, UserRecord* out, uint32_t* position)
{
    WC_OP("GetNextUser", false);
    WC_LOGGED_IN(false);
    if (!out || !position)
        return Fail(kBadArgument, false);
    if (key != WC_KEY_USER_NAME)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    ResetCursor(ctx);
    // The user after the one the position word names, by name. The name in
    // the buffer is no guide: a name Latin-1 cannot hold comes back with
    // '?' in it, and the user after that text may be the same user again.
    const size_t length = wcstore::FieldLength(out->Name, sizeof out->Name);
    wcstore::UserRow row;
    const wcstore::Rc rc =
        ctx.store->NextUser(wcstore::Latin1ToUtf8(out->Name, length), *position, row);
    return DeliverUser(rc, row, out, position);
}

// ---- file records ----------------------------------------------------------

bool SearchFileRecByAreaName(int32_t area, const char* name, FileRec* out, uint32_t* position)
{
    WC_OP("SearchFileRecByAreaName", false);
    WC_LOGGED_IN(false);
    if (!name || !out || !position)
        return Fail(kBadArgument, false);
    const size_t length = ::strnlen(name, 17);
    if (length > 16)
        return Fail(kBadArgument, false);
    ResetCursor(ctx);
    return SeekAndDeliver(ctx, area, Key{name, length}, false, out, position, true);
}

bool GetNextFileRec(int32_t key, FileRec* rec, uint32_t* position)
{
    WC_OP("GetNextFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec || !position)
        return Fail(kBadArgument, false);
    if (key != WC_KEY_AREA_NAME)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    // Fast path: the caller hands back the record the walk delivered last,
    // so the next row read ahead is the answer. A buffer whose area and
    // name bytes are those delivered needs no closer look.
    const FileRec* at = WalkRecord(ctx);
    const bool continuing =
        *position == ctx.walkSerial && at &&
        ((rec->Area == at->Area && std::memcmp(rec->Name, at->Name, sizeof at->Name) == 0) ||
         CursorOn(ctx, rec->Area, FieldKey(rec->Name, sizeof rec->Name)));
    if (continuing && ctx.walkNext < ctx.walkCount) {
        Deliver(ctx, rec, position);
        return true;
    }
    // Otherwise seek past the buffer's (area, name), which need not exist
    // any more (deleted or moved since it was read). A walk that reads
    // whole records goes on reading them ahead.
    const bool wantsFull = continuing && ctx.walkWantsFull;
    ResetCursor(ctx);
    ctx.walkWantsFull = wantsFull;
    const FileRec from = *rec;
    return SeekAndDeliver(ctx, from.Area, FieldKey(from.Name, sizeof from.Name), true, rec,
                          position);
}

bool GetFileRecByAreaName(int32_t area, const char* name, FileRec* out, uint32_t* position)
{
    WC_OP("GetFileRecByAreaName", false);
    WC_LOGGED_IN(false);
    if (!name || !out)
        return Fail(kBadArgument, false);
    const size_t length = ::strnlen(name, 17);
    if (length > 16)
        return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
    ResetCursor(ctx);
    FullFileRec full;
    const int found = ReadByKey(ctx, area, Key{name, length}, &full);
    if (found <= 0)
        return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
    std::memcpy(out, &full.Rec, sizeof *out);
    NoteRead(ctx, out, *out);
    if (position)
        *position = 0; // no cursor: a following GetNextFileRec seeks
    return true;
}

bool GetFullFileRec(const FileRec* rec, FullFileRec* out)
{
    WC_OP("GetFullFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec || !out)
        return Fail(kBadArgument, false);
    // `out` may overlap `rec`: the key is copied first.
    struct {
        int32_t Area;
        char Name[sizeof rec->Name];
    } key;
    key.Area = rec->Area;
    std::memcpy(key.Name, rec->Name, sizeof key.Name);
    const Key name = FieldKey(key.Name, sizeof key.Name);
    // The record the walk just delivered: its whole row was read ahead when
    // the walk reads whole records. From the first such call on, the walk
    // reads whole records: the rows ahead are read again whole, from this
    // record on, in one query.
    const FileRec* at = WalkRecord(ctx);
    bool walked =
        at && ((key.Area == at->Area && std::memcmp(key.Name, at->Name, sizeof key.Name) == 0) ||
               CursorOn(ctx, key.Area, name));
    if (walked && !ctx.walkRowsFull) {
        size_t count = 0;
        const wcstore::Rc rc =
            ReadAhead(ctx, key.Area, name, false, true, ctx.walkArea, SIZE_MAX, count);
        const FileRec* first = count > 0 ? &ctx.walkRows[0].Rec : nullptr;
        if (rc == wcstore::Rc::Ok && first && first->Area == key.Area &&
            wcstore::FieldLength(first->Name, sizeof first->Name) == name.length &&
            std::memcmp(first->Name, name.text, name.length) == 0) {
            ctx.walkRowsFull = ctx.walkWantsFull = true;
            ctx.walkCount = count;
            ctx.walkNext = 1;
        } else {
            // Gone, renamed or failed: the rows ahead are dropped (the next
            // GetNextFileRec seeks past the caller's record) and the record
            // is read by its key as any other.
            ResetCursor(ctx);
            if (rc != wcstore::Rc::Ok)
                return Fail(kStorageError, false);
            walked = false;
        }
    }
    if (walked) {
        std::memcpy(out, &ctx.walkRows[ctx.walkNext - 1], sizeof *out);
        NoteRead(ctx, out, out->Rec);
        return true;
    }
    ResetCursor(ctx);
    const int found = ReadByKey(ctx, key.Area, name, out);
    if (found <= 0)
        return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
    NoteRead(ctx, out, out->Rec);
    return true;
}

bool UpdateFullFileRec(const FullFileRec* rec)
{
    WC_OP("UpdateFullFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec)
        return Fail(kBadArgument, false);
    const FullFileRec full = *rec;
    const Key name = FieldKey(full.Rec.Name, sizeof full.Rec.Name);
    return WriteTransaction(ctx, [&]() -> bool {
        // In a run the record's bytes before are journaled with the write.
        FullFileRec before;
        if (wcsrv::journal::CurrentRun()) {
            const int found = ReadByKey(ctx, full.Rec.Area, name, &before);
            if (found <= 0)
                return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
        }
        return StoreOver(ctx, full.Rec.Area, name, full) &&
               wcsrv::journal::NoteRecord(*ctx.store, WC_ENTRY_RECORD_CHANGED, &before, &full);
    });
}

bool UpdateFileRec(const FileRec* rec)
{
    WC_OP("UpdateFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec)
        return Fail(kBadArgument, false);
    const FileRec r = *rec;
    const Key name = FieldKey(r.Name, sizeof r.Name);
    const bool stored = WriteTransaction(ctx, [&]() -> bool {
        // Which stored record does the buffer stand for? The one it was
        // read as, whatever was read since: a delivery into this very
        // buffer of these bytes (only Area may differ), else a delivery of
        // these bytes into another buffer (a copy), else the last delivery
        // of this name into this buffer (changed since). Only without any
        // of them: the record at the buffer's own (area, name), else the
        // only record of that name in another area.
        const Delivery *byBuffer = nullptr, *byBytes = nullptr, *edited = nullptr;
        bool severalAreas = false;
        const std::vector<const Delivery*> deliveries = ctx.deliveries.NewestFirst();
        for (const Delivery* delivery : deliveries) {
            const Delivery& d = *delivery;
            const Key dn = FieldKey(d.Image().Name, sizeof d.Image().Name);
            if (!wcstore::EqualNoCase(dn.text, dn.length, name.text, name.length))
                continue;
            if (SameButArea(d.Image(), r)) {
                if (d.buffer == rec && !byBuffer)
                    byBuffer = &d;
                if (!byBytes)
                    byBytes = &d;
                else if (d.Image().Area != byBytes->Image().Area)
                    severalAreas = true;
            } else if (d.buffer == rec && !edited) {
                edited = &d;
            }
        }
        int32_t source = r.Area;
        bool haveSource = true;
        if (byBuffer) {
            source = byBuffer->Image().Area;
        } else if (byBytes && severalAreas) {
            // The same bytes were read from several areas: if one of them
            // is another area than the buffer's, this is a move onto a name
            // the target holds, refused below.
            source = r.Area;
            for (const Delivery* d : deliveries)
                if (SameButArea(d->Image(), r) && d->Image().Area != r.Area) {
                    source = d->Image().Area;
                    break;
                }
        } else if (byBytes) {
            source = byBytes->Image().Area;
        } else if (edited) {
            source = edited->Image().Area;
        } else {
            haveSource = false;
        }
        if (!haveSource) {
            const int atTarget = ReadByKey(ctx, r.Area, name, nullptr);
            if (atTarget < 0)
                return Fail(kStorageError, false);
            source = r.Area;
            if (atTarget == 0) {
                std::vector<int32_t> areas;
                if (ctx.store->AreasWithName(name.text, name.length, r.Area, areas) !=
                    wcstore::Rc::Ok)
                    return Fail(kStorageError, false);
                if (areas.size() != 1)
                    return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
                source = areas.front();
            }
        }
        if (source != r.Area) {
            // A move: the target area must exist and must not hold the name.
            const int known = AreaFolder(ctx, r.Area, nullptr);
            if (known <= 0)
                return Fail(known < 0 ? kStorageError : uint32_t(WC_INVALID_FILEAREA), false);
            const int taken = ReadByKey(ctx, r.Area, name, nullptr);
            if (taken != 0)
                return Fail(taken < 0 ? kStorageError : uint32_t(WC_DUPLICATE_RECORD), false);
        }
        FullFileRec stored;
        const int found = ReadByKey(ctx, source, name, &stored);
        if (found <= 0)
            return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
        const FullFileRec before = stored;
        std::memcpy(&stored.Rec, &r, sizeof r);
        return StoreOver(ctx, source, name, stored) &&
               wcsrv::journal::NoteRecord(*ctx.store, WC_ENTRY_RECORD_CHANGED, &before, &stored);
    });
    // The buffer now stands for the record at its new place.
    if (stored)
        NoteRead(ctx, rec, r);
    return stored;
}

namespace
{

// Why a record cannot be added by its name, or 0.
uint32_t NameRefusal(const FullFileRec& full)
{
    const Key name = FieldKey(full.Rec.Name, sizeof full.Rec.Name);
    if (name.length == 0)
        return uint32_t(WC_ITEM_REQUIRES_NAME);
    if (!wcstore::IsSafeFileName(name.text, name.length))
        return kBadArgument;
    return 0;
}

// Inside a write transaction: stores the new record with its entry.
bool InsertNoted(Context& ctx, const FullFileRec& full)
{
    const int known = AreaFolder(ctx, full.Rec.Area, nullptr);
    if (known <= 0)
        return Fail(known < 0 ? kStorageError : uint32_t(WC_INVALID_FILEAREA), false);
    const wcstore::Rc rc = ctx.store->Insert(full);
    if (rc != wcstore::Rc::Ok)
        return Fail(CodeOf(rc, kStorageError), false);
    return wcsrv::journal::NoteRecord(*ctx.store, WC_ENTRY_RECORD_ADDED, nullptr, &full);
}

} // namespace

bool AddFileRec(const FullFileRec* rec)
{
    WC_OP("AddFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec)
        return Fail(kBadArgument, false);
    const FullFileRec full = *rec;
    if (const uint32_t refused = NameRefusal(full))
        return Fail(refused, false);
    return WriteTransaction(ctx, [&]() -> bool { return InsertNoted(ctx, full); });
}

bool AddFileRecs(uint32_t count, const FullFileRec* recs)
{
    WC_OP("AddFileRecs", false);
    WC_LOGGED_IN(false);
    if (count > 0 && !recs)
        return Fail(kBadArgument, false);
    const std::vector<FullFileRec> records(recs, recs + count);
    for (const FullFileRec& full : records)
        if (const uint32_t refused = NameRefusal(full))
            return Fail(refused, false);
    return WriteTransaction(ctx, [&]() -> bool {
        for (const FullFileRec& full : records)
            if (!InsertNoted(ctx, full))
                return false;
        return true;
    });
}

bool DeleteFileRec(const FileRec* rec, int32_t deleteFile)
{
    WC_OP("DeleteFileRec", false);
    WC_LOGGED_IN(false);
    if (!rec)
        return Fail(kBadArgument, false);
    const FileRec r = *rec;
    const Key name = FieldKey(r.Name, sizeof r.Name);
    // Without a trash the file is moved aside inside the transaction and
    // removed only once the record's deletion is committed; a transaction
    // that fails (at its commit too) puts it back, so a record never stays
    // without its file. The aside name is longer than any record name, so
    // it names no record's file. In a run that keeps its trash, the place
    // in the trash is noted with the deletion's entries, and the file is
    // renamed there only once they are committed: a kill in between leaves
    // the file where it was and the entries by which undo finds it, never a
    // record whose file lies in the trash unnoted.
    std::string path, aside, trash;
    FullFileRec before;
    uint32_t mark = 0;
    const bool deleted = WriteTransaction(ctx, [&]() -> bool {
        trash.clear();
        aside.clear();
        mark = wcsrv::journal::Mark();
        const bool journaled = wcsrv::journal::CurrentRun() != 0;
        if (journaled) {
            const int found = ReadByKey(ctx, r.Area, name, &before);
            if (found <= 0)
                return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
        }
        const wcstore::Rc rc = ctx.store->Remove(r.Area, name.text, name.length);
        if (rc != wcstore::Rc::Ok)
            return Fail(CodeOf(rc, uint32_t(WC_RECORD_NOT_FOUND)), false);
        if (journaled &&
            !wcsrv::journal::NoteRecord(*ctx.store, WC_ENTRY_RECORD_DELETED, &before, nullptr))
            return false;
        if (!deleteFile)
            return true;
        // The record's file goes too; a name that could leave the area's
        // folder is never used on the disk.
        if (!wcstore::IsSafeFileName(name.text, name.length))
            return Fail(uint32_t(WC_ACCESS_DENIED), false);
        std::string folder;
        const int known = AreaFolder(ctx, r.Area, &folder);
        if (known < 0)
            return Fail(kStorageError, false);
        if (known == 0)
            return true;
        bool exists = false;
        path = wcstore::FindInFolder(folder, std::string(name.text, name.length), &exists);
        struct stat sb {
        };
        if (!exists || ::lstat(path.c_str(), &sb) != 0 || S_ISDIR(sb.st_mode))
            return true;
        if (wcsrv::journal::Trashing()) {
            if (!wcsrv::journal::TrashPlace(ctx.home, r.Area, folder, path, trash))
                return Fail(uint32_t(WC_ACCESS_DENIED), false);
            return wcsrv::journal::NoteFile(*ctx.store, WC_ENTRY_FILE_TRASHED, r.Area,
                                            std::string(name.text, name.length), path, trash);
        }
        const std::string candidate = folder + "/.wcsrv-deleting-" +
                                      std::string(name.text, name.length) + "-" +
                                      std::to_string(::getpid());
        if (::rename(path.c_str(), candidate.c_str()) == 0)
            aside = candidate;
        else if (errno != ENOENT)
            return Fail(uint32_t(WC_ACCESS_DENIED), false);
        return true;
    });
    if (!aside.empty()) {
        if (!deleted)
            ::rename(aside.c_str(), path.c_str());
        else
            ::unlink(aside.c_str());
    }
    if (deleted && !trash.empty() && !RenameIntoTrash(path, trash)) {
        const int error = errno;
        // Gone meanwhile: deleted all the same; its entry stays, and undo
        // reports the file gone.
        if (error == ENOENT)
            return true;
        // The file stays: the deletion is taken back with its entries, so
        // the record keeps its file and the journal holds no change that
        // was not made.
        wcsrv::journal::TakeBack(*ctx.store, mark, [&] {
            return ctx.store->Insert(before) == wcstore::Rc::Ok || Fail(kStorageError, false);
        });
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    }
    return deleted;
}

// ---- server files ----------------------------------------------------------

bool WcExistFile(const char* path)
{
    WC_OP("WcExistFile", false);
    WC_LOGGED_IN(false);
    DiskFile f;
    if (!ResolveServerPath(ctx, path, f))
        return false;
    struct stat sb {
    };
    if (!f.exists || ::stat(f.path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode))
        return Fail(uint32_t(WC_ITEM_NOT_FOUND), false);
    return true;
}

// A file that a handle of the open run is about to empty: when it has
// bytes and the handle would be admitted, its place in the run's trash is
// noted and committed, and then it is renamed there (`to`); an empty file
// is left to be reused (`to` stays empty). So undoing the run takes the new
// file out and puts this one back. A kill between the note and the rename
// leaves the file where it was, which undo passes over. False (error code
// set) when the file cannot be kept: then nothing has changed.
bool KeepReplacedFile(Context& c, const DiskFile& f, int flags, uint32_t share, std::string& to)
{
    to.clear();
    const int fd = ::open(f.path.c_str(), (flags & ~(O_CREAT | O_EXCL)) | O_NOFOLLOW, 0644);
    if (fd < 0)
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    OpenFile probe;
    probe.fd = fd;
    probe.read = (flags & O_ACCMODE) != O_WRONLY;
    probe.write = true;
    probe.shareRead = share & WC_SHARE_READ;
    probe.shareWrite = share & WC_SHARE_WRITE;
    struct stat sb {
    };
    bool admitted = ::fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode);
    probe.device = sb.st_dev;
    probe.inode = sb.st_ino;
    admitted = admitted && ShareAdmits(c, probe, f.path);
    const bool empty = IsEmptyFile(fd);
    CloseFile(probe);
    if (!admitted)
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    if (empty)
        return true;
    std::string trash;
    if (!wcsrv::journal::TrashPlace(c.home, f.area, f.folder, f.path, trash))
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    const uint32_t mark = wcsrv::journal::Mark();
    if (!WriteTransaction(c, [&] {
            return wcsrv::journal::NoteFile(*c.store, WC_ENTRY_FILE_TRASHED, f.area, f.name, f.path,
                                            trash);
        }))
        return false;
    if (!RenameIntoTrash(f.path, trash)) {
        wcsrv::journal::TakeBack(*c.store, mark, {});
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    }
    to = std::move(trash);
    return true;
}

// Puts a file that KeepReplacedFile moved into the trash back at its name
// and takes back the open run's entries after `mark`. When the name is
// taken meanwhile, the file stays in the trash with its entry, where undo
// finds it.
void PutReplacedBack(const DiskFile& f, const std::string& replacedTo, uint32_t mark)
{
    if (!replacedTo.empty() && ::rename(replacedTo.c_str(), f.path.c_str()) != 0)
        return;
    if (wcstore::Store* store = wcsrv::journal::lib::Store(nullptr))
        wcsrv::journal::TakeBack(*store, mark, {});
}

WcHandle WcCreateFile(const char* path, uint32_t access, uint32_t share, uint32_t disposition)
{
    WC_OP("WcCreateFile", WcHandle(0));
    WC_LOGGED_IN(WcHandle(0));
    // Never blocks: a FIFO or device behind the name is refused below, not
    // waited on.
    int flags = O_CLOEXEC | O_NONBLOCK;
    const bool read = access & WC_GENERIC_READ, write = access & WC_GENERIC_WRITE;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    // Nothing is written through a link at the file's name: it may point
    // anywhere this process can write (a link an upload account planted in
    // an area's folder). Such a handle is refused.
    if (write)
        flags |= O_NOFOLLOW;
    // An existing file is emptied only after the share modes admit the
    // handle, so no handle can empty a file that another one is reading.
    bool truncate = false;
    switch (disposition) {
    case 1: // create new
        flags |= O_CREAT | O_EXCL;
        break;
    case WC_CREATE_ALWAYS:
        if (!write)
            return Fail(kBadArgument, WcHandle(0));
        flags |= O_CREAT;
        truncate = true;
        break;
    case WC_OPEN_EXISTING:
        break;
    case 4: // open always
        flags |= O_CREAT;
        break;
    case 5: // truncate existing
        if (!write)
            return Fail(kBadArgument, WcHandle(0));
        truncate = true;
        break;
    default:
        return Fail(kBadArgument, WcHandle(0));
    }
    DiskFile f;
    if (!ResolveServerPath(ctx, path, f))
        return 0;
    if (!f.exists && !(flags & O_CREAT))
        return Fail(uint32_t(WC_ITEM_NOT_FOUND), WcHandle(0));
    const uint32_t mark = wcsrv::journal::Mark();
    // A file the open run would empty is kept instead: it goes into the
    // run's trash, and the new file is made in its place as one created.
    std::string replacedTo;
    if (truncate && f.exists && wcsrv::journal::CurrentRun() && wcsrv::journal::Trashing()) {
        if (!KeepReplacedFile(ctx, f, flags, share, replacedTo))
            return Fail(WcGetLastError(), WcHandle(0));
        if (!replacedTo.empty()) {
            f.exists = false;
            flags |= O_CREAT | O_EXCL;
        }
    }
    // A file the open run creates where none was is noted first and
    // committed, so undoing the run takes it out again: a kill between the
    // note and the create leaves an entry whose file never came, which undo
    // passes over, never a file without its entry. A create that then fails
    // takes the entry back and leaves no file (and a kept file goes back).
    const bool noteCreated = (disposition == WC_CREATE_ALWAYS || !replacedTo.empty()) &&
                             !f.exists && wcsrv::journal::CurrentRun();
    if (noteCreated && !wcsrv::journal::NoteFileCreated(f.area, f.name, f.path)) {
        const uint32_t error = WcGetLastError();
        PutReplacedBack(f, replacedTo, mark);
        return Fail(error, WcHandle(0));
    }
    auto takeBack = [&](bool created) {
        if (!noteCreated)
            return;
        if (created)
            ::unlink(f.path.c_str());
        PutReplacedBack(f, replacedTo, mark);
    };
    const int fd = ::open(f.path.c_str(), flags, 0644);
    if (fd < 0) {
        const int error = errno;
        takeBack(false);
        return Fail(error == EEXIST   ? uint32_t(WC_ITEM_ALREADY_EXISTS)
                    : error == ENOENT ? uint32_t(WC_ITEM_NOT_FOUND)
                                      : uint32_t(WC_ACCESS_DENIED),
                    WcHandle(0));
    }
    struct stat sb {
    };
    if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        takeBack(false);
        return Fail(uint32_t(WC_ACCESS_DENIED), WcHandle(0));
    }
    OpenFile opened;
    opened.fd = fd;
    opened.read = read;
    opened.write = write;
    opened.shareRead = share & WC_SHARE_READ;
    opened.shareWrite = share & WC_SHARE_WRITE;
    opened.device = sb.st_dev;
    opened.inode = sb.st_ino;
    // A file that is empty already (one just created) is not truncated: on
    // ext4 a truncate to length 0 marks the file as one being replaced, and
    // its close then starts the write-out of every byte written since, so a
    // large copy into a new file would wait in its close for that.
    if (!ShareAdmits(ctx, opened, f.path) ||
        (truncate && !IsEmptyFile(fd) && ::ftruncate(fd, 0) != 0)) {
        CloseFile(opened);
        takeBack(true);
        return Fail(uint32_t(WC_ACCESS_DENIED), WcHandle(0));
    }
    // A new file written from the start: collect its writes.
    if (write && !read && truncate)
        opened.writer = wcsrv::BlockWriter::Create(fd, gFault.failBlock);
    const WcHandle h = ctx.nextHandle++;
    ctx.files.emplace(h, std::move(opened));
    return h;
}

bool WcGetFileId(const char* path, WcFileId* out)
{
    WC_OP("WcGetFileId", false);
    WC_LOGGED_IN(false);
    if (!out)
        return Fail(kBadArgument, false);
    DiskFile f;
    if (!ResolveServerPath(ctx, path, f))
        return false;
    struct stat sb {
    };
    if (!f.exists || ::stat(f.path.c_str(), &sb) != 0)
        return Fail(uint32_t(WC_ITEM_NOT_FOUND), false);
    out->Volume = uint64_t(sb.st_dev);
    out->File = uint64_t(sb.st_ino);
    return true;
}

bool WcGetFileTime(WcHandle handle, FILETIME* utc)
{
    WC_OP("WcGetFileTime", false);
    WC_LOGGED_IN(false);
    OpenFile* f = FindHandle(ctx, handle);
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    if (!utc)
        return Fail(kBadArgument, false);
    if (!EndCollecting(*f))
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    struct stat sb {
    };
    if (::fstat(f->fd, &sb) != 0)
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    *utc = MakeFileTime(wcstore::UnixToFileTime(sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec));
    return true;
}

uint32_t WcGetFileSize(WcHandle handle)
{
    constexpr uint32_t kInvalidSize = 0xFFFFFFFFu;
    WC_OP("WcGetFileSize", kInvalidSize);
    WC_LOGGED_IN(kInvalidSize);
    OpenFile* f = FindHandle(ctx, handle);
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), kInvalidSize);
    struct stat sb {
    };
    if (::fstat(f->fd, &sb) != 0)
        return Fail(uint32_t(WC_ACCESS_DENIED), kInvalidSize);
    const off_t size = std::max<off_t>(sb.st_size, f->writer ? f->writer->Accepted() : 0);
    // A size a record can't hold is no size at all: its low word would be
    // stored as a wrong (or negative) Size.
    if (size > kMaxRecordFileSize)
        return Fail(uint32_t(WC_ACCESS_DENIED), kInvalidSize);
    return uint32_t(size);
}

bool WcReadFile(WcHandle handle, void* buffer, uint32_t count, uint32_t* done)
{
    WC_OP("WcReadFile", false);
    WC_LOGGED_IN(false);
    OpenFile* f = FindHandle(ctx, handle);
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    if ((!buffer && count) || !done)
        return Fail(kBadArgument, false);
    *done = 0;
    auto* p = static_cast<char*>(buffer);
    while (*done < count) {
        const ssize_t n = ::read(f->fd, p + *done, count - *done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(uint32_t(WC_ACCESS_DENIED), false);
        if (n == 0)
            break;
        *done += uint32_t(n);
    }
    return true;
}

bool WcWriteFile(WcHandle handle, const void* buffer, uint32_t count, uint32_t* done)
{
    WC_OP("WcWriteFile", false);
    WC_LOGGED_IN(false);
    OpenFile* f = FindHandle(ctx, handle);
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    if ((!buffer && count) || !done)
        return Fail(kBadArgument, false);
    *done = 0;
    const auto* p = static_cast<const char*>(buffer);
    if (f->writer) {
        const off_t end = f->writer->Accepted() + off_t(count);
        if (end > f->reserved && !Reserve(*f, end)) {
            if (!EndCollecting(*f)) {
                // No space to reserve: what was collected is written now, so
                // a failure shows at this call.
                return Fail(uint32_t(WC_ACCESS_DENIED), false);
            }
        }
        if (f->writer) {
            if (!f->writer->Append(p, count))
                return Fail(uint32_t(WC_ACCESS_DENIED), false);
            *done = count;
            return true;
        }
    }
    while (*done < count) {
        const ssize_t n = ::write(f->fd, p + *done, count - *done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(uint32_t(WC_ACCESS_DENIED), false);
        *done += uint32_t(n);
    }
    return true;
}

bool WcCloseHandle(WcHandle handle)
{
    // Bytes a write already accepted are stored first in any case, even
    // when the close is faulted (which leaves the handle open): the caller
    // was told they were written. False when some of them could not be
    // stored: the file holds only the bytes before the first failed block.
    std::lock_guard<std::recursive_mutex> lock(gLock);
    if (gContext) {
        auto open = gContext->files.find(handle);
        if (open != gContext->files.end())
            EndCollecting(open->second);
    }
    if (const uint32_t fault = FaultHit("WcCloseHandle"))
        return Fail(fault, false);
    Context* c = LoggedIn();
    if (!c)
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), false);
    Context& ctx = *c;
    auto it = ctx.files.find(handle);
    if (it == ctx.files.end())
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    OpenFile& f = it->second;
    const bool stored = EndCollecting(f);
    const bool closed = ::close(f.fd) == 0 || errno == EINTR;
    if (f.lockFd >= 0)
        ::close(f.lockFd);
    ctx.files.erase(it);
    if (!stored || !closed)
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    return true;
}

uint32_t WcGetLastError(void)
{
    return tLastError;
}

// ---- for the operations of other files (WcInternal.h) ----------------------

namespace wcsrv::internal
{

std::recursive_mutex& LibraryLock()
{
    return gLock;
}

uint32_t CountCall(const char* op)
{
    return FaultHit(op);
}

uint32_t FaultKindCode(const char* op)
{
    return !gFault.kind.empty() && gFault.kind == op ? gFault.kindCode : 0;
}

void SetLastError(uint32_t code)
{
    tLastError = code;
}

bool IsLoggedIn()
{
    return LoggedIn() != nullptr;
}

bool FolderOfServerPath(const char* serverPath, std::string* folder, std::string* name)
{
    int32_t area = 0;
    return LoggedIn() && ServerPathFolder(*gContext, serverPath, area, *folder, *name);
}

bool DiskPathOf(const char* serverPath, std::string* path, bool* exists)
{
    DiskFile f;
    if (!LoggedIn() || !ResolveServerPath(*gContext, serverPath, f))
        return false;
    *path = f.path;
    *exists = f.exists;
    return true;
}

bool FileOfHandle(WcHandle handle, HandleFile* out)
{
    OpenFile* f = LoggedIn() ? FindHandle(*gContext, handle) : nullptr;
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    out->fd = f->fd;
    out->read = f->read;
    out->write = f->write;
    out->collecting = f->writer != nullptr;
    out->collected = f->writer ? (long long)f->writer->Accepted() : 0;
    return true;
}

bool EndWriteBehind(WcHandle handle)
{
    OpenFile* f = LoggedIn() ? FindHandle(*gContext, handle) : nullptr;
    if (!f)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    return EndCollecting(*f) || Fail(uint32_t(WC_ACCESS_DENIED), false);
}

} // namespace wcsrv::internal

// ---- fault switch ----------------------------------------------------------

void WcFaultFailNth(long k, uint32_t code)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    gFault.count = 0;
    gFault.failAt = k;
    gFault.failAtCode = code;
}

void WcFaultFailKind(const char* operation, uint32_t code)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    gFault.kind = operation ? operation : "";
    gFault.kindCode = code;
}

void WcFaultFailBlock(long k)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    gFault.failBlock = k;
}

void WcFaultReset(void)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    gFault = FaultState{};
}

long WcFaultCallCount(void)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    return gFault.count;
}

bool WcTestParseServerPath(const char* path, int32_t* area, char name[16])
{
    int32_t a = 0;
    const char* n = nullptr;
    size_t length = 0;
    if (ParseServerPath(path, a, n, length) != 0)
        return false;
    if (area)
        *area = a;
    if (name) {
        std::memcpy(name, n, length);
        name[length] = '\0';
    }
    return true;
}

// ---- content hashes of files -----------------------------------------------

namespace
{

// The bounded name argument of the hash calls; false (error set) when it
// cannot be a record's name.
bool HashName(const char* name, Key& out)
{
    if (!name)
        return Fail(kBadArgument, false);
    const size_t length = ::strnlen(name, sizeof(FileRec::Name));
    if (length == 0 || length >= sizeof(FileRec::Name))
        return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
    out = {name, length};
    return true;
}

} // namespace

bool WcGetFileHash(int32_t area, const char* name, WcFileHash* out)
{
    WC_OP("WcGetFileHash", false);
    WC_LOGGED_IN(false);
    Key key{};
    if (!out)
        return Fail(kBadArgument, false);
    if (!HashName(name, key))
        return false;
    wcstore::Store::FileHash h;
    const wcstore::Rc rc = ctx.store->GetFileHash(area, key.text, key.length, h);
    if (rc != wcstore::Rc::Ok)
        return Fail(CodeOf(rc, uint32_t(WC_RECORD_NOT_FOUND)), false);
    std::memset(out, 0, sizeof *out);
    out->Size = h.size;
    out->LastWrite = MakeFileTime(h.lastWrite);
    out->File = h.file;
    std::memcpy(out->Sha256, h.sha256, sizeof out->Sha256);
    return true;
}

bool WcPutFileHash(int32_t area, const char* name, const WcFileHash* hash)
{
    WC_OP("WcPutFileHash", false);
    WC_LOGGED_IN(false);
    Key key{};
    if (!hash)
        return Fail(kBadArgument, false);
    if (!HashName(name, key))
        return false;
    wcstore::Store::FileHash h;
    h.size = hash->Size;
    h.lastWrite = FileTimeValue(hash->LastWrite);
    h.file = hash->File;
    std::memcpy(h.sha256, hash->Sha256, sizeof h.sha256);
    // Only a record's file has a hash kept: the record and its hash land
    // together, so no hash outlives the check for its record.
    return WriteTransaction(ctx, [&]() -> bool {
        const int found = ReadByKey(ctx, area, key, nullptr);
        if (found <= 0)
            return Fail(found < 0 ? kStorageError : uint32_t(WC_RECORD_NOT_FOUND), false);
        const wcstore::Rc rc = ctx.store->PutFileHash(area, key.text, key.length, h);
        if (rc != wcstore::Rc::Ok)
            return Fail(CodeOf(rc, uint32_t(WC_RECORD_NOT_FOUND)), false);
        return true;
    });
}

// ---- the store's own check -------------------------------------------------

static_assert(int(wcstore::CheckPart::Database) == WC_CHECK_DATABASE);
static_assert(int(wcstore::CheckPart::Config) == WC_CHECK_CONFIG);
static_assert(int(wcstore::CheckPart::User) == WC_CHECK_USER);
static_assert(int(wcstore::CheckPart::Area) == WC_CHECK_AREA);
static_assert(int(wcstore::CheckPart::Record) == WC_CHECK_RECORD);

bool WcCheckStore(uint32_t flags, WcCheckVisit visit, void* context, WcCheckSummary* out)
{
    WC_OP("WcCheckStore", false);
    WC_LOGGED_IN(false);
    ResetCursor(ctx);
    uint32_t findings = 0;
    wcstore::CheckCounts counts;
    auto report = [&](const wcstore::CheckFinding& f) {
        ++findings;
        if (!visit)
            return true;
        WcCheckFinding finding;
        std::memset(&finding, 0, sizeof finding);
        finding.Part = int32_t(f.part);
        finding.Area = f.area;
        finding.Id = f.id;
        std::memcpy(finding.Name, f.name.data(), std::min(f.name.size(), sizeof finding.Name - 1));
        std::memcpy(finding.Text, f.text.data(), std::min(f.text.size(), sizeof finding.Text - 1));
        return visit(context, &finding);
    };
    wcstore::CheckStore(*ctx.store, (flags & WC_CHECK_INTEGRITY) != 0, report, counts);
    if (out) {
        std::memset(out, 0, sizeof *out);
        out->Findings = findings;
        out->Records = uint32_t(std::min<uint64_t>(counts.records, UINT32_MAX));
        out->Users = uint32_t(std::min<uint64_t>(counts.users, UINT32_MAX));
        out->Areas = uint32_t(std::min<uint64_t>(counts.areas, UINT32_MAX));
        out->Flags = counts.integrity ? WC_CHECK_INTEGRITY : 0u;
    }
    return true;
}

// ---- what the journal (WcJournal.cpp) uses of the library ------------------

namespace wcsrv::journal::lib
{

std::recursive_mutex& Lock()
{
    return gLock;
}

uint32_t FaultHit(const char* operation)
{
    return ::FaultHit(operation);
}

bool FaultKind(const char* kind)
{
    return gFault.kind == kind;
}

void SetError(uint32_t code)
{
    tLastError = code;
}

wcstore::Store* Store(std::string* home)
{
    Context* c = LoggedIn();
    if (!c)
        return nullptr;
    ResetCursor(*c);
    if (home)
        *home = c->home;
    return c->store.get();
}

} // namespace wcsrv::journal::lib
