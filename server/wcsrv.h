// Contract of the BBS server's access library: declarations only, so any
// library that keeps these signatures and the record layouts can replace ours.
#pragma once

#include "server/Records.h"

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A server file handle: valid only when greater than 0.
typedef intptr_t WcHandle;

enum WcErrorCode {
    WC_UNSUPPORTED_VERSION = 0x20000001,
    WC_CONTEXT_NOT_INITIALIZED = 0x20000002,
    WC_INVALID_NODE_NUMBER = 0x20000003,
    WC_USER_NOT_FOUND = 0x20000004,
    WC_INCORRECT_PASSWORD = 0x20000005,
    WC_USER_NOT_LOGGED_IN = 0x20000006,
    WC_INVALID_INDEX = 0x20000007,
    WC_INVALID_OBJECT_ID = 0x20000008,
    WC_GROUP_ALREADY_EXISTS = 0x20000009,
    WC_GROUP_NOT_FOUND = 0x2000000A,
    WC_OBJECTID_ALREADY_EXISTS = 0x2000000C,
    WC_NAME_NOT_FOUND = 0x2000000D,
    WC_NAME_ALREADY_EXISTS = 0x2000000E,
    WC_ALREADY_LOGGED_IN = 0x2000000F,
    WC_ITEM_NOT_FOUND = 0x20000010,
    WC_ITEM_REQUIRES_NAME = 0x20000011,
    WC_ITEM_ALREADY_EXISTS = 0x20000012,
    WC_ITEM_NAME_DIFFERENT = 0x20000013,
    WC_RECORD_NOT_FOUND = 0x20000014,
    WC_ACCESS_DENIED = 0x20000015,
    WC_NODE_ALREADY_IN_USE = 0x20000016,
    WC_USER_ALREADY_LOGGED_IN = 0x20000017,
    WC_INVALID_CONNECTION_ID = 0x20000018,
    WC_INVALID_CONFERENCE = 0x20000019,
    WC_INVALID_CONFERENCEGROUP = 0x2000001A,
    WC_INVALID_FILEAREA = 0x2000001B,
    WC_INVALID_FILEGROUP = 0x2000001C,
    WC_DUPLICATE_RECORD = 0x2000001D,
    WC_NO_ACTION_TAKEN = 0x2000001E,
    WC_ACCOUNT_LOCKED_OUT = 0x2000001F,
    WC_FILE_SEARCH_SYNTAX = 0x20000020,
    WC_REQUEST_NOT_ADDED = 0x20000021,
    WC_CONTEXT_MULTI_REFS = 0x20000022,
    WC_CONTEXT_ALREADY_INITIALIZED = 0x20000023,
};

// Access, share and disposition values of WcCreateFile.
#define WC_GENERIC_READ 0x80000000u
#define WC_GENERIC_WRITE 0x40000000u
#define WC_SHARE_NONE 0u
#define WC_SHARE_READ 1u
#define WC_SHARE_WRITE 2u
#define WC_CREATE_ALWAYS 2u
#define WC_OPEN_EXISTING 3u

// The identity of the disk file behind a server path: two paths name the
// same file exactly when both parts are equal (on this host the device and
// inode numbers).
typedef struct WcFileId {
    uint64_t Volume;
    uint64_t File;
} WcFileId;

// Key numbers: 1 = file records in area-and-name order, 2 = users by name.
enum { WC_KEY_AREA_NAME = 1, WC_KEY_USER_NAME = 2 };

bool WildcatServerConnect(void* mainWindow);
bool WildcatServerCreateContext(void);
bool LoginSystem(void);
bool LogoutUser(void);
bool WildcatServerDeleteContext(void);

bool GetMakewild(MakewildRec* out);
int32_t GetFileAreaCount(void);
bool GetFileArea(int32_t area, FileAreaRec* out);
int32_t GetTotalFilesInArea(int32_t area);
// The disk folder that holds the area's files, without a trailing '/'.
// False with WC_INVALID_FILEAREA for an unknown area, or WC_ACCESS_DENIED
// when the folder does not fit into `size` bytes (its terminating zero
// included).
bool WcGetFileAreaFolder(int32_t area, char* out, uint32_t size);

