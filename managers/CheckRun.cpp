#include "managers/CheckRun.h"

#include "archive/DescriptionList.h"
#include "common/ReadFailures.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "server/DiskNames.h"
#include "server/ServerPath.h"

#include <QFile>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>
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
        auto it = m_offsets.find(quarter);
        if (it == m_offsets.end()) {
            const time_t at = time_t(quarter * kQuarter);
            struct tm local {
            };
            localtime_r(&at, &local);
            it = m_offsets.emplace(quarter, int64_t(local.tm_gmtoff)).first;
        }
        constexpr int64_t kEpochDelta = 11644473600LL; // seconds 1601-01-01 .. 1970-01-01
        const int64_t s = seconds + it->second + kEpochDelta;
        return s < 0 ? 0 : uint64_t(s) * 10000000ULL + uint64_t(t.tv_nsec / 100);
    }

private:
    std::unordered_map<int64_t, int64_t> m_offsets;
};

struct DiskEntry {
    std::string name;
    int64_t size = -1;      // -1: no regular file (a folder, a link to nothing, ...)
    uint64_t localTime = 0; // regular files: the modification time, local ticks
    bool claimed = false;   // a record names it
};

// One area folder, read once for every area on it.
struct Folder {
    QByteArray path;
    QString failure; // why it could not be read; empty when it was
    std::vector<DiskEntry> entries;
    // The entry of each name, and of each name with ASCII letters folded the
    // first in byte order: what the server's file operations find for a
    // record name (disknames::FindInFolder).
    std::unordered_map<std::string_view, uint32_t> exact;
    std::unordered_map<std::string, uint32_t> folded;
    std::unordered_map<std::string, uint32_t> foldedCount;
    std::vector<int> areas; // the checked areas on it, ascending
    bool counted = false;   // its files are in the result's count

