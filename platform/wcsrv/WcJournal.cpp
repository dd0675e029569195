// The run journal of the server library (WcJournal.h, server/wcsrv.h): runs
// begun and ended, the entries the record writes store beside their change,
// the trash of the files a run deletes, and undo.
#include "WcJournal.h"

#include "WcJournalStore.h"

// Only the contract's operations leave the library.
#pragma GCC visibility push(default)
#include "WcFault.h"
#include "server/wcsrv.h"
#pragma GCC visibility pop

#include <dirent.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace wcsrv::journal
{

namespace
{

using wcstore::Rc;
namespace js = wcstore::journal;

static_assert(int(js::kRecordAdded) == int(WC_ENTRY_RECORD_ADDED));
static_assert(int(js::kRecordChanged) == int(WC_ENTRY_RECORD_CHANGED));
static_assert(int(js::kRecordDeleted) == int(WC_ENTRY_RECORD_DELETED));
static_assert(int(js::kFileTrashed) == int(WC_ENTRY_FILE_TRASHED));
static_assert(int(js::kFileCreated) == int(WC_ENTRY_FILE_CREATED));
static_assert(int(js::kFileMoved) == int(WC_ENTRY_FILE_MOVED));

constexpr uint32_t kBadArgument = WC_INVALID_OBJECT_ID;
constexpr uint32_t kStorageError = WC_NO_ACTION_TAKEN;

// The open run of this process.
struct State {
    uint32_t run = 0;
    uint32_t trashDays = 0;
    uint32_t seq = 0;     // the last entry committed
    uint32_t pending = 0; // the last entry of the transaction under way
    std::string refused;  // the trash folder the last refused begin could not write
    // The areas' folders, read by the first rename of the run: which area
    // a renamed file left (the areas are the sysop's setup, not changed
    // by a batch).
    bool foldersRead = false;
    std::vector<std::pair<int32_t, std::string>> folders;
};
State g;

template <typename T> T Fail(uint32_t code, T value)
{
    lib::SetError(code);
    return value;
}

int64_t Now()
{
    return int64_t(std::time(nullptr));
}

std::string FieldText(const char* field, size_t size)
{
    return std::string(field, wcstore::FieldLength(field, size));
}

std::string NameOf(const FullFileRec& rec)
{
    return FieldText(rec.Rec.Name, sizeof rec.Rec.Name);
}

// Copies `text` into a fixed field, cut to leave room for its NUL.
void SetField(char* field, size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

// The text cut to at most `max` bytes, not inside a UTF-8 character.
std::string CutUtf8(std::string text, size_t max)
{
    if (text.size() <= max)
        return text;
    size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    text.resize(n);
    return text;
}

std::string Machine()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return CutUtf8(name, 63);
}

std::string UserName()
{
    struct passwd pw {
    };
    struct passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found)
        return CutUtf8(found->pw_name, 63);
    const char* user = std::getenv("USER");
    return CutUtf8(user ? user : "", 63);
}

// ---- entries ----------------------------------------------------------------

// Stores an entry of the open run inside the transaction under way.
bool StoreEntry(wcstore::Store& store, js::EntryRow& e)
{
    // The fault kind "JournalEntry" stands for an entry the store refuses
    // after the change itself was written.
    if (lib::FaultKind("JournalEntry"))
        return Fail(kStorageError, false);
    e.run = g.run;
    e.seq = g.pending + 1;
    if (js::InsertEntry(store, e) != Rc::Ok)
        return Fail(kStorageError, false);
    ++g.pending;
    return true;
}

js::EntryRow RecordEntry(int32_t kind, const FullFileRec* before, const FullFileRec* after)
{
    js::EntryRow e;
    e.kind = kind;
    const FullFileRec& rec = after ? *after : *before;
    e.area = rec.Rec.Area;
    e.name = NameOf(rec);
    if (before) {
        e.hasBefore = true;
        e.before = *before;
    }
    if (after) {
        e.hasAfter = true;
        e.after = *after;
    }
    return e;
}

js::EntryRow FileEntry(int32_t kind, int32_t area, const std::string& name, const std::string& path,
                       const std::string& trash)
{
    js::EntryRow e;
    e.kind = kind;
    e.area = area;
    e.name = name.substr(0, sizeof(FileRec::Name) - 1);
    e.path = path;
    e.trash = trash;
    return e;
}

// Runs `body` in a transaction of its own; false (error set) when it or
// the commit failed, and then nothing of it stays.
template <typename Body> bool OwnTransaction(wcstore::Store& store, Body body)
{
    if (!store.Begin())
        return Fail(kStorageError, false);
    TransactionBegun();
    if (!body()) {
        store.Rollback();
        TransactionEnded(false);
        return false;
    }
    if (lib::FaultKind("Commit") || !store.Commit()) {
        store.Rollback();
        TransactionEnded(false);
        return Fail(kStorageError, false);
    }
    TransactionEnded(true);
    return true;
}

// ---- folders and the trash --------------------------------------------------

std::string Parent(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFolder(const std::string& path)
{
    struct stat sb {
    };
    return ::stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

bool Exists(const std::string& path)
{
    struct stat sb {
    };
    return ::lstat(path.c_str(), &sb) == 0;
}

bool MakeFolders(const std::string& path)
{
    if (path.empty() || IsFolder(path))
        return true;
    if (!MakeFolders(Parent(path)))
        return false;
    return ::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && IsFolder(path));
}

bool SameDevice(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

std::string HomeTrash(const std::string& home)
{
    return home + "/trash";
}

std::string AreaTrash(const std::string& folder)
{
    return folder + "/.trash";
}

std::string RunFolder(uint32_t run)
{
    return "run-" + std::to_string(run);
}

// Where the trash of files of an area folder lies: beside the BBS home's
// other folders when the two share a file system, else inside the area
// folder, so a file goes to the trash by a rename.
std::string TrashRoot(const std::string& home, const std::string& folder)
{
    return SameDevice(home, folder) ? HomeTrash(home) : AreaTrash(folder);
}

// The areas with their disk folders; false when the store cannot tell.
bool AreaFolders(wcstore::Store& store, const std::string& home,
                 std::vector<std::pair<int32_t, std::string>>& out)
{
    std::vector<wcstore::AreaRow> areas;
    if (store.ListAreas(areas) != Rc::Ok)
        return false;
    out.clear();
    for (const wcstore::AreaRow& a : areas) {
        std::string folder = wcstore::ResolveFolder(home, a.folder);
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        out.emplace_back(a.number, folder);
    }
    return true;
}

// Whether every trash folder a run may put files into can be written;
// `bad` gets the first that cannot. Folders of areas that are not there
// hold no files to delete and are passed over.
int TrashWritable(wcstore::Store& store, const std::string& home, std::string& bad)
{
    std::vector<std::pair<int32_t, std::string>> folders;
    if (!AreaFolders(store, home, folders))
        return -1;
    std::set<std::string> seen;
    for (const auto& [area, folder] : folders) {
        // A folder nothing can be deleted from (a CD-ROM, a read-only
        // mount) never needs a trash: a run may still read it.
        if (!IsFolder(folder) || ::access(folder.c_str(), W_OK | X_OK) != 0)
            continue;
        const std::string root = TrashRoot(home, folder);
        if (!seen.insert(root).second)
            continue;
        if (!MakeFolders(root) || ::access(root.c_str(), W_OK | X_OK) != 0) {
            bad = root;
            return 0;
        }
    }
    return 1;
}

// A name inside `folder` for `base` that no file has yet.
std::string FreeName(const std::string& folder, const std::string& base)
{
    std::string target = folder + "/" + base;
    for (int k = 1; Exists(target); ++k)
        target = folder + "/" + base + "." + std::to_string(k);
    return target;
}

bool MoveIntoTrash(uint32_t run, const std::string& home, int32_t area, const std::string& folder,
                   const std::string& path, std::string& out)
{
    std::vector<std::string> places;
    if (SameDevice(home, folder))
        places.push_back(HomeTrash(home) + "/" + RunFolder(run) + "/area-" + std::to_string(area));
    // Also where the home's trash is on another file system after all (a
    // folder mounted in between).
    places.push_back(AreaTrash(folder) + "/" + RunFolder(run));
    int error = EACCES;
    for (const std::string& place : places) {
        if (!MakeFolders(place)) {
            error = errno;
            continue;
        }
        const std::string target = FreeName(place, BaseName(path));
        if (::rename(path.c_str(), target.c_str()) == 0) {
            out = target;
            return true;
        }
        error = errno;
        if (error == ENOENT)
            break;
    }
    errno = error;
    return false;
}

// One folder of trash: the files of one run and area.
struct TrashDir {
    uint32_t run = 0;
    int32_t area = 0;
    std::string folder;
    std::string runFolder; // HOME/trash/run-N, removed when it is left empty; else empty
};

// "prefix-<number>" -> number; 0 when the name is not of that form.
uint32_t NumberAfter(const char* name, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (std::strncmp(name, prefix, n) != 0 || !name[n])
        return 0;
    uint64_t v = 0;
    for (const char* p = name + n; *p; ++p) {
        if (*p < '0' || *p > '9' || v > UINT32_MAX / 10)
            return 0;
        v = v * 10 + uint64_t(*p - '0');
    }
    return v <= UINT32_MAX ? uint32_t(v) : 0;
}

std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* d = ::readdir(dir))
        if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
            names.emplace_back(d->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<TrashDir> FindTrash(wcstore::Store& store, const std::string& home)
{
    std::vector<TrashDir> out;
    const std::string homeTrash = HomeTrash(home);
    for (const std::string& runName : FolderNames(homeTrash)) {
        const uint32_t run = NumberAfter(runName.c_str(), "run-");
        const std::string runFolder = homeTrash + "/" + runName;
        if (!run || !IsFolder(runFolder))
            continue;
        for (const std::string& areaName : FolderNames(runFolder)) {
            const uint32_t area = NumberAfter(areaName.c_str(), "area-");
            const std::string folder = runFolder + "/" + areaName;
            if (area && area <= INT32_MAX && IsFolder(folder))
                out.push_back({run, int32_t(area), folder, runFolder});
        }
    }
    std::vector<std::pair<int32_t, std::string>> folders;
    AreaFolders(store, home, folders);
    std::set<std::string> seen;
    for (const auto& [area, folder] : folders) {
        const std::string root = AreaTrash(folder);
        if (!seen.insert(root).second)
            continue;
        for (const std::string& runName : FolderNames(root)) {
            const uint32_t run = NumberAfter(runName.c_str(), "run-");
            const std::string dir = root + "/" + runName;
            if (run && IsFolder(dir))
                out.push_back({run, area, dir, {}});
        }
    }
    return out;
}

// Files and bytes below a folder; with `remove`, each is removed (and the
// folders below it); false when something could not be removed.
struct TreeWalk {
    uint64_t files = 0, bytes = 0;
    bool remove = false;
    bool ok = true;
};
thread_local TreeWalk* tWalk = nullptr;

int VisitTree(const char* path, const struct stat* sb, int type, struct FTW*)
{
    TreeWalk& w = *tWalk;
    if (type == FTW_DP) {
        if (w.remove && ::rmdir(path) != 0)
            w.ok = false;
        return 0;
    }
    if (type == FTW_D)
        return 0;
    ++w.files;
    if (type == FTW_F)
        w.bytes += uint64_t(sb->st_size);
    if (w.remove && ::unlink(path) != 0) {
        w.ok = false;
        --w.files;
    }
    return 0;
}

TreeWalk WalkTree(const std::string& folder, bool remove)
{
    TreeWalk w;
    w.remove = remove;
    tWalk = &w;
    if (::nftw(folder.c_str(), VisitTree, 16, FTW_PHYS | (remove ? FTW_DEPTH : 0)) != 0)
        w.ok = false;
    tWalk = nullptr;
    return w;
}

// When a run's trash counts from: the end of its run (its start while it
// is open), else the folder's last change.
int64_t TrashTime(wcstore::Store& store, std::map<uint32_t, int64_t>& known, const TrashDir& t)
{
    auto it = known.find(t.run);
    if (it == known.end()) {
        js::RunRow row;
        int64_t when = -1;
        if (js::Tables(store, false) == 1 && js::GetRun(store, t.run, row) == Rc::Ok)
            when = row.ended ? row.ended : row.started;
        it = known.emplace(t.run, when).first;
    }
    if (it->second >= 0)
        return it->second;
    struct stat sb {
    };
    return ::stat(t.folder.c_str(), &sb) == 0 ? int64_t(sb.st_mtime) : 0;
}

// Deletes the trash of runs older than `days` days (0: all), except the
// run `keep`. False when some of it could not be deleted.
bool EmptyTrash(wcstore::Store& store, const std::string& home, uint32_t days, uint32_t keep,
                uint64_t& removed)
{
    bool ok = true;
    std::map<uint32_t, int64_t> times;
    const int64_t limit = Now() - int64_t(days) * 86400;
    for (const TrashDir& t : FindTrash(store, home)) {
        if (t.run == keep || t.run == g.run)
            continue;
        if (days > 0 && TrashTime(store, times, t) > limit)
            continue;
        const TreeWalk w = WalkTree(t.folder, true);
        removed += w.files;
        ok = ok && w.ok;
        if (!t.runFolder.empty())
            ::rmdir(t.runFolder.c_str()); // when the last area's trash is gone
    }
    return ok;
}

// ---- runs ---------------------------------------------------------------------

// In a run every write commits its entry's page besides the record's: on
// SQLite the log is then copied into the database (a checkpoint, which
// waits for the disk) after twice as many pages, as often per write as
// without a run. SQLite's default is 1,000 pages.
void CheckpointPace(wcstore::Store& store, bool inRun)
{
    if (!store.IsPostgres())
        store.Sql({},
                  inRun ? "PRAGMA wal_autocheckpoint = 2000" : "PRAGMA wal_autocheckpoint = 1000",
                  {});
}

// Begins a run: refused when its trash cannot be written, then the old
// trash is emptied (not that of the run `keep`), the journal's tables are
// made when missing and the run's row is added.
uint32_t BeginRun(wcstore::Store& store, const std::string& home, const std::string& command,
                  uint32_t trashDays, uint32_t undoes, uint32_t keep)
{
    g.refused.clear();
    if (trashDays > 0) {
        std::string bad;
        const int writable = TrashWritable(store, home, bad);
        if (writable < 0)
            return Fail(kStorageError, 0u);
        if (writable == 0) {
            g.refused = bad;
            return Fail(uint32_t(WC_ACCESS_DENIED), 0u);
        }
    }
    if (js::Tables(store, true) != 1)
        return Fail(kStorageError, 0u);
    uint64_t removed = 0;
    EmptyTrash(store, home, trashDays, keep, removed);
    js::RunRow row;
    row.started = Now();
    row.undoes = undoes;
    row.trashDays = trashDays;
    row.machine = Machine();
    row.user = UserName();
    row.command = CutUtf8(command, sizeof(WcRunInfo::Command) - 1);
    if (js::NewRun(store, row) != Rc::Ok)
        return Fail(kStorageError, 0u);
    g.run = row.id;
    g.trashDays = trashDays;
    g.seq = g.pending = 0;
    g.foldersRead = false;
    CheckpointPace(store, true);
    return row.id;
}

bool EndOpenRun(wcstore::Store& store)
{
    const uint32_t run = g.run;
    g.run = 0;
    g.seq = g.pending = 0;
    CheckpointPace(store, false);
    return js::EndRun(store, run, Now()) == Rc::Ok;
}

void FillRunInfo(const js::RunRow& r, WcRunInfo& out)
{
    std::memset(&out, 0, sizeof out);
    auto count = [](int64_t v) { return uint32_t(std::clamp<int64_t>(v, 0, UINT32_MAX)); };
    out.Id = r.id;
    out.UndoneBy = r.undoneBy;
    out.Undoes = r.undoes;
    out.Open = r.open ? 1u : 0u;
    out.Started = r.started;
    out.Ended = r.ended;
    out.Added = count(r.counts.added);
    out.Changed = count(r.counts.changed);
    out.Deleted = count(r.counts.deleted);
    out.Moved = count(r.counts.moved);
    out.FilesTrashed = count(r.counts.trashed);
    out.FilesCreated = count(r.counts.created);
    SetField(out.Machine, sizeof out.Machine, r.machine);
    SetField(out.User, sizeof out.User, r.user);
    SetField(out.Command, sizeof out.Command, r.command);
}

void FillEntry(const js::EntryRow& e, WcRunEntry& out)
{
    std::memset(&out, 0, sizeof out);
    out.Run = e.run;
    out.Seq = e.seq;
    out.Kind = e.kind;
    out.Area = e.area;
    SetField(out.Name, sizeof out.Name, e.name);
    out.HasBefore = e.hasBefore ? 1u : 0u;
    out.HasAfter = e.hasAfter ? 1u : 0u;
    if (e.hasBefore)
        out.Before = e.before;
    if (e.hasAfter)
        out.After = e.after;
    SetField(out.Path, sizeof out.Path, e.path);
    SetField(out.Trash, sizeof out.Trash, e.trash);
}

// 1 when the run is known (into `out`), 0 when not (no journal, or no such
// run), -1 when the store cannot tell.
int FindRun(wcstore::Store& store, uint32_t run, js::RunRow& out)
{
    const int tables = js::Tables(store, false);
    if (tables <= 0)
        return tables;
    const Rc rc = js::GetRun(store, run, out);
    return rc == Rc::Ok ? 1 : rc == Rc::NotFound ? 0 : -1;
}

// ---- undo -----------------------------------------------------------------------

// Undoes entries one at a time inside the caller's transaction (or, in a
// dry run, only in its picture of the store and the disk). Every change is
// itself an entry of the undo's run.
class Undoer
{
public:
    enum Result { Done, Conflict, EntryFailed, Lost }; // Lost: the transaction is lost

    // `unfinished`: the last entry of a run that never ended (its process
    // was killed), 0 when the run ended.
    Undoer(wcstore::Store& store, std::string home, bool dry, uint32_t unfinished)
        : m_store(store), m_home(std::move(home)), m_dry(dry), m_unfinished(unfinished)
    {
    }

    Result One(const js::EntryRow& e, std::string& why)
    {
        why.clear();
        switch (e.kind) {
        case js::kRecordAdded:
        case js::kRecordChanged:
        case js::kRecordDeleted: {
            const Result r = OneRecord(e, why);
            // A record left as it is keeps its file where it is too: the
            // file entries of its names are not undone after it.
            if (r == Conflict) {
                if (e.hasBefore)
                    m_held.insert(KeyOf(e.before));
                if (e.hasAfter)
                    m_held.insert(KeyOf(e.after));
            }
            return r;
        }
        default:
            break;
        }
        if (m_held.count({e.area, wcstore::NameKey(e.name.data(), e.name.size())})) {
            why = "its record is left as it is";
            return Conflict;
        }
        switch (e.kind) {
        case js::kFileTrashed:
            return PutBack(e, "the trashed file is gone", why);
        case js::kFileMoved:
            return PutBack(e, "the moved file is gone", why);
        case js::kFileCreated:
            return UndoCreated(e, why);
        default:
            return Broken(why);
        }
    }

    Result OneRecord(const js::EntryRow& e, std::string& why)
    {
        switch (e.kind) {
        case js::kRecordAdded:
            return e.hasAfter ? UndoAdded(e, why) : Broken(why);
        case js::kRecordChanged:
            return e.hasBefore && e.hasAfter ? UndoChanged(e, why) : Broken(why);
        default:
            return e.hasBefore ? UndoDeleted(e, why) : Broken(why);
        }
    }

    // The transaction committed: files set aside for deletion go.
    void Committed()
    {
        for (const std::string& path : m_unlink)
            ::unlink(path.c_str());
        m_unlink.clear();
        m_renamed.clear();
    }

    // The transaction failed: the files renamed in it go back, last first.
    void RolledBack()
    {
        for (auto it = m_renamed.rbegin(); it != m_renamed.rend(); ++it)
            ::rename(it->second.c_str(), it->first.c_str());
        m_renamed.clear();
        m_unlink.clear();
    }

private:
    using Key = std::pair<int32_t, std::string>;

    static Key KeyOf(const FullFileRec& rec)
    {
        const std::string name = NameOf(rec);
        return {rec.Rec.Area, wcstore::NameKey(name.data(), name.size())};
    }

    Result Broken(std::string& why)
    {
        why = "the entry is damaged";
        return EntryFailed;
    }

    Result StoreFailed(std::string& why)
    {
        why = "the store failed: " + m_store.Error();
        return Lost;
    }

    // 1 when a record of that key is there (into `out`), 0 when not, -1 on error.
    int Read(const FullFileRec& keyOf, FullFileRec* out)
    {
        if (m_dry) {
            auto it = m_records.find(KeyOf(keyOf));
            if (it != m_records.end()) {
                if (it->second && out)
                    *out = *it->second;
                return it->second ? 1 : 0;
            }
        }
        const std::string name = NameOf(keyOf);
        const Rc rc = m_store.Read(keyOf.Rec.Area, name.data(), name.size(), out);
        return rc == Rc::Ok ? 1 : rc == Rc::NotFound ? 0 : -1;
    }

    // Whether the record of `keyOf`'s key is the record `image`, byte for
    // byte. Conflict or Lost with `why` when not.
    std::optional<Result> CheckIs(const FullFileRec& image, FullFileRec& current, std::string& why)
    {
        const int found = Read(image, &current);
        if (found < 0)
            return StoreFailed(why);
        if (found == 0) {
            why = "the record is gone since the run";
            return Conflict;
        }
        if (std::memcmp(&current, &image, sizeof image) != 0) {
            why = "the record has changed since the run";
            return Conflict;
        }
        return std::nullopt;
    }

    std::optional<Result> CheckFree(const FullFileRec& keyOf, std::string& why)
    {
        const int found = Read(keyOf, nullptr);
        if (found < 0)
            return StoreFailed(why);
        if (found > 0) {
            why = "the name is taken since the run";
            return Conflict;
        }
        return std::nullopt;
    }

    bool Note(js::EntryRow e, std::string& why)
    {
        if (m_dry)
            return true;
        if (!StoreEntry(m_store, e)) {
            why = "the journal entry could not be stored: " + m_store.Error();
            return false;
        }
        return true;
    }

    Result UndoAdded(const js::EntryRow& e, std::string& why)
    {
        FullFileRec current;
        if (auto r = CheckIs(e.after, current, why))
            return *r;
        if (m_dry) {
            m_records[KeyOf(e.after)] = std::nullopt;
            return Done;
        }
        const std::string name = NameOf(e.after);
        if (m_store.Remove(e.after.Rec.Area, name.data(), name.size()) != Rc::Ok)
            return StoreFailed(why);
        return Note(RecordEntry(js::kRecordDeleted, &current, nullptr), why) ? Done : Lost;
    }

    Result UndoChanged(const js::EntryRow& e, std::string& why)
    {
        FullFileRec current;
        if (auto r = CheckIs(e.after, current, why))
            return *r;
        if (KeyOf(e.before) != KeyOf(e.after))
            if (auto r = CheckFree(e.before, why))
                return *r;
        if (m_dry) {
            m_records[KeyOf(e.after)] = std::nullopt;
            m_records[KeyOf(e.before)] = e.before;
            return Done;
        }
        const std::string name = NameOf(e.after);
        if (m_store.Update(e.after.Rec.Area, name.data(), name.size(), e.before) != Rc::Ok)
            return StoreFailed(why);
        return Note(RecordEntry(js::kRecordChanged, &current, &e.before), why) ? Done : Lost;
    }

    Result UndoDeleted(const js::EntryRow& e, std::string& why)
    {
        if (auto r = CheckFree(e.before, why))
            return *r;
        // Whether the area is there, asked once per area: a large deletion
        // puts back many records of few areas, and on PostgreSQL every
        // question is a round trip.
        auto known = m_areas.find(e.before.Rec.Area);
        if (known == m_areas.end()) {
            const Rc rc = m_store.GetArea(e.before.Rec.Area, nullptr);
            if (rc == Rc::Error)
                return StoreFailed(why);
            known = m_areas.emplace(e.before.Rec.Area, rc).first;
        }
        const Rc area = known->second;
        if (area == Rc::NotFound) {
            why = "the area is gone since the run";
            return Conflict;
        }
        if (m_dry) {
            m_records[KeyOf(e.before)] = e.before;
            return Done;
        }
        if (m_store.Insert(e.before) != Rc::Ok)
            return StoreFailed(why);
        return Note(RecordEntry(js::kRecordAdded, nullptr, &e.before), why) ? Done : Lost;
    }

    bool FileThere(const std::string& path)
    {
        auto it = m_files.find(path);
        return it != m_files.end() ? it->second : Exists(path);
    }

    // Whether a file answers to the name of `path` in its folder, in any
    // letter case (the program finds a record's file that way).
    bool NameTaken(const std::string& path)
    {
        auto it = m_files.find(path);
        if (it != m_files.end())
            return it->second;
        bool exists = false;
        wcstore::FindInFolder(Parent(path), BaseName(path), &exists);
        return exists;
    }

    bool Rename(const std::string& from, const std::string& to, std::string& why)
    {
        if (::rename(from.c_str(), to.c_str()) != 0) {
            why = "the file could not be renamed to " + to + ": " + std::strerror(errno);
            return false;
        }
        m_renamed.emplace_back(from, to);
        return true;
    }

    // Renames the file at `now` back to `was` (a trashed or moved file).
    Result PutBack(const js::EntryRow& e, const char* gone, std::string& why)
    {
        const std::string& now = e.trash;
        const std::string& was = e.path;
        const int32_t area = e.area;
        if (now.empty() || was.empty())
            return Broken(why);
        if (!FileThere(now)) {
            // A rename is noted and committed before it is made: the last
            // entry of a run killed in between names a file that never
            // left its place, and nothing is to be put back.
            if (e.seq == m_unfinished && FileThere(was))
                return Done;
            why = gone;
            return Conflict;
        }
        if (NameTaken(was)) {
            why = "the name is taken since the run";
            return Conflict;
        }
        if (m_dry) {
            m_files[now] = false;
            m_files[was] = true;
            return Done;
        }
        if (!Rename(now, was, why))
            return EntryFailed;
        return Note(FileEntry(js::kFileMoved, area, BaseName(was), now, was), why) ? Done : Lost;
    }

    // A file the run copied in goes to the undo's trash (or, without
    // trash, is unlinked once the transaction is committed).
    Result UndoCreated(const js::EntryRow& e, std::string& why)
    {
        if (e.path.empty())
            return Broken(why);
        if (!FileThere(e.path))
            return Done; // gone already: nothing to take out
        if (m_dry) {
            m_files[e.path] = false;
            return Done;
        }
        if (g.trashDays == 0) {
            const std::string aside = e.path + ".wcsrv-undo-" + std::to_string(::getpid());
            if (!Rename(e.path, aside, why))
                return EntryFailed;
            m_unlink.push_back(aside);
            return Done;
        }
        std::string trash;
        if (!MoveIntoTrash(g.run, m_home, e.area, Parent(e.path), e.path, trash)) {
            why =
                "the file could not be moved into the trash: " + std::string(std::strerror(errno));
            return EntryFailed;
        }
        m_renamed.emplace_back(e.path, trash);
        return Note(FileEntry(js::kFileTrashed, e.area, e.name, e.path, trash), why) ? Done : Lost;
    }

    wcstore::Store& m_store;
    std::string m_home;
    bool m_dry;
    uint32_t m_unfinished;
    std::vector<std::pair<std::string, std::string>> m_renamed; // in the transaction under way
    std::vector<std::string> m_unlink;                          // once it is committed
    std::set<Key> m_held;          // records left as they are, by their names before and after
    std::map<int32_t, Rc> m_areas; // whether each area asked about is there
    // The dry run's picture of what it would have changed.
    std::map<Key, std::optional<FullFileRec>> m_records;
    std::map<std::string, bool> m_files;
};

struct Reported {
    js::EntryRow entry;
    int32_t outcome = 0;
    std::string why;
};

} // namespace

// ---- what the library's writes call ---------------------------------------

uint32_t CurrentRun()
{
    return g.run;
}

void TransactionBegun()
{
    g.pending = g.seq;
}

void TransactionEnded(bool committed)
{
    if (committed)
        g.seq = g.pending;
    else
        g.pending = g.seq;
}

bool NoteRecord(wcstore::Store& store, int32_t kind, const FullFileRec* before,
                const FullFileRec* after)
{
    if (!g.run)
        return true;
    if (!before && !after)
        return Fail(kBadArgument, false);
    js::EntryRow e = RecordEntry(kind, before, after);
    return StoreEntry(store, e);
}

bool Trashing()
{
    return g.run != 0 && g.trashDays > 0;
}

bool TrashPlace(const std::string& home, int32_t area, const std::string& folder,
                const std::string& path, std::string& out)
{
    std::vector<std::string> places;
    if (SameDevice(home, folder))
        places.push_back(HomeTrash(home) + "/" + RunFolder(g.run) + "/area-" +
                         std::to_string(area));
    // Also where the home's trash is on another file system after all (a
    // folder mounted in between): the place must take the file by a rename.
    places.push_back(AreaTrash(folder) + "/" + RunFolder(g.run));
    int error = EACCES;
    for (const std::string& place : places) {
        if (!MakeFolders(place)) {
            error = errno;
            continue;
        }
        if (!SameDevice(place, folder)) {
            error = EXDEV;
            continue;
        }
        out = FreeName(place, BaseName(path));
        return true;
    }
    errno = error;
    return false;
}

uint32_t Mark()
{
    return g.seq;
}

bool TakeBack(wcstore::Store& store, uint32_t mark, const std::function<bool()>& body)
{
    if (!g.run)
        return body ? OwnTransaction(store, body) : true;
    const bool done = OwnTransaction(store, [&] {
        if (js::RemoveEntriesAfter(store, g.run, mark) != Rc::Ok)
            return Fail(kStorageError, false);
        g.pending = mark;
        return !body || body();
    });
    if (done)
        g.seq = g.pending = mark;
    return done;
}

bool NoteFile(wcstore::Store& store, int32_t kind, int32_t area, const std::string& name,
              const std::string& path, const std::string& trash)
{
    if (!g.run)
        return true;
    js::EntryRow e = FileEntry(kind, area, name, path, trash);
    return StoreEntry(store, e);
}

bool NoteFileCreated(int32_t area, const std::string& name, const std::string& path)
{
    if (!g.run)
        return true;
    wcstore::Store* store = lib::Store(nullptr);
    if (!store)
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), false);
    return OwnTransaction(*store, [&] {
        js::EntryRow e = FileEntry(js::kFileCreated, area, name, path, {});
        return StoreEntry(*store, e);
    });
}

