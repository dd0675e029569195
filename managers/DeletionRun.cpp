#include "managers/DeletionRun.h"

#include "common/Text.h"
#include "filter/AgeLimits.h"
#include "filter/Matching.h"
#include "server/OfflineAreas.h"
#include "server/ReadFailures.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <climits>
#include <cstdlib>

// ---- files other records still name ---------------------------------------

namespace
{

// "7:foo.zip": a record's key, its name with ASCII letters folded as the
// server compares names.
QString RecordKey(int area, const QByteArray& name)
{
    QByteArray folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    return QString::number(area) + QLatin1Char(':') + QString::fromLatin1(folded);
}

} // namespace

FileKeeper::FileKeeper(QList<WcFileId> keepFiles) : m_keepFiles(std::move(keepFiles)) {}

const QList<int>& FileKeeper::AreasOnFolderOf(int area)
{
    if (!m_foldersRead) {
        m_foldersRead = true;
        // Areas by the directory their folder is (links and "." resolved):
        // only in the same directory can two areas' records name one file.
        QHash<QByteArray, QList<int>> byFolder;
        for (int n = 1, count = GetFileAreaCount(); n <= count; ++n) {
            char folder[1024];
            if (!WcGetFileAreaFolder(n, folder, sizeof folder))
                continue;
            char real[PATH_MAX];
            byFolder[::realpath(folder, real) ? QByteArray(real) : QByteArray(folder)] << n;
        }
        for (const QList<int>& areas : std::as_const(byFolder))
            if (areas.size() > 1)
                for (const int n : areas)
                    m_sameFolder.insert(n, areas);
    }
    static const QList<int> none;
    const auto found = m_sameFolder.constFind(area);
    return found == m_sameFolder.constEnd() ? none : *found;
}

QString FileKeeper::Why(int area, const QByteArray& name)
{
    WcFileId id{};
    if (!WcGetFileId(ServerFilePathBytes(area, name.constData()).constData(), &id))
        return QString(); // no file behind the record: nothing to keep
    for (const WcFileId& kept : std::as_const(m_keepFiles))
        if (kept.Volume == id.Volume && kept.File == id.File)
            return QStringLiteral("a record that stays names it");
    for (const int other : AreasOnFolderOf(area)) {
        if (other == area)
            continue;
        FileRec rec{};
        uint32_t at = 0;
        if (!GetFileRecByAreaName(other, name.constData(), &rec, &at))
            continue;
        const QByteArray otherName = ToBytes(RecText(rec.Name));
        if (m_gone.contains(RecordKey(other, otherName)))
            continue;
        WcFileId otherId{};
        if (WcGetFileId(ServerFilePathBytes(other, otherName.constData()).constData(), &otherId) &&
            otherId.Volume == id.Volume && otherId.File == id.File)
            return QStringLiteral("%1 in area %2 names it").arg(RecText(rec.Name)).arg(other);
    }
    return QString();
}

void FileKeeper::Gone(int area, const QByteArray& name)
{
    m_gone.insert(RecordKey(area, name));
}

// ---- the run --------------------------------------------------------------

