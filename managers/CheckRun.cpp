#include "managers/CheckRun.h"

#include "archive/DescriptionList.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "server/DiskNames.h"
#include "server/ReadFailures.h"
#include "server/ServerPath.h"

#include <QFile>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace
{

constexpr size_t kNameSize = sizeof(FileRec::Name);
// The front end gets a turn (and may ask for a stop) after this many records.
constexpr int kRecordsPerTurn = 1024;
// A record's Size is an int32: a file of 2 GiB or more has no size a record holds.
constexpr qint64 kRecordSizeLimit = qint64(1) << 31;
// Dates closer than this are the same: DOS file times, which records brought
// in from old lists carry, count in steps of 2 seconds, and records keep no
// more than the file system gave when they were written.
constexpr uint64_t kDateSlackTicks = 2ULL * 10000000ULL;

// A file's modification time as the local FILETIME ticks records keep
// (FileTimeToLocal's conversion). The offset from UTC is looked up once per
// quarter of an hour of file times: time zones change their offset only on
// such boundaries, and a folder's files mostly share a few.
class LocalTimes
{
public:
    uint64_t Of(const struct timespec& t)
    {
        constexpr int64_t kQuarter = 900;
        const int64_t seconds = int64_t(t.tv_sec);
        const int64_t quarter = seconds >= 0 ? seconds / kQuarter : (seconds + 1) / kQuarter - 1;
        if (quarter != m_lastQuarter || !m_hasLast) {
            auto it = m_offsets.find(quarter);
            if (it == m_offsets.end()) {
                const time_t at = time_t(quarter * kQuarter);
                struct tm local {
                };
                localtime_r(&at, &local);
                it = m_offsets.emplace(quarter, int64_t(local.tm_gmtoff)).first;
            }
            m_lastQuarter = quarter;
            m_lastOffset = it->second;
            m_hasLast = true;
        }
        constexpr int64_t kEpochDelta = 11644473600LL; // seconds 1601-01-01 .. 1970-01-01
        const int64_t s = seconds + m_lastOffset + kEpochDelta;
        return s < 0 ? 0 : uint64_t(s) * 10000000ULL + uint64_t(t.tv_nsec / 100);
    }

private:
    std::unordered_map<int64_t, int64_t> m_offsets;
    int64_t m_lastQuarter = 0, m_lastOffset = 0;
    bool m_hasLast = false;
};

// The first eight bytes of a folded name as one number that orders as the
// bytes do (zero-padded): most comparisons of two names end there.
uint64_t PrefixOf(std::string_view folded)
{
    uint64_t key = 0;
    for (size_t i = 0; i < 8; ++i)
        key = (key << 8) | (i < folded.size() ? static_cast<unsigned char>(folded[i]) : 0u);
    return key;
}

struct DiskEntry {
    uint64_t prefix = 0; // PrefixOf(folded)
    std::string name;
    std::string folded;              // the name with ASCII letters in lower case
    unsigned char type = DT_UNKNOWN; // as the listing gave it
    bool list = false;               // a description list (FILES.BBS, DESCRIPT.ION)
    bool claimed = false;            // a record names it
    bool link = false;               // a symbolic link
    int64_t size = -1;               // -1: no regular file (a folder, a link to nothing, ...)
    uint64_t localTime = 0;          // regular files: the modification time, local ticks
};

// One area folder, read once for every area on it. The reader thread lists
// it and looks at its entries; the run joins in looking at them once it has
// walked the area's records, and matches the records when all are done.
struct Folder {
    QByteArray path;
    int fd = -1;
    QString failure; // why it could not be read; empty when it was
    // In the order of their names with ASCII letters folded, then of their
    // bytes: the order in which the walk hands out the records (the store's
    // key), so the records and the entries are matched in one pass. The
    // entry the server's file operations find for a record name is the one
    // of exactly that name, else the first of those that differ from it
    // only in letter case (disknames::FindInFolder).
    std::vector<DiskEntry> entries;
    std::vector<int> areas; // the checked areas on it that are not offline, ascending
    bool counted = false;   // its files are in the result's count

    std::atomic<bool> listed{false};  // entries (sorted) and failure are set
    std::atomic<size_t> nextEntry{0}; // the next entry to look at
    std::atomic<size_t> looked{0};    // entries looked at

    ~Folder()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // The entry for a record name. `cursor` is where the last search of
    // the same walk ended: records come in the entries' order, so the next
    // is found a few steps on; a record out of that order is searched for.
    DiskEntry* Find(std::string_view name, size_t& cursor)
    {
        char foldedName[kNameSize];
        const size_t length = std::min(name.size(), kNameSize);
        for (size_t i = 0; i < length; ++i)
            foldedName[i] = disknames::LowerAscii(name[i]);
        const std::string_view key(foldedName, length);
        const uint64_t prefix = PrefixOf(key);
        auto before = [prefix, key](const DiskEntry& e) {
            return e.prefix != prefix ? e.prefix < prefix : std::string_view(e.folded) < key;
        };
        const size_t n = entries.size();
        size_t at = std::min(cursor, n);
        if (at > 0 && !before(entries[at - 1]))
            at = 0; // behind the cursor
        constexpr size_t kSteps = 16;
        const size_t stepsEnd = std::min(n, at + kSteps);
        while (at < stepsEnd && before(entries[at]))
            ++at;
        if (at == stepsEnd && at < n && before(entries[at]))
            at = size_t(std::partition_point(entries.begin() + at, entries.end(), before) -
                        entries.begin());
        cursor = at;
        auto same = [prefix, key](const DiskEntry& e) {
            return e.prefix == prefix && std::string_view(e.folded) == key;
        };
        if (at == n || !same(entries[at]))
            return nullptr;
        for (size_t i = at; i < n && same(entries[i]); ++i)
            if (entries[i].name == name)
                return &entries[i];
        return &entries[at];
    }
};

// A walked record, kept until its area's folder has been read.
struct WalkedRecord {
    char name[kNameSize];
    int32_t size;
    FILETIME time;
};

QString PathText(const QByteArray& path)
{
    return QFile::decodeName(path);
}

QString Latin1(std::string_view bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

QString TimeText(uint64_t ticks)
{
    SystemTime st;
    if (!FileTimeToSystemTime(MakeFileTime(ticks), st))
        return QStringLiteral("(no date)");
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(st.year, 4, 10, QLatin1Char('0'))
        .arg(st.month, 2, 10, QLatin1Char('0'))
        .arg(st.day, 2, 10, QLatin1Char('0'))
        .arg(st.hour, 2, 10, QLatin1Char('0'))
        .arg(st.minute, 2, 10, QLatin1Char('0'))
        .arg(st.second, 2, 10, QLatin1Char('0'));
}

QString ReadFailureText(const QByteArray& path, int error)
{
    return QStringLiteral("the folder %1 cannot be read: %2")
        .arg(PathText(path), QString::fromLocal8Bit(strerror(error)));
}

// The folder's entries, in byte order, and the maps of their names.
void ListFolder(Folder& folder)
{
    const int listFd = ::dup(folder.fd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        folder.failure = ReadFailureText(folder.path, errno);
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (!e) {
            if (errno != 0)
                folder.failure = ReadFailureText(folder.path, errno);
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        DiskEntry& entry = folder.entries.emplace_back();
        entry.name = e->d_name;
        entry.type = e->d_type;
    }
    ::closedir(dir);
    if (!folder.failure.isEmpty()) {
        folder.entries.clear();
        return;
    }
    for (DiskEntry& entry : folder.entries) {
        entry.folded = disknames::FoldedName(entry.name);
        entry.prefix = PrefixOf(entry.folded);
        entry.list = IsDescriptionListFile(
            QByteArray::fromRawData(entry.name.data(), qsizetype(entry.name.size())));
    }
    std::sort(folder.entries.begin(), folder.entries.end(),
              [](const DiskEntry& a, const DiskEntry& b) {
                  if (a.prefix != b.prefix)
                      return a.prefix < b.prefix;
                  const int c = a.folded.compare(b.folded);
                  return c != 0 ? c < 0 : a.name < b.name;
              });
}

class Check
{
public:
    Check(const CheckOptions& options, RunDelegate& run) : m_options(options), m_run(run) {}
    ~Check()
    {
        m_quit = true;
        if (m_reader.joinable())
            m_reader.join();
    }

    CheckResult Run()
    {
        TakeReadFailure(); // only this check's failures count
        PlanAreas();
        // The folders are read beside the walk: looking at every entry of
        // a folder costs about as much as walking the records, and neither
        // waits for the other.
        if (!m_order.empty())
            m_reader = std::thread([this] { ReadFolders(); });
        m_run.SetMaximum(m_plans.size());
        m_run.SetPosition(0);
        qint64 done = 0;
        for (const AreaPlan& plan : m_plans) {
            m_run.SetPosition(++done);
            if (!CheckOneArea(plan) || m_run.StopRequested()) {
                m_result.stopped = true;
                m_run.Status(QStringLiteral("Check stopped."));
                return std::move(m_result);
            }
        }
        m_quit = true;
        if (m_reader.joinable())
            m_reader.join();
        ClaimFromOtherAreas();
        FolderFindings();
        Order();
        if (m_options.store)
            StoreCheck();
        m_run.Status(QString());
        return std::move(m_result);
    }

private:
    struct AreaPlan {
        int area = 0;
        QByteArray path;          // the folder as the server names it
        Folder* folder = nullptr; // null: `failure` tells why
        QString failure;
    };

    // The areas that exist and their folders, each folder opened once
    // (areas on one folder share it).
    void PlanAreas()
    {
        for (const int area : m_options.areas) {
            FileAreaRec areaRec{};
            if (!GetFileArea(area, &areaRec))
                continue; // passed over
            AreaPlan& plan = m_plans.emplace_back();
            plan.area = area;
            char path[4096];
            if (!WcGetFileAreaFolder(area, path, sizeof path)) {
                plan.failure = QStringLiteral("the server names no folder (error 0x%1)")
                                   .arg(WcGetLastError(), 0, 16);
                continue;
            }
            plan.path = QByteArray(path);
            const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            struct stat sb {
            };
            if (fd < 0 || ::fstat(fd, &sb) != 0) {
                const int error = errno;
                if (fd >= 0)
                    ::close(fd);
                plan.failure =
                    error == ENOENT
                        ? QStringLiteral("the folder %1 does not exist").arg(PathText(plan.path))
                    : error == ENOTDIR
                        ? QStringLiteral("%1 is not a folder").arg(PathText(plan.path))
                        : ReadFailureText(plan.path, error);
                continue;
            }
            const auto key = std::make_pair(uint64_t(sb.st_dev), uint64_t(sb.st_ino));
            auto it = m_folders.find(key);
            if (it == m_folders.end()) {
                auto folder = std::make_unique<Folder>();
                folder->path = plan.path;
                folder->fd = fd;
                m_order.push_back(folder.get());
                it = m_folders.emplace(key, std::move(folder)).first;
            } else {
                ::close(fd);
            }
            plan.folder = it->second.get();
        }
    }

    // The reader thread: lists the folders in the order of their areas and
    // looks at their entries. No server call: the run alone talks to the
    // server.
    void ReadFolders()
    {
        LocalTimes times;
        for (Folder* folder : m_order) {
            if (m_quit)
                return;
            ListFolder(*folder);
            folder->listed = true;
            Notify();
            LookAtEntries(*folder, times);
        }
    }

    // Looks at the folder's entries not yet taken, a batch at a time; both
    // the reader and the run call it.
    void LookAtEntries(Folder& folder, LocalTimes& times)
    {
        constexpr size_t kBatch = 256;
        const size_t n = folder.entries.size();
        while (!m_quit) {
            const size_t begin = folder.nextEntry.fetch_add(kBatch);
            if (begin >= n)
                return;
            const size_t end = std::min(n, begin + kBatch);
            for (size_t i = begin; i < end; ++i) {
                DiskEntry& entry = folder.entries[i];
                // A link counts as the file it leads to, as the server opens it.
                struct stat sb {
                };
                entry.link = entry.type == DT_LNK || (entry.type == DT_UNKNOWN &&
                                                      ::fstatat(folder.fd, entry.name.c_str(), &sb,
                                                                AT_SYMLINK_NOFOLLOW) == 0 &&
                                                      S_ISLNK(sb.st_mode));
                if (entry.type != DT_DIR && ::fstatat(folder.fd, entry.name.c_str(), &sb, 0) == 0 &&
                    S_ISREG(sb.st_mode)) {
                    entry.size = sb.st_size;
                    entry.localTime = times.Of(sb.st_mtim);
                }
            }
            if (folder.looked.fetch_add(end - begin) + (end - begin) == n)
                Notify();
        }
    }

    void Notify()
    {
        { // the waiter sees the change or is woken
            std::lock_guard<std::mutex> lock(m_mutex);
        }
        m_cv.notify_all();
    }

    // Waits until the folder is read whole, looking at entries meanwhile.
    void WaitForFolder(Folder& folder)
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [&] { return folder.listed.load(); });
        }
        LookAtEntries(folder, m_times);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return folder.looked.load() >= folder.entries.size(); });
    }

    void Add(CheckFinding f) { m_result.findings.append(std::move(f)); }

    bool CheckOneArea(const AreaPlan& plan)
    {
        const int area = plan.area;
        m_run.Status(QStringLiteral("Checking File Area %1...").arg(area));
        CheckArea summary;
        summary.area = area;
        summary.folder = plan.path;

        // The records first, while the folder is being read.
        m_walked.clear();
        int sinceTurn = 0;
        bool stopped = false;
        TakeReadFailure();
        summary.records = WalkArea(area, [&](FileRec& rec) {
            WalkedRecord& w = m_walked.emplace_back();
            std::memcpy(w.name, rec.Name, kNameSize);
            w.size = rec.Size;
            w.time = rec.FileTime;
            if (++sinceTurn >= kRecordsPerTurn) {
                sinceTurn = 0;
                stopped = m_run.StopRequested();
            }
            return !stopped;
        });
        if (stopped)
            return false;
        const uint32_t readFailure = TakeReadFailure();
        m_result.records += summary.records;

        Folder* folder = plan.folder;
        QString failure = plan.failure;
        if (folder) {
            WaitForFolder(*folder);
            if (!folder->failure.isEmpty()) {
                failure = folder->failure;
                folder = nullptr;
            }
        }
        QList<CheckFinding> found;
        qint64 present = 0;
        if (folder) {
            for (const DiskEntry& e : folder->entries)
                if (e.size >= 0 && !e.list)
                    ++summary.files;
            if (!folder->counted)
                m_result.files += summary.files;
            folder->counted = true;
            m_cursor = 0;
            for (const WalkedRecord& w : m_walked)
                CheckRecord(area, w, *folder, found, present);
        }

        if (!folder || (summary.records > 0 && present == 0)) {
            summary.offline = true;
            CheckFinding f;
            f.kind = CheckKind::Offline;
            f.area = area;
            f.detail = folder ? QStringLiteral("the folder %1 holds none of the %2 files its "
                                               "records name")
                                    .arg(PathText(folder->path))
                                    .arg(summary.records)
                              : failure;
            Add(std::move(f));
        } else {
            folder->areas.push_back(area);
            for (CheckFinding& f : found)
                Add(std::move(f));
        }
        if (readFailure != 0) {
            CheckFinding f;
            f.kind = CheckKind::Unreadable;
            f.area = area;
            f.detail = QStringLiteral("the records could not be read whole (server error "
                                      "0x%1); %2 were read")
                           .arg(readFailure, 0, 16)
                           .arg(summary.records);
            Add(std::move(f));
        }
        m_checkedAreas.insert(area);
        m_result.areas.append(summary);
        return true;
    }

    void CheckRecord(int area, const WalkedRecord& rec, Folder& folder, QList<CheckFinding>& found,
                     qint64& present)
    {
        const std::string_view name(rec.name, strnlen(rec.name, kNameSize));
        DiskEntry* e = folder.Find(name, m_cursor);
        auto finding = [&](CheckKind kind, QString detail) -> CheckFinding& {
            CheckFinding& f = found.emplace_back();
            f.kind = kind;
            f.area = area;
            f.name = Latin1(name);
            f.detail = std::move(detail);
            f.recordSize = rec.size;
            f.recordTime = rec.time;
            return f;
        };
        if (!e || e->size < 0) {
            finding(CheckKind::Missing,
                    e ? QStringLiteral("\"%1\" in the folder is not a file").arg(Latin1(e->name))
                      : QStringLiteral("no file of this name in the folder"));
            return;
        }
        e->claimed = true;
        ++present;
        const uint64_t recordTime = FileTimeValue(rec.time);
        if (e->size >= kRecordSizeLimit) {
            CheckFinding& f = finding(CheckKind::TooLarge,
                                      QStringLiteral("file %1 bytes: a record holds at most %2")
                                          .arg(e->size)
                                          .arg(kRecordSizeLimit - 1));
            f.fileSize = e->size;
            f.fileTime = MakeFileTime(e->localTime);
        } else if (e->size != rec.size) {
            CheckFinding& f = finding(
                CheckKind::SizeDiffers,
                QStringLiteral("record %1 bytes, file %2 bytes").arg(rec.size).arg(e->size));
            f.fileSize = e->size;
            f.fileTime = MakeFileTime(e->localTime);
        }
        const uint64_t apart =
            recordTime > e->localTime ? recordTime - e->localTime : e->localTime - recordTime;
        if (apart >= kDateSlackTicks) {
            CheckFinding& f = finding(CheckKind::DateDiffers,
                                      QStringLiteral("record %1, file %2")
                                          .arg(TimeText(recordTime), TimeText(e->localTime)));
            f.fileSize = e->size;
            f.fileTime = MakeFileTime(e->localTime);
        }
    }

    // Records of areas that were not asked for still name files in a folder
    // they share with a checked area: those files are no orphans.
    void ClaimFromOtherAreas()
    {
        if (m_folders.empty())
            return;
        const int32_t count = GetFileAreaCount();
        for (int32_t area = 1; area <= count; ++area) {
            if (m_checkedAreas.contains(area))
                continue;
            char path[4096];
            struct stat sb {
            };
            if (!WcGetFileAreaFolder(area, path, sizeof path) || ::stat(path, &sb) != 0)
                continue;
            const auto it = m_folders.find({uint64_t(sb.st_dev), uint64_t(sb.st_ino)});
            if (it == m_folders.end() || !it->second->failure.isEmpty())
                continue;
            Folder& folder = *it->second;
            size_t cursor = 0;
            WalkArea(area, [&folder, &cursor](FileRec& rec) {
                if (DiskEntry* e = folder.Find(
                        std::string_view(rec.Name, strnlen(rec.Name, kNameSize)), cursor))
                    e->claimed = true;
                return true;
            });
        }
        TakeReadFailure();
    }

    // Orphans and names in two letter cases, each under the first area on
    // the folder that is not offline, in byte order of their names.
    void FolderFindings()
    {
        for (auto& [key, folder] : m_folders) {
            if (!folder->failure.isEmpty() || folder->areas.empty())
                continue;
            const int area = folder->areas.front();
            std::vector<const DiskEntry*> orphans;
            for (const DiskEntry& e : folder->entries)
                if (e.size >= 0 && !e.claimed && !e.list)
                    orphans.push_back(&e);
            std::sort(orphans.begin(), orphans.end(),
                      [](const DiskEntry* a, const DiskEntry* b) { return a->name < b->name; });
            for (const DiskEntry* e : orphans) {
                CheckFinding f;
                f.kind = CheckKind::Orphan;
                f.area = area;
                f.name = Latin1(e->name);
                f.fileSize = e->size;
                f.fileTime = MakeFileTime(e->localTime);
                f.detail = QStringLiteral("file %1 bytes, no record names it").arg(e->size);
                if (disknames::ProblemOfFileName(e->name) != disknames::NameProblem::None)
                    f.detail += QStringLiteral("; no record can name it");
                Add(std::move(f));
            }

            // Links, whether or not a record names one: a link may lead to
            // any file the BBS can read.
            for (const DiskEntry& e : folder->entries) {
                if (!e.link)
                    continue;
                char target[4096];
                const ssize_t n =
                    ::readlinkat(folder->fd, e.name.c_str(), target, sizeof target - 1);
                CheckFinding f;
                f.kind = CheckKind::Link;
                f.area = area;
                f.name = Latin1(e.name);
                f.detail = QStringLiteral("a symbolic link to %1%2")
                               .arg(n >= 0 ? Latin1(std::string(target, size_t(n)))
                                           : QStringLiteral("(unreadable)"),
                                    e.claimed ? QStringLiteral("; a record names it") : QString());
                Add(std::move(f));
            }

            // Twins stand next to each other, in byte order.
            const std::vector<DiskEntry>& entries = folder->entries;
            for (size_t i = 0; i < entries.size();) {
                size_t end = i + 1;
                while (end < entries.size() && entries[end].prefix == entries[i].prefix &&
                       entries[end].folded == entries[i].folded)
                    ++end;
                const size_t begin = i;
                i = end;
                if (end - begin < 2)
                    continue;
                QStringList names;
                for (size_t k = begin; k < end; ++k)
                    names << Latin1(entries[k].name);
                CheckFinding f;
                f.kind = CheckKind::CaseTwins;
                f.area = area;
                f.name = names.first();
                f.names = names;
                f.detail =
                    QStringLiteral("%1 names differ only in letter case: %2; a record named in "
                                   "other letters finds %3")
                        .arg(names.size())
                        .arg(names.join(QStringLiteral(", ")), names.first());
                Add(std::move(f));
            }
        }
    }

    // By area, and within an area by kind; each kind keeps its order (records
    // in the server's order, folder entries in byte order).
    void Order()
    {
        std::stable_sort(m_result.findings.begin(), m_result.findings.end(),
                         [](const CheckFinding& a, const CheckFinding& b) {
                             if (a.area != b.area)
                                 return a.area < b.area;
                             return int(a.kind) < int(b.kind);
                         });
    }

    void StoreCheck()
    {
        m_run.Status(m_options.integrity ? QStringLiteral("Checking the database whole...")
                                         : QStringLiteral("Checking the database..."));
        auto visit = [](void* context, const WcCheckFinding* f) {
            CheckFinding finding;
            finding.kind = CheckKind::Store;
            finding.area = f->Area;
            finding.storePart = f->Part;
            finding.name = Latin1(std::string_view(f->Name, strnlen(f->Name, sizeof f->Name)));
            const QString text =
                QString::fromUtf8(f->Text, qsizetype(strnlen(f->Text, sizeof f->Text)));
            const QString part = CheckPartWord(f->Part);
            finding.detail =
                (part.isEmpty() ? QStringLiteral("store") : part) +
                (f->Part == WC_CHECK_USER ? QStringLiteral(" %1").arg(f->Id) : QString()) +
                QStringLiteral(": ") + text;
            static_cast<CheckResult*>(context)->findings.append(std::move(finding));
            return true;
        };
        const uint32_t flags = m_options.integrity ? WC_CHECK_INTEGRITY : 0u;
        m_result.storeChecked = WcCheckStore(flags, visit, &m_result, &m_result.store);
        if (!m_result.storeChecked) {
            CheckFinding f;
            f.kind = CheckKind::Store;
            f.detail = QStringLiteral("the store could not be checked (server error 0x%1)")
                           .arg(WcGetLastError(), 0, 16);
            Add(std::move(f));
        }
    }

    const CheckOptions& m_options;
    RunDelegate& m_run;
    CheckResult m_result;
    LocalTimes m_times; // the run's; the reader has its own
    std::vector<AreaPlan> m_plans;
    std::map<std::pair<uint64_t, uint64_t>, std::unique_ptr<Folder>> m_folders;
    std::vector<Folder*> m_order; // the folders in the order the reader reads them
    std::vector<WalkedRecord> m_walked;
    size_t m_cursor = 0; // of the matching of one area's records
    QSet<int> m_checkedAreas;

    std::thread m_reader;
    std::atomic<bool> m_quit{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

} // namespace

