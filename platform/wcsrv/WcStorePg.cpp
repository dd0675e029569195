// The record store on PostgreSQL: the records of a BBS that several
// machines share. Each file record is kept as its exact bytes (the
// FileRec part in `rec`, the rest in `ext`) under the key (area,
// name_key); name_key is the name's order key (NameKey), compared as
// bytes, so walks run in the order SQLite's NOCASE gives the same names.
#include "WcStore.h"

#include <libpq-fe.h>

#include <arpa/inet.h>

#include <cctype>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace wcstore
{

namespace
{

constexpr size_t kRecSize = sizeof(FileRec);
constexpr size_t kExtSize = sizeof(FullFileRec) - sizeof(FileRec);
static_assert(kRecSize == 332 && kExtSize == 1460);

const char* const kPgSchemaSql = R"sql(
CREATE TABLE wcsrv_schema(version integer NOT NULL);
CREATE TABLE bbs(
  id integer PRIMARY KEY CHECK (id = 1),
  sysop text NOT NULL,
  makewild bytea);
CREATE TABLE areas(
  number integer PRIMARY KEY,
  name text NOT NULL,
  folder text NOT NULL);
CREATE TABLE users(
  id bigint PRIMARY KEY,
  name text NOT NULL,
  name_key bytea NOT NULL UNIQUE);
CREATE TABLE files(
  area integer NOT NULL,
  name_key bytea NOT NULL,
  rec bytea NOT NULL,
  ext bytea NOT NULL,
  PRIMARY KEY (area, name_key));
)sql";

// A result, cleared on destruction.
struct Result {
    PGresult* r = nullptr;
    explicit Result(PGresult* res) : r(res) {}
    ~Result() { PQclear(r); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ExecStatusType status() const { return r ? PQresultStatus(r) : PGRES_FATAL_ERROR; }
    bool ok() const { return status() == PGRES_COMMAND_OK || status() == PGRES_TUPLES_OK; }
    bool duplicate() const
    {
        const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
        return state && std::strcmp(state, "23505") == 0;
    }
    int rows() const { return PQntuples(r); }
    std::string text(int row, int col) const
    {
        return std::string(PQgetvalue(r, row, col), size_t(PQgetlength(r, row, col)));
    }
    bool null(int row, int col) const { return PQgetisnull(r, row, col); }
    long changed() const { return std::atol(PQcmdTuples(r)); }
};

// Parameters of one statement: numbers as text, byte strings as binary.
struct Params {
    std::vector<std::string> store;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    Params& text(std::string v)
    {
        store.push_back(std::move(v));
        formats.push_back(0);
        return *this;
    }
    Params& num(int64_t v) { return text(std::to_string(v)); }
    Params& bytes(const void* p, size_t n)
    {
        store.emplace_back(static_cast<const char*>(p), n);
        formats.push_back(1);
        return *this;
    }
    Params& bytes(const std::string& s) { return bytes(s.data(), s.size()); }
    void finish()
    {
        values.clear();
        lengths.clear();
        for (const std::string& s : store) {
            values.push_back(s.data());
            lengths.push_back(int(s.size()));
        }
    }
};

// Puts the bytes of a binary result row's FileRec part back into a record.
void FillRec(const Result& res, int row, FileRec& out, bool)
{
    std::memset(&out, 0, sizeof out);
    const size_t n = std::min(kRecSize, size_t(PQgetlength(res.r, row, 0)));
    std::memcpy(&out, PQgetvalue(res.r, row, 0), n);
}

// The same, and with `full` the rest of the record from the row's second column.
void FillRec(const Result& res, int row, FullFileRec& out, bool full)
{
    FillRec(res, row, out.Rec, false);
    if (!full)
        return;
    char* ext = reinterpret_cast<char*>(&out) + kRecSize;
    std::memset(ext, 0, kExtSize);
    const size_t m = std::min(kExtSize, size_t(PQgetlength(res.r, row, 1)));
    std::memcpy(ext, PQgetvalue(res.r, row, 1), m);
}

std::string RecKey(const FullFileRec& rec)
{
    return NameKey(rec.Rec.Name, FieldLength(rec.Rec.Name, sizeof rec.Rec.Name));
}

// Statements that only read: a walk's batch read ahead stays valid across
// them (see PgStore::Ahead).
bool ReadsOnly(const std::string& id)
{
    static const std::set<std::string> kReads = {"bbs",   "areacount",  "area",      "areas",
                                                 "users", "userbyname", "firstuser", "nextuser",
                                                 "count", "read",       "samename"};
    return kReads.count(id) != 0 || id.rfind("seek", 0) == 0 || id.rfind("nextarea", 0) == 0;
}

class PgStore final : public Store
{
public:
    PgStore(PGconn* conn, std::string conninfo) : m_conn(conn), m_conninfo(std::move(conninfo)) {}
    ~PgStore() override
    {
        Settle(false);
        if (m_thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_stop = true;
            }
            m_cv.notify_all();
            m_thread.join();
        }
        PQfinish(m_conn);
    }

    bool IsPostgres() const override { return true; }
    std::string Error() const override
    {
        return m_error.empty() ? std::string(PQerrorMessage(m_conn)) : m_error;
    }
    // Large batches: one round trip brings 500 records.
    size_t WalkBatch() const override { return 500; }

    bool Begin() override
    {
        if (!Ensure())
            return false;
        Result r(PQexec(m_conn, "BEGIN"));
        m_inTransaction = r.ok();
        return m_inTransaction;
    }
    bool Commit() override
    {
        Settle(false);
        Result r(PQexec(m_conn, "COMMIT"));
        m_inTransaction = false;
        // COMMIT of a failed transaction reports ROLLBACK.
        return r.ok() && std::strcmp(PQcmdStatus(r.r), "COMMIT") == 0;
    }
    void Rollback() override
    {
        Settle(false);
        if (PQstatus(m_conn) == CONNECTION_OK)
            Result r(PQexec(m_conn, "ROLLBACK"));
        m_inTransaction = false;
    }

    Rc GetBbs(std::string& sysop, std::string& makewild) override
    {
        Params p;
        Result r(Run("bbs", "SELECT sysop, makewild FROM bbs WHERE id = 1", p, true));
        if (!r.ok())
            return Rc::Error;
        if (r.rows() == 0)
            return Rc::NotFound;
        sysop = r.text(0, 0);
        makewild = r.null(0, 1) ? std::string() : r.text(0, 1);
        return Rc::Ok;
    }

    Rc PutBbs(const std::string& sysop, const std::string& makewild) override
    {
        Params p;
        p.text(sysop);
        if (makewild.empty())
            p.text("");
        else
            p.bytes(makewild);
        return Change(Run(
            "putbbs", "INSERT INTO bbs(id, sysop, makewild) VALUES(1, $1, nullif($2::bytea, ''))",
            p, false));
    }

    Rc AreaCount(int32_t& n) override
    {
        Params p;
        Result r(Run("areacount", "SELECT coalesce(max(number), 0) FROM areas", p, false));
        if (!r.ok() || r.rows() != 1)
            return Rc::Error;
        n = int32_t(std::atol(PQgetvalue(r.r, 0, 0)));
        return Rc::Ok;
    }

    Rc GetArea(int32_t number, AreaRow* out) override
    {
        Params p;
        p.num(number);
        Result r(Run("area", "SELECT number, name, folder FROM areas WHERE number = $1", p, false));
        if (!r.ok())
            return Rc::Error;
        if (r.rows() == 0)
            return Rc::NotFound;
        if (out)
            *out = AreaOf(r, 0);
        return Rc::Ok;
    }

    Rc ListAreas(std::vector<AreaRow>& out) override
    {
        out.clear();
        Params p;
        Result r(Run("areas", "SELECT number, name, folder FROM areas ORDER BY number", p, false));
        if (!r.ok())
            return Rc::Error;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(AreaOf(r, i));
        return Rc::Ok;
    }

    Rc AddArea(const AreaRow& a) override
    {
        Params p;
        p.num(a.number).text(a.name).text(a.folder);
        return Change(
            Run("addarea", "INSERT INTO areas(number, name, folder) VALUES($1, $2, $3)", p, false));
    }

    Rc AddUser(const std::string& name, uint32_t id) override
    {
        Params p;
        p.text(name).bytes(Utf8Key(name));
        if (id) {
            p.num(id);
            return Change(Run(
                "adduserid", "INSERT INTO users(id, name, name_key) VALUES($3, $1, $2)", p, false));
        }
        return Change(Run("adduser",
                          "INSERT INTO users(id, name, name_key) SELECT coalesce(max(id), 0) + 1, "
                          "$1, $2 FROM users",
                          p, false));
    }

    Rc UserByName(const std::string& name, UserRow& out) override
    {
        Params p;
        p.bytes(Utf8Key(name));
        return User(Run("userbyname", "SELECT id, name FROM users WHERE name_key = $1", p, false),
                    out);
    }

    Rc FirstUser(UserRow& out) override
    {
        Params p;
        return User(
            Run("firstuser", "SELECT id, name FROM users ORDER BY name_key LIMIT 1", p, false),
            out);
    }

    Rc NextUser(const std::string& name, uint32_t id, UserRow& out) override
    {
        Params p;
        p.bytes(Utf8Key(name)).num(id);
        return User(Run("nextuser",
                        "SELECT id, name FROM users WHERE name_key > coalesce((SELECT name_key "
                        "FROM users WHERE id = $2), $1) ORDER BY name_key LIMIT 1",
                        p, false),
                    out);
    }

    Rc ListUsers(std::vector<UserRow>& out) override
    {
        out.clear();
        Params p;
        Result r(Run("users", "SELECT id, name FROM users ORDER BY id", p, false));
        if (!r.ok())
            return Rc::Error;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back({uint32_t(std::atoll(PQgetvalue(r.r, i, 0))), r.text(i, 1)});
        return Rc::Ok;
    }

    Rc CountFiles(int32_t area, int32_t& n) override
    {
        Params p;
        p.num(area);
        Result r(Run("count", "SELECT count(*) FROM files WHERE area = $1", p, false));
        if (!r.ok() || r.rows() != 1)
            return Rc::Error;
        n = int32_t(std::atol(PQgetvalue(r.r, 0, 0)));
        return Rc::Ok;
    }

    Rc Seek(int32_t area, const char* name, size_t nameLength, bool after, bool full,
            int32_t stopArea, FullFileRec* rows, size_t max, size_t& count) override
    {
        return SeekInto(area, name, nameLength, after, full, stopArea, rows, max, count);
    }

    Rc SeekParts(int32_t area, const char* name, size_t nameLength, bool after, int32_t stopArea,
                 FileRec* rows, size_t max, size_t& count) override
    {
        return SeekInto(area, name, nameLength, after, false, stopArea, rows, max, count);
    }

    template <typename Row>
    Rc SeekInto(int32_t area, const char* name, size_t nameLength, bool after, bool full,
                int32_t stopArea, Row* rows, size_t max, size_t& count)
    {
        count = 0;
        Params p;
        p.num(area).bytes(NameKey(name, nameLength)).num(int64_t(max));
        std::string id;
        const std::string sql = SeekSql(after, full, stopArea == area, id);
        // The batch read ahead, when it is the one asked for.
        PGresult* res = nullptr;
        if (m_ahead) {
            Settle(true);
            Ahead& a = *m_ahead;
            const bool asked = after && a.id == id && a.area == area && a.stopArea == stopArea &&
                               a.max == max && a.name == std::string(name, nameLength);
            res = asked ? a.result : nullptr;
            a.result = nullptr;
            Settle(false);
            if (asked && !res) {
                m_error.clear(); // the server's message tells what failed
                return Rc::Error;
            }
        }
        Result r(res ? res : Run(id, sql, p, true));
        if (!r.ok())
            return Rc::Error;
        for (int i = 0; i < r.rows() && count < max; ++i) {
            FillRec(r, i, rows[count], full);
            ++count;
            if (stopArea >= 0 && RecOf(rows[count - 1]).Area != stopArea)
                break;
        }
        // The walk of one area ended within this batch: the first record
        // after the area ends it for the caller.
        if (stopArea == area && count < max) {
            Params q;
            q.num(area);
            Result next(Run(full ? "nextareaf" : "nextarear",
                            std::string("SELECT ") + (full ? "rec, ext" : "rec") +
                                " FROM files WHERE area > $1 ORDER BY area, name_key LIMIT 1",
                            q, true));
            if (!next.ok())
                return Rc::Error;
            if (next.rows() == 1)
                FillRec(next, 0, rows[count++], full);
        }
        // A full batch that did not reach the end of the walk: the next
        // batch is read at once, beside the caller's work on this one.
        const FileRec& last = RecOf(rows[count ? count - 1 : 0]);
        if (count == max && max > 0 && (stopArea < 0 || last.Area == stopArea) && !m_inTransaction)
            ReadAhead(last, full, stopArea, max);
        return Rc::Ok;
    }

    Rc Read(int32_t area, const char* name, size_t nameLength, FullFileRec* out) override
    {
        Params p;
        p.num(area).bytes(NameKey(name, nameLength));
        Result r(
            Run("read", "SELECT rec, ext FROM files WHERE area = $1 AND name_key = $2", p, true));
        if (!r.ok())
            return Rc::Error;
        if (r.rows() == 0)
            return Rc::NotFound;
        if (out)
            FillRec(r, 0, *out, true);
        return Rc::Ok;
    }

    Rc Insert(const FullFileRec& rec) override
    {
        Params p;
        p.num(rec.Rec.Area)
            .bytes(RecKey(rec))
            .bytes(&rec, kRecSize)
            .bytes(reinterpret_cast<const char*>(&rec) + kRecSize, kExtSize);
        return Change(Run("insert",
                          "INSERT INTO files(area, name_key, rec, ext) VALUES($1, $2, $3, $4)", p,
                          false));
    }

    // One COPY in binary form: far fewer round trips than one INSERT each.
    Rc InsertMany(const FullFileRec* recs, size_t n) override
    {
        if (n == 0)
            return Rc::Ok;
        if (!Ensure())
            return Rc::Error;
        {
            Result r(
                PQexec(m_conn, "COPY files(area, name_key, rec, ext) FROM STDIN (FORMAT binary)"));
            if (r.status() != PGRES_COPY_IN)
                return Rc::Error;
        }
        std::string buf("PGCOPY\n\377\r\n\0", 11);
        auto put32 = [&](uint32_t v) {
            v = htonl(v);
            buf.append(reinterpret_cast<const char*>(&v), 4);
        };
        auto put16 = [&](uint16_t v) {
            v = htons(v);
            buf.append(reinterpret_cast<const char*>(&v), 2);
        };
        put32(0);
        put32(0);
        for (size_t i = 0; i < n; ++i) {
            const FullFileRec& rec = recs[i];
            put16(4);
            put32(4);
            put32(uint32_t(rec.Rec.Area));
            const std::string key = RecKey(rec);
            put32(uint32_t(key.size()));
            buf += key;
            put32(uint32_t(kRecSize));
            buf.append(reinterpret_cast<const char*>(&rec), kRecSize);
            put32(uint32_t(kExtSize));
            buf.append(reinterpret_cast<const char*>(&rec) + kRecSize, kExtSize);
        }
        put16(0xFFFF);
        if (PQputCopyData(m_conn, buf.data(), int(buf.size())) != 1 ||
            PQputCopyEnd(m_conn, nullptr) != 1)
            return Rc::Error;
        Rc rc = Rc::Ok;
        while (PGresult* res = PQgetResult(m_conn)) {
            Result r(res);
            if (!r.ok())
                rc = r.duplicate() ? Rc::Duplicate : Rc::Error;
        }
        return rc;
    }

    Rc Update(int32_t area, const char* name, size_t nameLength, const FullFileRec& rec) override
    {
        Params p;
        p.num(rec.Rec.Area)
            .bytes(RecKey(rec))
            .bytes(&rec, kRecSize)
            .bytes(reinterpret_cast<const char*>(&rec) + kRecSize, kExtSize)
            .num(area)
            .bytes(NameKey(name, nameLength));
        return Change(Run("update",
                          "UPDATE files SET area = $1, name_key = $2, rec = $3, ext = $4 WHERE "
                          "area = $5 AND name_key = $6",
                          p, false));
    }

    Rc Remove(int32_t area, const char* name, size_t nameLength) override
    {
        Params p;
        p.num(area).bytes(NameKey(name, nameLength));
        return Change(
            Run("delete", "DELETE FROM files WHERE area = $1 AND name_key = $2", p, false));
    }

    Rc AreasWithName(const char* name, size_t nameLength, int32_t except,
                     std::vector<int32_t>& out) override
    {
        out.clear();
        Params p;
        p.bytes(NameKey(name, nameLength)).num(except);
        Result r(Run("samename",
                     "SELECT area FROM files WHERE name_key = $1 AND area <> $2 ORDER BY area", p,
                     false));
        if (!r.ok())
            return Rc::Error;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(int32_t(std::atol(PQgetvalue(r.r, i, 0))));
        return Rc::Ok;
    }

    // The connection for the next statement (`keepAhead`: a statement that
    // only reads). A connection lost outside a transaction is made anew;
    // inside one, the transaction is lost and every statement fails until
    // it is rolled back.
    bool Ensure(bool keepAhead = false)
    {
        Settle(keepAhead);
        m_error.clear();
        if (PQstatus(m_conn) == CONNECTION_OK)
            return true;
        if (m_inTransaction) {
            m_error = "the connection to the database was lost";
            return false;
        }
        PQreset(m_conn);
        m_prepared.clear();
        if (PQstatus(m_conn) != CONNECTION_OK)
            return false;
        PQsetClientEncoding(m_conn, "UTF8");
        return true;
    }

    // ---- content hashes of files ----

    Rc GetFileHash(int32_t area, const char* name, size_t nameLength, FileHash& out) override
    {
        const int ready = HashTable(false);
        if (ready <= 0)
            return ready == 0 ? Rc::NotFound : Rc::Error;
        Params p;
        p.num(area).bytes(NameKey(name, nameLength));
        Result r(Run("hashget",
                     "SELECT size, last_write, file, sha256 FROM file_hashes WHERE area = $1 AND "
                     "name_key = $2",
                     p, true));
        if (!r.ok())
            return Rc::Error;
        // A row without a whole hash counts as none kept: the file is read again.
        if (r.rows() == 0 || !HashOf(r, 0, out))
            return Rc::NotFound;
        return Rc::Ok;
    }

    Rc PutFileHash(int32_t area, const char* name, size_t nameLength, const FileHash& hash) override
    {
        if (HashTable(true) <= 0)
            return Rc::Error;
        Params p;
        p.num(area)
            .bytes(NameKey(name, nameLength))
            .bytes(name, nameLength)
            .num(int64_t(hash.size))
            .num(int64_t(hash.lastWrite))
            .num(int64_t(hash.file))
            .bytes(hash.sha256, sizeof hash.sha256);
        return Change(Run("hashput",
                          "INSERT INTO file_hashes(area, name_key, name, size, last_write, file, "
                          "sha256) VALUES($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (area, name_key) "
                          "DO UPDATE SET name = EXCLUDED.name, size = EXCLUDED.size, last_write = "
                          "EXCLUDED.last_write, file = EXCLUDED.file, sha256 = EXCLUDED.sha256",
                          p, false));
    }

    Rc EachFileHash(const std::function<bool(const FileHashEntry&)>& visit) override
    {
        const int ready = HashTable(false);
        if (ready <= 0)
            return ready == 0 ? Rc::Ok : Rc::Error;
        Params p;
        Result r(Run("hasheach",
                     "SELECT size, last_write, file, sha256, area, name FROM file_hashes ORDER BY "
                     "area, name_key",
                     p, true));
        if (!r.ok())
            return Rc::Error;
        for (int i = 0; i < r.rows(); ++i) {
            FileHashEntry entry;
            if (!HashOf(r, i, entry.hash))
                continue;
            uint32_t area = 0;
            std::memcpy(&area, PQgetvalue(r.r, i, 4), std::min<size_t>(4, PQgetlength(r.r, i, 4)));
            entry.area = int32_t(ntohl(area));
            entry.name = r.text(i, 5);
            if (!visit(entry))
                return Rc::Error;
        }
        return Rc::Ok;
    }

    Rc Sql(const std::string& id, const std::string& sql, const std::vector<SqlValue>& args,
           const SqlRowVisit& visit, int64_t* changed) override
    {
        if (!Ensure())
            return Rc::Error;
        // ?N placeholders become $N.
        std::string text;
        text.reserve(sql.size());
        for (size_t i = 0; i < sql.size(); ++i)
            text += sql[i] == '?' && i + 1 < sql.size() && std::isdigit((unsigned char)sql[i + 1])
                        ? '$'
                        : sql[i];
        std::vector<std::string> numbers(args.size());
        std::vector<const char*> values(args.size());
        std::vector<int> lengths(args.size()), formats(args.size());
        for (size_t i = 0; i < args.size(); ++i) {
            const SqlValue& v = args[i];
            if (v.kind == SqlValue::Int) {
                numbers[i] = std::to_string(v.i);
                values[i] = numbers[i].c_str();
            } else if (v.kind == SqlValue::Bytes) {
                values[i] = v.b.data();
                lengths[i] = int(v.b.size());
                formats[i] = 1;
            }
        }
        const int n = int(args.size());
        PGresult* res = nullptr;
        if (id.empty()) {
            res = PQexecParams(m_conn, text.c_str(), n, nullptr, values.data(), lengths.data(),
                               formats.data(), 1);
        } else {
            if (!m_prepared.count(id)) {
                Result r(PQprepare(m_conn, id.c_str(), text.c_str(), n, nullptr));
                if (!r.ok())
                    return r.duplicate() ? Rc::Duplicate : Rc::Error;
                m_prepared.insert(id);
            }
            res = PQexecPrepared(m_conn, id.c_str(), n, values.data(), lengths.data(),
                                 formats.data(), 1);
        }
        Result r(res);
        if (r.duplicate())
            return Rc::Duplicate;
        if (!r.ok())
            return Rc::Error;
        if (changed)
            *changed = r.changed();
        if (!visit || r.status() != PGRES_TUPLES_OK)
            return Rc::Ok;
        const int columns = PQnfields(r.r);
        std::vector<SqlValue> row(static_cast<size_t>(columns));
        for (int i = 0; i < r.rows(); ++i) {
            for (int c = 0; c < columns; ++c) {
                SqlValue& v = row[size_t(c)];
                if (r.null(i, c)) {
                    v = SqlValue{};
                    continue;
                }
                const char* p = PQgetvalue(r.r, i, c);
                const size_t length = size_t(PQgetlength(r.r, i, c));
                switch (PQftype(r.r, c)) {
                case 16: // bool
                    v = SqlValue::Of(int64_t(length && p[0] ? 1 : 0));
                    break;
                case 20:   // int8
                case 21:   // int2
                case 23: { // int4
                    int64_t x = (length && (p[0] & 0x80)) ? -1 : 0;
                    for (size_t k = 0; k < length; ++k)
                        x = int64_t(uint64_t(x) << 8 | (unsigned char)p[k]);
                    v = SqlValue::Of(x);
                    break;
                }
                default:
                    v = SqlValue::Of(p, length);
                }
            }
            if (!visit(row))
                break;
        }
        return Rc::Ok;
    }

    // PostgreSQL keeps its own pages whole (and checks them where the
    // server is set up to); the integrity pass decodes every row in key
    // order, a batch at a time, so no result holds the whole table.
    bool CheckFiles(bool integrity, const std::set<int32_t>& areas, const CheckVisit& visit,
                    CheckCounts& counts) override
    {
        if (!integrity)
            return true;
        constexpr int64_t kBatch = 2000;
        bool first = true;
        int32_t lastArea = 0;
        std::string lastKey;
        for (;;) {
            Params p;
            if (!first)
                p.num(lastArea).bytes(lastKey);
            p.num(kBatch);
            Result r(first ? Run("checkfirst",
                                 "SELECT area, name_key, rec, octet_length(ext) FROM files ORDER "
                                 "BY area, name_key LIMIT $1",
                                 p, true)
                           : Run("checknext",
                                 "SELECT area, name_key, rec, octet_length(ext) FROM files WHERE "
                                 "(area, name_key) > ($1, $2) ORDER BY area, name_key LIMIT $3",
                                 p, true));
            if (!r.ok()) {
                CheckFinding f;
                f.part = CheckPart::Database;
                f.text = "reading the file records failed after " + std::to_string(counts.records) +
                         " rows: " + Error();
                return visit(f);
            }
            for (int i = 0; i < r.rows(); ++i) {
                ++counts.records;
                const int32_t area = int32_t(Int4(r, i, 0));
                const std::string key = r.text(i, 1);
                const int recLength = PQgetlength(r.r, i, 2);
                const int64_t extLength = Int4(r, i, 3);
                FileRec rec;
                std::memset(&rec, 0, sizeof rec);
                std::memcpy(&rec, PQgetvalue(r.r, i, 2), std::min(kRecSize, size_t(recLength)));
                std::string problem;
                if (size_t(recLength) != kRecSize)
                    problem = "the record part is " + std::to_string(recLength) + " bytes, not " +
                              std::to_string(kRecSize);
                else if (extLength != int64_t(kExtSize))
                    problem = "the long part is " + std::to_string(extLength) + " bytes, not " +
                              std::to_string(kExtSize);
                if (problem.empty())
                    problem = ProblemOfRecord(rec, area);
                if (problem.empty() &&
                    key != NameKey(rec.Name, FieldLength(rec.Name, sizeof rec.Name)))
                    problem = "its key does not match its name";
                if (problem.empty() && !areas.count(area))
                    problem = "its area does not exist";
                if (!problem.empty()) {
                    CheckFinding f;
                    f.part = CheckPart::Record;
                    f.area = area;
                    f.name.assign(rec.Name, FieldLength(rec.Name, sizeof rec.Name));
                    f.text = std::move(problem);
                    if (!visit(f))
                        return false;
                }
                lastArea = area;
                lastKey = key;
            }
            if (r.rows() < kBatch)
                return true;
            first = false;
        }
    }

private:
    // 1 when the hash table is there, 0 when not, -1 on error; `create`
    // makes it when missing. Only its presence is remembered: another
    // client may make it at any time.
    int HashTable(bool create)
    {
        if (m_hashTableKnown)
            return 1;
        if (!Ensure())
            return -1;
        auto there = [this]() -> int {
            Result r(PQexec(m_conn, "SELECT to_regclass('file_hashes') IS NOT NULL"));
            if (!r.ok() || r.rows() != 1)
                return -1;
            return PQgetvalue(r.r, 0, 0)[0] == 't' ? 1 : 0;
        };
        int state = there();
        if (state == 0 && create) {
            Result r(PQexec(m_conn, "CREATE TABLE IF NOT EXISTS file_hashes("
                                    "area integer NOT NULL, "
                                    "name_key bytea NOT NULL, "
                                    "name bytea NOT NULL, "
                                    "size bigint NOT NULL, "
                                    "last_write bigint NOT NULL, "
                                    "file bigint NOT NULL, "
                                    "sha256 bytea NOT NULL, "
                                    "PRIMARY KEY (area, name_key))"));
            // Two clients making it at once: one of them is refused, and
            // the table is there all the same (outside a transaction).
            state = r.ok() ? 1 : m_inTransaction ? -1 : there();
        }
        m_hashTableKnown = state == 1;
        return state;
    }

    // A binary int4 column (big-endian).
    static int64_t Int4(const Result& r, int row, int col)
    {
        if (PQgetlength(r.r, row, col) != 4)
            return -1;
        uint32_t v = 0;
        std::memcpy(&v, PQgetvalue(r.r, row, col), 4);
        return int32_t(ntohl(v));
    }

    static uint64_t Int8(const Result& r, int row, int col)
    {
        unsigned char b[8] = {};
        std::memcpy(b, PQgetvalue(r.r, row, col), std::min<size_t>(8, PQgetlength(r.r, row, col)));
        uint64_t v = 0;
        for (const unsigned char c : b)
            v = (v << 8) | c;
        return v;
    }

    static bool HashOf(const Result& r, int row, FileHash& h)
    {
        h.size = Int8(r, row, 0);
        h.lastWrite = Int8(r, row, 1);
        h.file = Int8(r, row, 2);
        if (PQgetlength(r.r, row, 3) != int(sizeof h.sha256))
            return false;
        std::memcpy(h.sha256, PQgetvalue(r.r, row, 3), sizeof h.sha256);
        return true;
    }

    bool m_hashTableKnown = false;

    // The query of a walk step from (area, name) on, or past it (`after`):
    // whole records or the FileRec part, in key order. With `inArea`, only
    // the rows of that area (a walk of one area reads no rows of the next
    // but the first; see Seek). Only the record's bytes are sent back: the
    // key columns beside them cost the server a third more per row. `id`
    // gets the statement's name.
    static std::string SeekSql(bool after, bool full, bool inArea, std::string& id)
    {
        const std::string cols = full ? "rec, ext" : "rec";
        const std::string op = after ? ">" : ">=";
        id = std::string("seek") + (full ? "f" : "r") + (after ? "a" : "o") + (inArea ? "s" : "");
        if (inArea)
            return "SELECT " + cols + " FROM files WHERE area = $1 AND name_key " + op +
                   " $2 ORDER BY area, name_key LIMIT $3";
        return "SELECT " + cols + " FROM files WHERE (area, name_key) " + op +
               " ($1, $2) ORDER BY area, name_key LIMIT $3";
    }

    // Runs a statement, prepared once per connection under `id`.
    PGresult* Run(const std::string& id, const std::string& sql, Params& p, bool binary)
    {
        if (!Ensure(ReadsOnly(id)))
            return nullptr;
        return Exec(id, sql, p, binary);
    }

    // Runs a statement on the connection as it is.
    PGresult* Exec(const std::string& id, const std::string& sql, Params& p, bool binary)
    {
        p.finish();
        if (!m_prepared.count(id)) {
            Result r(PQprepare(m_conn, id.c_str(), sql.c_str(), int(p.values.size()), nullptr));
            if (!r.ok())
                return nullptr;
            m_prepared.insert(id);
        }
        return PQexecPrepared(m_conn, id.c_str(), int(p.values.size()), p.values.data(),
                              p.lengths.data(), p.formats.data(), binary ? 1 : 0);
    }

    // ---- the walk's next batch, read ahead ---------------------------------
    //
    // A long walk asks for batch after batch. While the caller hands out the
    // rows of one, a thread of the store's own already reads the next (the
    // same query from the last row on), so the server looks for rows while
    // the program works: the two no longer wait for each other. The thread
    // reads the whole result at once, so the server is idle again right
    // away and keeps no snapshot between calls. A walk step that asks for
    // exactly that batch takes it; every other statement first waits for
    // the thread (one statement at a time on the connection); a statement
    // that writes, or a transaction, throws the batch away, so a walk never
    // hands out rows older than this connection's own writes.
    struct Ahead {
        std::string id, sql;
        Params params;
        // The Seek it answers: after (area, name), these rows and limit.
        int32_t area = 0;
        std::string name;
        int32_t stopArea = 0;
        size_t max = 0;
        bool done = false;
        PGresult* result = nullptr; // null when it failed
        ~Ahead() { PQclear(result); }
    };

    void ReadAhead(const FileRec& last, bool full, int32_t stopArea, size_t max)
    {
        auto a = std::make_unique<Ahead>();
        a->sql = SeekSql(true, full, stopArea == last.Area, a->id);
        a->area = last.Area;
        a->name.assign(last.Name, FieldLength(last.Name, sizeof last.Name));
        a->stopArea = stopArea;
        a->max = max;
        a->params.num(last.Area).bytes(NameKey(a->name.data(), a->name.size())).num(int64_t(max));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ahead = std::move(a);
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Work(); });
        m_cv.notify_all();
    }

    void Work()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_cv.wait(lock, [this] { return m_stop || (m_ahead && !m_ahead->done); });
            if (m_stop)
                return;
            Ahead& a = *m_ahead;
            lock.unlock();
            PGresult* r =
                PQstatus(m_conn) == CONNECTION_OK ? Exec(a.id, a.sql, a.params, true) : nullptr;
            if (r && PQresultStatus(r) != PGRES_TUPLES_OK) {
                PQclear(r);
                r = nullptr;
            }
            lock.lock();
            a.result = r;
            a.done = true;
            m_cv.notify_all();
        }
    }

    // Waits until the thread is done with the connection; `keep` keeps the
    // batch it read for the walk's next step.
    void Settle(bool keep)
    {
        if (!m_ahead)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_ahead->done; });
        if (!keep)
            m_ahead.reset();
    }

    static Rc Change(PGresult* res)
    {
        Result r(res);
        if (r.duplicate())
            return Rc::Duplicate;
        if (!r.ok())
            return Rc::Error;
        return r.changed() == 0 ? Rc::NotFound : Rc::Ok;
    }

    static AreaRow AreaOf(const Result& r, int i)
    {
        return {int32_t(std::atol(PQgetvalue(r.r, i, 0))), r.text(i, 1), r.text(i, 2)};
    }

    static Rc User(PGresult* res, UserRow& out)
    {
        Result r(res);
        if (!r.ok())
            return Rc::Error;
        if (r.rows() == 0)
            return Rc::NotFound;
        out = {uint32_t(std::atoll(PQgetvalue(r.r, 0, 0))), r.text(0, 1)};
        return Rc::Ok;
    }

    PGconn* m_conn;
    std::string m_conninfo;
    std::string m_error;
    std::set<std::string> m_prepared;
    bool m_inTransaction = false;
    std::unique_ptr<Ahead> m_ahead;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;
};

