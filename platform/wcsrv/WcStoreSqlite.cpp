// The record store on SQLite: wcsrv.db in the BBS home folder.
#include "WcStore.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <type_traits>

namespace wcstore
{

Rc Store::InsertMany(const FullFileRec* recs, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (const Rc rc = Insert(recs[i]); rc != Rc::Ok)
            return rc;
    return Rc::Ok;
}

std::string Utf8Key(const std::string& text)
{
    std::string k = text;
    for (char& ch : k)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch + 32);
    return k;
}

std::string NameKey(const char* name, size_t length)
{
    return Utf8Key(Latin1ToUtf8(name, length));
}

bool IsPostgresSetting(const std::string& setting)
{
    if (setting.rfind("postgresql://", 0) == 0 || setting.rfind("postgres://", 0) == 0)
        return true;
    // key=value form: the first word is a key followed by '='.
    size_t i = 0;
    while (i < setting.size() && setting[i] == ' ')
        ++i;
    const size_t start = i;
    while (i < setting.size() &&
           (std::isalnum(static_cast<unsigned char>(setting[i])) || setting[i] == '_'))
        ++i;
    while (i < setting.size() && setting[i] == ' ')
        ++i;
    return i > start && i < setting.size() && setting[i] == '=';
}

std::string DatabaseSetting()
{
    const char* v = std::getenv("WCSRV_DATABASE");
    return v ? v : "";
}

std::unique_ptr<Store> OpenStore(const std::string& home, const std::string& setting, bool create,
                                 std::string& error, OpenResult* why)
{
    if (IsPostgresSetting(setting))
        return OpenPostgresStore(setting, create, error, why);
    return OpenSqliteStore(home, create, error, why);
}

bool StoreExists(const std::string& home, const std::string& setting)
{
    if (IsPostgresSetting(setting))
        return PostgresStoreExists(setting);
    struct stat sb {
    };
    return ::stat(DatabasePath(home).c_str(), &sb) == 0;
}