QString CheckPartWord(int part)
{
    switch (part) {
    case WC_CHECK_DATABASE:
        return QStringLiteral("database");
    case WC_CHECK_CONFIG:
        return QStringLiteral("configuration");
    case WC_CHECK_USER:
        return QStringLiteral("user");
    case WC_CHECK_AREA:
        return QStringLiteral("area");
    case WC_CHECK_RECORD:
        return QStringLiteral("record");
    }
    return QString();
}

QString CheckKindWord(CheckKind kind)
{
    switch (kind) {
    case CheckKind::Offline:
        return QStringLiteral("offline");
    case CheckKind::Unreadable:
        return QStringLiteral("unreadable");
    case CheckKind::Missing:
        return QStringLiteral("missing");
    case CheckKind::SizeDiffers:
        return QStringLiteral("size");
    case CheckKind::DateDiffers:
        return QStringLiteral("date");
    case CheckKind::TooLarge:
        return QStringLiteral("too-large");
    case CheckKind::Orphan:
        return QStringLiteral("orphan");
    case CheckKind::CaseTwins:
        return QStringLiteral("case-twins");
    case CheckKind::Link:
        return QStringLiteral("link");
    case CheckKind::Store:
        return QStringLiteral("store");
    }
    return QString();
}

int CheckResult::Count(CheckKind kind) const
{
    return int(std::count_if(findings.begin(), findings.end(),
                             [kind](const CheckFinding& f) { return f.kind == kind; }));
}

CheckResult RunCheck(const CheckOptions& options, RunDelegate& run)
{
    return Check(options, run).Run();
}
