#include "managers/DeletionRun.h"

#include "common/ReadFailures.h"
#include "common/Text.h"
#include "filter/Matching.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QSet>

namespace
{
DeletionResult RunRecordDeletion(const DeletionOptions& options, RunDelegate& run);
}

DeletionResult RunDeletion(const DeletionOptions& options, RunDelegate& run)
{
    if (!options.records.isEmpty())
        return RunRecordDeletion(options, run);
    DeletionResult result;
    const bool barPerRecord = options.recordTotal > 0;
    run.SetMaximum(barPerRecord ? options.recordTotal : qint64(options.areas.size()));
    qint64 position = 0;
    run.SetPosition(position);
    run.Status(QStringLiteral("Deleting Files..."));

    bool promptEach = true; // "All" ends the asking for the rest of the run
    for (const int area : options.areas) {
        if (!barPerRecord)
            run.SetPosition(++position);
        FileAreaRec areaRec{};
        if (!GetFileArea(area, &areaRec))
            continue;
        run.Status(QStringLiteral("Deleting Files from File Area %1").arg(area));
        FileRec rec{};
        uint32_t at = 0;
        if (!SearchFileRecByAreaName(area, "", &rec, &at))
            continue;
        while (rec.Area == area) {
            const QString name = RecText(rec.Name);
            bool take = !options.applyFilter || MatchesFilter(rec);
            if (take && promptEach && options.promptFirst) {
                const RunAnswer answer =
                    run.Ask(QStringLiteral("Delete file %1 from file area #%2?")
                                .arg(name, QString::number(area)),
                            true);
                if (answer == RunAnswer::No || answer == RunAnswer::Cancel) {
                    take = false;
                    run.Item(
                        {area, name, RunOutcome::Skipped, QStringLiteral("kept (answered No)")});
                } else if (answer == RunAnswer::All) {
                    promptEach = false;
                }
            }
            if (take) {
                // A dry run's line reads "would delete ...".
                const QString action =
                    (options.dryRun ? QStringLiteral("delete") : QStringLiteral("deleted")) +
                    (options.deleteFromDisk ? QStringLiteral(" with its file") : QString());
                if (options.dryRun) {
                    ++result.deleted;
                    run.Item({area, name, RunOutcome::Planned, action});
                } else if (DeleteFileRec(&rec, options.deleteFromDisk ? 1 : 0)) {
                    ++result.deleted;
                    run.Item({area, name, RunOutcome::Done, action});
                } else {
                    // A record the server refuses to delete is passed over,
                    // uncounted.
                    run.Item({area, name, RunOutcome::Failed,
                              QStringLiteral("the server did not delete it")});
                }
            }
            if (barPerRecord)
                run.SetPosition(++position);
            if (run.StopRequested() &&
                run.Ask(QStringLiteral("Some Files have already been deleted.\r\r"
                                       "Stop File Deletion Process?"),
                        false) == RunAnswer::Yes) {
                run.SetPosition(0);
                run.Status(QString());
                result.stopped = true;
                return result;
            }
            // The record just deleted is the position: the server returns the
            // one that follows it in area-and-name order.
            if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &at))
                break;
        }
    }
    run.SetPosition(0);
    run.Status(QStringLiteral("Number of Files Deleted: %1").arg(result.deleted));
    return result;
}

// ---- a list of records ------------------------------------------------------

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

// Why the file of (area, name) must stay on disk, or empty when it may go:
// it is one of `keepFiles`, or a record of the same name in another area
// (one whose folder is this one's folder, or holds a link to the same file)
// names the same disk file and is not among the records `gone`.
QString FileStillNamed(int area, const QByteArray& name, const QList<WcFileId>& keepFiles,
                       const QSet<QString>& gone)
{
    WcFileId id{};
    if (!WcGetFileId(ServerFilePathBytes(area, name.constData()).constData(), &id))
        return QString(); // no file behind the record: nothing to keep
    for (const WcFileId& kept : keepFiles)
        if (kept.Volume == id.Volume && kept.File == id.File)
            return QStringLiteral("a record that stays names it");
    for (int other = 1, count = GetFileAreaCount(); other <= count; ++other) {
        if (other == area)
            continue;
        FileRec rec{};
        uint32_t at = 0;
        if (!GetFileRecByAreaName(other, name.constData(), &rec, &at))
            continue;
        const QByteArray otherName = ToBytes(RecText(rec.Name));
        if (gone.contains(RecordKey(other, otherName)))
            continue;
        WcFileId otherId{};
        if (WcGetFileId(ServerFilePathBytes(other, otherName.constData()).constData(), &otherId) &&
            otherId.Volume == id.Volume && otherId.File == id.File)
            return QStringLiteral("%1 in area %2 names it").arg(RecText(rec.Name)).arg(other);
    }
    return QString();
}