bool NoteFileMoved(const std::string& from, const std::string& to, uint32_t* mark)
{
    return NoteFilesMoved({{from, to}}, mark);
}

bool NoteFilesMoved(const std::vector<std::pair<std::string, std::string>>& moves, uint32_t* mark)
{
    if (mark)
        *mark = g.seq;
    if (!g.run || moves.empty())
        return true;
    std::string home;
    wcstore::Store* store = lib::Store(&home);
    if (!store)
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), false);
    if (!g.foldersRead) {
        if (!AreaFolders(*store, home, g.folders))
            return Fail(kStorageError, false);
        g.foldersRead = true;
    }
    // The area whose folder the file left (0 when it lay in none).
    auto areaOf = [](const std::string& from) {
        const std::string parent = Parent(from);
        for (const auto& [number, folder] : g.folders)
            if (folder == parent)
                return number;
        return int32_t(0);
    };
    return OwnTransaction(*store, [&] {
        for (const auto& [from, to] : moves) {
            js::EntryRow e = FileEntry(js::kFileMoved, areaOf(from), BaseName(from), from, to);
            if (!StoreEntry(*store, e))
                return false;
        }
        return true;
    });
}

void LoggingOut(wcstore::Store& store)
{
    if (g.run)
        EndOpenRun(store);
}

} // namespace wcsrv::journal

