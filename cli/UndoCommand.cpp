// undo: takes a run of the journal back, last change first. What changed
// since the run is a conflict: it is left as it is and named, the rest is
// put back. The undo is a run of its own, so it can be undone in turn.
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/JournalFormat.h"
#include "server/RunJournal.h"

#include <QCommandLineParser>
#include <QStringList>

namespace
{

class UndoCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("undo"); }
    QString Summary() const override
    {
        return QStringLiteral("Takes a run back: its records as they were before it, its "
                              "deleted files out of the trash, its copied-in files out.");
    }
    QString Synopsis() const override { return QStringLiteral("RUN (--dry-run | --yes)"); }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption({QStringLiteral("dry-run"),
                          QStringLiteral("Prints what undoing the run would do, and each "
                                         "conflict; changes nothing.")});
        parser.addOption({QStringLiteral("yes"), QStringLiteral("Undoes the run.")});
        parser.addPositionalArgument(QStringLiteral("RUN"),
                                     QStringLiteral("The run's number as history lists it."));
    }

    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
        if (dryRun == parser.isSet(QStringLiteral("yes"))) {
            context.Error(QStringLiteral("undo needs one of --dry-run and --yes (--dry-run "
                                         "shows what --yes would do)"));
            return ExitBadInput;
        }
        if (parser.positionalArguments().size() != 1) {
            context.Error(QStringLiteral("undo needs one RUN (history lists the runs)"));
            return ExitBadInput;
        }
        uint32_t id = 0;
        if (!ParseRunNumber(parser.positionalArguments().first(), context, id))
            return ExitBadInput;
        WcRunInfo run{};
        if (int code = LookUpRun(id, context, run))
            return code;

        const UndoReport report = UndoJournalRun(
            id, dryRun, [&](const WcRunEntry& entry, int outcome, const QString& why) {
                QStringList fields{QString::number(entry.Area), EntryName(entry),
                                   EntryKindWord(entry.Kind), UndoOutcomeWord(outcome, dryRun)};
                if (!why.isEmpty())
                    fields << why;
                if (outcome == WC_UNDO_DONE)
                    context.Line(fields.join(QLatin1Char('\t')));
                else
                    context.Error(fields.join(QLatin1Char('\t')));
            });
        switch (report.status) {
        case UndoStatus::Done:
        case UndoStatus::Conflicts:
            break;
        case UndoStatus::Unknown:
            context.Error(
                QStringLiteral("the journal has no run %1 (history lists the runs)").arg(id));
            return ExitBadInput;
        case UndoStatus::UndoneAlready:
            context.Error(QStringLiteral("run %1 was undone already%2: nothing changed")
                              .arg(id)
                              .arg(run.UndoneBy ? QStringLiteral(" by run %1").arg(run.UndoneBy)
                                                : QString()));
            return ExitSomeFailed;
        case UndoStatus::Busy:
            context.Error(QStringLiteral("another run is open: undo waits for it to end"));
            return ExitSomeFailed;
        case UndoStatus::Failed:
            context.Error(QStringLiteral("cannot undo run %1 (server error 0x%2)")
                              .arg(id)
                              .arg(report.code, 8, 16, QLatin1Char('0')));
            return ExitSomeFailed;
        }
        const WcUndoSummary& s = report.summary;
        QString summary = dryRun ? QStringLiteral("undo of run %1 would put back %2, %3 "
                                                  "conflicts, %4 failed")
                                 : QStringLiteral("undo of run %1: %2 put back, %3 conflicts, "
                                                  "%4 failed");
        summary = summary.arg(id).arg(s.Done).arg(s.Conflicts).arg(s.Failed);
        if (!dryRun && s.Run != 0)
            summary += QStringLiteral(" (run %1)").arg(s.Run);
        context.Line(summary);
        return report.status == UndoStatus::Done ? ExitDone : ExitSomeFailed;
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeUndoCommand()
{
    return std::make_unique<UndoCommand>();
}