bool SearchFileRecByAreaName(int32_t area, const char* name, FileRec* out, uint32_t* position);
bool GetNextFileRec(int32_t key, FileRec* rec, uint32_t* position);
bool GetFileRecByAreaName(int32_t area, const char* name, FileRec* out, uint32_t* position);
bool GetFullFileRec(const FileRec* rec, FullFileRec* out);
bool UpdateFileRec(const FileRec* rec);
bool UpdateFullFileRec(const FullFileRec* rec);
bool AddFileRec(const FullFileRec* rec);
// Adds `count` records as AddFileRec adds each, in one transaction: all of
// them, or (false, with the code of the first that failed) none.
bool AddFileRecs(uint32_t count, const FullFileRec* recs);
bool DeleteFileRec(const FileRec* rec, int32_t deleteFile);

bool LookupName(const char* name, UserRef* out);
bool GetFirstUser(int32_t key, UserRecord* out, uint32_t* position);
bool GetNextUser(int32_t key, UserRecord* out, uint32_t* position);

bool WcExistFile(const char* path);
// Honours the share modes between handles of this and other processes: a
// handle is refused (0, WC_ACCESS_DENIED) while another handle on the same
// file does not share what it asks for, or does what it would not share;
// a refused create empties nothing. Only regular files open; nothing blocks.
WcHandle WcCreateFile(const char* path, uint32_t access, uint32_t share, uint32_t disposition);
// False with WC_ITEM_NOT_FOUND when no file lies behind the path.
bool WcGetFileId(const char* path, WcFileId* out);
bool WcGetFileTime(WcHandle handle, FILETIME* utc);
// The file's size in bytes; 0xFFFFFFFF with WC_ACCESS_DENIED when the size
// can't be read or is more than a record's Size holds (kMaxRecordFileSize).
uint32_t WcGetFileSize(WcHandle handle);
bool WcReadFile(WcHandle handle, void* buffer, uint32_t count, uint32_t* done);
bool WcWriteFile(WcHandle handle, const void* buffer, uint32_t count, uint32_t* done);
// False when the handle is unknown, or when bytes that writes accepted
// could not be stored: the file then holds only the bytes stored before the
// failure, never its full length.
bool WcCloseHandle(WcHandle handle);

// The calling thread's last error: one of the WC_ codes above.
uint32_t WcGetLastError(void);

// ---- content hashes of files ----------------------------------------------

// A content hash kept for the file of the record (area, name): the SHA-256
// of the file's bytes, with the size, the last write time (UTC) and the
// file number (WcFileId.File) the file had when it was read. A reader
// compares the three with the file as it is now: when any differs, the
// file has changed and must be read again.
typedef struct WcFileHash {
    uint64_t Size;
    FILETIME LastWrite;
    uint64_t File;
    uint8_t Sha256[32];
} WcFileHash;

// False with WC_RECORD_NOT_FOUND when no hash is kept for (area, name);
// names compare in any letter case.
bool WcGetFileHash(int32_t area, const char* name, WcFileHash* out);
// Keeps `hash` for the record (area, name) in place of the one kept; false
// with WC_RECORD_NOT_FOUND when there is no such record.
bool WcPutFileHash(int32_t area, const char* name, const WcFileHash* hash);

// ---- scan results kept ------------------------------------------------------

// What a scan found in a file's content: kept by the content's SHA-256 and
// the key of the signature set it was found with, so that a later scan
// with the same signatures need not read the file again. Only results that
// say something about the content are kept; a file that could not be
// scanned has none.
enum WcScanOutcome {
    WC_SCAN_CLEAN = 1,    // no signature matched, the archive reads back whole
    WC_SCAN_INFECTED = 2, // Text: the signature's name
    WC_SCAN_DAMAGED = 3,  // Text: why the archive does not read back
};

typedef struct WcScanResult {
    uint8_t Sha256[32];   // the content scanned
    char Signatures[128]; // the signature set's key, NUL-terminated (bytes)
    int32_t Outcome;      // WC_SCAN_...
    uint32_t Reserved;    // 0
    int64_t Scanned;      // when, UTC seconds since 1970-01-01
    char Text[256];       // NUL-terminated (bytes); empty for CLEAN
} WcScanResult;

// False with WC_RECORD_NOT_FOUND when no result is kept for the content
// with these signatures (a result kept for other signatures is no result).
bool WcGetScanResult(const uint8_t sha256[32], const char* signatures, WcScanResult* out);
// Keeps `result` for its content in place of the one kept (whatever its
// signatures); false with WC_INVALID_OBJECT_ID for an outcome not listed
// above or texts without their NUL. The table is made on the first write.
bool WcPutScanResult(const WcScanResult* result);

// ---- the store's own check -------------------------------------------------