// ---- the contract's calls ------------------------------------------------------

using namespace wcsrv::journal;
namespace js = wcstore::journal;
using wcstore::Rc;

// Prologue of every call: the library lock, the fault switch, the login.
#define JOURNAL_OP(name, failValue)                                                                \
    std::lock_guard<std::recursive_mutex> lock_(lib::Lock());                                      \
    if (const uint32_t fault_ = lib::FaultHit(name))                                               \
        return Fail(fault_, failValue);                                                            \
    std::string home;                                                                              \
    wcstore::Store* store_ = lib::Store(&home);                                                    \
    if (!store_)                                                                                   \
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), failValue);                                   \
    wcstore::Store& store = *store_;

uint32_t WcBeginRun(const char* command, uint32_t trashDays)
{
    JOURNAL_OP("WcBeginRun", 0u);
    if (!command)
        return Fail(kBadArgument, 0u);
    if (g.run)
        return Fail(uint32_t(WC_ALREADY_LOGGED_IN), 0u);
    return BeginRun(store, home, command, trashDays, 0, 0);
}

bool WcEndRun(uint32_t run)
{
    JOURNAL_OP("WcEndRun", false);
    if (run == 0 || run != g.run)
        return Fail(uint32_t(WC_INVALID_INDEX), false);
    if (!EndOpenRun(store))
        return Fail(kStorageError, false);
    return true;
}

