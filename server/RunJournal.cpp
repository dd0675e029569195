#include "server/RunJournal.h"

#include "common/Text.h"
#include "server/AreaFiles.h"

#include <QDateTime>
#include <QRegularExpression>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <unistd.h>

namespace
{

std::atomic<uint32_t> g_trashDays{kDefaultTrashDays};

// The trash folder a refused begin could not write, as the library names
// it; else the first area folder this process may not write into.
QString UnwritableTrashFolder()
{
    char folder[1024] = {};
    if (WcGetRefusedTrash(folder, sizeof folder))
        return QString::fromLocal8Bit(folder, qsizetype(qstrnlen(folder, sizeof folder)));
    for (int area = 1, last = GetFileAreaCount(); area <= last; ++area) {
        QByteArray bytes;
        if (AreaFolderBytes(area, bytes) && ::access(bytes.constData(), W_OK) != 0)
            return QString::fromLocal8Bit(bytes);
    }
    return QString::fromLocal8Bit(qgetenv("WCSRV_HOME"));
}

bool VisitRun(void* context, const WcRunInfo* run)
{
    static_cast<QList<WcRunInfo>*>(context)->append(*run);
    return true;
}

bool VisitEntry(void* context, const WcRunEntry* entry)
{
    return (*static_cast<const std::function<bool(const WcRunEntry&)>*>(context))(*entry);
}

bool VisitUndo(void* context, const WcRunEntry* entry, int32_t outcome, const char* why)
{
    const UndoVisit& visit = *static_cast<const UndoVisit*>(context);
    if (visit)
        visit(*entry, outcome, why ? QString::fromUtf8(why) : QString());
    return true;
}

bool VisitTrash(void* context, const WcTrashItem* item)
{
    static_cast<QList<WcTrashItem>*>(context)->append(*item);
    return true;
}

// A NUL-terminated text field of the library, read up to its size.
template <std::size_t N> QString FieldText(const char (&field)[N])
{
    return QString::fromUtf8(field, qsizetype(qstrnlen(field, N)));
}

} // namespace

void SetTrashDays(uint32_t days)
{
    g_trashDays.store(days);
}

uint32_t TrashDays()
{
    return g_trashDays.load();
}

JournaledRun::JournaledRun(const QString& command)
{
    if (const uint32_t open = WcCurrentRun()) {
        m_id = open;
        return;
    }
    const QByteArray text = RunCommandBytes(command);
    m_id = WcBeginRun(text.constData(), TrashDays());
    if (m_id != 0) {
        m_owned = true;
        return;
    }
    const uint32_t code = WcGetLastError();
    if (code == WC_ACCESS_DENIED)
        m_refusal = QStringLiteral("The trash folder %1 cannot be written: nothing was "
                                   "changed. Make the folder writable, or set TrashDays=0.")
                        .arg(UnwritableTrashFolder());
    else
        m_refusal = QStringLiteral("The run could not be entered in the journal (server error "
                                   "0x%1): nothing was changed.")
                        .arg(code, 8, 16, QLatin1Char('0'));
}

JournaledRun::~JournaledRun()
{
    End();
}

bool JournaledRun::End()
{
    if (!m_owned)
        return true;
    m_owned = false;
    return WcEndRun(m_id);
}

