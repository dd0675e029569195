#include "managers/DeletionRun.h"

#include "common/Text.h"
#include "filter/Matching.h"
#include "server/wcsrv.h"

DeletionResult RunDeletion(const DeletionOptions& options, RunDelegate& run)
{
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