    DiskEntry* Find(std::string_view name)
    {
        if (const auto it = exact.find(name); it != exact.end())
            return &entries[it->second];
        const auto it = folded.find(disknames::FoldedName(name));
        return it == folded.end() ? nullptr : &entries[it->second];
    }
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

// Reads the folder: its entries with their status, or why it can't be read.
void ReadFolder(Folder& folder, int fd, LocalTimes& times)
{
    const int listFd = ::dup(fd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        folder.failure = QStringLiteral("the folder %1 cannot be read: %2")
                             .arg(PathText(folder.path), QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (!e) {
            if (errno != 0)
                folder.failure =
                    QStringLiteral("the folder %1 cannot be read: %2")
                        .arg(PathText(folder.path), QString::fromLocal8Bit(strerror(errno)));
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        DiskEntry& entry = folder.entries.emplace_back();
        entry.name = e->d_name;
        // A link counts as the file it leads to, as the server opens it.
        struct stat sb {
        };
        if (e->d_type != DT_DIR && ::fstatat(fd, e->d_name, &sb, 0) == 0 && S_ISREG(sb.st_mode)) {
            entry.size = sb.st_size;
            entry.localTime = times.Of(sb.st_mtim);
        }
    }
    ::closedir(dir);
    if (!folder.failure.isEmpty()) {
        folder.entries.clear();
        return;
    }
    std::sort(folder.entries.begin(), folder.entries.end(),
              [](const DiskEntry& a, const DiskEntry& b) { return a.name < b.name; });
    folder.exact.reserve(folder.entries.size());
    folder.folded.reserve(folder.entries.size());
    for (uint32_t i = 0; i < folder.entries.size(); ++i) {
        const std::string& name = folder.entries[i].name;
        folder.exact.emplace(std::string_view(name), i);
        // In byte order, so the first kept is the one the server takes.
        std::string key = disknames::FoldedName(name);
        folder.folded.emplace(key, i);
        ++folder.foldedCount[std::move(key)];
    }
}

class Check
{
public:
    Check(const CheckOptions& options, RunDelegate& run) : m_options(options), m_run(run) {}

    CheckResult Run()
    {
        TakeReadFailure(); // only this check's failures count
        m_run.SetMaximum(m_options.areas.size());
        m_run.SetPosition(0);
        qint64 done = 0;
        for (const int area : m_options.areas) {
            m_run.SetPosition(++done);
            if (!WalkOneArea(area) || m_run.StopRequested()) {
                m_result.stopped = true;
                m_run.Status(QStringLiteral("Check stopped."));
                return std::move(m_result);
            }
        }
        ClaimFromOtherAreas();
        FolderFindings();
        Order();
        if (m_options.store)
            StoreCheck();
        m_run.Status(QString());
        return std::move(m_result);
    }

private:
    // The folder of the area, read when no area before was on it; null when
    // the server names none.
    Folder* FolderOf(int area, QString& failure)
    {
        char path[4096];
        if (!WcGetFileAreaFolder(area, path, sizeof path)) {
            failure = QStringLiteral("the server names no folder (error 0x%1)")
                          .arg(WcGetLastError(), 0, 16);
            return nullptr;
        }
        const QByteArray bytes(path);
        const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            failure = error == ENOENT
                          ? QStringLiteral("the folder %1 does not exist").arg(PathText(bytes))
                      : error == ENOTDIR
                          ? QStringLiteral("%1 is not a folder").arg(PathText(bytes))
                          : QStringLiteral("the folder %1 cannot be read: %2")
                                .arg(PathText(bytes), QString::fromLocal8Bit(strerror(error)));
            return nullptr;
        }
        struct stat sb {
        };
        if (::fstat(fd, &sb) != 0) {
            failure = QStringLiteral("the folder %1 cannot be read: %2")
                          .arg(PathText(bytes), QString::fromLocal8Bit(strerror(errno)));
            ::close(fd);
            return nullptr;
        }
        const auto key = std::make_pair(uint64_t(sb.st_dev), uint64_t(sb.st_ino));
        auto it = m_folders.find(key);
        if (it == m_folders.end()) {
            auto folder = std::make_unique<Folder>();
            folder->path = bytes;
            ReadFolder(*folder, fd, m_times);
            it = m_folders.emplace(key, std::move(folder)).first;
        }
        ::close(fd);
        if (!it->second->failure.isEmpty()) {
            failure = it->second->failure;
            return nullptr;
        }
        return it->second.get();
    }

    void Add(CheckFinding f) { m_result.findings.append(std::move(f)); }

    bool WalkOneArea(int area)
    {
        FileAreaRec areaRec{};
        if (!GetFileArea(area, &areaRec))
            return true; // passed over
        m_run.Status(QStringLiteral("Checking File Area %1...").arg(area));
        CheckArea summary;
        summary.area = area;
        QString failure;
        Folder* folder = FolderOf(area, failure);
        if (folder) {
            summary.folder = folder->path;
            folder->areas.push_back(area);
            for (const DiskEntry& e : folder->entries)
                if (e.size >= 0 && !IsDescriptionListFile(QByteArray::fromRawData(
                                       e.name.data(), qsizetype(e.name.size()))))
                    ++summary.files;
            if (!folder->counted)
                m_result.files += summary.files;
            folder->counted = true;
        } else {
            char path[4096];
            if (WcGetFileAreaFolder(area, path, sizeof path))
                summary.folder = QByteArray(path);
        }

        // The records: each looked up in the listing, the findings kept
        // until the area is known not to be offline.
        QList<CheckFinding> found;
        qint64 present = 0;
        int sinceTurn = 0;
        bool stopped = false;
        TakeReadFailure();
        summary.records = WalkArea(area, [&](FileRec& rec) {
            if (folder)
                CheckRecord(area, rec, *folder, found, present);
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
            if (folder)
                folder->areas.pop_back(); // its folder's files are not its own
        } else {
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

    void CheckRecord(int area, const FileRec& rec, Folder& folder, QList<CheckFinding>& found,
                     qint64& present)
    {
        const std::string_view name(rec.Name, strnlen(rec.Name, kNameSize));
        DiskEntry* e = folder.Find(name);
        auto finding = [&](CheckKind kind, QString detail) -> CheckFinding& {
            CheckFinding& f = found.emplace_back();
            f.kind = kind;
            f.area = area;
            f.name = Latin1(name);
            f.detail = std::move(detail);
            f.recordSize = rec.Size;
            f.recordTime = rec.FileTime;
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
        const uint64_t recordTime = FileTimeValue(rec.FileTime);
        if (e->size >= kRecordSizeLimit) {
            CheckFinding& f = finding(CheckKind::TooLarge,
                                      QStringLiteral("file %1 bytes: a record holds at most %2")
                                          .arg(e->size)
                                          .arg(kRecordSizeLimit - 1));
            f.fileSize = e->size;
            f.fileTime = MakeFileTime(e->localTime);
        } else if (e->size != rec.Size) {
            CheckFinding& f = finding(
                CheckKind::SizeDiffers,
                QStringLiteral("record %1 bytes, file %2 bytes").arg(rec.Size).arg(e->size));
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
            WalkArea(area, [&folder](FileRec& rec) {
                if (DiskEntry* e =
                        folder.Find(std::string_view(rec.Name, strnlen(rec.Name, kNameSize))))
                    e->claimed = true;
                return true;
            });
        }
        TakeReadFailure();
    }

    // Orphans and names in two letter cases, each under the first area on
    // the folder that is not offline.
    void FolderFindings()
    {
        for (auto& [key, folder] : m_folders) {
            if (!folder->failure.isEmpty() || folder->areas.empty())
                continue;
            const int area = folder->areas.front();
            std::map<std::string, QStringList> twins;
            for (const DiskEntry& e : folder->entries) {
                std::string foldedKey = disknames::FoldedName(e.name);
                if (folder->foldedCount[foldedKey] > 1)
                    twins[std::move(foldedKey)] << Latin1(e.name);
                if (e.size < 0 || e.claimed ||
                    IsDescriptionListFile(
                        QByteArray::fromRawData(e.name.data(), qsizetype(e.name.size()))))
                    continue;
                CheckFinding f;
                f.kind = CheckKind::Orphan;
                f.area = area;
                f.name = Latin1(e.name);
                f.fileSize = e.size;
                f.fileTime = MakeFileTime(e.localTime);
                f.detail = QStringLiteral("file %1 bytes, no record names it").arg(e.size);
                if (disknames::ProblemOfFileName(e.name) != disknames::NameProblem::None)
                    f.detail += QStringLiteral("; no record can name it");
                Add(std::move(f));
            }
            for (auto& [foldedKey, names] : twins) {
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

    static QString PartWord(int part)
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
        return QStringLiteral("store");
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
            finding.detail =
                PartWord(f->Part) +
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
    LocalTimes m_times;
    std::map<std::pair<uint64_t, uint64_t>, std::unique_ptr<Folder>> m_folders;
    QSet<int> m_checkedAreas;
};

} // namespace

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
