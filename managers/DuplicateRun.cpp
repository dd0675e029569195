#include "managers/DuplicateRun.h"

#include "common/Text.h"
#include "server/DiskNames.h"
#include "server/OfflineAreas.h"
#include "server/ReadFailures.h"
#include "server/ServerPath.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocale>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace
{

constexpr size_t kNameSize = sizeof(FileRec::Name);
constexpr uint32_t kReadChunk = 1u << 20;
// The front end gets a turn (and may ask for a stop) after this many records.
constexpr int kRecordsPerTurn = 1024;

// One walked record, kept small: a scan of a million records holds them all.
struct Entry {
    int32_t area = 0;
    char name[kNameSize] = {}; // the record's bytes, NUL-padded
    char key[kNameSize] = {};  // the same with ASCII letters in lower case
    int32_t recSize = 0;
    uint64_t recTime = 0;
    int64_t diskSize = -1; // -1: no regular file behind the record
    uint64_t volume = 0, file = 0;
    uint64_t lastWrite = 0; // FILETIME ticks, UTC
    int folder = -1;        // index of its area's folder listing
};

// The entries of one area folder, as bytes: what the server's file
// operations find for a record's name is the entry of exactly that name,
// else the first entry in byte order whose name differs only in ASCII
// letter case (disknames::FindInFolder, which this listing stands in for so
// that each folder is read once).
struct FolderListing {
    int fd = -1;
    std::unordered_set<std::string> exact;
    std::unordered_map<std::string, std::string> folded;

    ~FolderListing()
    {
        if (fd >= 0)
            ::close(fd);
    }

    bool Find(const std::string& name, std::string& found) const
    {
        if (exact.count(name)) {
            found = name;
            return true;
        }
        if (folded.empty())
            return false;
        const auto it = folded.find(disknames::FoldedName(name));
        if (it == folded.end())
            return false;
        found = it->second;
        return true;
    }
};

std::unique_ptr<FolderListing> ListFolder(const QByteArray& path)
{
    auto listing = std::make_unique<FolderListing>();
    listing->fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing->fd < 0)
        return listing; // no folder: every file of the area is missing
    const int dupFd = ::dup(listing->fd);
    DIR* dir = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr;
    if (!dir) {
        if (dupFd >= 0)
            ::close(dupFd);
        return listing;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        listing->exact.insert(name);
        auto [it, added] = listing->folded.emplace(disknames::FoldedName(name), name);
        if (!added && disknames::TakenBefore(name, it->second))
            it->second = name;
    }
    ::closedir(dir);
    return listing;
}

uint64_t FileTimeOfStat(const struct stat& sb)
{
    constexpr int64_t kEpochDelta = 11644473600LL; // seconds 1601-01-01 .. 1970-01-01
    const int64_t s = int64_t(sb.st_mtim.tv_sec) + kEpochDelta;
    return s < 0 ? 0 : uint64_t(s) * 10000000ULL + uint64_t(sb.st_mtim.tv_nsec / 100);
}

// Looks at the disk file behind the entry's record: size, identity, time.
void StatEntry(Entry& e, const FolderListing& folder)
{
    e.diskSize = -1;
    const std::string name(e.name, strnlen(e.name, kNameSize));
    std::string onDisk;
    if (folder.fd < 0 || !folder.Find(name, onDisk))
        return;
    struct stat sb {
    };
    if (::fstatat(folder.fd, onDisk.c_str(), &sb, 0) != 0 || !S_ISREG(sb.st_mode))
        return;
    e.diskSize = sb.st_size;
    e.volume = uint64_t(sb.st_dev);
    e.file = uint64_t(sb.st_ino);
    e.lastWrite = FileTimeOfStat(sb);
}

QString NameOf(const Entry& e)
{
    return RecText(e.name, kNameSize);
}

// The server path of an entry's record, NUL-terminated.
QByteArray PathOf(const Entry& e)
{
    char name[kNameSize + 1] = {};
    std::memcpy(name, e.name, kNameSize);
    return ServerFilePathBytes(e.area, name);
}

DupeRecord RecordOf(const Entry& e)
{
    DupeRecord r;
    r.area = e.area;
    r.name = NameOf(e);
    r.size = e.recSize;
    r.fileTime = MakeFileTime(e.recTime);
    r.present = e.diskSize >= 0;
    if (r.present) {
        r.diskSize = e.diskSize;
        r.fileId = WcFileId{e.volume, e.file};
    }
    return r;
}

