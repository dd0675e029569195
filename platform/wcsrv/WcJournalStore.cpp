// The run journal's tables: see WcJournalStore.h. The statements are the
// same on both stores (Store::Sql turns ?N into $N for PostgreSQL); only
// the tables' column types differ.
//
// An entry's id is its run's id times 2^32 plus its sequence number, so the
// entries of a run lie together in id order without an index of their own,
// and a run's entries are read by an id range.
#include "WcJournalStore.h"

#include <cstring>
#include <vector>

namespace wcstore::journal
{

namespace
{

constexpr const char* kRunColumns =
    "id, started, ended, open, undone_by, undoes, added, changed, deleted, moved, files_trashed, "
    "files_created, trash_days, machine, user_name, command";
constexpr int kRunColumnCount = 16;
constexpr const char* kEntryColumns = "id, kind, area, name, counts_as, before, after, path, trash";
constexpr int kEntryColumnCount = 9;

const char* const kSqliteTables[] = {
    "CREATE TABLE IF NOT EXISTS runs("
    "id INTEGER PRIMARY KEY, started INTEGER NOT NULL, ended INTEGER NOT NULL, "
    "open INTEGER NOT NULL, undone_by INTEGER NOT NULL, undoes INTEGER NOT NULL, "
    "added INTEGER NOT NULL, changed INTEGER NOT NULL, deleted INTEGER NOT NULL, "
    "moved INTEGER NOT NULL, files_trashed INTEGER NOT NULL, files_created INTEGER NOT NULL, "
    "trash_days INTEGER NOT NULL, machine BLOB NOT NULL, user_name BLOB NOT NULL, "
    "command BLOB NOT NULL)",
    "CREATE TABLE IF NOT EXISTS run_entries("
    "id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, area INTEGER NOT NULL, name BLOB NOT NULL, "
    "counts_as INTEGER NOT NULL, before BLOB, after BLOB, path BLOB, trash BLOB)",
};
const char* const kPgTables[] = {
    "CREATE TABLE IF NOT EXISTS runs("
    "id bigint PRIMARY KEY, started bigint NOT NULL, ended bigint NOT NULL, "
    "open integer NOT NULL, undone_by bigint NOT NULL, undoes bigint NOT NULL, "
    "added bigint NOT NULL, changed bigint NOT NULL, deleted bigint NOT NULL, "
    "moved bigint NOT NULL, files_trashed bigint NOT NULL, files_created bigint NOT NULL, "
    "trash_days bigint NOT NULL, machine bytea NOT NULL, user_name bytea NOT NULL, "
    "command bytea NOT NULL)",
    "CREATE TABLE IF NOT EXISTS run_entries("
    "id bigint PRIMARY KEY, kind integer NOT NULL, area integer NOT NULL, name bytea NOT NULL, "
    "counts_as integer NOT NULL, before bytea, after bytea, path bytea, trash bytea)",
};

int64_t EntryId(uint32_t run, uint32_t seq)
{
    return int64_t((uint64_t(run) << 32) | seq);
}

// A record's bytes as kept in an entry: most of a record is zeros (unused
// lines of the long description, the ends of text fields), so runs of
// zeros are kept as their length. Each piece is a byte n: 1..127 followed
// by n bytes as they are, or 128 + n: n zero bytes. A value of exactly the
// record's size is the record as it is (what a packing longer than that
// is kept as). An entry with both images keeps the after-image as its
// difference to the before-image (the two XORed), which is nearly all
// zeros: a write changes a few fields.
constexpr size_t kRecordSize = sizeof(FullFileRec);

uint64_t Word(const unsigned char* p)
{
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// Whether one of the eight bytes of `w` is zero.
bool HasZeroByte(uint64_t w)
{
    return ((w - 0x0101010101010101ULL) & ~w & 0x8080808080808080ULL) != 0;
}

std::string Pack(const unsigned char* p)
{
    constexpr size_t n = kRecordSize;
    char out[n + n / 127 + 2];
    size_t o = 0, i = 0;
    // Two zeros in a row at i (or one at the very end) begin a run of zeros.
    auto zerosAt = [p](size_t i) { return p[i] == 0 && (i + 1 == n || p[i + 1] == 0); };
    while (i < n) {
        if (zerosAt(i)) {
            size_t zeros = 1;
            // Eight at a time through the long stretches of zeros.
            while (zeros + 8 <= 127 && i + zeros + 8 <= n && Word(p + i + zeros) == 0)
                zeros += 8;
            while (i + zeros < n && zeros < 127 && p[i + zeros] == 0)
                ++zeros;
            out[o++] = char(0x80 | zeros);
            i += zeros;
            continue;
        }
        // Bytes up to the next two zeros in a row; text without any zero
        // eight at a time.
        const size_t start = i;
        while (i < n && i - start < 127) {
            if (i - start + 8 <= 127 && i + 8 <= n && !HasZeroByte(Word(p + i))) {
                i += 8;
                continue;
            }
            if (zerosAt(i))
                break;
            ++i;
        }
        out[o++] = char(i - start);
        std::memcpy(out + o, p + start, i - start);
        o += i - start;
    }
    if (o >= n)
        return std::string(reinterpret_cast<const char*>(p), n);
    return std::string(out, o);
}

bool Unpack(const std::string& in, unsigned char* p)
{
    constexpr size_t n = kRecordSize;
    if (in.size() == n) {
        std::memcpy(p, in.data(), n);
        return true;
    }
    size_t at = 0, i = 0;
    while (i < in.size()) {
        const unsigned char head = static_cast<unsigned char>(in[i++]);
        const size_t length = head & 0x7F;
        if (length == 0 || at + length > n)
            return false;
        if (head & 0x80) {
            std::memset(p + at, 0, length);
        } else {
            if (i + length > in.size())
                return false;
            std::memcpy(p + at, in.data() + i, length);
            i += length;
        }
        at += length;
    }
    return at == n;
}

const unsigned char* BytesOf(const FullFileRec& rec)
{
    return reinterpret_cast<const unsigned char*>(&rec);
}

std::string PackAfter(const EntryRow& e)
{
    if (!e.hasBefore)
        return Pack(BytesOf(e.after));
    unsigned char diff[kRecordSize];
    const unsigned char *a = BytesOf(e.after), *b = BytesOf(e.before);
    for (size_t i = 0; i < kRecordSize; ++i)
        diff[i] = a[i] ^ b[i];
    return Pack(diff);
}

// Which count of its run an entry adds to (the columns of CountsOf's query).
enum CountsAs {
    kCountsNone,
    kCountsAdded,
    kCountsChanged,
    kCountsDeleted,
    kCountsMoved,
    kCountsTrashed,
    kCountsCreated
};

int64_t CountsAsOf(const EntryRow& e)
{
    switch (e.kind) {
    case kRecordAdded:
        return kCountsAdded;
    case kRecordChanged:
        return e.before.Rec.Area != e.after.Rec.Area ? kCountsMoved : kCountsChanged;
    case kRecordDeleted:
        return kCountsDeleted;
    case kFileTrashed:
        return kCountsTrashed;
    case kFileCreated:
        return kCountsCreated;
    default:
        return kCountsNone;
    }
}

std::vector<SqlValue> EntryArgs(const EntryRow& e)
{
    std::vector<SqlValue> args;
    args.reserve(kEntryColumnCount);
    args.push_back(SqlValue::Of(EntryId(e.run, e.seq)));
    args.push_back(SqlValue::Of(int64_t(e.kind)));
    args.push_back(SqlValue::Of(int64_t(e.area)));
    args.push_back(SqlValue::Of(e.name));
    args.push_back(SqlValue::Of(CountsAsOf(e)));
    args.push_back(e.hasBefore ? SqlValue::Of(Pack(BytesOf(e.before))) : SqlValue{});
    args.push_back(e.hasAfter ? SqlValue::Of(PackAfter(e)) : SqlValue{});
    args.push_back(e.path.empty() ? SqlValue{} : SqlValue::Of(e.path));
    args.push_back(e.trash.empty() ? SqlValue{} : SqlValue::Of(e.trash));
    return args;
}

bool EntryOf(const std::vector<SqlValue>& row, EntryRow& e)
{
    if (row.size() != size_t(kEntryColumnCount))
        return false;
    const uint64_t id = uint64_t(row[0].i);
    e.run = uint32_t(id >> 32);
    e.seq = uint32_t(id);
    e.kind = int32_t(row[1].i);
    e.area = int32_t(row[2].i);
    e.name = row[3].b;
    e.hasBefore = row[5].kind == SqlValue::Bytes;
    e.hasAfter = row[6].kind == SqlValue::Bytes;
    std::memset(&e.before, 0, sizeof e.before);
    std::memset(&e.after, 0, sizeof e.after);
    auto* before = reinterpret_cast<unsigned char*>(&e.before);
    auto* after = reinterpret_cast<unsigned char*>(&e.after);
    if ((e.hasBefore && !Unpack(row[5].b, before)) || (e.hasAfter && !Unpack(row[6].b, after)))
        return false;
    if (e.hasBefore && e.hasAfter)
        for (size_t i = 0; i < kRecordSize; ++i)
            after[i] ^= before[i];
    e.path = row[7].b;
    e.trash = row[8].b;
    return true;
}

RunRow RunOf(const std::vector<SqlValue>& row)
{
    RunRow r;
    if (row.size() != size_t(kRunColumnCount))
        return r;
    r.id = uint32_t(row[0].i);
    r.started = row[1].i;
    r.ended = row[2].i;
    r.open = row[3].i != 0;
    r.undoneBy = uint32_t(row[4].i);
    r.undoes = uint32_t(row[5].i);
    r.counts.added = row[6].i;
    r.counts.changed = row[7].i;
    r.counts.deleted = row[8].i;
    r.counts.moved = row[9].i;
    r.counts.trashed = row[10].i;
    r.counts.created = row[11].i;
    r.trashDays = uint32_t(row[12].i);
    r.machine = row[13].b;
    r.user = row[14].b;
    r.command = row[15].b;
    return r;
}

std::string Placeholders(int n)
{
    std::string s;
    for (int i = 1; i <= n; ++i)
        s += (i > 1 ? ", ?" : "?") + std::to_string(i);
    return s;
}

} // namespace

Counts CountOf(const EntryRow& e)
{
    Counts c;
    switch (CountsAsOf(e)) {
    case kCountsAdded:
        c.added = 1;
        break;
    case kCountsChanged:
        c.changed = 1;
        break;
    case kCountsDeleted:
        c.deleted = 1;
        break;
    case kCountsMoved:
        c.moved = 1;
        break;
    case kCountsTrashed:
        c.trashed = 1;
        break;
    case kCountsCreated:
        c.created = 1;
        break;
    default:
        break;
    }
    return c;
}

int Tables(Store& store, bool create)
{
    const char* const sql =
        store.IsPostgres()
            ? "SELECT (to_regclass('runs') IS NOT NULL)::int + "
              "(to_regclass('run_entries') IS NOT NULL)::int"
            : "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('runs', "
              "'run_entries')";
    auto there = [&store, sql]() -> int {
        int64_t n = -1;
        const Rc rc = store.Sql({}, sql, {}, [&n](const std::vector<SqlValue>& row) {
            n = row.at(0).i;
            return true;
        });
        if (rc != Rc::Ok || n < 0)
            return -1;
        return n == 2 ? 1 : 0;
    };
    const int state = there();
    if (state != 0 || !create)
        return state;
    if (!store.Begin())
        return -1;
    bool made = true;
    for (const char* sql : store.IsPostgres() ? kPgTables : kSqliteTables)
        made = made && store.Sql({}, sql, {}) == Rc::Ok;
    if (made && store.Commit())
        return 1;
    store.Rollback();
    // Another client may have made them at the same moment.
    return there() == 1 ? 1 : -1;
}

Rc NewRun(Store& store, RunRow& row)
{
    // Two clients of one PostgreSQL store may take the same number at
    // once: the second is refused by the key and takes the next.
    for (int attempt = 0; attempt < 20; ++attempt) {
        int64_t id = 0;
        if (store.Sql("journal.nextrun", "SELECT coalesce(max(id), 0) + 1 FROM runs", {},
                      [&id](const std::vector<SqlValue>& r) {
                          id = r.at(0).i;
                          return true;
                      }) != Rc::Ok ||
            id <= 0 || id > INT32_MAX)
            return Rc::Error;
        const std::vector<SqlValue> args = {SqlValue::Of(id),
                                            SqlValue::Of(row.started),
                                            SqlValue::Of(int64_t(0)),
                                            SqlValue::Of(int64_t(1)),
                                            SqlValue::Of(int64_t(0)),
                                            SqlValue::Of(int64_t(row.undoes)),
                                            SqlValue::Of(int64_t(0)),
                                            SqlValue::Of(int64_t(0)),
                                            SqlValue::Of(int64_t(0)),
                                            SqlValue::Of(int64_t(0)),
                                            SqlValue::Of(int64_t(0)),
                                            SqlValue::Of(int64_t(0)),
                                            SqlValue::Of(int64_t(row.trashDays)),
                                            SqlValue::Of(row.machine),
                                            SqlValue::Of(row.user),
                                            SqlValue::Of(row.command)};
        const Rc rc = store.Sql("journal.newrun",
                                std::string("INSERT INTO runs(") + kRunColumns + ") VALUES(" +
                                    Placeholders(kRunColumnCount) + ")",
                                args);
        if (rc == Rc::Duplicate)
            continue;
        if (rc != Rc::Ok)
            return Rc::Error;
        row.id = uint32_t(id);
        row.open = true;
        row.ended = 0;
        row.undoneBy = 0;
        row.counts = {};
        return Rc::Ok;
    }
    return Rc::Error;
}

Rc InsertEntry(Store& store, const EntryRow& entry)
{
    // Made once: every record write of a run comes here.
    static const std::string sql = std::string("INSERT INTO run_entries(") + kEntryColumns +
                                   ") VALUES(" + Placeholders(kEntryColumnCount) + ")";
    int64_t changed = 0;
    const Rc rc = store.Sql("journal.entry", sql, EntryArgs(entry), {}, &changed);
    return rc == Rc::Ok && changed != 1 ? Rc::Error : rc;
}

Rc RemoveEntriesAfter(Store& store, uint32_t run, uint32_t seq)
{
    return store.Sql("journal.retract", "DELETE FROM run_entries WHERE id > ?1 AND id <= ?2",
                     {SqlValue::Of(EntryId(run, seq)), SqlValue::Of(EntryId(run, UINT32_MAX))});
}

Rc CountEntries(Store& store, uint32_t run, Counts& out)
{
    out = {};
    return store.Sql("journal.count",
                     "SELECT counts_as, count(*) FROM run_entries WHERE id >= ?1 AND id <= ?2 "
                     "GROUP BY counts_as",
                     {SqlValue::Of(EntryId(run, 0)), SqlValue::Of(EntryId(run, UINT32_MAX))},
                     [&out](const std::vector<SqlValue>& row) {
                         const int64_t n = row.at(1).i;
                         switch (row.at(0).i) {
                         case kCountsAdded:
                             out.added = n;
                             break;
                         case kCountsChanged:
                             out.changed = n;
                             break;
                         case kCountsDeleted:
                             out.deleted = n;
                             break;
                         case kCountsMoved:
                             out.moved = n;
                             break;
                         case kCountsTrashed:
                             out.trashed = n;
                             break;
                         case kCountsCreated:
                             out.created = n;
                             break;
                         default:
                             break;
                         }
                         return true;
                     });
}

Rc EndRun(Store& store, uint32_t run, int64_t ended)
{
    Counts c;
    if (const Rc rc = CountEntries(store, run, c); rc != Rc::Ok)
        return rc;
    int64_t changed = 0;
    const Rc rc = store.Sql(
        "journal.end",
        "UPDATE runs SET open = 0, ended = ?2, added = ?3, changed = ?4, deleted = ?5, moved = ?6, "
        "files_trashed = ?7, files_created = ?8 WHERE id = ?1",
        {SqlValue::Of(int64_t(run)), SqlValue::Of(ended), SqlValue::Of(c.added),
         SqlValue::Of(c.changed), SqlValue::Of(c.deleted), SqlValue::Of(c.moved),
         SqlValue::Of(c.trashed), SqlValue::Of(c.created)},
        {}, &changed);
    return rc == Rc::Ok && changed != 1 ? Rc::NotFound : rc;
}

Rc MarkUndone(Store& store, uint32_t run, uint32_t by)
{
    int64_t changed = 0;
    const Rc rc = store.Sql("journal.undone",
                            "UPDATE runs SET undone_by = ?2 WHERE id = ?1 AND undone_by = 0",
                            {SqlValue::Of(int64_t(run)), SqlValue::Of(int64_t(by))}, {}, &changed);
    return rc == Rc::Ok && changed != 1 ? Rc::NotFound : rc;
}

Rc GetRun(Store& store, uint32_t run, RunRow& out)
{
    bool found = false;
    const Rc rc =
        store.Sql("journal.run", std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = ?1",
                  {SqlValue::Of(int64_t(run))}, [&](const std::vector<SqlValue>& row) {
                      out = RunOf(row);
                      found = true;
                      return true;
                  });
    if (rc != Rc::Ok)
        return rc;
    if (!found)
        return Rc::NotFound;
    return out.open ? CountEntries(store, run, out.counts) : Rc::Ok;
}

Rc ListRuns(Store& store, uint32_t limit, const std::function<bool(const RunRow&)>& visit)
{
    // All rows first: an open run's counts are another query.
    std::vector<RunRow> runs;
    const Rc rc = store.Sql(
        "journal.runs",
        std::string("SELECT ") + kRunColumns + " FROM runs ORDER BY id DESC LIMIT ?1",
        {SqlValue::Of(limit ? int64_t(limit) : INT64_MAX)}, [&](const std::vector<SqlValue>& row) {
            runs.push_back(RunOf(row));
            return true;
        });
    if (rc != Rc::Ok)
        return rc;
    for (RunRow& r : runs) {
        if (r.open && CountEntries(store, r.id, r.counts) != Rc::Ok)
            return Rc::Error;
        if (!visit(r))
            break;
    }
    return Rc::Ok;
}

Rc ListEntries(Store& store, uint32_t run, bool lastFirst,
               const std::function<bool(const EntryRow&)>& visit)
{
    // A batch at a time by id: no result holds a whole large run, and no
    // read stays open while the caller works on the entries.
    constexpr int64_t kBatch = 256;
    const int64_t first = EntryId(run, 0), last = EntryId(run, UINT32_MAX);
    int64_t from = first, to = last;
    for (;;) {
        std::vector<EntryRow> batch;
        bool damaged = false;
        const Rc rc = store.Sql(lastFirst ? "journal.entries.back" : "journal.entries",
                                std::string("SELECT ") + kEntryColumns +
                                    " FROM run_entries WHERE id >= ?1 AND id <= ?2 ORDER BY id " +
                                    (lastFirst ? "DESC" : "ASC") + " LIMIT ?3",
                                {SqlValue::Of(from), SqlValue::Of(to), SqlValue::Of(kBatch)},
                                [&](const std::vector<SqlValue>& row) {
                                    batch.emplace_back();
                                    if (!EntryOf(row, batch.back()))
                                        damaged = true;
                                    return !damaged;
                                });
        if (rc != Rc::Ok || damaged)
            return Rc::Error;
        for (const EntryRow& e : batch)
            if (!visit(e))
                return Rc::Ok;
        if (int64_t(batch.size()) < kBatch)
            return Rc::Ok;
        const int64_t at = EntryId(batch.back().run, batch.back().seq);
        if (lastFirst)
            to = at - 1;
        else
            from = at + 1;
    }
}

std::string CopyJournal(Store& from, Store& to)
{
    const int there = Tables(from, false);
    if (there < 0)
        return "cannot read the run journal: " + from.Error();
    if (there == 0)
        return {};
    // The target's tables are made inside the copy's transaction.
    for (const char* sql : to.IsPostgres() ? kPgTables : kSqliteTables)
        if (to.Sql({}, sql, {}) != Rc::Ok)
            return "cannot write the run journal: " + to.Error();
    // Rows a batch at a time, in id order, each table in turn.
    struct Table {
        const char* name;
        const char* columns;
        int count;
    };
    for (const Table& t : {Table{"runs", kRunColumns, kRunColumnCount},
                           Table{"run_entries", kEntryColumns, kEntryColumnCount}}) {
        const std::string select = std::string("SELECT ") + t.columns + " FROM " + t.name +
                                   " WHERE id > ?1 ORDER BY id LIMIT 512";
        const std::string insert = std::string("INSERT INTO ") + t.name + "(" + t.columns +
                                   ") VALUES(" + Placeholders(t.count) + ")";
        int64_t after = -1;
        for (;;) {
            std::vector<std::vector<SqlValue>> rows;
            if (from.Sql({}, select, {SqlValue::Of(after)}, [&](const std::vector<SqlValue>& r) {
                    rows.push_back(r);
                    return true;
                }) != Rc::Ok)
                return std::string("cannot read the run journal: ") + from.Error();
            for (const std::vector<SqlValue>& r : rows)
                if (to.Sql(std::string("journal.copy.") + t.name, insert, r) != Rc::Ok)
                    return std::string("cannot write the run journal: ") + to.Error();
            if (rows.size() < 512)
                break;
            after = rows.back().at(0).i;
        }
    }
    return {};
}

} // namespace wcstore::journal
