// Fault switch of libwcsrv, for tests only: makes chosen server operations
// fail with an error code, as a damaged or busy server would.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Fail the k-th operation (1-based, counted from this call) with `code`.
void WcFaultFailNth(long k, uint32_t code);
// Fail every call of the named operation ("UpdateFileRec", "WcWriteFile", ...).
// "Commit" is no operation: it fails the commit of every write transaction
// after its work was done, as a lost connection would. "JournalEntry" is
// none either: it fails the storing of each journal entry of an open run
// after the change itself was written. "TrashRename" is none either: it
// refuses the rename of a file into a run's trash after its entry was
// committed, as a file system that will not take it would.
void WcFaultFailKind(const char* operation, uint32_t code);
// Make the k-th block (1-based, 256 KiB each, in file order) that the
// write-behind of a new file stores fail as a full disk would; applies to
// files created from now on. Not an operation: not counted.
void WcFaultFailBlock(long k);
// Turn every fault off and reset the count.
void WcFaultReset(void);
// Operations counted since the last WcFaultFailNth/WcFaultReset.
long WcFaultCallCount(void);

// Parses a server path "wc:\file\area(N)\NAME" exactly as every file
// operation does, without the disk or the database. True when the path is
// well formed, N is 1 or more and NAME is a safe file name (1 to 15
// characters, no separators, not "." or "..", no control characters); then *area
// and name (NUL-terminated, 16 bytes) hold the parts.
bool WcTestParseServerPath(const char* path, int32_t* area, char name[16]);

// What the rename of a file (WcMoveFile) tells the run journal after it
// renamed the disk file `from` to `to`: for tests that rename a file
// themselves. False (error code set) when the entry could not be stored.
bool WcTestNoteFileMoved(const char* from, const char* to);

#ifdef __cplusplus
}
#endif