bool EntryBefore(const Entry* a, const Entry* b)
{
    if (a->area != b->area)
        return a->area < b->area;
    return std::memcmp(a->key, b->key, kNameSize) < 0;
}

QString Bytes(qint64 n)
{
    return QLocale::c().toString(n);
}

// What the scan reads: one disk file, and the records that name it.
struct FileToRead {
    std::vector<Entry*> records;
    std::vector<bool> kept; // per record: its kept hash still holds
    QByteArray sha256;
};

class Scan
{
public:
    Scan(const DupeOptions& options, RunDelegate& run) : m_options(options), m_run(run) {}

    DupeResult Run()
    {
        TakeReadFailure(); // only this scan's failures count
        if (!Walk())
            return Stopped();
        if (m_options.by != DupeBy::Content)
            NameGroups();
        if (m_options.by != DupeBy::Name && !ContentGroups())
            return Stopped();
        Finish();
        return std::move(m_result);
    }

private:
    DupeResult Stopped()
    {
        m_result.groups.clear();
        m_result.missing.clear();
        m_result.stopped = true;
        m_run.SetPosition(0);
        m_run.Status(QStringLiteral("Scan stopped."));
        return std::move(m_result);
    }

    bool Turn() { return !m_run.StopRequested(); }

    bool Walk()
    {
        m_run.SetMaximum(m_options.areas.size());
        m_run.SetPosition(0);
        qint64 areaIndex = 0;
        int sinceTurn = 0;
        for (const int area : m_options.areas) {
            m_run.SetPosition(++areaIndex);
            FileAreaRec areaRec{};
            if (!GetFileArea(area, &areaRec)) {
                NoteReadFailure();
                continue;
            }
            m_run.Status(QStringLiteral("Scanning File Area %1...").arg(area));
            const int folder = FolderOf(area);
            const size_t first = m_entries.size();
            bool anyPresent = false;
            bool stopped = false;
            WalkArea(area, [&](FileRec& rec) {
                Entry& e = m_entries.emplace_back();
                e.area = area;
                // The name up to its NUL: bytes a record may carry behind
                // it are no part of the name.
                const size_t length = strnlen(rec.Name, kNameSize);
                std::memcpy(e.name, rec.Name, length);
                for (size_t i = 0; i < length; ++i) {
                    const char c = rec.Name[i];
                    e.key[i] = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
                }
                e.recSize = rec.Size;
                e.recTime = FileTimeValue(rec.FileTime);
                e.folder = folder;
                if (folder >= 0)
                    StatEntry(e, *m_folders[size_t(folder)]);
                anyPresent = anyPresent || e.diskSize >= 0;
                if (++sinceTurn >= kRecordsPerTurn) {
                    sinceTurn = 0;
                    stopped = !Turn();
                }
                return !stopped;
            });
            if (stopped || !Turn())
                return false;
            // The records of an area whose folder is offline would all be
            // listed as missing (and lose name groups to records elsewhere):
            // unless the delegate says otherwise the scan leaves the area
            // out, so nothing that follows it can change the area.
            const long walked = long(m_entries.size() - first);
            if (!anyPresent &&
                !MayTreatFilesAsMissing(area, AreaOfflineAfterWalk(area, walked, false), m_run))
                m_entries.resize(first);
        }
        m_result.records = qint64(m_entries.size());
        return true;
    }

    // The listing of the area's folder (read once for areas sharing it), or -1.
    int FolderOf(int area)
    {
        char path[4096];
        if (!WcGetFileAreaFolder(area, path, sizeof path)) {
            NoteReadFailure();
            return -1;
        }
        const QByteArray key(path);
        const auto it = m_folderIndex.find(key);
        if (it != m_folderIndex.end())
            return it->second;
        m_folders.push_back(ListFolder(key));
        const int index = int(m_folders.size() - 1);
        m_folderIndex.emplace(key, index);
        return index;
    }

    void NameGroups()
    {
        std::vector<Entry*> order;
        order.reserve(m_entries.size());
        for (Entry& e : m_entries)
            order.push_back(&e);
        std::sort(order.begin(), order.end(), [](const Entry* a, const Entry* b) {
            const int c = std::memcmp(a->key, b->key, kNameSize);
            return c != 0 ? c < 0 : a->area < b->area;
        });
        for (size_t i = 0; i < order.size();) {
            size_t j = i + 1;
            while (j < order.size() && std::memcmp(order[j]->key, order[i]->key, kNameSize) == 0)
                ++j;
            if (j - i > 1) {
                std::vector<Entry*> members(order.begin() + qsizetype(i),
                                            order.begin() + qsizetype(j));
                AddGroup(DupeKind::Name, RecText(order[i]->key, kNameSize), members);
            }
            i = j;
        }
    }

