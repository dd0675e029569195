#include "app/DeleteFilesRun.h"

#include "common/Text.h"
#include "managers/DeletionRun.h"
#include "server/wcsrv.h"

int RunDeleteFiles(const DeleteFilesOptions& options, RunDelegate& delegate)
{
    int deleted = 0;
    // A file that another area's record on the same folder still names
    // stays on disk.
    FileKeeper keeper;
    for (const EntryRef& entry : options.entries) {
        FileRec rec{};
        uint32_t position = 0;
        if (!GetFileRecByAreaName(entry.area, ToBytes(entry.name).constData(), &rec, &position))
            continue;
        const QString name = RecText(rec.Name);
        const QByteArray nameBytes = ToBytes(name);
        const QString keptFor = options.fromDisk ? keeper.Why(entry.area, nameBytes) : QString();
        if (DeleteFileRec(&rec, options.fromDisk && keptFor.isEmpty() ? 1 : 0)) {
            keeper.Gone(entry.area, nameBytes);
            delegate.Status(QStringLiteral("File [") + name + QStringLiteral("] Deleted"));
            delegate.Item({entry.area, name, RunOutcome::Done,
                           keptFor.isEmpty()
                               ? QStringLiteral("deleted")
                               : QStringLiteral("deleted, its file kept (%1)").arg(keptFor)});
            ++deleted;
        } else {
            delegate.Status(QStringLiteral("Error: Could not delete file ") + name);
            delegate.Item({entry.area, name, RunOutcome::Failed, QStringLiteral("not deleted")});
        }
    }
    return deleted;
}