namespace
{

enum Slot {
    sSeekFrom,
    sSeekAfter,
    sSeekFromFull,
    sSeekAfterFull,
    sAreaFrom,
    sAreaAfter,
    sAreaFromFull,
    sAreaAfterFull,
    sNextArea,
    sNextAreaFull,
    sByKey,
    sInsert,
    sUpdate,
    sDelete,
    sArea,
    sAreas,
    sAddArea,
    sAreaCount,
    sFilesInArea,
    sSameName,
    sUserByName,
    sFirstUser,
    sNextUser,
    sUsers,
    sAddUser,
    sAddUserId,
    sBbs,
    sPutBbs,
    sSlotCount
};

std::string SqlOf(Slot slot)
{
    const std::string cols = kFileColumns;
    // The walk reads only the FileRec part's columns unless whole records
    // are wanted: the long description and the extension blob stay on disk.
    const std::string recCols =
        "area, name, description, password, size, file_time, last_accessed, never_overwrite, "
        "never_delete, free_file, copy_before_download, failed_scan, free_time, downloads, cost, "
        "uploader_id, uploader_name, has_long_description, NULL, opaque, NULL, text_image";
    switch (slot) {
    case sSeekFrom:
        return "SELECT " + recCols +
               " FROM files WHERE (area, name) >= (?1, ?2) ORDER BY area, name";
    case sSeekAfter:
        return "SELECT " + recCols +
               " FROM files WHERE (area, name) > (?1, ?2) ORDER BY area, name";
    case sSeekFromFull:
        return "SELECT " + cols + " FROM files WHERE (area, name) >= (?1, ?2) ORDER BY area, name";
    case sSeekAfterFull:
        return "SELECT " + cols + " FROM files WHERE (area, name) > (?1, ?2) ORDER BY area, name";
    // A walk's rows of one area: the key's two parts as two terms, so the
    // seek bounds the scan and no row compares a row value.
    case sAreaFrom:
        return "SELECT " + recCols + " FROM files WHERE area = ?1 AND name >= ?2 ORDER BY name";
    case sAreaAfter:
        return "SELECT " + recCols + " FROM files WHERE area = ?1 AND name > ?2 ORDER BY name";
    case sAreaFromFull:
        return "SELECT " + cols + " FROM files WHERE area = ?1 AND name >= ?2 ORDER BY name";
    case sAreaAfterFull:
        return "SELECT " + cols + " FROM files WHERE area = ?1 AND name > ?2 ORDER BY name";
    // The first row after an area: where a walk of that area ends.
    case sNextArea:
        return "SELECT " + recCols + " FROM files WHERE area > ?1 ORDER BY area, name LIMIT 1";
    case sNextAreaFull:
        return "SELECT " + cols + " FROM files WHERE area > ?1 ORDER BY area, name LIMIT 1";
    case sByKey:
        return "SELECT " + cols + " FROM files WHERE area = ?1 AND name = ?2";
    case sInsert:
        return kInsertFileSql;
    case sUpdate:
        return kUpdateFileSql;
    case sDelete:
        return "DELETE FROM files WHERE area = ?1 AND name = ?2";
    case sArea:
        return "SELECT number, name, folder FROM areas WHERE number = ?1";
    case sAreas:
        return "SELECT number, name, folder FROM areas ORDER BY number";
    case sAddArea:
        return "INSERT INTO areas(number, name, folder) VALUES(?1, ?2, ?3)";
    case sAreaCount:
        return "SELECT coalesce(max(number), 0) FROM areas";
    case sFilesInArea:
        return "SELECT count(*) FROM files WHERE area = ?1";
    case sSameName:
        return "SELECT area FROM files WHERE name = ?1 AND area <> ?2 ORDER BY area";
    case sUserByName:
        return "SELECT id, name FROM users WHERE name = ?1";
    case sFirstUser:
        return "SELECT id, name FROM users ORDER BY name LIMIT 1";
    case sNextUser:
        return "SELECT id, name FROM users WHERE name > coalesce((SELECT name FROM users WHERE id "
               "= ?2), ?1) ORDER BY name LIMIT 1";
    case sUsers:
        return "SELECT id, name FROM users ORDER BY id";
    case sAddUser:
        return "INSERT INTO users(name) VALUES(?1)";
    case sAddUserId:
        return "INSERT INTO users(id, name) VALUES(?2, ?1)";
    case sBbs:
        return "SELECT sysop, makewild FROM bbs WHERE id = 1";
    case sPutBbs:
        return "INSERT INTO bbs(id, sysop, makewild) VALUES(1, ?1, ?2)";
    case sSlotCount:
        break;
    }
    return {};
}

std::string ColumnString(sqlite3_stmt* st, int col)
{
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return t ? std::string(t, size_t(sqlite3_column_bytes(st, col))) : std::string();
}

class SqliteStore final : public Store
{
public:
    explicit SqliteStore(sqlite3* db) : m_db(db) {}
    ~SqliteStore() override
    {
        for (sqlite3_stmt*& st : m_stmts)
            sqlite3_finalize(st);
        FinalizeHashStatements();
        for (auto& [id, st] : m_sqlStmts)
            sqlite3_finalize(st);
        sqlite3_close(m_db);
    }

    bool IsPostgres() const override { return false; }
    std::string Error() const override { return sqlite3_errmsg(m_db); }
    // A query's start (a new read of the database, a seek) costs as much
    // as a hundred rows: a walk of FileRec parts reads 512 at a time.
    // Whole records read ahead 128 at a time, about 230 KB.
    size_t WalkBatch() const override { return 512; }
    size_t WalkBatchFull() const override { return 128; }

    bool Begin() override { return Exec(m_db, "BEGIN IMMEDIATE"); }
    bool Commit() override { return Exec(m_db, "COMMIT"); }
    void Rollback() override { Exec(m_db, "ROLLBACK"); }

    Rc GetBbs(std::string& sysop, std::string& makewild) override
    {
        sqlite3_stmt* st = Prepare(sBbs);
        if (!st)
            return Rc::Error;
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            sysop = ColumnString(st, 0);
            const auto* b = static_cast<const char*>(sqlite3_column_blob(st, 1));
            makewild.assign(b ? b : "", b ? size_t(sqlite3_column_bytes(st, 1)) : 0);
        }
        return Done(st, rc);
    }

