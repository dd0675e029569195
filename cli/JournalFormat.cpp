#include "cli/JournalFormat.h"

#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "common/Text.h"
#include "server/RunJournal.h"

#include <QDateTime>
#include <QJsonArray>
#include <QStringList>

namespace
{

template <std::size_t N> QString FieldText(const char (&field)[N])
{
    return QString::fromUtf8(field, qsizetype(qstrnlen(field, N)));
}

QString UtcText(int64_t seconds)
{
    if (seconds == 0)
        return QString();
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

} // namespace

QString RunLine(const WcRunInfo& run)
{
    const QString state = RunStateText(run);
    return QStringList{QString::number(run.Id), RunTimeText(run.Started),
                       FieldText(run.Machine),  RunCommandText(run),
                       RunCountsText(run),      state.isEmpty() ? QStringLiteral("-") : state}
        .join(QLatin1Char('\t'));
}

QJsonObject RunJson(const WcRunInfo& run)
{
    return QJsonObject{{QStringLiteral("id"), double(run.Id)},
                       {QStringLiteral("time"), UtcText(run.Started)},
                       {QStringLiteral("ended"), UtcText(run.Ended)},
                       {QStringLiteral("machine"), FieldText(run.Machine)},
                       {QStringLiteral("user"), FieldText(run.User)},
                       {QStringLiteral("command"), RunCommandText(run)},
                       {QStringLiteral("added"), double(run.Added)},
                       {QStringLiteral("changed"), double(run.Changed)},
                       {QStringLiteral("deleted"), double(run.Deleted)},
                       {QStringLiteral("moved"), double(run.Moved)},
                       {QStringLiteral("filesTrashed"), double(run.FilesTrashed)},
                       {QStringLiteral("filesCreated"), double(run.FilesCreated)},
                       {QStringLiteral("undone"), run.UndoneBy != 0},
                       {QStringLiteral("undoneBy"), double(run.UndoneBy)},
                       {QStringLiteral("undoes"), double(run.Undoes)},
                       {QStringLiteral("open"), run.Open != 0}};
}

QString EntryName(const WcRunEntry& entry)
{
    return ShownRecText(entry.Name);
}

QString EntryLine(const WcRunEntry& entry)
{
    const QString detail = EntryDetail(entry);
    return QStringList{QString::number(entry.Seq), EntryKindWord(entry.Kind),
                       QString::number(entry.Area), EntryName(entry),
                       detail.isEmpty() ? QStringLiteral("-") : detail}
        .join(QLatin1Char('\t'));
}

QJsonObject EntryJson(const WcRunEntry& entry)
{
    QJsonObject object{{QStringLiteral("seq"), double(entry.Seq)},
                       {QStringLiteral("kind"), EntryKindWord(entry.Kind)},
                       {QStringLiteral("area"), entry.Area},
                       {QStringLiteral("name"), EntryName(entry)}};
    if (entry.Kind == WC_ENTRY_RECORD_CHANGED)
        object.insert(QStringLiteral("fields"),
                      QJsonArray::fromStringList(ChangedFields(entry.Before, entry.After)));
    if (entry.Kind >= WC_ENTRY_FILE_TRASHED) {
        object.insert(QStringLiteral("path"), FieldText(entry.Path));
        if (entry.Kind != WC_ENTRY_FILE_CREATED)
            object.insert(QStringLiteral("now"), FieldText(entry.Trash));
    }
    return object;
}

bool ParseRunNumber(const QString& text, CliContext& context, uint32_t& id)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value < 1 || value > qlonglong(UINT32_MAX)) {
        context.Error(
            QStringLiteral("RUN is a run's number as history lists it, not \"%1\"").arg(text));
        return false;
    }
    id = uint32_t(value);
    return true;
}

int LookUpRun(uint32_t id, CliContext& context, WcRunInfo& run)
{
    switch (GetJournalRun(id, run)) {
    case RunLookup::Found:
        return 0;
    case RunLookup::Unknown:
        context.Error(QStringLiteral("the journal has no run %1 (history lists the runs)").arg(id));
        return ExitBadInput;
    case RunLookup::Failed:
        break;
    }
    context.Error(QStringLiteral("cannot read run %1 of the journal (server error 0x%2)")
                      .arg(id)
                      .arg(WcGetLastError(), 8, 16, QLatin1Char('0')));
    return ExitSomeFailed;
}
