#include "managers/ScanRun.h"

#include "archive/ArchiveTest.h"
#include "archive/ClamdSignatures.h"
#include "archive/TUnzipFile.h"
#include "common/FileUtils.h"
#include "common/Text.h"
#include "managers/DeletionRun.h"
#include "server/DiskNames.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace
{

constexpr size_t kNameSize = sizeof(FileRec::Name);

QString Thousands(qint64 n)
{
    return QLocale::c().toString(n);
}

uint64_t FileTimeOfStat(const struct stat& sb)
{
    constexpr int64_t kEpochDelta = 11644473600LL; // seconds 1601-01-01 .. 1970-01-01
    const int64_t s = int64_t(sb.st_mtim.tv_sec) + kEpochDelta;
    return s < 0 ? 0 : uint64_t(s) * 10000000ULL + uint64_t(sb.st_mtim.tv_nsec / 100);
}

// The entries of one area folder, read once: what the server opens for a
// record's name is the entry of exactly that name, else the first entry in
// byte order that differs only in ASCII letter case (disknames).
struct FolderListing {
    std::string path; // with a trailing '/'
    bool readable = false;
    std::unordered_set<std::string> exact;
    std::unordered_map<std::string, std::string> folded;

    bool Find(const std::string& name, std::string& found) const
    {
        if (exact.count(name)) {
            found = name;
            return true;
        }
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
    listing->path = path.toStdString();
    if (listing->path.empty() || listing->path.back() != '/')
        listing->path += '/';
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return listing;
    listing->readable = true;
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

// One record to scan, as the walk and the look at its file found it.
struct Entry {
    int32_t area = 0;
    char name[kNameSize + 1] = {}; // the record's name, NUL-terminated
    int32_t failedScan = 0;        // the flag as walked
    std::string path;              // the disk file; empty: none
    int64_t size = 0;
    uint64_t file = 0, lastWrite = 0;
    QByteArray keptHash; // the hash kept for the record, when it still holds
    bool haveKept = false;
    WcScanResult kept{}; // the result kept for the hash and signatures
};

// What a reader thread found: the daemon's answer and the file's hash.
struct ReadDone {
    ClamdScanResult clamd;
    QByteArray sha256;
    qint64 bytes = 0;
    bool whole = false;   // every byte was read and sent: the hash holds
    bool changed = false; // the file changed while it was read
};

// A few threads that read files and send them to the daemon.
class ReaderPool
{
public:
    explicit ReaderPool(int threads)
    {
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { Work(); });
    }
    ~ReaderPool()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }
    std::future<ReadDone> Submit(std::function<ReadDone()> job)
    {
        std::packaged_task<ReadDone()> task(std::move(job));
        std::future<ReadDone> future = task.get_future();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(task));
        }
        m_wake.notify_one();
        return future;
    }

