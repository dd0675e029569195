#include "app/DeleteFilesRun.h"

#include "common/Text.h"
#include "server/wcsrv.h"

int RunDeleteFiles(const DeleteFilesOptions& options, RunDelegate& delegate)
{
    int deleted = 0;
    for (const RecordRunEntry& entry : options.entries) {
        FileRec rec{};
        uint32_t position = 0;
        if (!GetFileRecByAreaName(entry.area, ToBytes(entry.name).constData(), &rec, &position))
            continue;
        const QString name = RecText(rec.Name);
        if (DeleteFileRec(&rec, options.fromDisk ? 1 : 0)) {
            delegate.Status(QStringLiteral("File [") + name + QStringLiteral("] Deleted"));
            delegate.Item({entry.area, name, RunOutcome::Done, QStringLiteral("deleted")});
            ++deleted;
        } else {
            delegate.Status(QStringLiteral("Error: Could not delete file ") + name);
            delegate.Item({entry.area, name, RunOutcome::Failed, QStringLiteral("not deleted")});
        }
    }
    return deleted;
}
