#include "managers/TicRun.h"

#include "archive/DescriptionPull.h"
#include "archive/TicCheck.h"
#include "archive/TicFile.h"
#include "common/AreaLines.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "managers/DeletionRun.h"
#include "managers/FileListRun.h"
#include "server/AreaFiles.h"
#include "server/RecordFileSize.h"
#include "server/ServerPath.h"
#include "server/ServerQueries.h"
#include "server/wcsrv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace
{

constexpr int kListWidth = 80;

QString NameText(const QByteArray& recordName)
{
    return FromBytes(recordName);
}

// What is known of a file of the area's folder: its size and CRC-32 when it
// is a plain file that a record could hold.
struct AreaFile {
    bool exists = false;
    QByteArray path;
    qint64 size = -1;
    std::optional<quint32> crc;
};

AreaFile ReadAreaFile(int area, const QString& name)
{
    AreaFile f;
    f.path = AreaEntryOfName(area, name);
    struct stat st {
    };
    if (f.path.isEmpty() || ::lstat(f.path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return f;
    f.exists = true;
    f.size = qint64(st.st_size);
    quint32 crc = 0;
    if (FileFitsRecord(f.size) && FileCrc32(f.path, crc))
        f.crc = crc;
    return f;
}

// The same file as the TIC's: same size and CRC-32.
bool SameFile(const AreaFile& there, const TicFileState& state)
{
    return there.exists && there.crc && state.crc && there.size == state.size &&
           *there.crc == *state.crc;
}

// A free name for `name` in `folder`: the name itself, else ".1", ".2", ...
// appended.
QString FreeNameIn(const QDir& folder, const QString& name)
{
    QString candidate = name;
    for (int n = 1; QFileInfo::exists(folder.filePath(candidate)) ||
                    QFileInfo(folder.filePath(candidate)).isSymLink();
         ++n)
        candidate = name + u'.' + QString::number(n);
    return candidate;
}

// The description lines of the archive as the drop takes them, with the
// long name line before them when the TIC gave one.
void DescribeFromArchive(const QByteArray& path, const TicDecision& decision, TUnzipFile* unzip,
                         FullFileRec& full)
{
    QTemporaryDir temp;
    if (temp.isValid())
        PullArchiveDescription(path, temp.path(), unzip, full);
    if (decision.longNameLine.isEmpty())
        return;
    // The long name goes first; the archive's lines move one down and the
    // fifteenth falls off.
    std::memmove(full.LongDescription[1], full.LongDescription[0],
                 sizeof full.LongDescription - sizeof full.LongDescription[0]);
    std::memset(full.LongDescription[0], 0, sizeof full.LongDescription[0]);
    std::memcpy(full.LongDescription[0], decision.longNameLine.constData(),
                size_t(std::min<qsizetype>(decision.longNameLine.size(), kTicLongLineBytes)));
    full.Rec.HasLongDescription = 1;
}

// The size and the local time of a file, as a freshen reads them. A
// rename into the area keeps both, and a copy is given the same time, so
// the file as it lies in the inbound tells what the placed file will have.
bool DiskSizeAndTime(const QByteArray& path, int32_t& size, FILETIME& local)
{
    constexpr int64_t kEpochDelta = 11644473600LL; // seconds 1601-01-01 .. 1970-01-01
    struct stat st {
    };
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !FileFitsRecord(qint64(st.st_size)) || int64_t(st.st_mtim.tv_sec) + kEpochDelta < 0)
        return false;
    const uint64_t ticks = uint64_t(int64_t(st.st_mtim.tv_sec) + kEpochDelta) * 10000000ULL +
                           uint64_t(st.st_mtim.tv_nsec / 100);
    if (!FileTimeToLocal(MakeFileTime(ticks), local))
        return false;
    size = int32_t(st.st_size);
    return true;
}

QString ServerErrorText(uint32_t code)
{
    return QStringLiteral("server error 0x%1").arg(code, 8, 16, QLatin1Char('0'));
}

// What the texts lost to the record's fields, for the preview.
QString CutNotes(const TicDecision& d)
{
    QStringList notes;
    if (d.descriptionCut)
        notes << QStringLiteral("description cut at %1 characters").arg(kTicDescriptionBytes);
    if (d.longLinesDropped > 0)
        notes << QStringLiteral("long description: %1 line(s) dropped").arg(d.longLinesDropped);
    if (d.longLinesCut > 0)
        notes << QStringLiteral("long description: %1 line(s) cut at %2 characters")
                     .arg(d.longLinesCut)
                     .arg(kTicLongLineBytes);
    if (!d.hasTexts)
        notes << QStringLiteral("description from the archive");
    return notes.join(QStringLiteral("; "));
}

class Intake
{
public:
    Intake(const TicRunOptions& options, RunDelegate& run) : m_o(options), m_run(run) {}
    TicRunResult Run();

private:
    void One(const QString& ticName);
    // Decides and (unless a dry run) carries out an accepted TIC.
    void Accepted(TicRow& row, const TicFile& tic, TicDecision d, TicFileState state,
                  bool fileInArea);
    void Refuse(TicRow& row, const QString& reason, bool ticOnly, const QByteArray& filePath);
    bool CopyIntoArea(int area, const QString& name, const TicFileState& state,
                      const QString& target);
    void Finish(TicRow& row);
    bool RemoveTic(const QString& ticPath);

    // TICs whose files go into their areas by a plain rename (nothing
    // replaced, nothing placed before) are gathered and placed together:
    // their renames noted in one commit and their records stored in one,
    // instead of two commits per TIC. A TIC that could meet one of them
    // (the same file or record name, or Replaces) waits for them to be
    // placed first, and every other row is reported after them, so the
    // rows keep the TICs' order.
    struct Pending {
        TicRow row;
        FullFileRec full;
        TicFileState state;
        QString ticPath;
        int area = 0;
        QString name;
        QString failure;          // why it was not placed
        bool inArea = false;      // the file lies in its area already: nothing moves
        bool inboundLeft = false; // an inbound copy that goes once the record is stored
    };
    static constexpr qsizetype kBatch = 128;
    QList<Pending> m_batch;
    QSet<QByteArray> m_batchNames; // their record and inbound names, upper case
    bool m_flushing = false;
    bool MeetsBatch(const TicFile& tic) const;
    void Flush();
    void FailRow(TicRow& row, const QString& why);

    const TicRunOptions& m_o;
    RunDelegate& m_run;
    TicRunResult m_result;
    QDir m_inbound;
    QString m_ticPath;
    QDateTime m_now;
    UserRef m_uploader{};
    bool m_uploaderRead = false;
    std::unique_ptr<FileKeeper> m_keeper;
    QList<std::pair<int, QString>> m_placed;
    QHash<int, bool> m_areaKnown;

    // The names in each area's folder (ASCII letters in upper case), read
    // once per run and kept up to date as files come and go: most names
    // an intake looks up are not there, and each miss would otherwise read
    // the whole folder.
    struct FolderNames {
        bool read = false;
        QSet<QByteArray> names;
    };
    QHash<int, FolderNames> m_folderNames;
    AreaFile LookUp(int area, const QString& name);
    void NoteName(int area, const QString& name, bool there);
};

AreaFile Intake::LookUp(int area, const QString& name)
{
    FolderNames& f = m_folderNames[area];
    if (!f.read) {
        QByteArray folder;
        bool ok = false;
        if (AreaFolderBytes(area, folder)) {
            const QList<QByteArray> entries = FolderEntryNames(folder, &ok);
            for (const QByteArray& entry : entries)
                f.names.insert(ToBytes(RecordNameOfDiskName(entry)));
        }
        if (!ok) // looked up on the disk each time
            return ReadAreaFile(area, name);
        f.read = true;
    }
    if (!f.names.contains(ToBytes(RecordNameOfFile(name))))
        return AreaFile();
    return ReadAreaFile(area, name);
}

void Intake::NoteName(int area, const QString& name, bool there)
{
    auto it = m_folderNames.find(area);
    if (it == m_folderNames.end() || !it->read)
        return;
    if (there)
        it->names.insert(ToBytes(RecordNameOfFile(name)));
    else
        it->names.remove(ToBytes(RecordNameOfFile(name)));
}

TicRunResult Intake::Run()
{
    // In UTC: the TICs' ages count to it without a look at the zone.
    m_now = (m_o.now.isValid() ? m_o.now : QDateTime::currentDateTime()).toUTC();
    const QString inbound = m_o.settings.inbound.trimmed();
    QStringList tics;
    if (inbound.isEmpty() || !QFileInfo(inbound).isDir() || !InboundTics(inbound, tics)) {
        m_result.noInbound = true;
        m_run.Warn(inbound.isEmpty()
                       ? QStringLiteral("No inbound folder is set (TIC, Inbound).")
                       : QStringLiteral("The inbound folder %1 cannot be read.").arg(inbound));
        return m_result;
    }
    m_inbound = QDir(QFileInfo(inbound).absoluteFilePath());
    m_keeper = std::make_unique<FileKeeper>();
    m_run.SetMaximum(tics.size());
    qint64 position = 0;
    m_run.SetPosition(position);
    for (const QString& name : std::as_const(tics)) {
        if (m_run.StopRequested()) {
            m_result.stopped = true;
            break;
        }
        m_run.Status(QStringLiteral("TIC: %1").arg(name));
        One(name);
        m_run.SetPosition(++position);
    }
    Flush();
    m_run.Status(QString());
    if (!m_o.dryRun && !m_o.announcePath.isEmpty() && !m_placed.isEmpty() &&
        !AppendTicAnnouncement(m_o.announcePath, m_placed)) {
        m_result.announceFailed = true;
        m_run.Warn(
            QStringLiteral("The announcement could not be written to %1.").arg(m_o.announcePath));
    }
    return m_result;
}

void Intake::One(const QString& ticName)
{
    m_ticPath = m_inbound.filePath(ticName);
    TicRow row;
    row.tic = ticName;
    TicFile tic;
    if (!ReadTicFile(m_ticPath, tic)) {
        Refuse(row, QStringLiteral("the TIC cannot be read"), true, QByteArray());
        return;
    }
    if (MeetsBatch(tic))
        Flush();
    row.echo = TicText(tic.area);
    TicFileState state = ReadTicFileState(m_inbound.path(), tic, m_ticPath, m_now);
    TicDecision d = CheckTic(tic, m_o.settings, state, CurrentRecordCodePage());
    row.area = d.area;
    row.file = d.recordName.isEmpty() ? TicText(tic.file) : NameText(d.recordName);

    // A file that is not in the inbound may have reached its area already
    // (a run killed after the move): checked as it lies there, it finishes.
    bool fileInArea = false;
    if (d.verdict != TicVerdict::Accept && !state.exists && !state.notPlain && d.area > 0 &&
        !d.recordName.isEmpty() && !d.ticOnly) {
        const AreaFile there = LookUp(d.area, NameText(d.recordName));
        if (there.exists) {
            TicFileState placed = state;
            placed.exists = true;
            placed.path = there.path;
            placed.size = there.size;
            placed.crc = there.crc;
            const TicDecision again = CheckTic(tic, m_o.settings, placed, CurrentRecordCodePage());
            if (again.verdict == TicVerdict::Accept) {
                d = again;
                state = placed;
                fileInArea = true;
            }
        }
    }

    switch (d.verdict) {
    case TicVerdict::Wait:
        row.action = TicAction::Wait;
        row.actionText = TicActionWord(TicAction::Wait, m_o.dryRun);
        row.reason = d.reason;
        Finish(row);
        return;
    case TicVerdict::Refuse:
        Refuse(row, d.reason, d.ticOnly, state.exists ? state.path : QByteArray());
        return;
    case TicVerdict::Accept:
        break;
    }
    Accepted(row, tic, d, state, fileInArea);
}

void Intake::Accepted(TicRow& row, const TicFile& tic, TicDecision d, TicFileState state,
                      bool fileInArea)
{
    const int area = d.area;
    const QString name = NameText(d.recordName);
    const QByteArray inboundCopy = fileInArea ? QByteArray() : state.path;
    // The file's CRC-32: what a duplicate, a copy and a file cut short are
    // told by (read by the check unless the TIC gave no Crc to compare).
    if (!state.crc) {
        quint32 crc = 0;
        if (!FileCrc32(state.path, crc)) {
            Refuse(row, QStringLiteral("file '%1' could not be read").arg(name), false,
                   inboundCopy);
            return;
        }
        state.crc = crc;
    }
    if (NameTooLongForDatabase(name)) {
        Refuse(row, QStringLiteral("file name '%1' is too long for the file database").arg(name),
               false, inboundCopy);
        return;
    }
    if (const QString why = FileNameRefusal(name); !why.isEmpty()) {
        Refuse(row, QStringLiteral("file name '%1': %2").arg(name, why), false, inboundCopy);
        return;
    }
    auto failed = [&](const QString& why) { FailRow(row, why); };
    // An echo whose area the BBS does not have is a setting to mend: its
    // files wait in the inbound rather than going to bad.
    if (!m_areaKnown.contains(area))
        m_areaKnown.insert(area, FileAreaExists(area));
    if (!m_areaKnown.value(area)) {
        failed(QStringLiteral("file area %1 does not exist").arg(area));
        return;
    }

    // The area's record of the same name, if any.
    FileRec same{};
    bool haveSame = false;
    {
        uint32_t at = 0;
        haveSame = GetFileRecByAreaName(area, d.recordName.constData(), &same, &at);
        if (!haveSame && WcGetLastError() != WC_RECORD_NOT_FOUND) {
            failed(ServerErrorText(WcGetLastError()));
            return;
        }
    }
    const AreaFile there =
        fileInArea ? AreaFile{true, state.path, state.size, state.crc} : LookUp(area, name);
    // The same file again: nothing changes but the inbound.
    if (haveSame && SameFile(there, state)) {
        row.action = TicAction::Duplicate;
        row.actionText = TicActionWord(TicAction::Duplicate, m_o.dryRun);
        row.reason = fileInArea ? QStringLiteral("already in area %1").arg(area)
                                : QStringLiteral("area %1 has the same file").arg(area);
        if (!m_o.dryRun) {
            // The TIC first: a kill between leaves a file without a TIC,
            // never a TIC waiting for a file that is not coming.
            if (!RemoveTic(m_ticPath)) {
                failed(QStringLiteral("the TIC cannot be removed"));
                return;
            }
            if (!inboundCopy.isEmpty())
                QFile::remove(QFile::decodeName(inboundCopy));
        }
        Finish(row);
        return;
    }

    // The records the file replaces: those Replaces names, and the one of
    // the same name when ReplaceSameName is on.
    QList<FileRec> replaced;
    QStringList blocked;
    bool sameReplaced = false;
    if (!tic.replaces.isEmpty()) {
        WalkArea(area, [&](FileRec& rec) {
            const QByteArray recName(rec.Name, qsizetype(qstrnlen(rec.Name, sizeof rec.Name)));
            for (const QByteArray& pattern : tic.replaces) {
                if (TicWildcardMatch(pattern, recName)) {
                    replaced.append(rec);
                    if (recName == d.recordName)
                        sameReplaced = true;
                    break;
                }
            }
            return true;
        });
    }
    if (haveSame && !sameReplaced) {
        if (!m_o.settings.replaceSameName) {
            Refuse(row,
                   QStringLiteral("area %1 already has %2 and ReplaceSameName is off")
                       .arg(area)
                       .arg(name),
                   false, inboundCopy);
            return;
        }
        replaced.append(same);
    }
    for (const FileRec& rec : std::as_const(replaced)) {
        if (rec.NeverOverwrite)
            blocked << RecText(rec.Name);
        row.replaces << RecText(rec.Name);
    }
    if (!blocked.isEmpty()) {
        Refuse(row,
               QStringLiteral("%1 in area %2 is marked Never Overwrite")
                   .arg(blocked.join(QStringLiteral(", ")))
                   .arg(area),
               false, inboundCopy);
        return;
    }
    // A file of the name in the area's folder that no record names: taken
    // when it is this very file (an intake cut short), else refused.
    if (!haveSame && !fileInArea && there.exists) {
        if (!SameFile(there, state)) {
            Refuse(row,
                   QStringLiteral("area %1's folder already holds a file %2 that no record "
                                  "names")
                       .arg(area)
                       .arg(name),
                   false, inboundCopy);
            return;
        }
        fileInArea = true;
    }

    row.action = TicAction::Place;
    row.actionText = TicActionWord(TicAction::Place, m_o.dryRun);
    if (!row.replaces.isEmpty())
        row.actionText += QStringLiteral(", replaces ") + row.replaces.join(QStringLiteral(", "));
    row.reason = CutNotes(d);
    if (m_o.dryRun) {
        Finish(row);
        return;
    }

    // The record, made before anything moves: its texts come from the TIC,
    // else from the archive as it lies in the inbound.
    FullFileRec full{};
    std::memset(&full, 0, sizeof full);
    SetRecText(full.Rec.Name, name);
    full.Rec.Area = area;
    if (d.hasTexts)
        ApplyTicTexts(d, full);
    else
        DescribeFromArchive(fileInArea ? there.path : state.path, d, m_o.unzip, full);
    if (!m_uploaderRead) {
        SetUploaderByName(m_uploader, m_o.settings.uploader);
        m_uploaderRead = true;
    }
    full.Rec.Uploader = m_uploader;

    int32_t size = 0;
    FILETIME local{};
    if (!DiskSizeAndTime(fileInArea ? there.path : state.path, size, local)) {
        failed(QStringLiteral("the file %1 cannot be read").arg(name));
        return;
    }
    full.Rec.Size = size;
    full.Rec.FileTime = local;

    // The old records go with their files (into the trash inside a run).
    for (const FileRec& rec : std::as_const(replaced)) {
        const QByteArray recName(rec.Name, qsizetype(qstrnlen(rec.Name, sizeof rec.Name)));
        const bool withFile = m_keeper->Why(area, recName).isEmpty();
        if (!DeleteFileRec(&rec, withFile ? 1 : 0)) {
            failed(QStringLiteral("%1 could not be replaced (%2)")
                       .arg(RecText(rec.Name), ServerErrorText(WcGetLastError())));
            return;
        }
        m_keeper->Gone(area, recName);
        if (withFile)
            NoteName(area, RecText(rec.Name), false);
    }

    // Into the area with the gathered TICs. One that replaced records, or
    // whose file lies in its area already, is placed at once.
    m_batchNames.insert(ToBytes(name).toUpper());
    m_batchNames.insert(QFileInfo(QFile::decodeName(state.path)).fileName().toUtf8().toUpper());
    const bool inboundLeft = fileInArea && QFileInfo::exists(QFile::decodeName(state.path)) &&
                             !there.path.isEmpty() && state.path != there.path;
    m_batch.append({row, full, state, m_ticPath, area, name, QString(), fileInArea, inboundLeft});
    if (fileInArea || !replaced.isEmpty() || m_batch.size() >= kBatch)
        Flush();
}

bool Intake::MeetsBatch(const TicFile& tic) const
{
    if (m_batch.isEmpty())
        return false;
    if (!tic.replaces.isEmpty())
        return true;
    auto named = [this](const QByteArray& name) {
        if (name.isEmpty())
            return false;
        const qsizetype slash = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
        return m_batchNames.contains(name.mid(slash + 1).toUpper());
    };
    return named(tic.file) || named(tic.longName);
}

void Intake::FailRow(TicRow& row, const QString& why)
{
    row.action = TicAction::Failed;
    row.actionText = TicActionWord(TicAction::Failed, m_o.dryRun);
    row.reason = why;
    Finish(row);
}

// The gathered TICs placed: their files renamed into their areas together
// where the inbound and the area's folder share a file system (else copied
// and checked by its CRC before the inbound copy goes), their records
// stored together (one by one when that fails, to tell which), and then,
// per TIC in order, the TIC removed and the row reported.
void Intake::Flush()
{
    if (m_batch.isEmpty() || m_flushing)
        return;
    m_flushing = true;
    QList<Pending> batch;
    batch.swap(m_batch);
    m_batchNames.clear();

    std::vector<QByteArray> targets(size_t(batch.size()));
    std::vector<const char*> from, to;
    std::vector<qsizetype> moving; // the batch's places of the moves
    for (qsizetype i = 0; i < batch.size(); ++i) {
        if (batch[i].inArea)
            continue;
        targets[size_t(i)] = ToBytes(ServerFilePath(batch[i].area, batch[i].name));
        from.push_back(batch[i].state.path.constData());
        to.push_back(targets[size_t(i)].constData());
        moving.push_back(i);
    }
    std::vector<uint32_t> moved(moving.size(), 0);
    if (!moving.empty() &&
        !WcMoveFiles(uint32_t(moving.size()), from.data(), to.data(), moved.data()))
        std::fill(moved.begin(), moved.end(), WcGetLastError());
    std::vector<uint32_t> results(size_t(batch.size()), 0);
    for (size_t k = 0; k < moving.size(); ++k)
        results[size_t(moving[k])] = moved[k];

    std::vector<FullFileRec> records;
    QList<qsizetype> stored; // the batch's places of `records`
    for (qsizetype i = 0; i < batch.size(); ++i) {
        Pending& p = batch[i];
        const uint32_t code = results[size_t(i)];
        if (code == WC_NO_ACTION_TAKEN) { // (0 for a file in its area already)
            if (!CopyIntoArea(p.area, p.name, p.state, QFile::decodeName(targets[size_t(i)]))) {
                p.failure = QStringLiteral("the file could not be copied into area %1").arg(p.area);
                continue;
            }
            p.inboundLeft = true;
        } else if (code != 0) {
            p.failure = QStringLiteral("the file could not be moved into area %1 (%2)")
                            .arg(p.area)
                            .arg(ServerErrorText(code));
            continue;
        }
        NoteName(p.area, p.name, true);
        records.push_back(p.full);
        stored.append(i);
    }
    if (!records.empty() && !AddFileRecs(uint32_t(records.size()), records.data())) {
        for (const qsizetype i : std::as_const(stored))
            if (!AddFileRec(&batch[i].full))
                batch[i].failure =
                    QStringLiteral("the record could not be stored (%1); the next run finishes it")
                        .arg(ServerErrorText(WcGetLastError()));
    }

    for (Pending& p : batch) {
        if (!p.failure.isEmpty()) {
            FailRow(p.row, p.failure);
            continue;
        }
        m_placed.append({p.area, p.name});
        if (p.inboundLeft)
            QFile::remove(QFile::decodeName(p.state.path));
        if (!RemoveTic(p.ticPath))
            m_run.Warn(QStringLiteral("TIC %1 could not be removed; the next run reports it as "
                                      "a duplicate.")
                           .arg(p.row.tic));
        Finish(p.row);
    }
    m_flushing = false;
}

// The copy goes to a name no record has (and that names no other TIC's
// file) and is renamed to the file's name only once its CRC matches and it
// has the time the file arrived with: a kill during the copy leaves no
// partial file under the record's name, only this one, which the next copy
// replaces.
bool Intake::CopyIntoArea(int area, const QString& name, const TicFileState& state,
                          const QString& target)
{
    const QString partName =
        QStringLiteral("~T%1.TMP").arg(QString::fromLatin1(CrcText(*state.crc)));
    if (const QByteArray stale = AreaEntryOfName(area, partName); !stale.isEmpty())
        QFile::remove(QFile::decodeName(stale));
    const QString part = ServerFilePath(area, partName);
    if (!m_run.Copy(QFile::decodeName(state.path), part,
                    QStringLiteral("Copy File to FileArea #%1").arg(area)))
        return false;
    const AreaFile copy = ReadAreaFile(area, partName);
    if (!SameFile(copy, state)) {
        if (!copy.path.isEmpty())
            QFile::remove(QFile::decodeName(copy.path));
        m_run.Warn(QStringLiteral("The copy of %1 in area %2 does not match the file's CRC.")
                       .arg(name)
                       .arg(area));
        return false;
    }
    {
        const QDateTime arrived = QFileInfo(QFile::decodeName(state.path)).lastModified();
        QFile copied(QFile::decodeName(copy.path));
        if (copied.open(QIODevice::ReadWrite))
            copied.setFileTime(arrived, QFileDevice::FileModificationTime);
    }
    // One folder: a rename, journaled. Where the library still refuses to
    // rename (folders it takes for separate file systems), the disk's own
    // rename, which never replaces a file either.
    if (WcMoveFile(ToBytes(part).constData(), ToBytes(target).constData()))
        return true;
    QByteArray folder;
    if (WcGetLastError() == WC_NO_ACTION_TAKEN && AreaFolderBytes(area, folder) &&
        QFile::rename(QFile::decodeName(copy.path),
                      QFile::decodeName(DiskPathIn(folder, ToBytes(name)))))
        return true;
    QFile::remove(QFile::decodeName(copy.path));
    return false;
}

void Intake::Refuse(TicRow& row, const QString& reason, bool ticOnly, const QByteArray& filePath)
{
    row.action = TicAction::Bad;
    row.actionText = TicActionWord(TicAction::Bad, m_o.dryRun);
    row.reason = reason;
    if (m_o.dryRun) {
        Finish(row);
        return;
    }
    const QString badPath = m_o.settings.BadFolderPath();
    QDir bad(badPath);
    if (!bad.exists() && !QDir().mkpath(badPath)) {
        row.action = TicAction::Failed;
        row.actionText = TicActionWord(TicAction::Failed, false);
        row.reason = reason + QStringLiteral("; the bad folder %1 cannot be made").arg(badPath);
        Finish(row);
        return;
    }
    // The reason first, then the file, the TIC last: while the TIC is in
    // the inbound, the next run still sees it.
    const QString ticName = FreeNameIn(bad, row.tic);
    {
        QFile text(bad.filePath(FreeNameIn(bad, ticName + QStringLiteral(".reason"))));
        if (text.open(QIODevice::WriteOnly)) {
            text.write(QStringLiteral("%1: %2\n").arg(row.tic, reason).toUtf8());
            text.close();
        }
    }
    bool moved = true;
    if (!ticOnly && !filePath.isEmpty()) {
        const QString file = QFile::decodeName(filePath);
        const QString fileName = FreeNameIn(bad, QFileInfo(file).fileName());
        moved = QFile::rename(file, bad.filePath(fileName));
    }
    moved = QFile::rename(m_ticPath, bad.filePath(ticName)) && moved;
    if (!moved) {
        row.action = TicAction::Failed;
        row.actionText = TicActionWord(TicAction::Failed, false);
        row.reason = reason + QStringLiteral("; it could not be moved to %1").arg(badPath);
    }
    Finish(row);
}

bool Intake::RemoveTic(const QString& ticPath)
{
    return QFile::remove(ticPath) || !QFileInfo::exists(ticPath);
}

void Intake::Finish(TicRow& row)
{
    // The gathered TICs came first: theirs are the rows before this one.
    Flush();
    RunOutcome outcome = RunOutcome::Done;
    switch (row.action) {
    case TicAction::Place:
        ++m_result.placed;
        break;
    case TicAction::Duplicate:
        ++m_result.duplicates;
        break;
    case TicAction::Wait:
        ++m_result.waiting;
        outcome = RunOutcome::Skipped;
        break;
    case TicAction::Bad:
        ++m_result.bad;
        outcome = RunOutcome::Refused;
        break;
    case TicAction::Failed:
        ++m_result.failed;
        outcome = RunOutcome::Failed;
        break;
    }
    if (m_o.dryRun && outcome == RunOutcome::Done)
        outcome = RunOutcome::Planned;
    m_result.rows.append(row);
    if (m_o.row)
        m_o.row(row);
    m_run.Item({row.area, row.file, outcome,
                row.reason.isEmpty() ? row.actionText
                                     : row.actionText + QStringLiteral(": ") + row.reason});
}

} // namespace

QString TicActionWord(TicAction action, bool dryRun)
{
    switch (action) {
    case TicAction::Place:
        return dryRun ? QStringLiteral("place") : QStringLiteral("placed");
    case TicAction::Duplicate:
        return QStringLiteral("duplicate");
    case TicAction::Wait:
        return QStringLiteral("waiting");
    case TicAction::Bad:
        return QStringLiteral("bad");
    case TicAction::Failed:
        break;
    }
    return QStringLiteral("failed");
}

bool InboundTics(const QString& inbound, QStringList& names)
{
    QDir folder(inbound);
    if (!folder.exists() || !folder.isReadable())
        return false;
    // Read with the file system's own calls: the times as they are kept
    // (to the nanosecond), without a QDateTime in the local zone per file.
    const QByteArray path = QFile::encodeName(folder.absolutePath());
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return false;
    struct Entry {
        struct timespec time;
        QByteArray bytes;
    };
    std::vector<Entry> entries;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name.size() < 5 || qstricmp(name.constData() + name.size() - 4, ".tic") != 0)
            continue;
        struct stat st {
        };
        if (::lstat((path + '/' + name).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        entries.push_back({st.st_mtim, name});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.time.tv_sec != b.time.tv_sec)
            return a.time.tv_sec < b.time.tv_sec;
        if (a.time.tv_nsec != b.time.tv_nsec)
            return a.time.tv_nsec < b.time.tv_nsec;
        return a.bytes < b.bytes;
    });
    names.clear();
    for (const Entry& e : entries)
        names << QFile::decodeName(e.bytes);
    return true;
}

