#include "app/RecordRun.h"

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

bool ReadRecord(const EntryRef& entry, FullFileRec& full)
{
    FileRec rec{};
    uint32_t position = 0;
    const QByteArray name = ToBytes(entry.name);
    if (!GetFileRecByAreaName(entry.area, name.constData(), &rec, &position))
        return false;
    return GetFullFileRec(&rec, &full);
}

bool UpdateOneRecord(const FullFileRec& record, const std::function<void(FullFileRec&)>& edits)
{
    FullFileRec full = record;
    if (edits)
        edits(full);
    return UpdateFullFileRec(&full);
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

int RunRecordChanges(const RecordRunOptions& options, RunDelegate& delegate)
{
    int written = 0;
    delegate.SetMaximum(options.entries.size());
    qint64 position = 0;
    for (const EntryRef& entry : options.entries) {
        delegate.SetPosition(position++);
        FullFileRec full{};
        if (!ReadRecord(entry, full))
            continue;
        const QString name = RecText(full.Rec.Name);
        if (options.edits) {
            const QString status = QStringLiteral("Updating File [") + name + u']';
            delegate.Status(status);
            if (UpdateOneRecord(full, options.edits)) {
                delegate.Status(status);
                delegate.Item({entry.area, name, RunOutcome::Done, QStringLiteral("updated")});
                ++written;
            } else {
                delegate.Warn(QStringLiteral("Could not update file record: ") + name);
                delegate.Item(
                    {entry.area, name, RunOutcome::Failed, QStringLiteral("not updated")});
            }
        } else {
            delegate.Status(QStringLiteral("Freshening File [") + name + u']');
            if (FreshenOneRecord(full, delegate, options.dryRun))
                ++written;
        }
    }
    delegate.SetPosition(position);
    return written;
}