uint32_t WcCurrentRun(void)
{
    std::lock_guard<std::recursive_mutex> lock(lib::Lock());
    return g.run;
}

bool WcGetRefusedTrash(char* out, uint32_t size)
{
    std::lock_guard<std::recursive_mutex> lock(lib::Lock());
    if (!out || size == 0)
        return Fail(kBadArgument, false);
    if (g.refused.empty())
        return Fail(uint32_t(WC_ITEM_NOT_FOUND), false);
    if (g.refused.size() >= size)
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    std::memcpy(out, g.refused.c_str(), g.refused.size() + 1);
    return true;
}

bool WcListRuns(uint32_t limit, WcRunVisit visit, void* context)
{
    JOURNAL_OP("WcListRuns", false);
    const int tables = js::Tables(store, false);
    if (tables < 0)
        return Fail(kStorageError, false);
    if (tables == 0)
        return true;
    // All rows first: the caller may call the library from its visit.
    std::vector<js::RunRow> runs;
    if (js::ListRuns(store, limit, [&](const js::RunRow& r) {
            runs.push_back(r);
            return true;
        }) != Rc::Ok)
        return Fail(kStorageError, false);
    WcRunInfo info;
    for (const js::RunRow& r : runs) {
        FillRunInfo(r, info);
        if (visit && !visit(context, &info))
            break;
    }
    return true;
}

