#include "app/RecordRun.h"

#include "common/Text.h"
#include "server/wcsrv.h"

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
