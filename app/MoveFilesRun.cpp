#include "app/MoveFilesRun.h"

#include "common/Text.h"
#include "server/RecordFileSize.h"
#include "server/ServerFileCopy.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <cstring>

namespace
{

// What a server existence test found. An operation that failed for another
// reason than a missing file (a busy or damaged server) is no proof that the
// file is missing: moving a record alone on such an answer would part it
// from its file.
enum class Presence { Exists, Missing, Unknown };

Presence PresenceOf(const QString& serverPath, unsigned& code)
{
    code = 0;
    if (WcExistFile(ToBytes(serverPath).constData()))
        return Presence::Exists;
    code = WcGetLastError();
    return code == WC_ITEM_NOT_FOUND ? Presence::Missing : Presence::Unknown;
}

// Compares two server files byte for byte, in copy-sized chunks. False when
// either can't be read (`code` then holds the server's error); otherwise
// `same` tells whether the contents are equal. Two areas may share one
// folder, so the target path of a move can name the source file itself.
bool SameServerContent(const QString& a, const QString& b, bool& same, unsigned& code)
{
    same = false;
    code = 0;
    const QByteArray pa = ToBytes(a);
    const QByteArray pb = ToBytes(b);
    const WcHandle ha =
        WcCreateFile(pa.constData(), WC_GENERIC_READ, WC_SHARE_READ, WC_OPEN_EXISTING);
    if (ha <= 0) {
        code = WcGetLastError();
        return false;
    }
    const WcHandle hb =
        WcCreateFile(pb.constData(), WC_GENERIC_READ, WC_SHARE_READ, WC_OPEN_EXISTING);
    if (hb <= 0) {
        code = WcGetLastError();
        WcCloseHandle(ha);
        return false;
    }
    bool ok = true;
    const uint32_t sa = WcGetFileSize(ha);
    const uint32_t sb = WcGetFileSize(hb);
    if (sa == 0xFFFFFFFFu || sb == 0xFFFFFFFFu) {
        code = WcGetLastError();
        ok = false;
    } else if (sa == sb) {
        char bufA[kCopyChunkSize];
        char bufB[kCopyChunkSize];
        same = true;
        for (;;) {
            uint32_t na = 0;
            uint32_t nb = 0;
            if (!WcReadFile(ha, bufA, kCopyChunkSize, &na) ||
                !WcReadFile(hb, bufB, kCopyChunkSize, &nb)) {
                code = WcGetLastError();
                ok = false;
                same = false;
                break;
            }
            if (na != nb || std::memcmp(bufA, bufB, na) != 0) {
                same = false;
                break;
            }
            if (na == 0)
                break;
        }
    }
    WcCloseHandle(hb);
    WcCloseHandle(ha);
    return ok;
}

} // namespace