// 1 when the database holds our tables of the right version, 0 when it
// holds none of them, -1 when another version or on error.
int SchemaState(PGconn* conn)
{
    Result r(PQexec(conn, "SELECT to_regclass('wcsrv_schema') IS NOT NULL, "
                          "to_regclass('files') IS NOT NULL"));
    if (!r.ok() || r.rows() != 1)
        return -1;
    const bool schema = PQgetvalue(r.r, 0, 0)[0] == 't', files = PQgetvalue(r.r, 0, 1)[0] == 't';
    if (!schema)
        return files ? -1 : 0;
    Result v(PQexec(conn, "SELECT version FROM wcsrv_schema"));
    if (!v.ok() || v.rows() != 1 || std::atoi(PQgetvalue(v.r, 0, 0)) != kSchemaVersion)
        return -1;
    return 1;
}

PGconn* Connect(const std::string& conninfo, std::string& error)
{
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        error = std::string("cannot reach the database: ") + PQerrorMessage(conn);
        PQfinish(conn);
        return nullptr;
    }
    PQsetClientEncoding(conn, "UTF8");
    // Notices (e.g. of CREATE TABLE) are not for the user.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    return conn;
}

} // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& conninfo, bool create,
                                         std::string& error, OpenResult* why)
{
    OpenResult dummy;
    OpenResult& w = why ? *why : dummy;
    PGconn* conn = Connect(conninfo, error);
    if (!conn) {
        w = OpenResult::Unreachable;
        return nullptr;
    }
    const int state = SchemaState(conn);
    if (create && state == 0) {
        const std::string sql = std::string("BEGIN;") + kPgSchemaSql +
                                "INSERT INTO wcsrv_schema VALUES(" +
                                std::to_string(kSchemaVersion) + "); COMMIT;";
        Result r(PQexec(conn, sql.c_str()));
        if (!r.ok()) {
            error = std::string("cannot create the database: ") + PQerrorMessage(conn);
            PQfinish(conn);
            w = OpenResult::BadDatabase;
            return nullptr;
        }
    } else if (state != 1) {
        error = state == 0 ? "no BBS in the database " + conninfo
                           : "the database " + conninfo +
                                 " holds no BBS of this version (or other tables of that name)";
        w = state == 0 ? OpenResult::NoBbs : OpenResult::BadDatabase;
        PQfinish(conn);
        return nullptr;
    }
    w = OpenResult::Ok;
    return std::make_unique<PgStore>(conn, conninfo);
}

bool PostgresStoreExists(const std::string& conninfo)
{
    std::string error;
    PGconn* conn = Connect(conninfo, error);
    if (!conn)
        return false;
    const bool exists = SchemaState(conn) != 0;
    PQfinish(conn);
    return exists;
}

} // namespace wcstore
