// The run journal's two tables in the record store (SQLite or PostgreSQL):
// `runs`, one row per run with its counts, and `run_entries`, one row per
// change with the record's whole bytes before and after. Both are made by
// the first run, so a store made before them works unchanged and simply has
// no runs. Shared by the server library and the admin tool (copy-store).
#pragma once

#include "WcStore.h"

#include <cstdint>
#include <functional>
#include <string>

namespace wcstore::journal
{

// The kinds of entries; the numbers are WcEntryKind's (server/wcsrv.h).
enum Kind : int32_t {
    kRecordAdded = 1,
    kRecordChanged = 2,
    kRecordDeleted = 3,
    kFileTrashed = 4,
    kFileCreated = 5,
    kFileMoved = 6,
};

// What a run's row counts.
struct Counts {
    int64_t added = 0, changed = 0, deleted = 0, moved = 0, trashed = 0, created = 0;
    bool Empty() const { return !added && !changed && !deleted && !moved && !trashed && !created; }
    Counts& operator+=(const Counts& o)
    {
        added += o.added;
        changed += o.changed;
        deleted += o.deleted;
        moved += o.moved;
        trashed += o.trashed;
        created += o.created;
        return *this;
    }
};

// A run's row. Its counts are kept in the row when the run ends; those of a
// run still open (or killed) are counted from its entries when it is read.
struct RunRow {
    uint32_t id = 0;
    uint32_t undoneBy = 0, undoes = 0;
    bool open = false;
    int64_t started = 0, ended = 0; // Unix seconds, UTC
    Counts counts;
    uint32_t trashDays = 0; // the run's setting: how long its trash is kept
    std::string machine, user, command;
};

struct EntryRow {
    uint32_t run = 0, seq = 0;
    int32_t kind = 0, area = 0;
    std::string name; // the record's name as Latin-1 bytes
    bool hasBefore = false, hasAfter = false;
    FullFileRec before{}, after{};
    std::string path, trash; // disk paths of FILE_ entries
};

// What one entry adds to its run's counts: a record changed into another
// area counts as moved. Each entry row keeps which count it adds to.
Counts CountOf(const EntryRow& entry);

// 1 when the journal's tables are there, 0 when not, -1 when the store
// cannot tell. `create` makes them when missing, in a transaction of their
// own (call it outside one).
int Tables(Store& store, bool create);

// Adds a run row (open, no counts); `row.id` gets its id, one more than the
// highest so far.
Rc NewRun(Store& store, RunRow& row);
// Adds an entry inside the caller's transaction. The run's row is not
// written: a write in a run costs one more row, not two.
Rc InsertEntry(Store& store, const EntryRow& entry);
// Removes the entries of `run` after `seq` inside the caller's transaction:
// a change that was noted first and then could not be made is taken back.
Rc RemoveEntriesAfter(Store& store, uint32_t run, uint32_t seq);
// The counts of a run's entries.
Rc CountEntries(Store& store, uint32_t run, Counts& out);
// Ends a run: its row gets its end and the counts of its entries.
Rc EndRun(Store& store, uint32_t run, int64_t ended);
// Notes that `by` undid `run`; NotFound when `run` was undone already.
Rc MarkUndone(Store& store, uint32_t run, uint32_t by);
Rc GetRun(Store& store, uint32_t run, RunRow& out);
// Newest first, at most `limit` (0: all).
Rc ListRuns(Store& store, uint32_t limit, const std::function<bool(const RunRow&)>& visit);
// The entries of a run in the order they were made, or last first
// (`lastFirst`), read a batch at a time.
Rc ListEntries(Store& store, uint32_t run, bool lastFirst,
               const std::function<bool(const EntryRow&)>& visit);

// Copies both tables, when `from` has them, into `to` inside the caller's
// open transaction on `to`. An error message, or empty.
std::string CopyJournal(Store& from, Store& to);

} // namespace wcstore::journal