int RunMoveFiles(const MoveFilesOptions& options, RunDelegate& delegate)
{
    const int target = options.target;
    int moved = 0;
    const QString targetText = QString::number(target);
    bool allMissing = false;    // move the record alone for every later missing file
    bool allUncopyable = false; // ... and for every later file that can't be copied

    // The records leave the area they are listed from (the last chosen
    // record's): a move into that very area is refused whole, whatever the
    // front end checked, as the window refuses it.
    if (!options.entries.isEmpty() && options.entries.last().area == target) {
        delegate.Warn(QStringLiteral("Can not move files to the same file area."));
        return 0;
    }

    for (const EntryRef& pair : options.entries) {
        // A file already in the target area stays where it is: copying it
        // onto itself would empty it.
        if (pair.area == target)
            continue;
        FileRec rec{};
        uint32_t position = 0;
        if (!GetFileRecByAreaName(pair.area, ToBytes(pair.name).constData(), &rec, &position))
            continue;
        const QString name = RecText(rec.Name);
        const QString file = QStringLiteral("File: ") + name;
        delegate.Status(QStringLiteral("Moving File [") + name + QStringLiteral("] to Area ") +
                        targetText);
        const QString sourcePath = ServerFilePath(rec.Area, name);
        const QString targetPath = ServerFilePath(target, name);

        // A file that can't be moved for a reason other than the questions
        // below: its record and file stay where they are.
        auto notMoved = [&](unsigned code) {
            delegate.Status(file + QStringLiteral(" could not be moved."));
            if (code != 0)
                delegate.ServerError(code);
        };

        // The target area must not hold a record of this name: the copy
        // would replace that record's file, and the update is refused anyway.
        {
            FileRec there{};
            uint32_t at = 0;
            if (GetFileRecByAreaName(target, ToBytes(name).constData(), &there, &at)) {
                const QString text = QStringLiteral("The File: ") + name +
                                     QStringLiteral(" already exist in file area #") + targetText +
                                     QStringLiteral(".  Can not move.");
                delegate.Status(text);
                delegate.Warn(text);
                continue;
            }
            const unsigned code = WcGetLastError();
            if (code != WC_RECORD_NOT_FOUND) {
                notMoved(code);
                continue;
            }
        }
        // A file too large for a record stays where it is with its record.
        if (const QString why = FileTooLargeMessage(name, AreaFileSize(rec.Area, name));
            !why.isEmpty()) {
            delegate.Status(why);
            delegate.Warn(why);
            continue;
        }

        unsigned code = 0;
        const Presence source = PresenceOf(sourcePath, code);
        if (source == Presence::Unknown) {
            notMoved(code);
            continue;
        }
        bool consent = source == Presence::Exists;
        if (!consent && !allMissing) {
            delegate.Status(file + QStringLiteral(" does not exist. Can not move."));
            const RunAnswer answer = delegate.Ask(
                RunQuestion::MoveRecordWithoutFile,
                file +
                    QStringLiteral(" does not exist on disk.  Go ahead and move just the file "
                                   "record to file area #") +
                    targetText + u'?',
                true);
            if (answer == RunAnswer::Yes)
                consent = true;
            else if (answer == RunAnswer::All)
                allMissing = true;
        }
        if (!consent && !allMissing)
            continue;

        const Presence again = PresenceOf(sourcePath, code);
        if (again == Presence::Unknown) {
            notMoved(code);
            continue;
        }
        if (again == Presence::Exists) {
            // Copy (or rename) first; the record changes only after its file
            // is in the target area, so it never names a file that isn't there.
            bool copied = false;
            FileMove how = FileMove::Copied; // a rename goes back should the record fail
            const Presence there = PresenceOf(targetPath, code);
            if (there == Presence::Unknown) {
                notMoved(code);
                continue;
            }
            if (there == Presence::Exists) {
                // The target file is replaced, unless it holds the same bytes
                // (for areas sharing a folder: it is the source file itself,
                // which a copy would empty).
                // A target too large for a record differs from the source,
                // which fits one (the server tells no size of it).
                bool same = false;
                if (FileFitsRecord(AreaFileSize(target, name)) &&
                    !SameServerContent(sourcePath, targetPath, same, code)) {
                    notMoved(code);
                    continue;
                }
                copied =
                    same || delegate.Copy(sourcePath, targetPath, QStringLiteral("Moving File..."));
            } else {
                // The name was free just now; should a file have taken it
                // since, the move leaves it and the record stays.
                how = delegate.Move(sourcePath, targetPath, QStringLiteral("Moving File..."));
                copied = how == FileMove::Renamed || how == FileMove::Copied;
            }
            if (copied) {
                rec.Area = target;
                if (UpdateFileRec(&rec)) {
                    ++moved;
                    delegate.Status(file + QStringLiteral(" successfully moved & Updated."));
                } else {
                    const QString text = file + QStringLiteral(" Moved, but FAILED DB Update.");
                    delegate.Status(text);
                    delegate.Warn(text);
                    // A renamed file goes back to its record, which stayed.
                    if (how == FileMove::Renamed && !PutBackMovedFile(targetPath, sourcePath))
                        delegate.ServerError(WcGetLastError());
                }
                continue;
            }
            delegate.Status(file + QStringLiteral(" could not be moved."));
            // A copy that failed part-way leaves what it wrote in the target
            // area. The record may move alone only where no file of its name
            // is there (a target that can't be written, as on a CD-ROM):
            // moved onto a partial copy it would name a damaged file, and its
            // own file would stay behind without a record.
            if (PresenceOf(targetPath, code) != Presence::Missing)
                continue;
            bool recordAlone = allUncopyable;
            if (!allUncopyable) {
                const RunAnswer answer = delegate.Ask(
                    RunQuestion::MoveRecordOnly,
                    QStringLiteral("Are you moving this file to a CD-Rom FileArea?  If so, the "
                                   "file can not be moved to the CD-Rom.  Would you still like to "
                                   "move the file record info to file area #") +
                        targetText + u'?',
                    true);
                if (answer == RunAnswer::All)
                    allUncopyable = true;
                recordAlone = answer == RunAnswer::Yes || answer == RunAnswer::All;
            }
            if (!recordAlone)
                continue;
            rec.Area = target;
            if (UpdateFileRec(&rec)) {
                ++moved;
                delegate.Status(file + QStringLiteral(" successfully Updated."));
            } else {
                delegate.Status(file + QStringLiteral(" FAILED DB Update."));
                delegate.Warn(file + QStringLiteral("FAILED Database Update."));
            }
            continue;
        }

        // The source file is missing: the record moves alone.
        const Presence there = PresenceOf(targetPath, code);
        if (there == Presence::Unknown) {
            notMoved(code);
            continue;
        }
        if (there == Presence::Exists &&
            delegate.Ask(RunQuestion::DeleteTargetFile,
                         QStringLiteral("The File: ") + name +
                             QStringLiteral(" already exist in file area #") + targetText +
                             QStringLiteral(".  If you move the file record, this file will be "
                                            "DELETED.  Continue anyway and delete the file."),
                         false) != RunAnswer::Yes)
            continue;
        rec.Area = target;
        if (UpdateFileRec(&rec)) {
            ++moved;
            delegate.Status(file + QStringLiteral(" successfully moved & Updated."));
        } else {
            delegate.Status(file + QStringLiteral(" FAILED DB Update."));
            delegate.Warn(file + QStringLiteral(" FAILED databases Move & Update."));
        }
    }

    return moved;
}