    Rc PutBbs(const std::string& sysop, const std::string& makewild) override
    {
        sqlite3_stmt* st = Prepare(sPutBbs);
        if (!st)
            return Rc::Error;
        sqlite3_bind_text(st, 1, sysop.data(), int(sysop.size()), SQLITE_TRANSIENT);
        if (!makewild.empty())
            sqlite3_bind_blob(st, 2, makewild.data(), int(makewild.size()), SQLITE_TRANSIENT);
        return Change(st);
    }

    Rc AreaCount(int32_t& n) override { return Int(Prepare(sAreaCount), n); }

    Rc GetArea(int32_t number, AreaRow* out) override
    {
        sqlite3_stmt* st = Prepare(sArea);
        if (!st)
            return Rc::Error;
        sqlite3_bind_int(st, 1, number);
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW && out)
            *out = AreaOf(st);
        return Done(st, rc);
    }

    Rc ListAreas(std::vector<AreaRow>& out) override
    {
        out.clear();
        sqlite3_stmt* st = Prepare(sAreas);
        if (!st)
            return Rc::Error;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            out.push_back(AreaOf(st));
        sqlite3_reset(st);
        return rc == SQLITE_DONE ? Rc::Ok : Rc::Error;
    }

    Rc AddArea(const AreaRow& a) override
    {
        sqlite3_stmt* st = Prepare(sAddArea);
        if (!st)
            return Rc::Error;
        sqlite3_bind_int(st, 1, a.number);
        sqlite3_bind_text(st, 2, a.name.data(), int(a.name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, a.folder.data(), int(a.folder.size()), SQLITE_TRANSIENT);
        return Change(st);
    }

    Rc AddUser(const std::string& name, uint32_t id) override
    {
        sqlite3_stmt* st = Prepare(id ? sAddUserId : sAddUser);
        if (!st)
            return Rc::Error;
        sqlite3_bind_text(st, 1, name.data(), int(name.size()), SQLITE_TRANSIENT);
        if (id)
            sqlite3_bind_int64(st, 2, id);
        return Change(st);
    }

    Rc UserByName(const std::string& name, UserRow& out) override
    {
        sqlite3_stmt* st = Prepare(sUserByName);
        if (!st)
            return Rc::Error;
        sqlite3_bind_text(st, 1, name.data(), int(name.size()), SQLITE_TRANSIENT);
        return User(st, out);
    }

    Rc FirstUser(UserRow& out) override { return User(Prepare(sFirstUser), out); }

    Rc NextUser(const std::string& name, uint32_t id, UserRow& out) override
    {
        sqlite3_stmt* st = Prepare(sNextUser);
        if (!st)
            return Rc::Error;
        sqlite3_bind_text(st, 1, name.data(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(st, 2, int64_t(id));
        return User(st, out);
    }

    Rc ListUsers(std::vector<UserRow>& out) override
    {
        out.clear();
        sqlite3_stmt* st = Prepare(sUsers);
        if (!st)
            return Rc::Error;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            out.push_back({uint32_t(sqlite3_column_int64(st, 0)), ColumnString(st, 1)});
        sqlite3_reset(st);
        return rc == SQLITE_DONE ? Rc::Ok : Rc::Error;
    }

    Rc CountFiles(int32_t area, int32_t& n) override
    {
        sqlite3_stmt* st = Prepare(sFilesInArea);
        if (!st)
            return Rc::Error;
        sqlite3_bind_int(st, 1, area);
        return Int(st, n);
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
        if (stopArea != area) {
            sqlite3_stmt* st = Prepare(full ? (after ? sSeekAfterFull : sSeekFromFull)
                                            : (after ? sSeekAfter : sSeekFrom));
            if (!st)
                return Rc::Error;
            BindKey(st, area, name, nameLength);
            return ReadRows(st, full, stopArea, rows, max, count);
        }
        // A walk of one area: its rows, then, when they end before `max`,
        // the first row after it. Each statement is reset as soon as its
        // rows are read, so nothing stays open between calls.
        sqlite3_stmt* st = Prepare(full ? (after ? sAreaAfterFull : sAreaFromFull)
                                        : (after ? sAreaAfter : sAreaFrom));
        if (!st)
            return Rc::Error;
        BindKey(st, area, name, nameLength);
        if (const Rc rc = ReadRows(st, full, -1, rows, max, count); rc != Rc::Ok)
            return rc;
        if (count == max)
            return Rc::Ok;
        st = Prepare(full ? sNextAreaFull : sNextArea);
        if (!st)
            return Rc::Error;
        sqlite3_bind_int(st, 1, area);
        size_t next = 0;
        const Rc rc = ReadRows(st, full, -1, rows + count, 1, next);
        count += next;
        return rc;
    }

    Rc Read(int32_t area, const char* name, size_t nameLength, FullFileRec* out) override
    {
        sqlite3_stmt* st = Prepare(sByKey);
        if (!st)
            return Rc::Error;
        BindKey(st, area, name, nameLength);
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW && out)
            ReadFullRec(st, *out);
        return Done(st, rc);
    }

    Rc Insert(const FullFileRec& rec) override
    {
        sqlite3_stmt* st = Prepare(sInsert);
        if (!st)
            return Rc::Error;
        BindFullRec(st, rec);
        return Change(st);
    }

    Rc Update(int32_t area, const char* name, size_t nameLength, const FullFileRec& rec) override
    {
        sqlite3_stmt* st = Prepare(sUpdate);
        if (!st)
            return Rc::Error;
        BindFullRec(st, rec);
        sqlite3_bind_int(st, 23, area);
        const std::string u = Latin1ToUtf8(name, nameLength);
        sqlite3_bind_text(st, 24, u.data(), int(u.size()), SQLITE_TRANSIENT);
        return Change(st);
    }

    Rc Remove(int32_t area, const char* name, size_t nameLength) override
    {
        sqlite3_stmt* st = Prepare(sDelete);
        if (!st)
            return Rc::Error;
        BindKey(st, area, name, nameLength);
        return Change(st);
    }

    Rc AreasWithName(const char* name, size_t nameLength, int32_t except,
                     std::vector<int32_t>& out) override
    {
        out.clear();
        sqlite3_stmt* st = Prepare(sSameName);
        if (!st)
            return Rc::Error;
        const std::string u = Latin1ToUtf8(name, nameLength);
        sqlite3_bind_text(st, 1, u.data(), int(u.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 2, except);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            out.push_back(sqlite3_column_int(st, 0));
        sqlite3_reset(st);
        return rc == SQLITE_DONE ? Rc::Ok : Rc::Error;
    }

    // ---- content hashes of files ----

    Rc GetFileHash(int32_t area, const char* name, size_t nameLength, FileHash& out) override
    {
        const int ready = HashTable(false);
        if (ready <= 0)
            return ready == 0 ? Rc::NotFound : Rc::Error;
        sqlite3_stmt* st = HashStatement(m_hashGet, "SELECT size, last_write, file, sha256 FROM "
                                                    "file_hashes WHERE area = ?1 AND name = ?2");
        if (!st)
            return Rc::Error;
        BindKey(st, area, name, nameLength);
        const int rc = sqlite3_step(st);
        // A row without a whole hash counts as none kept: the file is read again.
        if (rc == SQLITE_ROW && !HashOf(st, 0, out)) {
            sqlite3_reset(st);
            return Rc::NotFound;
        }
        return Done(st, rc);
    }

    Rc PutFileHash(int32_t area, const char* name, size_t nameLength, const FileHash& hash) override
    {
        if (HashTable(true) <= 0)
            return Rc::Error;
        sqlite3_stmt* st = HashStatement(
            m_hashPut, "INSERT OR REPLACE INTO file_hashes(area, name, size, last_write, file, "
                       "sha256) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        if (!st)
            return Rc::Error;
        BindKey(st, area, name, nameLength);
        sqlite3_bind_int64(st, 3, int64_t(hash.size));
        sqlite3_bind_int64(st, 4, int64_t(hash.lastWrite));
        sqlite3_bind_int64(st, 5, int64_t(hash.file));
        sqlite3_bind_blob(st, 6, hash.sha256, sizeof hash.sha256, SQLITE_TRANSIENT);
        return Change(st);
    }

    Rc EachFileHash(const std::function<bool(const FileHashEntry&)>& visit) override
    {
        const int ready = HashTable(false);
        if (ready <= 0)
            return ready == 0 ? Rc::Ok : Rc::Error;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(m_db,
                               "SELECT size, last_write, file, sha256, area, name FROM "
                               "file_hashes ORDER BY area, name",
                               -1, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            return Rc::Error;
        }
        int rc;
        bool stopped = false;
        while (!stopped && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            FileHashEntry entry;
            if (!HashOf(st, 0, entry.hash))
                continue;
            entry.area = sqlite3_column_int(st, 4);
            char field[16] = {};
            Utf8ToLatin1Field(sqlite3_column_text(st, 5), sqlite3_column_bytes(st, 5), field,
                              sizeof field);
            entry.name.assign(field, FieldLength(field, sizeof field));
            stopped = !visit(entry);
        }
        sqlite3_finalize(st);
        return !stopped && rc == SQLITE_DONE ? Rc::Ok : Rc::Error;
    }

    Rc Sql(const std::string& id, const std::string& sql, const std::vector<SqlValue>& args,
           const SqlRowVisit& visit, int64_t* changed) override
    {
        sqlite3_stmt* st = nullptr;
        if (!id.empty()) {
            auto it = m_sqlStmts.find(id);
            if (it != m_sqlStmts.end()) {
                st = it->second;
                sqlite3_reset(st);
                sqlite3_clear_bindings(st);
            }
        }
        if (!st) {
            if (sqlite3_prepare_v3(m_db, sql.c_str(), -1,
                                   id.empty() ? 0 : SQLITE_PREPARE_PERSISTENT, &st,
                                   nullptr) != SQLITE_OK) {
                sqlite3_finalize(st);
                return Rc::Error;
            }
            if (!id.empty())
                m_sqlStmts[id] = st;
        }
        for (size_t i = 0; i < args.size(); ++i) {
            const SqlValue& v = args[i];
            const int n = int(i + 1);
            if (v.kind == SqlValue::Int)
                sqlite3_bind_int64(st, n, v.i);
            else if (v.kind == SqlValue::Bytes)
                sqlite3_bind_blob(st, n, v.b.data(), int(v.b.size()), SQLITE_STATIC);
            else
                sqlite3_bind_null(st, n);
        }
        int rc;
        bool going = true;
        std::vector<SqlValue> row;
        while (going && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            const int columns = sqlite3_column_count(st);
            row.resize(size_t(columns));
            for (int c = 0; c < columns; ++c) {
                SqlValue& v = row[size_t(c)];
                switch (sqlite3_column_type(st, c)) {
                case SQLITE_NULL:
                    v = SqlValue{};
                    break;
                case SQLITE_INTEGER:
                case SQLITE_FLOAT:
                    v = SqlValue::Of(int64_t(sqlite3_column_int64(st, c)));
                    break;
                default: {
                    const void* b = sqlite3_column_blob(st, c);
                    v = SqlValue::Of(b ? b : "", size_t(sqlite3_column_bytes(st, c)));
                }
                }
            }
            going = !visit || visit(row);
        }
        if (changed)
            *changed = sqlite3_changes64(m_db);
        const Rc result = !going || rc == SQLITE_DONE ? Rc::Ok
                          : rc == SQLITE_CONSTRAINT   ? Rc::Duplicate
                                                      : Rc::Error;
        sqlite3_reset(st);
        if (id.empty())
            sqlite3_finalize(st);
        return result;
    }

    bool CheckFiles(bool integrity, const std::set<int32_t>& areas, const CheckVisit& visit,
                    CheckCounts& counts) override
    {
        if (!integrity)
            return true;
        auto database = [&](std::string text) {
            CheckFinding f;
            f.part = CheckPart::Database;
            f.text = std::move(text);
            return visit(f);
        };
        // SQLite's own check of every page, index and constraint; at most
        // 100 messages (a damaged file can give thousands).
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(m_db, "PRAGMA integrity_check(100)", -1, &st, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(st);
            return database(std::string("the integrity check cannot run: ") + sqlite3_errmsg(m_db));
        }
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            const std::string line = ColumnString(st, 0);
            if (line != "ok" && !database("integrity check: " + line)) {
                sqlite3_finalize(st);
                return false;
            }
        }
        const std::string failure = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(m_db);
        sqlite3_finalize(st);
        if (!failure.empty() && !database("the integrity check failed: " + failure))
            return false;

        // Every file row, decoded as a walk decodes it.
        const std::string sql =
            std::string("SELECT ") + kFileColumns + " FROM files ORDER BY area, name";
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            return database(std::string("the file records cannot be read: ") +
                            sqlite3_errmsg(m_db));
        }
        FullFileRec full;
        bool going = true;
        while (going && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            ++counts.records;
            std::string problem = ProblemOfFileRow(st);
            ReadFullRec(st, full);
            const int32_t area = sqlite3_column_int(st, 0);
            if (problem.empty())
                problem = ProblemOfRecord(full.Rec, area);
            if (problem.empty() && !areas.count(area))
                problem = "its area does not exist";
            if (problem.empty())
                continue;
            CheckFinding f;
            f.part = CheckPart::Record;
            f.area = area;
            f.name.assign(full.Rec.Name, FieldLength(full.Rec.Name, sizeof full.Rec.Name));
            f.text = std::move(problem);
            going = visit(f);
        }
        const std::string readFailure =
            going && rc != SQLITE_DONE ? std::string(sqlite3_errmsg(m_db)) : std::string();
        sqlite3_finalize(st);
        if (!going)
            return false;
        if (!readFailure.empty())
            return database("reading the file records failed after " +
                            std::to_string(counts.records) + " rows: " + readFailure);
        return true;
    }

private:
    // Steps `st` into rows[0..max) and resets it. Stops after the first row
    // of an area other than `stopArea` (stopArea < 0: never).
    template <typename Row>
    static Rc ReadRows(sqlite3_stmt* st, bool full, int32_t stopArea, Row* rows, size_t max,
                       size_t& count)
    {
        int rc = SQLITE_DONE;
        while (count < max && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            Row& row = rows[count++];
            if constexpr (std::is_same_v<Row, FullFileRec>) {
                if (full)
                    ReadFullRec(st, row);
                else
                    ReadFileRec(st, row.Rec);
            } else {
                ReadFileRec(st, row);
            }
            if (stopArea >= 0 && RecOf(row).Area != stopArea)
                break;
        }
        sqlite3_reset(st);
        return rc == SQLITE_ROW || rc == SQLITE_DONE ? Rc::Ok : Rc::Error;
    }

    // 1 when the hash table is there, 0 when not, -1 on error; `create`
    // makes it when missing. Only its presence is remembered: another
    // process may make it at any time.
    int HashTable(bool create)
    {
        if (m_hashTableKnown)
            return 1;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(m_db,
                               "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                               "name = 'file_hashes'",
                               -1, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            return -1;
        }
        const int rc = sqlite3_step(st);
        const bool there = rc == SQLITE_ROW && sqlite3_column_int(st, 0) > 0;
        sqlite3_finalize(st);
        if (rc != SQLITE_ROW)
            return -1;
        if (!there && create &&
            !Exec(m_db, "CREATE TABLE IF NOT EXISTS file_hashes("
                        "area INTEGER NOT NULL, "
                        "name TEXT NOT NULL COLLATE NOCASE, "
                        "size INTEGER NOT NULL, "
                        "last_write INTEGER NOT NULL, "
                        "file INTEGER NOT NULL, "
                        "sha256 BLOB NOT NULL, "
                        "PRIMARY KEY (area, name)) WITHOUT ROWID"))
            return -1;
        m_hashTableKnown = there || create;
        return m_hashTableKnown ? 1 : 0;
    }

    // A hash statement, prepared once and then reset with its bindings cleared.
    sqlite3_stmt* HashStatement(sqlite3_stmt*& st, const char* sql)
    {
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
            return st;
        }
        if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(st);
            st = nullptr;
            m_hashTableKnown = false; // e.g. made in a transaction that was rolled back
        }
        return st;
    }

    static bool HashOf(sqlite3_stmt* st, int first, FileHash& h)
    {
        h.size = uint64_t(sqlite3_column_int64(st, first));
        h.lastWrite = uint64_t(sqlite3_column_int64(st, first + 1));
        h.file = uint64_t(sqlite3_column_int64(st, first + 2));
        const void* blob = sqlite3_column_blob(st, first + 3);
        if (!blob || sqlite3_column_bytes(st, first + 3) != int(sizeof h.sha256))
            return false;
        std::memcpy(h.sha256, blob, sizeof h.sha256);
        return true;
    }

    void FinalizeHashStatements()
    {
        sqlite3_finalize(m_hashGet);
        sqlite3_finalize(m_hashPut);
        m_hashGet = m_hashPut = nullptr;
    }

    std::map<std::string, sqlite3_stmt*> m_sqlStmts; // Sql's statements by id
    sqlite3_stmt* m_hashGet = nullptr;
    sqlite3_stmt* m_hashPut = nullptr;
    bool m_hashTableKnown = false;

    // The cached statement of a slot, reset and with its bindings cleared.
    sqlite3_stmt* Prepare(Slot slot)
    {
        sqlite3_stmt*& st = m_stmts[slot];
        if (!st) {
            const std::string sql = SqlOf(slot);
            if (sqlite3_prepare_v3(m_db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st,
                                   nullptr) != SQLITE_OK) {
                sqlite3_finalize(st);
                st = nullptr;
            }
        } else {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
        return st;
    }

    static void BindKey(sqlite3_stmt* st, int area, const char* name, size_t length)
    {
        sqlite3_bind_int(st, 1, area);
        const std::string u = Latin1ToUtf8(name, length);
        sqlite3_bind_text(st, 2, u.data(), int(u.size()), SQLITE_TRANSIENT);
    }

    static Rc Done(sqlite3_stmt* st, int rc)
    {
        sqlite3_reset(st);
        return rc == SQLITE_ROW ? Rc::Ok : rc == SQLITE_DONE ? Rc::NotFound : Rc::Error;
    }

    // Runs a changing statement: NotFound when it changed no row.
    Rc Change(sqlite3_stmt* st)
    {
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc == SQLITE_CONSTRAINT)
            return Rc::Duplicate;
        if (rc != SQLITE_DONE)
            return Rc::Error;
        return sqlite3_changes(m_db) == 0 ? Rc::NotFound : Rc::Ok;
    }

    static Rc Int(sqlite3_stmt* st, int32_t& n)
    {
        if (!st)
            return Rc::Error;
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW)
            n = sqlite3_column_int(st, 0);
        sqlite3_reset(st);
        return rc == SQLITE_ROW ? Rc::Ok : Rc::Error;
    }

    static AreaRow AreaOf(sqlite3_stmt* st)
    {
        return {sqlite3_column_int(st, 0), ColumnString(st, 1), ColumnString(st, 2)};
    }

    static Rc User(sqlite3_stmt* st, UserRow& out)
    {
        if (!st)
            return Rc::Error;
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW)
            out = {uint32_t(sqlite3_column_int64(st, 0)), ColumnString(st, 1)};
        return Done(st, rc);
    }

    sqlite3* m_db;
    sqlite3_stmt* m_stmts[sSlotCount] = {};
};

} // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& home, bool create, std::string& error,
                                       OpenResult* why)
{
    OpenResult dummy;
    OpenResult& w = why ? *why : dummy;
    const std::string path = DatabasePath(home);
    struct stat sb {
    };
    if (!create && (::stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode))) {
        w = OpenResult::NoBbs;
        error = "no BBS database in " + home;
        return nullptr;
    }
    sqlite3* db = OpenDatabase(home, create, error);
    if (!db) {
        w = OpenResult::BadDatabase;
        return nullptr;
    }
    w = OpenResult::Ok;
    return std::make_unique<SqliteStore>(db);
}

} // namespace wcstore
