#include "archive/AreaFileRecord.h"

#include "common/Text.h"
#include "filter/DateTime.h"
#include "server/RecordFileSize.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <cstring>

namespace
{

QString TimeText(const FILETIME& ft)
{
    return FileTimeToDateText(ft) + u' ' + FileTimeToTimeText(ft);
}

} // namespace

bool AddRecordOfAreaFile(int area, const QString& name,
                         const std::function<void(FullFileRec&)>& describe)
{
    FullFileRec full{};
    std::memset(&full, 0, sizeof full);
    SetRecText(full.Rec.Name, name);
    full.Rec.Area = area;
    if (describe)
        describe(full);
    return AddFileRec(&full);
}

void FreshenAddedRecord(int area, const QString& name, RunDelegate& delegate)
{
    FileRec rec{};
    uint32_t position = 0;
    FullFileRec stored{};
    if (GetFileRecByAreaName(area, ToBytes(name).constData(), &rec, &position) &&
        GetFullFileRec(&rec, &stored))
        FreshenOneRecord(stored, delegate);
}

bool FreshenOneRecord(const FullFileRec& record, RunDelegate& delegate, bool dryRun)
{
    FullFileRec full = record;
    const int area = int(full.Rec.Area);
    const QString name = RecText(full.Rec.Name);
    const QByteArray path = ServerFilePathBytes(full.Rec.Area, full.Rec.Name);
    if (!WcExistFile(path.constData())) {
        delegate.Warn(QStringLiteral("File Not Found! Can not Freshen."));
        delegate.Item({area, name, RunOutcome::Failed, QStringLiteral("file missing")});
        return false;
    }
    // A file too large for a record is refused before it is read: the
    // record keeps its size and date.
    if (const qint64 diskBytes = AreaFileSize(area, name); !FileFitsRecord(diskBytes)) {
        delegate.Warn(FileTooLargeMessage(name, diskBytes));
        delegate.Item({area, name, RunOutcome::Refused, FileTooLargeWords(diskBytes)});
        return false;
    }
    const WcHandle handle =
        WcCreateFile(path.constData(), WC_GENERIC_READ, WC_SHARE_READ, WC_OPEN_EXISTING);
    bool stored = false;
    FILETIME utc{};
    FILETIME local{};
    // A size the server cannot read answers 0xFFFFFFFF: it is a failed
    // freshen, never a size of -1 stored in the record.
    const uint32_t diskSize = handle > 0 ? WcGetFileSize(handle) : 0xFFFFFFFFu;
    if (diskSize == 0xFFFFFFFFu) {
        delegate.Warn(QStringLiteral("Error! Could not Freshen."));
        delegate.Item({area, name, RunOutcome::Failed, QStringLiteral("file unreadable")});
    } else if (WcGetFileTime(handle, &utc) && FileTimeToLocal(utc, local)) {
        const int32_t size = int32_t(diskSize);
        const bool same =
            full.Rec.Size == size && std::memcmp(&full.Rec.FileTime, &local, sizeof local) == 0;
        const QString change = same
                                   ? QStringLiteral("unchanged")
                                   : QStringLiteral("size %1 -> %2, time %3 -> %4")
                                         .arg(QString::number(full.Rec.Size), QString::number(size),
                                              TimeText(full.Rec.FileTime), TimeText(local));
        full.Rec.FileTime = local;
        full.Rec.Size = size;
        if (dryRun) {
            delegate.Item({area, name, same ? RunOutcome::Skipped : RunOutcome::Planned,
                           same ? change : QStringLiteral("freshen: ") + change});
            stored = !same;
        } else {
            stored = UpdateFullFileRec(&full);
            if (stored)
                delegate.Item(
                    {area, name, RunOutcome::Done, QStringLiteral("freshened: ") + change});
            else {
                delegate.Warn(QStringLiteral("Error! Could not Freshen."));
                delegate.Item({area, name, RunOutcome::Failed, QStringLiteral("not freshened")});
            }
        }
    } else {
        delegate.Item({area, name, RunOutcome::Failed, QStringLiteral("file unreadable")});
    }
    if (handle > 0)
        WcCloseHandle(handle);
    return stored;
}
