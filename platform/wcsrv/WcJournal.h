// The run journal inside the server library: the open run of this process,
// its entries written in the same transaction as each record write, the
// trash that takes the files a run deletes, and undo. The contract's calls
// (WcBeginRun ... WcEmptyTrash) are in WcJournal.cpp; what the library's
// writes call of it is declared here. Internal: not exported.
#pragma once

#include "WcStore.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace wcsrv::journal
{

// ---- what the library (wcsrv.cpp) lends the journal --------------------

namespace lib
{
std::recursive_mutex& Lock();
// Counts one operation for the fault switch: the code it must fail with, or 0.
uint32_t FaultHit(const char* operation);
// True while the fault switch fails `kind`, a kind that is no operation
// ("Commit", "JournalEntry"): it is tested where that step happens.
bool FaultKind(const char* kind);
void SetError(uint32_t code);
// The store of the logged-in context (its home folder into `home`), null
// when nobody is logged in. Drops the rows a walk read ahead: the caller
// is about to read or write by itself.
wcstore::Store* Store(std::string* home);
} // namespace lib

// ---- what the library's writes call ---------------------------------------

// The open run of this process, 0 when none.
uint32_t CurrentRun();

// Around every write transaction: entries of a transaction that is rolled
// back give their numbers back.
void TransactionBegun();
void TransactionEnded(bool committed);

// Inside a write transaction of the open run: stores the entry of a record
// change (kind WC_ENTRY_RECORD_...; `before` or `after` null where the kind
// has none). False, with the error code set, when it could not be stored:
// the caller's transaction then fails, so no change is left without its
// entry. True without a run.
bool NoteRecord(wcstore::Store& store, int32_t kind, const FullFileRec* before,
                const FullFileRec* after);

// True when a file that the open run deletes goes into the trash (a run is
// open and keeps its trash for a day or more); else it is unlinked.
bool Trashing();

// Where the disk file `path` of a record of `area` (whose folder is
// `folder`) goes in the open run's trash: HOME/trash/run-N/area-M when the
// BBS home lies on the file system of the area folder, else .trash/run-N
// inside the area folder; a name there that no file has yet, its folder
// made. Nothing is renamed: the deletion notes the place with its entry,
// commits, and only then renames the file, so a kill in between leaves the
// file where it was and the entry that undo finds it by. False with errno
// set when no such place can be made.
bool TrashPlace(const std::string& home, int32_t area, const std::string& folder,
                const std::string& path, std::string& out);

// The last entry of the open run that is committed: a mark to take back
// to when a change noted first cannot be made.
uint32_t Mark();

// Takes back the open run's entries after `mark` in a transaction of its
// own, together with `body` (the store's part of the change put back).
// False (error code set) when that failed; then the entries stay.
bool TakeBack(wcstore::Store& store, uint32_t mark, const std::function<bool()>& body);

// Inside a write transaction of the open run: stores the entry of a file
// (WC_ENTRY_FILE_...): `path` where it was, `trash` where it is now.
bool NoteFile(wcstore::Store& store, int32_t kind, int32_t area, const std::string& name,
              const std::string& path, const std::string& trash);

// A file of `area` named `name` that WcCreateFile created at `path` where
// none was: noted in a transaction of its own. True without a run; false
// (error code set) when the entry could not be stored, and the caller then
// removes the file again.
bool NoteFileCreated(int32_t area, const std::string& name, const std::string& path);

// Called by the rename of a file (WcMoveFile) before it renames the disk
// file `from` to `to`, with the library lock held: in an open run the
// rename is noted (in a transaction of its own) as WC_ENTRY_FILE_MOVED, so
// undoing the run renames the file back, and a kill before the rename
// leaves an entry whose file never left (undo then has nothing to do).
// True without a run; false (error code set) when the entry could not be
// stored, and the caller then does not rename. A rename that fails after
// its entry is stored takes the entry back (TakeBack from `*mark`).
bool NoteFileMoved(const std::string& from, const std::string& to, uint32_t* mark = nullptr);

// The same for several renames (from, to) noted together in one
// transaction, before any of them is made. Their entries follow `*mark`
// in the order given, so a rename that fails takes back its own entry and
// those after it (TakeBack from `*mark` plus its place), and the renames
// left are noted again.
bool NoteFilesMoved(const std::vector<std::pair<std::string, std::string>>& moves, uint32_t* mark);

// The user logs out (or the context goes) while a run is open: the run ends.
void LoggingOut(wcstore::Store& store);

} // namespace wcsrv::journal