DeletionResult RunRecordDeletion(const DeletionOptions& options, RunDelegate& run)
{
    DeletionResult result;
    run.SetMaximum(options.records.size());
    qint64 position = 0;
    run.SetPosition(position);
    run.Status(QStringLiteral("Deleting Files..."));

    bool promptEach = true; // "All" ends the asking for the rest of the run
    int shownArea = 0;
    QSet<QString> gone; // records this run deleted (or, in a dry run, would)
    for (const EntryRef& entry : options.records) {
        if (entry.area != shownArea) {
            shownArea = entry.area;
            run.Status(QStringLiteral("Deleting Files from File Area %1").arg(entry.area));
        }
        const QByteArray wanted = ToBytes(entry.name);
        FileRec rec{};
        uint32_t at = 0;
        if (!GetFileRecByAreaName(entry.area, wanted.constData(), &rec, &at)) {
            // Gone since the list was made: nothing to delete.
            if (IsNotThereCode(WcGetLastError()))
                run.Item({entry.area, entry.name, RunOutcome::Skipped,
                          QStringLiteral("no longer there")});
            else
                run.Item({entry.area, entry.name, RunOutcome::Failed,
                          QStringLiteral("the record could not be read")});
        } else {
            const QString name = RecText(rec.Name);
            const QByteArray nameBytes = ToBytes(name);
            bool take = true;
            if (promptEach && options.promptFirst) {
                const RunAnswer answer =
                    run.Ask(QStringLiteral("Delete file %1 from file area #%2?")
                                .arg(name, QString::number(entry.area)),
                            true);
                if (answer == RunAnswer::No || answer == RunAnswer::Cancel) {
                    take = false;
                    run.Item({entry.area, name, RunOutcome::Skipped,
                              QStringLiteral("kept (answered No)")});
                } else if (answer == RunAnswer::All) {
                    promptEach = false;
                }
            }
            if (take) {
                QString keptFor;
                if (options.deleteFromDisk)
                    keptFor = FileStillNamed(entry.area, nameBytes, options.keepFiles, gone);
                const bool withFile = options.deleteFromDisk && keptFor.isEmpty();
                QString action =
                    (options.dryRun ? QStringLiteral("delete") : QStringLiteral("deleted")) +
                    (withFile ? QStringLiteral(" with its file") : QString());
                if (!keptFor.isEmpty())
                    action += QStringLiteral(", its file kept (%1)").arg(keptFor);
                if (options.dryRun) {
                    ++result.deleted;
                    gone.insert(RecordKey(entry.area, nameBytes));
                    run.Item({entry.area, name, RunOutcome::Planned, action});
                } else if (DeleteFileRec(&rec, withFile ? 1 : 0)) {
                    ++result.deleted;
                    gone.insert(RecordKey(entry.area, nameBytes));
                    run.Item({entry.area, name, RunOutcome::Done, action});
                } else {
                    run.Item({entry.area, name, RunOutcome::Failed,
                              QStringLiteral("the server did not delete it")});
                }
            }
        }
        run.SetPosition(++position);
        if (run.StopRequested() &&
            run.Ask(QStringLiteral("Some Files have already been deleted.\r\r"
                                   "Stop File Deletion Process?"),
                    false) == RunAnswer::Yes) {
            run.SetPosition(0);
            run.Status(QString());
            result.stopped = true;
            return result;
        }
    }
    run.SetPosition(0);
    run.Status(QStringLiteral("Number of Files Deleted: %1").arg(result.deleted));
    return result;
}

} // namespace