// WcCheckStore's flags. WC_CHECK_INTEGRITY adds the pass that reads the
// whole database: on SQLite its page-level integrity check, and on every
// store each file record row decoded. Without it only the rows that are few
// are read: the configuration record, the users and the areas.
#define WC_CHECK_INTEGRITY 1u

// What a finding is about.
enum WcCheckPart {
    WC_CHECK_DATABASE = 1, // the database as a whole (its pages, a read that failed)
    WC_CHECK_CONFIG = 2,   // the configuration record (GetMakewild's)
    WC_CHECK_USER = 3,     // a user row
    WC_CHECK_AREA = 4,     // an area row
    WC_CHECK_RECORD = 5,   // a file record row
};

typedef struct WcCheckFinding {
    int32_t Part;   // WC_CHECK_...
    int32_t Area;   // AREA and RECORD: the row's area number; else 0
    uint32_t Id;    // USER: the user's id; else 0
    char Name[16];  // RECORD: the row's name as far as it reads (bytes); else empty
    char Text[256]; // what is wrong, in English, NUL-terminated
} WcCheckFinding;

typedef struct WcCheckSummary {
    uint32_t Findings; // findings reported
    uint32_t Records;  // file record rows decoded (0 without WC_CHECK_INTEGRITY)
    uint32_t Users;    // user rows read
    uint32_t Areas;    // area rows read
    uint32_t Flags;    // the passes that ran: WC_CHECK_INTEGRITY when it did
    uint32_t Reserved;
} WcCheckSummary;

// Called once per finding; false ends the check early.
typedef bool (*WcCheckVisit)(void* context, const WcCheckFinding* finding);

// Checks the store of the logged-in BBS and changes nothing. Each problem
// found is one call of `visit` (may be null); `out` (may be null) gets the
// counts. True when the check ran to its end or `visit` ended it, also when
// it found the store damaged (a read that failed is a finding); false with
// the error code only when it could not begin (not logged in).
bool WcCheckStore(uint32_t flags, WcCheckVisit visit, void* context, WcCheckSummary* out);

// ---- moving a file ----------------------------------------------------------

// Renames the disk file `from` to `to` when both lie on one file system;
// `to` must not exist. `to` is a server path; `from` is one too, or the
// absolute disk path ("/...") of a file taken in from outside the areas.
// False with WC_ITEM_NOT_FOUND when `from` is gone, WC_ITEM_ALREADY_EXISTS
// when `to` exists, WC_NO_ACTION_TAKEN when the two lie on different file
// systems (the caller copies instead) and WC_ACCESS_DENIED for any other
// failure. Inside an open run the rename is journaled, so undoing the run
// renames the file back.
bool WcMoveFile(const char* from, const char* to);

// Makes `count` moves as WcMoveFile makes each, from[i] to to[i] in order;
// results[i] is 0 for a file moved, else the code WcMoveFile fails with.
// All are checked before any is made: a target an earlier move takes fails
// (WC_ITEM_ALREADY_EXISTS), a source an earlier move would make is not yet
// there. In an open run the renames are noted together before any is made;
// each target folder is read once for the batch. False (and no result set) only when the
// call itself is refused: not logged in, or a null array.
bool WcMoveFiles(uint32_t count, const char* const* from, const char* const* to, uint32_t* results);

// Copies up to `count` bytes from the current position of `from` to the
// current position of `to` inside the kernel (both handles of local files
// opened with WcCreateFile), and adds what it copied to `*done`. False with
// WC_NO_ACTION_TAKEN when the host cannot copy between these two files this
// way (the caller then reads and writes itself); false with
// WC_ACCESS_DENIED when a read or write failed.
bool WcCopyFileData(WcHandle from, WcHandle to, uint64_t count, uint64_t* done);

// The same between a server file and a local disk file outside the areas
// that the caller opened itself: `fd` is its descriptor, open for reading
// (WcCopyFromDiskFile) or writing (WcCopyToDiskFile). The descriptor stays
// the caller's: it is neither closed nor kept, and is read or written as
// WcCopyFileData uses a handle, from its current position, which then
// stands after what was copied. False with WC_INVALID_INDEX for an unknown
// handle or a descriptor that is not open, WC_NO_ACTION_TAKEN where the
// host cannot copy this way (also when the descriptor is no regular file or
// appends), WC_ACCESS_DENIED when a read or write failed or an end is not
// open for what the copy does with it.
bool WcCopyFromDiskFile(int fd, WcHandle to, uint64_t count, uint64_t* done);
bool WcCopyToDiskFile(WcHandle from, int fd, uint64_t count, uint64_t* done);