bool WcGetRun(uint32_t run, WcRunInfo* out)
{
    JOURNAL_OP("WcGetRun", false);
    if (!out)
        return Fail(kBadArgument, false);
    js::RunRow row;
    const int found = FindRun(store, run, row);
    if (found <= 0)
        return Fail(found < 0 ? kStorageError : uint32_t(WC_INVALID_INDEX), false);
    FillRunInfo(row, *out);
    return true;
}

bool WcListRunEntries(uint32_t run, WcEntryVisit visit, void* context)
{
    JOURNAL_OP("WcListRunEntries", false);
    js::RunRow row;
    const int found = FindRun(store, run, row);
    if (found <= 0)
        return Fail(found < 0 ? kStorageError : uint32_t(WC_INVALID_INDEX), false);
    auto entry = std::make_unique<WcRunEntry>();
    const Rc rc = js::ListEntries(store, run, false, [&](const js::EntryRow& e) {
        FillEntry(e, *entry);
        return !visit || visit(context, entry.get());
    });
    if (rc != Rc::Ok)
        return Fail(kStorageError, false);
    return true;
}

bool WcUndoRun(uint32_t run, uint32_t flags, WcUndoVisit visit, void* context, WcUndoSummary* out)
{
    JOURNAL_OP("WcUndoRun", false);
    const bool dry = (flags & WC_UNDO_DRY_RUN) != 0;
    WcUndoSummary summary{};
    if (out)
        *out = summary;
    js::RunRow target;
    const int found = FindRun(store, run, target);
    if (found <= 0)
        return Fail(found < 0 ? kStorageError : uint32_t(WC_INVALID_INDEX), false);
    if (target.undoneBy)
        return Fail(kStorageError, false); // WC_NO_ACTION_TAKEN: undone already
    if (!dry) {
        if (g.run)
            return Fail(uint32_t(WC_ALREADY_LOGGED_IN), false);
        if (!BeginRun(store, home, "undo " + std::to_string(run), target.trashDays, run, run))
            return false;
        summary.Run = g.run;
    }

    // The last entry of a run whose process was killed (never ended).
    uint32_t unfinished = 0;
    if (target.open && !target.ended)
        js::ListEntries(store, run, true, [&](const js::EntryRow& e) {
            unfinished = e.seq;
            return false;
        });
    Undoer undoer(store, home, dry, unfinished);
    auto entry = std::make_unique<WcRunEntry>();
    bool stopped = false;
    auto report = [&](const Reported& r) {
        switch (r.outcome) {
        case WC_UNDO_DONE:
            ++summary.Done;
            break;
        case WC_UNDO_CONFLICT:
            ++summary.Conflicts;
            break;
        default:
            ++summary.Failed;
        }
        if (visit && !stopped) {
            FillEntry(r.entry, *entry);
            stopped = !visit(context, entry.get(), r.outcome, r.why.c_str());
        }
    };
    auto outcomeOf = [](Undoer::Result r) {
        return r == Undoer::Done       ? int32_t(WC_UNDO_DONE)
               : r == Undoer::Conflict ? int32_t(WC_UNDO_CONFLICT)
                                       : int32_t(WC_UNDO_FAILED);
    };
    // The entries of one transaction: a batch of them lands together with
    // the undo's own entries. When the batch fails, each of its
    // entries is tried again in a transaction of its own, so one entry the
    // store refuses costs only itself.
    auto transaction = [&](const std::vector<js::EntryRow>& entries,
                           std::vector<Reported>& results) -> bool {
        results.clear();
        if (!store.Begin())
            return false;
        TransactionBegun();
        bool lost = false;
        for (const js::EntryRow& e : entries) {
            Reported r{e, 0, {}};
            const Undoer::Result result = undoer.One(e, r.why);
            if (result == Undoer::Lost) {
                lost = true;
                results.push_back(std::move(r));
                break;
            }
            r.outcome = outcomeOf(result);
            results.push_back(std::move(r));
        }
        if (!lost && !lib::FaultKind("Commit") && store.Commit()) {
            TransactionEnded(true);
            undoer.Committed();
            return true;
        }
        store.Rollback();
        TransactionEnded(false);
        undoer.RolledBack();
        return false;
    };
    auto page = [&](const std::vector<js::EntryRow>& entries) {
        std::vector<Reported> results;
        if (dry) {
            for (const js::EntryRow& e : entries) {
                Reported r{e, 0, {}};
                r.outcome = outcomeOf(undoer.One(e, r.why));
                report(r);
            }
            return;
        }
        if (transaction(entries, results)) {
            for (const Reported& r : results)
                report(r);
            return;
        }
        for (const js::EntryRow& e : entries) {
            if (transaction({e}, results)) {
                report(results.front());
                continue;
            }
            Reported r{e, int32_t(WC_UNDO_FAILED), {}};
            r.why = !results.empty() && !results.back().why.empty()
                        ? results.back().why
                        : "the store failed: " + store.Error();
            report(r);
        }
    };

    constexpr size_t kPage = 256;
    std::vector<js::EntryRow> entries;
    const Rc listed = js::ListEntries(store, run, true, [&](const js::EntryRow& e) {
        entries.push_back(e);
        if (entries.size() == kPage) {
            page(entries);
            entries.clear();
        }
        return !stopped;
    });
    if (listed == Rc::Ok && !stopped && !entries.empty())
        page(entries);

    bool ok = listed == Rc::Ok;
    if (!dry) {
        if (ok && !stopped) {
            js::MarkUndone(store, run, g.run);
            // Undoing an undo puts the first run's changes back: that run
            // can be undone again.
            if (target.undoes)
                store.Sql("journal.redone",
                          "UPDATE runs SET undone_by = 0 WHERE id = ?1 AND undone_by = ?2",
                          {wcstore::SqlValue::Of(int64_t(target.undoes)),
                           wcstore::SqlValue::Of(int64_t(run))});
        }
        EndOpenRun(store);
    }
    if (out)
        *out = summary;
    if (!ok)
        return Fail(kStorageError, false);
    return true;
}

