// The table of scan results kept: see WcScanCacheStore.h. The statements
// are SQLite's text; the store turns ?N into PostgreSQL's $N.
#include "WcScanCacheStore.h"

#include <vector>

namespace wcstore::scancache
{

namespace
{

const char* const kSqliteTable = "CREATE TABLE IF NOT EXISTS scan_results("
                                 "sha256 BLOB PRIMARY KEY, signatures BLOB NOT NULL, "
                                 "outcome INTEGER NOT NULL, scanned INTEGER NOT NULL, "
                                 "text BLOB NOT NULL)";
const char* const kPgTable = "CREATE TABLE IF NOT EXISTS scan_results("
                             "sha256 bytea PRIMARY KEY, signatures bytea NOT NULL, "
                             "outcome integer NOT NULL, scanned bigint NOT NULL, "
                             "text bytea NOT NULL)";
const char* const kColumns = "sha256, signatures, outcome, scanned, text";

Row RowOf(const std::vector<SqlValue>& r)
{
    Row row;
    row.sha256 = r.at(0).b;
    row.signatures = r.at(1).b;
    row.outcome = int32_t(r.at(2).i);
    row.scanned = r.at(3).i;
    row.text = r.at(4).b;
    return row;
}

std::vector<SqlValue> ArgsOf(const Row& row)
{
    return {SqlValue::Of(row.sha256), SqlValue::Of(row.signatures),
            SqlValue::Of(int64_t(row.outcome)), SqlValue::Of(row.scanned), SqlValue::Of(row.text)};
}

} // namespace

int TableThere(Store& store)
{
    const char* const sql =
        store.IsPostgres()
            ? "SELECT (to_regclass('scan_results') IS NOT NULL)::int"
            : "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'scan_results'";
    int64_t n = -1;
    if (store.Sql({}, sql, {},
                  [&n](const std::vector<SqlValue>& row) {
                      n = row.at(0).i;
                      return true;
                  }) != Rc::Ok ||
        n < 0)
        return -1;
    return n > 0 ? 1 : 0;
}

bool MakeTable(Store& store)
{
    return store.Sql({}, store.IsPostgres() ? kPgTable : kSqliteTable, {}) == Rc::Ok;
}

Rc Get(Store& store, const std::string& sha256, Row& out)
{
    bool found = false;
    const Rc rc = store.Sql(
        "scancache.get", std::string("SELECT ") + kColumns + " FROM scan_results WHERE sha256 = ?1",
        {SqlValue::Of(sha256)}, [&](const std::vector<SqlValue>& r) {
            out = RowOf(r);
            found = true;
            return false;
        });
    if (rc != Rc::Ok)
        // A store that never kept a result has no table: nothing is kept.
        return TableThere(store) == 0 ? Rc::NotFound : Rc::Error;
    return found ? Rc::Ok : Rc::NotFound;
}

Rc Put(Store& store, const Row& row)
{
    // One row per content: a result found with other signatures is replaced.
    return store.Sql("scancache.put",
                     std::string("INSERT INTO scan_results(") + kColumns +
                         ") VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(sha256) DO UPDATE SET "
                         "signatures = excluded.signatures, outcome = excluded.outcome, "
                         "scanned = excluded.scanned, text = excluded.text",
                     ArgsOf(row));
}

std::string Copy(Store& from, Store& to)
{
    const int there = TableThere(from);
    if (there < 0)
        return "cannot read the scan results: " + from.Error();
    if (there == 0)
        return {};
    if (!MakeTable(to))
        return "cannot write the scan results: " + to.Error();
    // A batch at a time, in the order of the key.
    const std::string select = std::string("SELECT ") + kColumns +
                               " FROM scan_results WHERE sha256 > ?1 ORDER BY sha256 LIMIT 512";
    std::string after; // the empty string sorts before every hash
    for (;;) {
        std::vector<Row> rows;
        if (from.Sql({}, select, {SqlValue::Of(after)}, [&](const std::vector<SqlValue>& r) {
                rows.push_back(RowOf(r));
                return true;
            }) != Rc::Ok)
            return "cannot read the scan results: " + from.Error();
        for (const Row& row : rows)
            if (Put(to, row) != Rc::Ok)
                return "cannot write the scan results: " + to.Error();
        if (rows.size() < 512)
            return {};
        after = rows.back().sha256;
    }
}

} // namespace wcstore::scancache