// ---- the run journal --------------------------------------------------------
//
// Every change the program makes belongs to a run: a command with its
// options, begun with WcBeginRun and ended with WcEndRun. While a run is
// open, every record write (AddFileRec, UpdateFileRec, UpdateFullFileRec,
// DeleteFileRec) stores the record's whole 1,792 bytes before and after in
// the same transaction as the write. A file that DeleteFileRec removes is
// renamed into the trash instead (on the file system of its area folder),
// a file created by WcCreateFile with WC_CREATE_ALWAYS where none was is
// noted as copied in, and a WcMoveFile rename is noted; so WcUndoRun can
// put back every record and every file. The journal lives in the store
// beside the records (SQLite or PostgreSQL alike) and is made by the first
// run; a store without it has no runs.

// What one journal entry records.
enum WcEntryKind {
    WC_ENTRY_RECORD_ADDED = 1,   // After holds the new record
    WC_ENTRY_RECORD_CHANGED = 2, // Before and After
    WC_ENTRY_RECORD_DELETED = 3, // Before holds the deleted record
    WC_ENTRY_FILE_TRASHED = 4,   // Path now lies at Trash
    WC_ENTRY_FILE_CREATED = 5,   // Path was created (copied in) by the run
    WC_ENTRY_FILE_MOVED = 6,     // Path was renamed to Trash (the new path)
};

typedef struct WcRunInfo {
    uint32_t Id;
    uint32_t UndoneBy;                       // the id of the run that undid this one; 0 when none
    uint32_t Undoes;                         // the id of the run this one undid; 0 when none
    uint32_t Open;                           // 1 while the run has not ended (or was killed)
    int64_t Started;                         // UTC seconds since 1970-01-01
    int64_t Ended;                           // 0 while open
    uint32_t Added, Changed, Deleted, Moved; // records
    uint32_t FilesTrashed, FilesCreated;
    char Machine[64];  // host name, NUL-terminated
    char User[64];     // the login user of the machine, NUL-terminated
    char Command[512]; // the command with its options (UTF-8), NUL-terminated
} WcRunInfo;

typedef struct WcRunEntry {
    uint32_t Run;
    uint32_t Seq; // 1, 2, ... in the order the changes were made
    int32_t Kind; // WC_ENTRY_...
    int32_t Area; // the area of the record or file
    char Name[16];
    uint32_t HasBefore, HasAfter;
    FullFileRec Before;
    FullFileRec After;
    char Path[1024];  // FILE_...: the disk path the file had
    char Trash[1024]; // FILE_TRASHED: where it lies now; FILE_MOVED: the new path
} WcRunEntry;

// Begins a run of `command` (its text as shown by history) for the
// logged-in user; the run id (greater than 0), or 0 with WC_ALREADY_LOGGED_IN
// when a run is open already, or WC_ACCESS_DENIED when the trash cannot be
// written (then nothing may change). Empties trash older than `trashDays`
// days first (0: nothing is kept; files a run deletes are unlinked at once,
// as without a run).
uint32_t WcBeginRun(const char* command, uint32_t trashDays);
// The trash folder that the last refused WcBeginRun (or WcUndoRun) of this
// process could not write, for the message that names it; false with
// WC_ITEM_NOT_FOUND when the last begin was not refused for it.
bool WcGetRefusedTrash(char* out, uint32_t size);
// Ends the open run `run`; false with WC_INVALID_INDEX when it is not open.
// Logging out ends the open run too; a run whose process was killed stays
// open (WcRunInfo.Open) and can be undone like any other.
bool WcEndRun(uint32_t run);
// The open run of this process, 0 when none.
uint32_t WcCurrentRun(void);

typedef bool (*WcRunVisit)(void* context, const WcRunInfo* run);
typedef bool (*WcEntryVisit)(void* context, const WcRunEntry* entry);
// The runs newest first, at most `limit` (0: all); a store without a
// journal has none. False only when the store cannot be read.
bool WcListRuns(uint32_t limit, WcRunVisit visit, void* context);
// False with WC_INVALID_INDEX for an unknown run.
bool WcGetRun(uint32_t run, WcRunInfo* out);
bool WcListRunEntries(uint32_t run, WcEntryVisit visit, void* context);