private:
    void Work()
    {
        for (;;) {
            std::packaged_task<ReadDone()> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_done || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                task = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<ReadDone()>> m_jobs;
    bool m_done = false;
    std::vector<std::thread> m_threads;
};

// One thread that keeps hashes and results in the store, so that the
// commits (a transaction each) overlap the scan instead of holding up the
// records after them. The server library serializes its calls.
class KeepWriter
{
public:
    KeepWriter() : m_thread([this] { Work(); }) {}
    ~KeepWriter()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void Add(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_wake.notify_one();
    }

private:
    void Work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_done || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_done = false;
    std::thread m_thread;
};

// Reads the file at `path` once, sending it to the daemon and hashing it.
ReadDone ReadAndSend(const ClamdClient& client, const Entry& e, const std::atomic<bool>& cancel,
                     std::atomic<qint64>& bytesRead)
{
    ReadDone done;
    const QByteArray path = QByteArray::fromStdString(e.path);
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        done.clamd.outcome = ClamdOutcome::ReadError;
        done.clamd.message = QStringLiteral("the file can't be opened: %1")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return done;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    QCryptographicHash sha(QCryptographicHash::Sha256);
    done.clamd = client.scanStream([&](char* buffer, qint64 size, QString& error) -> qint64 {
        if (cancel.load(std::memory_order_relaxed)) {
            error = QStringLiteral("stopped");
            return -1;
        }
        for (;;) {
            const ssize_t n = ::read(fd, buffer, std::size_t(size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = QStringLiteral("the file can't be read: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
                return -1;
            }
            sha.addData(QByteArrayView(buffer, n));
            done.bytes += n;
            bytesRead.fetch_add(n, std::memory_order_relaxed);
            return qint64(n);
        }
    });
    struct stat after {
    };
    const bool statted = ::fstat(fd, &after) == 0;
    ::close(fd);
    done.changed = !statted || after.st_size != e.size || uint64_t(after.st_ino) != e.file ||
                   FileTimeOfStat(after) != e.lastWrite;
    done.whole = !done.changed && done.bytes == e.size && done.clamd.scanned();
    if (done.whole)
        done.sha256 = sha.result();
    return done;
}

ScanSkip SkipOfArchive(ArchiveTestCause cause)
{
    switch (cause) {
    case ArchiveTestCause::Encrypted:
        return ScanSkip::Encrypted;
    case ArchiveTestCause::Unsupported:
        return ScanSkip::Unsupported;
    case ArchiveTestCause::TooLarge:
    case ArchiveTestCause::TooManyMembers:
        return ScanSkip::TooLarge;
    case ArchiveTestCause::NoComponent:
        return ScanSkip::NoComponent;
    default:
        return ScanSkip::ReadError;
    }
}

// The text field's bytes of a kept result.
QString FieldText(const char* field, size_t size)
{
    return QString::fromUtf8(field, qsizetype(strnlen(field, size)));
}

template <size_t N> void PutText(char (&field)[N], const QByteArray& text)
{
    const size_t n = std::min<size_t>(size_t(text.size()), N - 1);
    std::memcpy(field, text.constData(), n);
    std::memset(field + n, 0, N - n);
}

class Scan
{
public:
    Scan(const ScanOptions& options, RunDelegate& run)
        : m_options(options), m_run(run), m_client(options.clamdSocket, options.timeouts)
    {
    }

    ScanResult Run()
    {
        m_clock.start();
        const ClamdSignatureKey key = ReadClamdSignatureKey(m_client);
        if (!key.ok) {
            // Nothing is read or changed without a daemon: every record
            // would only be "not scanned".
            m_result.noDaemon = true;
            m_run.Warn(QStringLiteral("No virus scanner daemon answers on %1 (%2): nothing was "
                                      "scanned or changed.")
                           .arg(m_options.clamdSocket, key.message));
            return Finish();
        }
        m_key = m_options.useKept ? key.key : QByteArray();
        m_result.signatures = key.Text();
        m_result.resultsKept = !m_key.isEmpty();
        m_run.Inform(QStringLiteral("Scanning with %1.").arg(key.Text()));
        if (!Walk())
            return Finish();
        ScanAll();
        return Finish();
    }

private:
    ScanResult Finish()
    {
        m_result.seconds = double(m_clock.nsecsElapsed()) / 1e9;
        m_run.SetPosition(0);
        m_run.Status(m_result.noDaemon ? QString() : SummaryStatus());
        return std::move(m_result);
    }

    QString SummaryStatus() const
    {
        return QStringLiteral("%1 records: %2 clean, %3 infected, %4 damaged, %5 not scanned; "
                              "%6 unchanged skipped; %7 bytes read, %8")
            .arg(Thousands(m_result.records), Thousands(m_result.clean),
                 Thousands(m_result.infected), Thousands(m_result.damaged),
                 Thousands(m_result.notScanned), Thousands(m_result.unchanged),
                 Thousands(m_result.bytesRead), RateText(m_result.BytesPerSecond()));
    }

    bool Stop()
    {
        if (!m_stop && m_run.StopRequested())
            m_stop = true;
        return m_stop;
    }

    // ---- the walk ----

    bool Walk()
    {
        m_run.SetMaximum(m_options.areas.size());
        qint64 areaIndex = 0;
        for (const int area : m_options.areas) {
            m_run.SetPosition(++areaIndex);
            FileAreaRec areaRec{};
            if (!GetFileArea(area, &areaRec))
                continue;
            m_run.Status(QStringLiteral("Reading File Area %1...").arg(area));
            const FolderListing* folder = FolderOf(area);
            const size_t first = m_entries.size();
            bool anyFound = false;
            WalkArea(area, [&](FileRec& rec) {
                if (!PassesRecordChoice(m_options.filter, m_options.ages, rec))
                    return true;
                Entry& e = m_entries.emplace_back();
                e.area = area;
                std::memcpy(e.name, rec.Name, strnlen(rec.Name, kNameSize));
                e.failedScan = rec.FailedScan;
                return (m_entries.size() & 1023) != 0 || !Stop();
            });
            if (m_stop) {
                m_result.stopped = true;
                return false;
            }
            // After the walk: a server call inside it would drop the rows
            // the walk has read ahead.
            for (size_t i = first; i < m_entries.size(); ++i) {
                Look(m_entries[i], folder);
                anyFound = anyFound || !m_entries[i].path.empty();
            }
            if (!anyFound && m_entries.size() > first)
                m_run.Warn(QStringLiteral("File area %1: none of its %2 records' files is in %3; "
                                          "they are not scanned.")
                               .arg(area)
                               .arg(m_entries.size() - first)
                               .arg(folder ? QString::fromStdString(folder->path) : QString()));
        }
        return true;
    }

    const FolderListing* FolderOf(int area)
    {
        char path[4096];
        if (!WcGetFileAreaFolder(area, path, sizeof path))
            return nullptr;
        const std::string key(path);
        auto it = m_folders.find(key);
        if (it == m_folders.end())
            it = m_folders.emplace(key, ListFolder(QByteArray(path))).first;
        return it->second.get();
    }

    // The record's file, its hash kept and the result kept for it.
    void Look(Entry& e, const FolderListing* folder)
    {
        std::string onDisk;
        if (!folder || !folder->Find(e.name, onDisk))
            return;
        struct stat sb {
        };
        const std::string path = folder->path + onDisk;
        if (::stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode))
            return;
        e.path = path;
        e.size = sb.st_size;
        e.file = uint64_t(sb.st_ino);
        e.lastWrite = FileTimeOfStat(sb);
        if (m_key.isEmpty())
            return;
        WcFileHash hash{};
        if (!WcGetFileHash(e.area, e.name, &hash) || hash.Size != uint64_t(e.size) ||
            FileTimeValue(hash.LastWrite) != e.lastWrite || hash.File != e.file)
            return;
        e.keptHash = QByteArray(reinterpret_cast<const char*>(hash.Sha256), 32);
        e.haveKept = WcGetScanResult(hash.Sha256, m_key.constData(), &e.kept) &&
                     (e.kept.Outcome == WC_SCAN_CLEAN || e.kept.Outcome == WC_SCAN_INFECTED ||
                      e.kept.Outcome == WC_SCAN_DAMAGED);
    }

    // ---- the scan ----

    bool NeedsRead(const Entry& e) const
    {
        return !e.path.empty() && !e.haveKept && !m_result.daemonLost;
    }

    struct Pending {
        size_t index = 0;
        bool reading = false;
        std::future<ReadDone> done;
    };

    void ScanAll()
    {
        qint64 bytesToRead = 0, filesToRead = 0;
        for (const Entry& e : m_entries)
            if (NeedsRead(e)) {
                bytesToRead += e.size;
                ++filesToRead;
            }
        m_bytesToRead = bytesToRead;
        m_filesToRead = filesToRead;
        m_run.SetMaximum(std::max<qint64>(1, bytesToRead / 1024));
        m_run.SetPosition(0);
        m_sinceStatus.start();
        ShowProgress(true);

        std::unique_ptr<ReaderPool> pool;
        if (filesToRead > 0)
            pool = std::make_unique<ReaderPool>(
                int(std::clamp<qint64>(m_options.readers, 1, filesToRead)));
        const size_t inFlight = size_t(std::max(1, m_options.readers) * 2);
        std::deque<Pending> pending;
        size_t next = 0;
        while (next < m_entries.size() || !pending.empty()) {
            while (pending.size() < inFlight && next < m_entries.size()) {
                Pending p;
                p.index = next++;
                const Entry& e = m_entries[p.index];
                if (NeedsRead(e)) {
                    p.reading = true;
                    p.done = pool->Submit(
                        [this, &e] { return ReadAndSend(m_client, e, m_cancel, m_bytesRead); });
                }
                pending.push_back(std::move(p));
            }
            Pending p = std::move(pending.front());
            pending.pop_front();
            One(p);
            ShowProgress(false);
            if (Stop()) {
                m_result.stopped = true;
                break;
            }
        }
        // Reads still under way after a stop are dropped, unused.
        m_cancel = true;
        for (Pending& p : pending)
            if (p.reading)
                p.done.wait();
        pool.reset();
        m_writer.reset(); // every hash and result kept before the run ends
        ShowProgress(true);
    }

    void ShowProgress(bool now)
    {
        if (!now && m_sinceStatus.elapsed() < 200)
            return;
        m_sinceStatus.restart();
        const qint64 read = m_bytesRead.load();
        const double seconds = std::max(0.001, double(m_clock.nsecsElapsed()) / 1e9);
        m_run.SetPosition(read / 1024);
        m_run.Status(QStringLiteral("Scanning file %1 of %2: %3 of %4 bytes, %5; %6 unchanged "
                                    "skipped")
                         .arg(Thousands(std::min(m_result.filesRead + 1, m_filesToRead)),
                              Thousands(m_filesToRead), Thousands(read), Thousands(m_bytesToRead),
                              RateText(double(read) / seconds), Thousands(m_result.unchanged)));
    }

    // Finds the outcome of one record and makes its changes.
    void One(Pending& p)
    {
        Entry& e = m_entries[p.index];
        ScanFinding f;
        f.area = e.area;
        f.name = RecText(e.name, kNameSize);
        if (e.path.empty()) {
            f.outcome = ScanOutcome::NotScanned;
            f.why = ScanSkip::Missing;
            f.detail = QStringLiteral("no file");
        } else if (m_result.daemonLost && !p.reading) {
            NoDaemon(f);
        } else if (!p.reading) {
            f.unchanged = true;
            ++m_result.unchanged;
            f.outcome = e.kept.Outcome == WC_SCAN_CLEAN      ? ScanOutcome::Clean
                        : e.kept.Outcome == WC_SCAN_INFECTED ? ScanOutcome::Infected
                                                             : ScanOutcome::Damaged;
            f.detail = FieldText(e.kept.Text, sizeof e.kept.Text);
        } else {
            Read(e, p, f);
        }
        Count(f);
        Apply(e, f);
    }

    void NoDaemon(ScanFinding& f)
    {
        f.outcome = ScanOutcome::NotScanned;
        f.why = ScanSkip::NoDaemon;
        f.detail = QStringLiteral("no daemon answers on %1").arg(m_options.clamdSocket);
    }

    void Read(Entry& e, Pending& p, ScanFinding& f)
    {
        // The archive test runs here while the readers go on with the next
        // files; the daemon's answer is waited for after it.
        ArchiveTestOptions archiveOptions;
        archiveOptions.tempFolder = m_options.tempFolder;
        archiveOptions.stop = [this] { return Stop(); };
        const ArchiveTestResult archive =
            TestArchive(QByteArray::fromStdString(e.path), Unzip(), archiveOptions);
        const ReadDone done = p.done.get();
        if (done.bytes > 0 || done.clamd.outcome != ClamdOutcome::ReadError) {
            ++m_result.filesRead;
            m_result.bytesRead += done.bytes;
        }
        const ClamdScanResult& c = done.clamd;
        f.outcome = ScanOutcome::NotScanned;
        if (done.changed && c.outcome != ClamdOutcome::Unreachable) {
            f.why = ScanSkip::ReadError;
            f.detail = QStringLiteral("the file changed while it was read");
            return;
        }
        switch (c.outcome) {
        case ClamdOutcome::Infected:
            f.outcome = ScanOutcome::Infected;
            f.detail = c.signature;
            break;
        case ClamdOutcome::Clean:
            if (archive.damaged()) {
                f.outcome = ScanOutcome::Damaged;
                f.detail = ArchiveTestText(archive);
            } else if (archive.notScanned()) {
                if (archive.cause == ArchiveTestCause::Stopped) {
                    f.why = ScanSkip::Stopped;
                    return;
                }
                f.why = SkipOfArchive(archive.cause);
                f.detail = ArchiveTestText(archive);
            } else {
                f.outcome = ScanOutcome::Clean;
            }
            break;
        case ClamdOutcome::TooLarge:
            // The archive test read it whole: its damage is a finding.
            if (archive.damaged()) {
                f.outcome = ScanOutcome::Damaged;
                f.detail = ArchiveTestText(archive);
            } else {
                f.why = ScanSkip::TooLarge;
                f.detail = QStringLiteral("larger than the daemon's stream limit (%1 bytes)")
                               .arg(Thousands(e.size));
            }
            return; // a result without the daemon's scan is not kept
        case ClamdOutcome::ReadError:
            f.why = ScanSkip::ReadError;
            f.detail = c.message;
            return;
        case ClamdOutcome::Unreachable:
            m_result.daemonLost = true;
            NoDaemon(f);
            f.detail = c.message;
            return;
        case ClamdOutcome::Failed:
            f.why = ScanSkip::DaemonFailed;
            f.detail = c.message;
            return;
        }
        if (f.outcome == ScanOutcome::NotScanned || !done.whole)
            return;
        Keep(e, done, f);
    }

    // Keeps the file's hash (when it had none that holds) and the result.
    void Keep(const Entry& e, const ReadDone& done, const ScanFinding& f)
    {
        const bool putHash = e.keptHash != done.sha256;
        WcFileHash h{};
        h.Size = uint64_t(e.size);
        h.LastWrite = MakeFileTime(e.lastWrite);
        h.File = e.file;
        std::memcpy(h.Sha256, done.sha256.constData(), 32);
        const bool putResult = !m_key.isEmpty();
        WcScanResult r{};
        if (putResult) {
            std::memcpy(r.Sha256, done.sha256.constData(), 32);
            PutText(r.Signatures, m_key);
            r.Outcome = f.outcome == ScanOutcome::Clean      ? WC_SCAN_CLEAN
                        : f.outcome == ScanOutcome::Infected ? WC_SCAN_INFECTED
                                                             : WC_SCAN_DAMAGED;
            r.Scanned = QDateTime::currentSecsSinceEpoch();
            PutText(r.Text, f.detail.toUtf8());
        }
        if (!putHash && !putResult)
            return;
        if (!m_writer)
            m_writer = std::make_unique<KeepWriter>();
        const int32_t area = e.area;
        std::array<char, kNameSize + 1> name{};
        std::memcpy(name.data(), e.name, sizeof e.name);
        // A hash or result that can't be kept only costs a read next time.
        m_writer->Add([=] {
            if (putHash)
                WcPutFileHash(area, name.data(), &h);
            if (putResult)
                WcPutScanResult(&r);
        });
    }

    TUnzipFile* Unzip()
    {
        if (!m_unzip)
            m_unzip = std::make_unique<TUnzipFile>();
        return m_unzip->IsLoaded() ? m_unzip.get() : nullptr;
    }

    void Count(const ScanFinding& f)
    {
        ++m_result.records;
        switch (f.outcome) {
        case ScanOutcome::Clean:
            ++m_result.clean;
            break;
        case ScanOutcome::Infected:
            ++m_result.infected;
            break;
        case ScanOutcome::Damaged:
            ++m_result.damaged;
            break;
        case ScanOutcome::NotScanned:
            ++m_result.notScanned;
            break;
        }
    }

    // ---- the changes ----

    void Apply(const Entry& e, ScanFinding& f)
    {
        RunOutcome outcome = RunOutcome::Done;
        QStringList done;
        if (f.outcome != ScanOutcome::NotScanned) {
            const bool finding = f.outcome != ScanOutcome::Clean;
            const int32_t want = finding ? 1 : (m_options.clearPassed ? 0 : e.failedScan);
            const bool flag = (want != 0) != (e.failedScan != 0);
            const bool move = f.outcome == ScanOutcome::Infected && m_options.quarantine > 0 &&
                              e.area != m_options.quarantine;
            if (m_options.dryRun) {
                // The command line puts "would" before a planned item.
                if (flag)
                    done << (want ? QStringLiteral("set Failed Scan")
                                  : QStringLiteral("clear Failed Scan"));
                if (move)
                    done << QStringLiteral("move to %1").arg(m_options.quarantine);
                f.flagChanged = flag;
                f.quarantinedTo = move ? m_options.quarantine : 0;
                if (flag || move)
                    outcome = RunOutcome::Planned;
            } else if (flag || move) {
                outcome = Change(e, f, want, move, done);
            }
            if (f.flagChanged)
                ++(want ? m_result.flagsSet : m_result.flagsCleared);
            if (f.quarantinedTo)
                ++m_result.quarantined;
        } else {
            outcome = RunOutcome::Skipped;
        }
        f.action = done.join(QStringLiteral(", "));
        if (f.outcome != ScanOutcome::Clean || f.flagChanged || outcome != RunOutcome::Done)
            m_result.findings.append(f);
        QString words = f.Text();
        if (f.unchanged)
            words += QStringLiteral(" (unchanged)");
        if (outcome == RunOutcome::Planned)
            words = f.action + QStringLiteral(" (") + words + QLatin1Char(')');
        else if (!f.action.isEmpty())
            words += QStringLiteral("; ") + f.action;
        m_run.Item({f.area, f.name, outcome, words});
    }

    RunOutcome Change(const Entry& e, ScanFinding& f, int32_t want, bool move, QStringList& done)
    {
        FileRec rec{};
        uint32_t position = 0;
        if (!GetFileRecByAreaName(e.area, e.name, &rec, &position)) {
            ++m_result.changesFailed;
            done << QStringLiteral("the record can't be read (server error 0x%1)")
                        .arg(WcGetLastError(), 8, 16, QLatin1Char('0'));
            return RunOutcome::Failed;
        }
        if (move) {
            const RunOutcome moved = Quarantine(rec, f, done);
            if (moved == RunOutcome::Done)
                return moved;
            // The record stays where it is, with its flag set.
            if (rec.FailedScan == want)
                return moved;
            rec.FailedScan = want;
            if (UpdateFileRec(&rec)) {
                f.flagChanged = true;
                done << QStringLiteral("Failed Scan set");
            }
            return moved;
        }
        rec.FailedScan = want;
        if (!UpdateFileRec(&rec)) {
            ++m_result.changesFailed;
            done << QStringLiteral("the record was not updated (server error 0x%1)")
                        .arg(WcGetLastError(), 8, 16, QLatin1Char('0'));
            return RunOutcome::Failed;
        }
        f.flagChanged = true;
        done << (want ? QStringLiteral("Failed Scan set") : QStringLiteral("Failed Scan cleared"));
        return RunOutcome::Done;
    }

    // Moves an infected record with its file to the quarantine area, with
    // "Failed Scan" set: the file is copied first, then the record is added
    // there and the old one deleted with its file (into the run's trash,
    // inside a journaled run), so an undo puts everything back.
    RunOutcome Quarantine(FileRec& rec, ScanFinding& f, QStringList& done)
    {
        const int to = m_options.quarantine;
        const QByteArray nameBytes(rec.Name, int(strnlen(rec.Name, kNameSize)));
        const QString name = FromBytes(nameBytes);
        FileRec existing{};
        uint32_t at = 0;
        char from[4096] = {}, there[4096] = {};
        if (!WcGetFileAreaFolder(rec.Area, from, sizeof from) ||
            !WcGetFileAreaFolder(to, there, sizeof there)) {
            ++m_result.changesFailed;
            done << QStringLiteral("not moved: the area folders can't be read");
            return RunOutcome::Failed;
        }
        const QString target = ServerFilePath(to, name);
        const bool sameFolder = std::strcmp(from, there) == 0;
        if (GetFileRecByAreaName(to, rec.Name, &existing, &at) ||
            (!sameFolder && WcExistFile(ToBytes(target).constData()))) {
            ++m_result.changesFailed;
            done << QStringLiteral("not moved: the name is taken in area %1").arg(to);
            return RunOutcome::Refused;
        }
        if (sameFolder) {
            // The file is where the quarantine area looks already.
            FileRec moved = rec;
            moved.Area = to;
            moved.FailedScan = 1;
            if (!UpdateFileRec(&moved)) {
                ++m_result.changesFailed;
                done << QStringLiteral("not moved (server error 0x%1)")
                            .arg(WcGetLastError(), 8, 16, QLatin1Char('0'));
                return RunOutcome::Failed;
            }
            return Moved(rec, f, done);
        }
        if (!m_run.Copy(ServerFilePath(rec.Area, name), target, QStringLiteral("Quarantine..."))) {
            ++m_result.changesFailed;
            done << QStringLiteral("not moved: the file copy failed");
            return RunOutcome::Failed;
        }
        FullFileRec full{};
        if (!GetFullFileRec(&rec, &full)) {
            full = FullFileRec{};
            full.Rec = rec;
        }
        full.Rec.Area = to;
        full.Rec.FailedScan = 1;
        if (!AddFileRec(&full)) {
            const uint32_t code = WcGetLastError();
            QFile::remove(QFile::decodeName(QByteArray(there) + '/' + nameBytes));
            ++m_result.changesFailed;
            done << QStringLiteral("not moved: the record was not added to area %1 (server "
                                   "error 0x%2)")
                        .arg(to)
                        .arg(code, 8, 16, QLatin1Char('0'));
            return RunOutcome::Failed;
        }
        // The file stays when a record of another area on the same folder
        // names it too.
        const bool keepFile = !m_keeper.Why(rec.Area, nameBytes).isEmpty();
        if (!DeleteFileRec(&rec, keepFile ? 0 : 1)) {
            ++m_result.changesFailed;
            done << QStringLiteral("copied to area %1, but the record stays here too (server "
                                   "error 0x%2)")
                        .arg(to)
                        .arg(WcGetLastError(), 8, 16, QLatin1Char('0'));
            return RunOutcome::Failed;
        }
        m_keeper.Gone(rec.Area, nameBytes);
        return Moved(rec, f, done);
    }

    RunOutcome Moved(const FileRec& rec, ScanFinding& f, QStringList& done)
    {
        f.quarantinedTo = m_options.quarantine;
        if (rec.FailedScan == 0) {
            f.flagChanged = true;
            done << QStringLiteral("Failed Scan set");
        }
        done << QStringLiteral("moved to %1").arg(m_options.quarantine);
        return RunOutcome::Done;
    }

    const ScanOptions& m_options;
    RunDelegate& m_run;
    ClamdClient m_client;
    QByteArray m_key;
    ScanResult m_result;
    std::vector<Entry> m_entries;
    std::unordered_map<std::string, std::unique_ptr<FolderListing>> m_folders;
    std::unique_ptr<TUnzipFile> m_unzip;
    std::unique_ptr<KeepWriter> m_writer;
    FileKeeper m_keeper;
    QElapsedTimer m_clock, m_sinceStatus;
    std::atomic<bool> m_cancel{false};
    std::atomic<qint64> m_bytesRead{0};
    qint64 m_bytesToRead = 0, m_filesToRead = 0;
    bool m_stop = false;
};

} // namespace

QString ScanSkipWord(ScanSkip why)
{
    switch (why) {
    case ScanSkip::None:
        break;
    case ScanSkip::NoDaemon:
        return QStringLiteral("no daemon");
    case ScanSkip::DaemonFailed:
        return QStringLiteral("daemon error");
    case ScanSkip::Missing:
        return QStringLiteral("missing");
    case ScanSkip::ReadError:
        return QStringLiteral("read error");
    case ScanSkip::TooLarge:
        return QStringLiteral("too large");
    case ScanSkip::Encrypted:
        return QStringLiteral("encrypted");
    case ScanSkip::Unsupported:
        return QStringLiteral("unsupported method");
    case ScanSkip::NoComponent:
        return QStringLiteral("no zip component");
    case ScanSkip::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

QString ScanOutcomeWord(ScanOutcome outcome)
{
    switch (outcome) {
    case ScanOutcome::Clean:
        return QStringLiteral("clean");
    case ScanOutcome::Infected:
        return QStringLiteral("infected");
    case ScanOutcome::Damaged:
        return QStringLiteral("damaged");
    case ScanOutcome::NotScanned:
        break;
    }
    return QStringLiteral("not scanned");
}

QString ScanFinding::Text() const
{
    QString text = ScanOutcomeWord(outcome);
    if (outcome == ScanOutcome::NotScanned)
        text += QStringLiteral(" (%1)").arg(ScanSkipWord(why));
    // The archive test's text starts with its own outcome word.
    QString more = detail;
    const QString word = ScanOutcomeWord(outcome) + QLatin1Char(':');
    if (more.startsWith(word))
        more = more.mid(word.size()).trimmed();
    if (!more.isEmpty())
        text += QStringLiteral(": ") + more;
    return text;
}

QString RateText(double bytesPerSecond)
{
    if (bytesPerSecond >= 1e9)
        return QStringLiteral("%1 GB/s").arg(bytesPerSecond / 1e9, 0, 'f', 2);
    if (bytesPerSecond >= 1e6)
        return QStringLiteral("%1 MB/s").arg(bytesPerSecond / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1e3, 0, 'f', 1);
}

ScanResult RunScan(const ScanOptions& options, RunDelegate& run)
{
    return Scan(options, run).Run();
}