    bool ContentGroups()
    {
        // Only sizes that more than one present record has are read; an
        // empty file is no copy of anything.
        std::unordered_map<int64_t, int> sizeCount;
        for (const Entry& e : m_entries)
            if (e.diskSize > 0)
                ++sizeCount[e.diskSize];
        // The files to hash, each disk file once.
        std::map<std::pair<uint64_t, uint64_t>, FileToRead> files;
        for (Entry& e : m_entries)
            if (e.diskSize > 0 && sizeCount[e.diskSize] > 1)
                files[{e.volume, e.file}].records.push_back(&e);

        // Hashes kept from earlier scans, where the file has not changed.
        std::vector<FileToRead*> toRead;
        qint64 bytesToRead = 0;
        int sinceTurn = 0;
        for (auto& [id, f] : files) {
            f.kept.assign(f.records.size(), false);
            for (size_t i = 0; i < f.records.size(); ++i) {
                const Entry* e = f.records[i];
                WcFileHash kept{};
                if (WcGetFileHash(e->area, PathName(*e).constData(), &kept) &&
                    kept.Size == uint64_t(e->diskSize) &&
                    FileTimeValue(kept.LastWrite) == e->lastWrite && kept.File == e->file) {
                    f.sha256 = QByteArray(reinterpret_cast<const char*>(kept.Sha256), 32);
                    f.kept[i] = true;
                    ++m_result.hashesReused;
                }
            }
            if (f.sha256.isEmpty()) {
                toRead.push_back(&f);
                bytesToRead += f.records.front()->diskSize;
            } else {
                Remember(f); // for the records of the file that had none kept
            }
            if (++sinceTurn >= kRecordsPerTurn) {
                sinceTurn = 0;
                if (!Turn())
                    return false;
            }
        }

        if (!toRead.empty() && !ReadFiles(toRead, bytesToRead))
            return false;

        // Groups: files of the same size and hash.
        std::map<std::pair<int64_t, QByteArray>, std::vector<Entry*>> byHash;
        for (auto& [id, f] : files)
            if (!f.sha256.isEmpty())
                for (Entry* e : f.records)
                    byHash[{e->diskSize, f.sha256}].push_back(e);
        std::vector<std::pair<qint64, std::pair<QString, std::vector<Entry*>>>> found;
        for (auto& [key, members] : byHash) {
            if (members.size() < 2)
                continue;
            std::sort(members.begin(), members.end(), EntryBefore);
            found.push_back({key.first, {QString::fromLatin1(key.second.toHex()), members}});
        }
        // The largest files first: they free the most space.
        std::stable_sort(found.begin(), found.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (auto& [size, group] : found)
            AddGroup(DupeKind::Content, group.first, group.second);
        return true;
    }

    static QByteArray PathName(const Entry& e)
    {
        return QByteArray(e.name, int(strnlen(e.name, kNameSize)));
    }

    // Keeps the file's hash for each of its records whose kept hash is
    // missing or stale. A hash that cannot be kept only costs a read next
    // time.
    void Remember(const FileToRead& f)
    {
        for (size_t i = 0; i < f.records.size(); ++i) {
            if (i < f.kept.size() && f.kept[i])
                continue;
            const Entry* e = f.records[i];
            WcFileHash h{};
            h.Size = uint64_t(e->diskSize);
            h.LastWrite = MakeFileTime(e->lastWrite);
            h.File = e->file;
            std::memcpy(h.Sha256, f.sha256.constData(), 32);
            WcPutFileHash(e->area, PathName(*e).constData(), &h);
        }
    }

    bool ReadFiles(const std::vector<FileToRead*>& toRead, qint64 bytesToRead)
    {
        // The bar counts KiB, so files of any total size fit its range.
        m_run.SetMaximum(std::max<qint64>(1, bytesToRead / 1024));
        m_run.SetPosition(0);
        QElapsedTimer clock, sinceStatus;
        clock.start();
        sinceStatus.start();
        const qint64 fileCount = qint64(toRead.size());
        qint64 done = 0;
        auto status = [&]() {
            const double seconds = std::max(0.001, double(clock.nsecsElapsed()) / 1e9);
            m_run.Status(QStringLiteral("Hashing file %1 of %2: %3 of %4 bytes, %5 files/s")
                             .arg(QString::number(std::min(done + 1, fileCount)),
                                  QString::number(fileCount), Bytes(m_result.bytesRead),
                                  Bytes(bytesToRead),
                                  QString::number(double(done) / seconds, 'f', 1)));
            sinceStatus.restart();
        };
        status();
        std::vector<char> buffer(kReadChunk);
        for (FileToRead* f : toRead) {
            Entry& e = *f->records.front();
            QCryptographicHash sha(QCryptographicHash::Sha256);
            qint64 got = 0;
            const WcHandle h = WcCreateFile(PathOf(e).constData(), WC_GENERIC_READ, WC_SHARE_READ,
                                            WC_OPEN_EXISTING);
            bool ok = h > 0;
            uint32_t failure = ok ? 0 : WcGetLastError();
            while (ok) {
                uint32_t n = 0;
                if (!WcReadFile(h, buffer.data(), kReadChunk, &n)) {
                    ok = false;
                    failure = WcGetLastError();
                    break;
                }
                if (n == 0)
                    break;
                sha.addData(QByteArrayView(buffer.data(), n));
                got += n;
                m_result.bytesRead += n;
                m_run.SetPosition(m_result.bytesRead / 1024);
                if (sinceStatus.elapsed() >= 200)
                    status();
                if (!Turn()) {
                    WcCloseHandle(h);
                    return false;
                }
            }
            if (h > 0)
                WcCloseHandle(h);
            ++done;
            if (!ok) {
                Failed(e, QStringLiteral("the file could not be read (server error 0x%1)")
                              .arg(failure, 8, 16, QLatin1Char('0')));
                continue;
            }
            ++m_result.filesRead;
            // The hash holds only for the file as it was before the read: a
            // file changed meanwhile is left out of the groups.
            const Entry before = e;
            StatEntry(e, *m_folders[size_t(e.folder)]);
            if (e.diskSize != before.diskSize || e.file != before.file ||
                e.lastWrite != before.lastWrite || got != before.diskSize) {
                Failed(e, QStringLiteral("the file changed while it was read"));
                continue;
            }
            f->sha256 = sha.result();
            Remember(*f);
        }
        status();
        return true;
    }

    void Failed(Entry& e, const QString& why)
    {
        ++m_result.readFailures;
        m_run.Item({e.area, NameOf(e), RunOutcome::Failed, why});
    }

    void AddGroup(DupeKind kind, const QString& key, const std::vector<Entry*>& members)
    {
        DupeGroup g;
        g.kind = kind;
        g.key = key;
        for (const Entry* e : members)
            g.members.append(RecordOf(*e));
        m_result.groups.append(std::move(g));
    }

    void Finish()
    {
        // Descriptions and uploaders of the records the groups show.
        for (DupeGroup& g : m_result.groups) {
            for (DupeRecord& r : g.members) {
                FileRec rec{};
                uint32_t at = 0;
                if (GetFileRecByAreaName(r.area, ToBytes(r.name).constData(), &rec, &at)) {
                    r.description = QByteArray(
                        rec.Description, int(strnlen(rec.Description, sizeof rec.Description)));
                    r.uploader = QByteArray(
                        rec.Uploader.UserName,
                        int(strnlen(rec.Uploader.UserName, sizeof rec.Uploader.UserName)));
                }
            }
        }
        for (const Entry& e : m_entries)
            if (e.diskSize < 0)
                m_result.missing.append(RecordOf(e));
        m_run.SetPosition(0);
        int byName = 0, byContent = 0;
        for (const DupeGroup& g : m_result.groups)
            ++(g.kind == DupeKind::Name ? byName : byContent);
        m_run.Status(QStringLiteral("Duplicate Groups Found: %1 (%2 by name, %3 by content)")
                         .arg(byName + byContent)
                         .arg(byName)
                         .arg(byContent));
        // A server read that failed left records out: it is shown, never a
        // silently short result.
        if (const uint32_t code = TakeReadFailure())
            m_run.ServerError(code);
    }

    const DupeOptions& m_options;
    RunDelegate& m_run;
    DupeResult m_result;
    std::deque<Entry> m_entries;
    std::vector<std::unique_ptr<FolderListing>> m_folders;
    std::map<QByteArray, int> m_folderIndex;
};

} // namespace