QByteArray RunCommandBytes(const QString& command)
{
    constexpr qsizetype room = qsizetype(sizeof(WcRunInfo::Command)) - 1;
    QByteArray bytes = command.toUtf8();
    if (bytes.size() <= room)
        return bytes;
    qsizetype cut = room;
    // Back to the first byte of a character: continuation bytes are 10xxxxxx.
    while (cut > 0 && (uchar(bytes.at(cut)) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

QString CommandLineText(const QStringList& words)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=,+@%-]+$"));
    QStringList out;
    for (const QString& word : words) {
        if (plain.match(word).hasMatch()) {
            out << word;
            continue;
        }
        QString quoted = word;
        quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
        out << QLatin1Char('\'') + quoted + QLatin1Char('\'');
    }
    return out.join(QLatin1Char(' '));
}

bool ListJournalRuns(uint32_t limit, QList<WcRunInfo>& runs)
{
    runs.clear();
    return WcListRuns(limit, VisitRun, &runs);
}

RunLookup GetJournalRun(uint32_t id, WcRunInfo& run)
{
    std::memset(&run, 0, sizeof run);
    if (WcGetRun(id, &run))
        return RunLookup::Found;
    return WcGetLastError() == WC_INVALID_INDEX ? RunLookup::Unknown : RunLookup::Failed;
}

bool VisitRunEntries(uint32_t id, const std::function<bool(const WcRunEntry&)>& visit)
{
    return WcListRunEntries(id, VisitEntry,
                            const_cast<std::function<bool(const WcRunEntry&)>*>(&visit));
}

UndoReport UndoJournalRun(uint32_t id, bool dryRun, const UndoVisit& visit)
{
    UndoReport report;
    const bool ok = WcUndoRun(id, dryRun ? WC_UNDO_DRY_RUN : 0u, VisitUndo,
                              const_cast<UndoVisit*>(&visit), &report.summary);
    if (ok) {
        report.status = report.summary.Conflicts + report.summary.Failed > 0 ? UndoStatus::Conflicts
                                                                             : UndoStatus::Done;
        return report;
    }
    report.code = WcGetLastError();
    switch (report.code) {
    case WC_INVALID_INDEX:
        report.status = UndoStatus::Unknown;
        break;
    case WC_NO_ACTION_TAKEN:
        report.status = UndoStatus::UndoneAlready;
        break;
    case WC_ALREADY_LOGGED_IN:
        report.status = UndoStatus::Busy;
        break;
    default:
        report.status = UndoStatus::Failed;
        break;
    }
    return report;
}

UndoListing UndoRunListed(uint32_t id, bool dryRun)
{
    UndoListing listing;
    listing.report =
        UndoJournalRun(id, dryRun, [&](const WcRunEntry& entry, int outcome, const QString& why) {
            if (outcome == WC_UNDO_DONE)
                return;
            QString line = QStringLiteral("area %1 %2: %3")
                               .arg(entry.Area)
                               .arg(ShownRecText(entry.Name), EntryKindWord(entry.Kind));
            if (!why.isEmpty())
                line += QStringLiteral(": ") + why;
            listing.leftAlone << line;
        });
    return listing;
}

QString UndoListingText(uint32_t id, const UndoListing& listing, bool dryRun)
{
    const UndoReport& report = listing.report;
    switch (report.status) {
    case UndoStatus::Done:
    case UndoStatus::Conflicts:
        break;
    case UndoStatus::Unknown:
        return QStringLiteral("The journal has no run %1.").arg(id);
    case UndoStatus::UndoneAlready:
        return QStringLiteral("Run %1 was undone already: nothing was changed.").arg(id);
    case UndoStatus::Busy:
        return QStringLiteral("Another run is open: undo run %1 when it has ended.").arg(id);
    case UndoStatus::Failed:
        return QStringLiteral("Run %1 could not be undone (server error 0x%2).")
            .arg(id)
            .arg(report.code, 8, 16, QLatin1Char('0'));
    }
    const WcUndoSummary& s = report.summary;
    QString text = dryRun
                       ? QStringLiteral("Undoing run %1 puts back %2 changes.").arg(id).arg(s.Done)
                       : QStringLiteral("Run %1 undone: %2 changes put back.").arg(id).arg(s.Done);
    if (s.Conflicts + s.Failed > 0) {
        text += QLatin1Char('\n') +
                (dryRun ? QStringLiteral("%1 changed since the run and stay as they are; %2 "
                                         "failed:")
                        : QStringLiteral("%1 changed since the run and were left as they are; %2 "
                                         "failed:"))
                    .arg(s.Conflicts)
                    .arg(s.Failed);
        constexpr qsizetype shown = 20;
        for (qsizetype i = 0; i < listing.leftAlone.size() && i < shown; ++i)
            text += QLatin1Char('\n') + listing.leftAlone[i];
        if (listing.leftAlone.size() > shown)
            text += QStringLiteral("\n... and %1 more").arg(listing.leftAlone.size() - shown);
    }
    return text;
}

uint32_t LastUndoableRun()
{
    uint32_t found = 0;
    auto visit = [](void* context, const WcRunInfo* run) {
        if (run->UndoneBy != 0 || run->Undoes != 0 || run->Open != 0)
            return true;
        *static_cast<uint32_t*>(context) = run->Id;
        return false;
    };
    WcListRuns(0, visit, &found);
    return found;
}

bool ListTrash(QList<WcTrashItem>& items)
{
    items.clear();
    return WcListTrash(VisitTrash, &items);
}

bool EmptyTrash(uint32_t days, uint32_t& filesRemoved)
{
    filesRemoved = 0;
    return WcEmptyTrash(days, &filesRemoved);
}

QString RunTimeText(int64_t utcSeconds)
{
    if (utcSeconds == 0)
        return QStringLiteral("-");
    return QDateTime::fromSecsSinceEpoch(utcSeconds)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString RunCountsText(const WcRunInfo& run)
{
    return QStringLiteral("added %1, changed %2, deleted %3, moved %4, files trashed %5")
        .arg(run.Added)
        .arg(run.Changed)
        .arg(run.Deleted)
        .arg(run.Moved)
        .arg(run.FilesTrashed);
}

QString RunStateText(const WcRunInfo& run)
{
    QStringList words;
    if (run.UndoneBy != 0)
        words << QStringLiteral("undone by %1").arg(run.UndoneBy);
    if (run.Undoes != 0)
        words << QStringLiteral("undoes %1").arg(run.Undoes);
    if (run.Open != 0)
        words << QStringLiteral("open");
    return words.join(QStringLiteral(", "));
}

QString RunCommandText(const WcRunInfo& run)
{
    return FieldText(run.Command);
}

QString EntryKindWord(int kind)
{
    switch (kind) {
    case WC_ENTRY_RECORD_ADDED:
        return QStringLiteral("record added");
    case WC_ENTRY_RECORD_CHANGED:
        return QStringLiteral("record changed");
    case WC_ENTRY_RECORD_DELETED:
        return QStringLiteral("record deleted");
    case WC_ENTRY_FILE_TRASHED:
        return QStringLiteral("file trashed");
    case WC_ENTRY_FILE_CREATED:
        return QStringLiteral("file copied in");
    case WC_ENTRY_FILE_MOVED:
        return QStringLiteral("file moved");
    }
    return QStringLiteral("entry of kind %1").arg(kind);
}

QStringList ChangedFields(const FullFileRec& before, const FullFileRec& after)
{
    struct Field {
        const char* name;
        std::size_t offset, size;
    };
#define VT_FIELD(word, member)                                                                     \
    Field                                                                                          \
    {                                                                                              \
        word, offsetof(FullFileRec, member), sizeof(FullFileRec::member)                           \
    }
    static const Field fields[] = {
        VT_FIELD("area", Rec.Area),
        VT_FIELD("name", Rec.Name),
        VT_FIELD("description", Rec.Description),
        VT_FIELD("password", Rec.Password),
        VT_FIELD("size", Rec.Size),
        VT_FIELD("date", Rec.FileTime),
        VT_FIELD("last accessed", Rec.LastAccessed),
        VT_FIELD("never overwrite", Rec.NeverOverwrite),
        VT_FIELD("never delete", Rec.NeverDelete),
        VT_FIELD("free file", Rec.FreeFile),
        VT_FIELD("copy before download", Rec.CopyBeforeDownload),
        VT_FIELD("failed scan", Rec.FailedScan),
        VT_FIELD("free time", Rec.FreeTime),
        VT_FIELD("downloads", Rec.Downloads),
        VT_FIELD("cost", Rec.Cost),
        VT_FIELD("uploader", Rec.Uploader),
        VT_FIELD("long description flag", Rec.HasLongDescription),
        VT_FIELD("long description", LongDescription),
    };
#undef VT_FIELD
    const auto* b = reinterpret_cast<const unsigned char*>(&before);
    const auto* a = reinterpret_cast<const unsigned char*>(&after);
    QStringList changed;
    for (const Field& f : fields)
        if (std::memcmp(b + f.offset, a + f.offset, f.size) != 0)
            changed << QLatin1String(f.name);
    if (changed.isEmpty() && std::memcmp(b, a, sizeof before) != 0)
        changed << QStringLiteral("reserved bytes");
    return changed;
}

QString EntryDetail(const WcRunEntry& entry)
{
    switch (entry.Kind) {
    case WC_ENTRY_RECORD_CHANGED: {
        QString text = ChangedFields(entry.Before, entry.After).join(QStringLiteral(", "));
        if (entry.Before.Rec.Area != entry.After.Rec.Area)
            text = QStringLiteral("from area %1 to %2; ")
                       .arg(entry.Before.Rec.Area)
                       .arg(entry.After.Rec.Area) +
                   text;
        return text;
    }
    case WC_ENTRY_FILE_TRASHED:
    case WC_ENTRY_FILE_MOVED:
        return FieldText(entry.Path) + QStringLiteral(" -> ") + FieldText(entry.Trash);
    case WC_ENTRY_FILE_CREATED:
        return FieldText(entry.Path);
    default:
        return QString();
    }
}

QString UndoOutcomeWord(int outcome, bool dryRun)
{
    switch (outcome) {
    case WC_UNDO_DONE:
        return dryRun ? QStringLiteral("would put back") : QStringLiteral("put back");
    case WC_UNDO_CONFLICT:
        return QStringLiteral("conflict");
    case WC_UNDO_FAILED:
        return QStringLiteral("failed");
    }
    return QStringLiteral("outcome %1").arg(outcome);
}
