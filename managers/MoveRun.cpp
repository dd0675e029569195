#include "managers/MoveRun.h"

#include "common/Text.h"
#include "filter/AgeLimits.h"
#include "filter/Matching.h"
#include "server/OfflineAreas.h"
#include "server/RecordFileSize.h"
#include "server/ServerFileCopy.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cstring>

MoveResult RunMove(const MoveOptions& options, RunDelegate& run)
{
    MoveResult result;
    const int source = options.from;
    const int destination = options.to;
    const qint64 barMax = std::max<qint64>(0, options.sourceTotal);

    // An area moved onto itself would have each file copied onto itself,
    // which empties it: the run refuses, whatever its front end checked.
    if (source == destination) {
        run.Warn(QStringLiteral("Can not move files to the same file area."));
        return result;
    }

    FileRec rec{};
    uint32_t position = 0;
    if (!SearchFileRecByAreaName(source, "", &rec, &position)) {
        run.Warn(QStringLiteral("Error getting files."));
        return result;
    }
    // A filter of missing files would move every record of a source area
    // whose folder is offline: it is left alone unless the delegate says
    // otherwise.
    if (options.filter && FilterSelectsMissingFiles(*options.filter) &&
        !MayTreatFilesAsMissing(source, run))
        return result;
    run.Status(QStringLiteral("Building file list.  Stand by."));
    run.SetMaximum(barMax);

    // Each move changes a record's area and so its place in the area-and-name
    // order: the names are collected first, and each record is fetched again
    // by name just before it is moved.
    QList<QByteArray> names;
    {
        qint64 counted = 0;
        FileAreaRec areaRec{};
        rec = FileRec{};
        position = 0;
        if (GetFileArea(source, &areaRec) && SearchFileRecByAreaName(source, "", &rec, &position)) {
            while (rec.Area == source) {
                names.append(QByteArray(rec.Name, int(qstrnlen(rec.Name, sizeof rec.Name))));
                run.SetPosition(++counted);
                if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &position))
                    break;
            }
        }
    }
    run.SetMaximum(barMax);
    run.SetPosition(0);

    qint64 done = 0;
    // A dry run's line reads "would move to N".
    const QString movedTo =
        (options.dryRun ? QStringLiteral("move to %1") : QStringLiteral("moved to %1"))
            .arg(destination);
    for (const QByteArray& nameBytes : std::as_const(names)) {
        run.SetPosition(++done);
        if (run.StopRequested() && run.Ask(RunQuestion::StopMove,
                                           QStringLiteral("Some Files have already been moved.\r\r"
                                                          "Stop File Move Process?"),
                                           false) == RunAnswer::Yes) {
            run.SetPosition(0);
            run.Status(QString());
            result.stopped = true;
            return result;
        }

        const QString name = FromBytes(nameBytes);
        char key[17] = {};
        std::memcpy(key, nameBytes.constData(), std::min<size_t>(nameBytes.size(), 16));
        rec = FileRec{};
        position = 0;
        if (!GetFileRecByAreaName(source, key, &rec, &position)) {
            run.Status(QStringLiteral("Could not get file: ") + name);
            run.Item({source, name, RunOutcome::Failed, QStringLiteral("could not be read")});
            continue;
        }
        if (!PassesRecordChoice(options.filter, options.ages, rec))
            continue;

        const QString recName = RecText(rec.Name);
        run.Status(QStringLiteral("Moving File [%1] to Area %2")
                       .arg(recName, QString::number(destination)));
        const QString sourcePath = ServerFilePath(rec.Area, recName);
        const QString destinationPath = ServerFilePath(destination, recName);

        auto moveRecord = [&](const QString& doneText, const QString& failedText) {
            if (options.dryRun) {
                ++result.moved;
                run.Item({source, recName, RunOutcome::Planned, movedTo});
                return true;
            }
            rec.Area = destination;
            if (UpdateFileRec(&rec)) {
                ++result.moved;
                run.Status(doneText);
                run.Item({source, recName, RunOutcome::Done, movedTo});
                return true;
            }
            run.Status(failedText);
            run.Item({source, recName, RunOutcome::Failed,
                      QStringLiteral("the server did not update the record")});
            return false;
        };

        // The copy would replace a file of the same name in the destination
        // area (or, for areas sharing one folder, the source file itself):
        // nothing is copied and the record stays.
        auto refuseTaken = [&] {
            run.Status(QStringLiteral("File: %1 already exists in file area %2. Can not move.")
                           .arg(recName, QString::number(destination)));
            run.Item({source, recName, RunOutcome::Refused,
                      QStringLiteral("name taken in area %1").arg(destination)});
            result.notMoved = true;
        };

        if (!options.moveFiles) {
            moveRecord(QStringLiteral("File record: %1 successfully moved.").arg(recName),
                       QStringLiteral("File record: %1 failed on move.").arg(recName));
            continue;
        }
        if (!WcExistFile(ToBytes(sourcePath).constData())) {
            run.Status(QStringLiteral("File: %1 does not exist. Can not move.").arg(recName));
            run.Item({source, recName, RunOutcome::Refused, QStringLiteral("file missing")});
            result.notMoved = true;
            continue;
        }
        if (const qint64 size = AreaFileSize(rec.Area, recName); !FileFitsRecord(size)) {
            // The record's size can't be the file's: the file and its record
            // stay where they are.
            run.Warn(FileTooLargeMessage(recName, size));
            run.Item({source, recName, RunOutcome::Refused, FileTooLargeWords(size)});
            continue;
        }
        FileRec existing{};
        uint32_t at = 0;
        if (GetFileRecByAreaName(destination, key, &existing, &at)) {
            refuseTaken();
            continue;
        }
        // A dry run looks for the destination's file itself; a move leaves
        // that to the move, which never replaces a file and says when the
        // name is taken (one search of the destination folder, not two).
        if (options.dryRun) {
            if (WcExistFile(ToBytes(destinationPath).constData()))
                refuseTaken();
            else
                moveRecord(QString(), QString());
            continue;
        }
        const FileMove how =
            run.Move(sourcePath, destinationPath, QStringLiteral("Moving File..."));
        if (how == FileMove::Taken) {
            refuseTaken();
        } else if (how == FileMove::Failed) {
            run.Status(QStringLiteral("File: %1 could not be moved.").arg(recName));
            run.Item({source, recName, RunOutcome::Failed,
                      QStringLiteral("the file copy failed; the record stays")});
            result.notMoved = true;
        } else if (!moveRecord(QStringLiteral("File & record: %1 successfully moved.").arg(recName),
                               QStringLiteral("File: %1 failed on move.").arg(recName))) {
            // The record changes only after its file has been copied (or
            // renamed), so it always points at a file that exists.
            result.notMoved = true;
            // A renamed file goes back to its record, which stayed.
            if (how == FileMove::Renamed && !PutBackMovedFile(destinationPath, sourcePath))
                run.ServerError(WcGetLastError());
        }
    }

    run.SetPosition(0);
    run.Status(QString());
    if (result.notMoved)
        run.Inform(QStringLiteral("Some files and their associated records were not moved "
                                  "because the files could not be found on disk."));
    return result;
}