qint64 DupeGroup::SpaceTaken() const
{
    qint64 total = 0;
    QSet<QPair<quint64, quint64>> seen;
    for (const DupeRecord& r : members) {
        const QPair<quint64, quint64> id{r.fileId.Volume, r.fileId.File};
        if (r.present && !seen.contains(id)) {
            seen.insert(id);
            total += r.diskSize;
        }
    }
    return total;
}

DupeResult RunDuplicateScan(const DupeOptions& options, RunDelegate& run)
{
    return Scan(options, run).Run();
}

QByteArray FoldedName(const QByteArray& name)
{
    return QByteArray::fromStdString(
        disknames::FoldedName(std::string_view(name.constData(), std::size_t(name.size()))));
}

bool ParseDupeBy(const QString& text, DupeBy& by)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("name"))
        by = DupeBy::Name;
    else if (t == QLatin1String("content"))
        by = DupeBy::Content;
    else if (t == QLatin1String("both"))
        by = DupeBy::Both;
    else
        return false;
    return true;
}

// ---- which records stay -----------------------------------------------------

QList<bool> KeptMembers(const DupeGroup& group, const KeepChoice& choice)
{
    const qsizetype n = group.members.size();
    QList<bool> kept(n, false);
    if (choice.rule == KeepRule::ByHand) {
        for (qsizetype i = 0; i < n && i < choice.byHand.size(); ++i)
            kept[i] = choice.byHand[i];
        return kept;
    }
    // A record whose file is gone never stays in place of one that has it.
    bool anyPresent = false;
    for (const DupeRecord& r : group.members)
        anyPresent = anyPresent || r.present;
    auto candidate = [&](qsizetype i) { return !anyPresent || group.members[i].present; };

    if (choice.rule == KeepRule::InArea) {
        bool any = false;
        for (qsizetype i = 0; i < n; ++i) {
            if (group.members[i].area == choice.area && candidate(i)) {
                kept[i] = true;
                any = true;
            }
        }
        if (!any) // no record of that area can stay: the group is left alone
            kept.fill(true);
        return kept;
    }
    qsizetype best = -1;
    for (qsizetype i = 0; i < n; ++i) {
        if (!candidate(i))
            continue;
        if (best < 0) {
            best = i;
            continue;
        }
        const uint64_t t = FileTimeValue(group.members[i].fileTime);
        const uint64_t b = FileTimeValue(group.members[best].fileTime);
        if (choice.rule == KeepRule::Oldest ? t < b : t > b)
            best = i;
    }
    if (best >= 0)
        kept[best] = true;
    return kept;
}