bool WcListTrash(WcTrashVisit visit, void* context)
{
    JOURNAL_OP("WcListTrash", false);
    std::map<uint32_t, int64_t> times;
    WcTrashItem item;
    for (const TrashDir& t : FindTrash(store, home)) {
        const TreeWalk w = WalkTree(t.folder, false);
        std::memset(&item, 0, sizeof item);
        item.Run = t.run;
        item.Area = t.area;
        item.Trashed = TrashTime(store, times, t);
        item.Bytes = w.bytes;
        item.Files = uint32_t(std::min<uint64_t>(w.files, UINT32_MAX));
        SetField(item.Folder, sizeof item.Folder, t.folder);
        if (visit && !visit(context, &item))
            break;
    }
    return true;
}

bool WcEmptyTrash(uint32_t days, uint32_t* filesRemoved)
{
    JOURNAL_OP("WcEmptyTrash", false);
    uint64_t removed = 0;
    const bool ok = EmptyTrash(store, home, days, 0, removed);
    if (filesRemoved)
        *filesRemoved = uint32_t(std::min<uint64_t>(removed, UINT32_MAX));
    if (!ok)
        return Fail(uint32_t(WC_ACCESS_DENIED), false);
    return true;
}

bool WcTestNoteFileMoved(const char* from, const char* to)
{
    std::lock_guard<std::recursive_mutex> lock(lib::Lock());
    if (!from || !to)
        return Fail(kBadArgument, false);
    return NoteFileMoved(from, to);
}