// What undoing one entry came to.
enum WcUndoOutcome {
    WC_UNDO_DONE = 1,     // put back (or would be, in a dry run)
    WC_UNDO_CONFLICT = 2, // changed since the run: left as it is
    WC_UNDO_FAILED = 3,   // the store or the disk failed
};
#define WC_UNDO_DRY_RUN 1u

typedef struct WcUndoSummary {
    uint32_t Run;       // the undo's own run id (0 in a dry run)
    uint32_t Done;      // entries put back
    uint32_t Conflicts; // entries left as they are
    uint32_t Failed;
} WcUndoSummary;

// Called once per entry, last change first, with its outcome and, for a
// conflict or failure, why (English, NUL-terminated).
typedef bool (*WcUndoVisit)(void* context, const WcRunEntry* entry, int32_t outcome,
                            const char* why);
// Undoes `run`, last change first, as a run of its own ("undo N"): a
// record whose bytes differ from the entry's After, a name taken since,
// or a trashed file that is gone is a conflict and stays as it is; the
// rest is put back. A file the run created goes into the undo's trash, so
// undoing the undo brings it back; undoing an undo makes its run undoable
// again. With WC_UNDO_DRY_RUN nothing changes (and no run is begun: it may
// run while a run is open); the outcomes are those the undo would have.
// True when every entry was looked at (conflicts and failures are in the
// summary). False with WC_INVALID_INDEX for an unknown run,
// WC_NO_ACTION_TAKEN when it was undone already (nothing changes),
// WC_ALREADY_LOGGED_IN while another run is open, WC_ACCESS_DENIED when
// the trash cannot be written (see WcBeginRun).
bool WcUndoRun(uint32_t run, uint32_t flags, WcUndoVisit visit, void* context, WcUndoSummary* out);

// The trash: one folder per run and area, HOME/trash/run-N/area-M when the
// BBS home lies on the file system of the area's folder, else .trash/run-N
// inside the area's folder. Trashed counts from the end of its run.
typedef struct WcTrashItem {
    uint32_t Run;
    int32_t Area;
    int64_t Trashed; // UTC seconds since 1970-01-01
    uint64_t Bytes;
    uint32_t Files;
    char Folder[1024];
} WcTrashItem;
typedef bool (*WcTrashVisit)(void* context, const WcTrashItem* item);
bool WcListTrash(WcTrashVisit visit, void* context);
// Deletes the trash of runs older than `days` days (0: all of it); the
// journal keeps the entries, whose files then count as gone.
bool WcEmptyTrash(uint32_t days, uint32_t* filesRemoved);

#ifdef __cplusplus
}

static_assert(sizeof(WcFileHash) == 56);
static_assert(offsetof(WcFileHash, Size) == 0);
static_assert(offsetof(WcFileHash, LastWrite) == 8);
static_assert(offsetof(WcFileHash, File) == 16);
static_assert(offsetof(WcFileHash, Sha256) == 24);
static_assert(offsetof(WcScanResult, Signatures) == 32);
static_assert(offsetof(WcScanResult, Outcome) == 160);
static_assert(offsetof(WcScanResult, Scanned) == 168);
static_assert(offsetof(WcScanResult, Text) == 176);
static_assert(sizeof(WcScanResult) == 432);
static_assert(sizeof(WcCheckFinding) == 284);
static_assert(offsetof(WcCheckFinding, Area) == 4);
static_assert(offsetof(WcCheckFinding, Id) == 8);
static_assert(offsetof(WcCheckFinding, Name) == 12);
static_assert(offsetof(WcCheckFinding, Text) == 28);
static_assert(sizeof(WcCheckSummary) == 24);
static_assert(offsetof(WcRunInfo, Started) == 16);
static_assert(offsetof(WcRunInfo, Added) == 32);
static_assert(offsetof(WcRunInfo, Machine) == 56);
static_assert(offsetof(WcRunInfo, Command) == 184);
static_assert(sizeof(WcRunInfo) == 696);
static_assert(offsetof(WcRunEntry, Name) == 16);
static_assert(offsetof(WcRunEntry, Before) == 40);
static_assert(offsetof(WcRunEntry, After) == 40 + sizeof(FullFileRec));
static_assert(offsetof(WcRunEntry, Path) == 40 + 2 * sizeof(FullFileRec));
static_assert(sizeof(WcRunEntry) == 40 + 2 * sizeof(FullFileRec) + 2048);
static_assert(offsetof(WcTrashItem, Trashed) == 8);
static_assert(offsetof(WcTrashItem, Folder) == 28);
static_assert(sizeof(WcTrashItem) == 1056);
#endif