QList<EntryRef> RecordsToDelete(const QList<DupeGroup>& groups, const QList<QList<bool>>& kept,
                                QList<WcFileId>* keepFiles)
{
    QSet<QString> staying;
    auto keyOf = [](const DupeRecord& r) {
        return QString::number(r.area) + QLatin1Char(':') +
               QString::fromLatin1(FoldedName(ToBytes(r.name)));
    };
    for (qsizetype g = 0; g < groups.size() && g < kept.size(); ++g) {
        const QList<bool>& k = kept[g];
        // A group that keeps nothing is left alone: all its records stay.
        const bool keepsAny = std::find(k.begin(), k.end(), true) != k.end();
        for (qsizetype i = 0; i < groups[g].members.size(); ++i)
            if (!keepsAny || (i < k.size() && k[i]))
                staying.insert(keyOf(groups[g].members[i]));
    }
    QList<const DupeRecord*> going;
    QSet<QString> listed;
    for (qsizetype g = 0; g < groups.size() && g < kept.size(); ++g) {
        for (const DupeRecord& r : groups[g].members) {
            const QString key = keyOf(r);
            if (staying.contains(key)) {
                if (keepFiles && r.present) {
                    bool known = false;
                    for (const WcFileId& id : std::as_const(*keepFiles))
                        known = known || (id.Volume == r.fileId.Volume && id.File == r.fileId.File);
                    if (!known)
                        keepFiles->append(r.fileId);
                }
                continue;
            }
            if (!listed.contains(key)) {
                listed.insert(key);
                going.append(&r);
            }
        }
    }
    std::sort(going.begin(), going.end(), [](const DupeRecord* a, const DupeRecord* b) {
        if (a->area != b->area)
            return a->area < b->area;
        return FoldedName(ToBytes(a->name)) < FoldedName(ToBytes(b->name));
    });
    QList<EntryRef> out;
    for (const DupeRecord* r : going)
        out.append({r->area, r->name});
    return out;
}