bool TicWildcardMatch(const QByteArray& pattern, const QByteArray& name)
{
    // Iterative match with one back-track point for the last '*'.
    qsizetype p = 0, n = 0, star = -1, mark = 0;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || upper(pattern[p]) == upper(name[n]))) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

TicRunResult RunTicIntake(const TicRunOptions& options, RunDelegate& run)
{
    return Intake(options, run).Run();
}

bool AppendTicAnnouncement(const QString& path, const QList<std::pair<int, QString>>& placed)
{
    std::map<int, QList<QString>> byArea;
    for (const auto& [area, name] : placed)
        byArea[area].append(name);
    QByteArray text;
    auto line = [&text](const QByteArray& bytes) {
        text += bytes;
        text += "\r\n";
    };
    for (const auto& [area, names] : byArea) {
        FileAreaRec areaRec{};
        const QString areaName = ReadFileArea(area, areaRec) ? RecText(areaRec.Name) : QString();
        line(QByteArrayLiteral("       "));
        line(FileListHeading(AreaLinePrefix(area) + areaName));
        long count = 0;
        for (const QString& name : names) {
            FileRec rec{};
            uint32_t at = 0;
            if (!GetFileRecByAreaName(area, ToBytes(name).constData(), &rec, &at))
                continue;
            line(FileListLine(rec));
            ++count;
        }
        line(QByteArray(kListWidth, '-'));
        line(FileListTotalLine(count));
        line(QByteArray(kListWidth, '='));
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const bool written = file.write(text) == text.size();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}
