// vtfilemgr-cli move: the move manager's run from one area to another.
#include "cli/AgeOptions.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "managers/MoveRun.h"
#include "server/wcsrv.h"

#include <QCommandLineParser>

namespace
{

class MoveCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("move"); }
    QString Summary() const override
    {
        return QStringLiteral("Moves the records (and with --files their files) to another area.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--from N --to M [--filter FILE.FMS] ") + AgeSynopsis() +
               QStringLiteral(" [--files] [--allow-offline] (--dry-run | --yes)");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption({QStringLiteral("from"), QStringLiteral("The area the records leave."),
                          QStringLiteral("N")});
        parser.addOption(
            {QStringLiteral("to"), QStringLiteral("The area they go to."), QStringLiteral("M")});
        parser.addOption({QStringLiteral("filter"),
                          QStringLiteral("Moves only the records that pass this filter."),
                          QStringLiteral("FILE.FMS")});
        AddAgeOptions(parser);
        parser.addOption({QStringLiteral("files"),
                          QStringLiteral("Moves the files on disk too; a record whose file "
                                         "cannot be copied stays where it is.")});
        parser.addOption({QStringLiteral("dry-run"),
                          QStringLiteral("Prints every move it would make; changes nothing.")});
        parser.addOption(
            {QStringLiteral("allow-offline"),
             QStringLiteral("Treats the files of an area whose folder looks offline (gone, "
                            "unreadable, or holding none of its files) as missing; "
                            "without it such an area is left alone.")});
        parser.addOption({QStringLiteral("yes"), QStringLiteral("Moves.")});
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
        const bool yes = parser.isSet(QStringLiteral("yes"));
        if (dryRun == yes) {
            context.Error(QStringLiteral("move needs one of --dry-run and --yes "
                                         "(--dry-run shows what --yes would move)"));
            return ExitBadInput;
        }
        if (!parser.isSet(QStringLiteral("from")) || !parser.isSet(QStringLiteral("to"))) {
            context.Error(QStringLiteral("move needs --from N and --to M (area numbers)"));
            return ExitBadInput;
        }
        MoveOptions options;
        if (!context.ParseArea(QStringLiteral("from"), parser.value(QStringLiteral("from")),
                               options.from) ||
            !context.ParseArea(QStringLiteral("to"), parser.value(QStringLiteral("to")),
                               options.to))
            return ExitBadInput;
        if (options.from == options.to) {
            context.Error(QStringLiteral("Can not move files to the same file area."));
            return ExitBadInput;
        }
        if (parser.isSet(QStringLiteral("filter"))) {
            if (!context.LoadFilter(parser.value(QStringLiteral("filter")), options.filter))
                return ExitBadInput;
        }
        if (!ReadAgeOptions(parser, context, options.ages))
            return ExitBadInput;
        ReportAgeLimits(context, options.ages);
        options.moveFiles = parser.isSet(QStringLiteral("files"));
        options.dryRun = dryRun;
        options.sourceTotal = std::max<int32_t>(0, GetTotalFilesInArea(options.from));
        CliDelegate run(context);
        run.SetAllowOffline(parser.isSet(QStringLiteral("allow-offline")));
        if (options.sourceTotal > 0)
            RunMove(options, run);
        context.Line(run.Summary());
        return run.ExitCode();
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeMoveCommand()
{
    return std::make_unique<MoveCommand>();
}