namespace
{

// What one run carries from record to record.
struct RunState {
    const DeletionOptions& options;
    RunDelegate& run;
    DeletionResult result;
    bool promptEach = true; // "All" ends the asking for the rest of the run
    // Records this run deleted (or, in a dry run, would) keep no file.
    FileKeeper keeper;
};

// Asks about the record (unless All was answered), then deletes it, with its
// file when asked and no other record still names that file, and reports it.
void DeleteOne(FileRec& rec, RunState& s)
{
    const DeletionOptions& options = s.options;
    const int area = rec.Area;
    const QString name = RecText(rec.Name);
    if (s.promptEach && options.promptFirst) {
        const RunAnswer answer = s.run.Ask(
            RunQuestion::DeleteRecord,
            QStringLiteral("Delete file %1 from file area #%2?").arg(name, QString::number(area)),
            true);
        if (answer == RunAnswer::No || answer == RunAnswer::Cancel) {
            s.run.Item({area, name, RunOutcome::Skipped, QStringLiteral("kept (answered No)")});
            return;
        }
        if (answer == RunAnswer::All)
            s.promptEach = false;
    }
    const QByteArray nameBytes = ToBytes(name);
    const QString keptFor = options.deleteFromDisk ? s.keeper.Why(area, nameBytes) : QString();
    const bool withFile = options.deleteFromDisk && keptFor.isEmpty();
    // A dry run's line reads "would delete ...".
    QString action = (options.dryRun ? QStringLiteral("delete") : QStringLiteral("deleted")) +
                     (withFile ? QStringLiteral(" with its file") : QString());
    if (!keptFor.isEmpty())
        action += QStringLiteral(", its file kept (%1)").arg(keptFor);
    if (options.dryRun) {
        ++s.result.deleted;
        s.keeper.Gone(area, nameBytes);
        s.run.Item({area, name, RunOutcome::Planned, action});
    } else if (DeleteFileRec(&rec, withFile ? 1 : 0)) {
        ++s.result.deleted;
        s.keeper.Gone(area, nameBytes);
        s.run.Item({area, name, RunOutcome::Done, action});
    } else {
        // A record the server refuses to delete is passed over, uncounted.
        s.run.Item(
            {area, name, RunOutcome::Failed, QStringLiteral("the server did not delete it")});
    }
}

// After a stop request: true when the sysop confirms the stop; the run then
// ends where it is.
bool StopConfirmed(RunState& s)
{
    if (!s.run.StopRequested() ||
        s.run.Ask(RunQuestion::StopDeletion,
                  QStringLiteral("Some Files have already been deleted.\r\r"
                                 "Stop File Deletion Process?"),
                  false) != RunAnswer::Yes)
        return false;
    s.run.SetPosition(0);
    s.run.Status(QString());
    s.result.stopped = true;
    return true;
}

DeletionResult RunRecordDeletion(RunState& s)
{
    s.run.SetMaximum(s.options.records.size());
    qint64 position = 0;
    s.run.SetPosition(position);
    s.run.Status(QStringLiteral("Deleting Files..."));
    int shownArea = 0;
    for (const EntryRef& entry : s.options.records) {
        if (entry.area != shownArea) {
            shownArea = entry.area;
            s.run.Status(QStringLiteral("Deleting Files from File Area %1").arg(entry.area));
        }
        FileRec rec{};
        uint32_t at = 0;
        if (GetFileRecByAreaName(entry.area, ToBytes(entry.name).constData(), &rec, &at))
            DeleteOne(rec, s);
        else if (IsNotThereCode(WcGetLastError())) // gone since the list was made
            s.run.Item(
                {entry.area, entry.name, RunOutcome::Skipped, QStringLiteral("no longer there")});
        else
            s.run.Item({entry.area, entry.name, RunOutcome::Failed,
                        QStringLiteral("the record could not be read")});
        s.run.SetPosition(++position);
        if (StopConfirmed(s))
            return s.result;
    }
    s.run.SetPosition(0);
    s.run.Status(QStringLiteral("Number of Files Deleted: %1").arg(s.result.deleted));
    return s.result;
}

} // namespace

DeletionResult RunDeletion(const DeletionOptions& options, RunDelegate& run)
{
    RunState s{options, run, {}, true, FileKeeper(options.keepFiles)};
    if (!options.records.isEmpty())
        return RunRecordDeletion(s);
    const bool barPerRecord = options.recordTotal > 0;
    run.SetMaximum(barPerRecord ? options.recordTotal : qint64(options.areas.size()));
    qint64 position = 0;
    run.SetPosition(position);
    run.Status(QStringLiteral("Deleting Files..."));
    // A filter of missing files would take every record of an area whose
    // folder is offline: such an area is left alone unless the delegate
    // says otherwise. Other deletions do not look at the folders.
    const bool missingOnly = options.filter && FilterSelectsMissingFiles(*options.filter);
    for (const int area : options.areas) {
        if (!barPerRecord)
            run.SetPosition(++position);
        FileAreaRec areaRec{};
        if (!GetFileArea(area, &areaRec))
            continue;
        if (missingOnly && !MayTreatFilesAsMissing(area, run)) {
            if (barPerRecord)
                run.SetPosition(position += std::max(0, GetTotalFilesInArea(area)));
            continue;
        }
        run.Status(QStringLiteral("Deleting Files from File Area %1").arg(area));
        FileRec rec{};
        uint32_t at = 0;
        if (!SearchFileRecByAreaName(area, "", &rec, &at))
            continue;
        while (rec.Area == area) {
            if (PassesRecordChoice(options.filter, options.ages, rec))
                DeleteOne(rec, s);
            if (barPerRecord)
                run.SetPosition(++position);
            if (StopConfirmed(s))
                return s.result;
            // The record just deleted is the position: the server returns the
            // one that follows it in area-and-name order.
            if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &at))
                break;
        }
    }
    run.SetPosition(0);
    run.Status(QStringLiteral("Number of Files Deleted: %1").arg(s.result.deleted));
    return s.result;
}
