// trash: what the trash holds (the files journaled runs deleted, one folder
// per run and area), and emptying it ahead of the TrashDays setting.
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "server/RunJournal.h"

#include <QCommandLineParser>
#include <QStringList>

namespace
{

class TrashCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("trash"); }
    QString Summary() const override
    {
        return QStringLiteral("Lists the files deleted runs keep for undo, or deletes them "
                              "for good.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("(--list | --empty [--older-than DAYS])");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption({QStringLiteral("list"),
                          QStringLiteral("Lists each run's trash: run, area, time, files, bytes "
                                         "and folder, then the totals.")});
        parser.addOption({QStringLiteral("empty"),
                          QStringLiteral("Deletes the trash for good; undo then counts its files "
                                         "as gone.")});
        parser.addOption({QStringLiteral("older-than"),
                          QStringLiteral("With --empty: only the trash of runs older than DAYS "
                                         "days (default: all of it)."),
                          QStringLiteral("DAYS")});
    }

    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        const bool list = parser.isSet(QStringLiteral("list"));
        const bool empty = parser.isSet(QStringLiteral("empty"));
        if (list == empty) {
            context.Error(QStringLiteral("trash needs one of --list and --empty"));
            return ExitBadInput;
        }
        if (list) {
            if (parser.isSet(QStringLiteral("older-than"))) {
                context.Error(QStringLiteral("--older-than goes with --empty"));
                return ExitBadInput;
            }
            return List(context);
        }
        uint32_t days = 0;
        if (parser.isSet(QStringLiteral("older-than"))) {
            bool ok = false;
            const int value = parser.value(QStringLiteral("older-than")).trimmed().toInt(&ok);
            if (!ok || value < 0) {
                context.Error(QStringLiteral("--older-than needs a number of days, not \"%1\"")
                                  .arg(parser.value(QStringLiteral("older-than"))));
                return ExitBadInput;
            }
            days = uint32_t(value);
        }
        uint32_t removed = 0;
        if (!EmptyTrash(days, removed)) {
            context.Error(QStringLiteral("cannot empty the trash (server error 0x%1); %2 files "
                                         "were deleted")
                              .arg(WcGetLastError(), 8, 16, QLatin1Char('0'))
                              .arg(removed));
            return ExitSomeFailed;
        }
        context.Line(QStringLiteral("%1 files deleted from the trash").arg(removed));
        return ExitDone;
    }

private:
    static int List(CliContext& context)
    {
        QList<WcTrashItem> items;
        if (!ListTrash(items)) {
            context.Error(QStringLiteral("cannot read the trash (server error 0x%1)")
                              .arg(WcGetLastError(), 8, 16, QLatin1Char('0')));
            return ExitSomeFailed;
        }
        quint64 files = 0, bytes = 0;
        for (const WcTrashItem& item : std::as_const(items)) {
            files += item.Files;
            bytes += item.Bytes;
            context.Line(QStringList{
                QString::number(item.Run), QString::number(item.Area), RunTimeText(item.Trashed),
                QString::number(item.Files), QString::number(item.Bytes),
                QString::fromLocal8Bit(item.Folder,
                                       qsizetype(qstrnlen(item.Folder, sizeof item.Folder)))}
                             .join(QLatin1Char('\t')));
        }
        context.Line(QStringLiteral("%1 files, %2 bytes in the trash").arg(files).arg(bytes));
        return ExitDone;
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeTrashCommand()
{
    return std::make_unique<TrashCommand>();
}
