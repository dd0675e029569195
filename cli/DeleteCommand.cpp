// vtfilemgr-cli delete: the deletion manager's run for the given areas.
#include "cli/AgeOptions.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "managers/DeletionRun.h"

#include <QCommandLineParser>

namespace
{

class DeleteCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("delete"); }
    QString Summary() const override
    {
        return QStringLiteral("Deletes the records (and with --files their files) of file areas.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC [--filter FILE.FMS] ") + AgeSynopsis() +
               QStringLiteral(" [--files] [--allow-offline] (--dry-run | --yes)");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption({QStringLiteral("areas"),
                          QStringLiteral("The areas: \"all\" or a list such as 1,3-5,9."),
                          QStringLiteral("SPEC")});
        parser.addOption({QStringLiteral("filter"),
                          QStringLiteral("Deletes only the records that pass this filter."),
                          QStringLiteral("FILE.FMS")});
        AddAgeOptions(parser);
        parser.addOption(
            {QStringLiteral("files"), QStringLiteral("Deletes the files from disk also.")});
        parser.addOption({QStringLiteral("dry-run"),
                          QStringLiteral("Prints every deletion it would make; changes nothing.")});
        parser.addOption(
            {QStringLiteral("allow-offline"),
             QStringLiteral("Treats the files of an area whose folder looks offline (gone, "
                            "unreadable, or holding none of its files) as missing; "
                            "without it such an area is left alone.")});
        parser.addOption({QStringLiteral("yes"), QStringLiteral("Deletes.")});
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
        const bool yes = parser.isSet(QStringLiteral("yes"));
        if (dryRun == yes) {
            context.Error(QStringLiteral("delete needs one of --dry-run and --yes "
                                         "(--dry-run shows what --yes would delete)"));
            return ExitBadInput;
        }
        if (!parser.isSet(QStringLiteral("areas"))) {
            context.Error(QStringLiteral("delete needs --areas SPEC (\"all\" or e.g. 1,3-5)"));
            return ExitBadInput;
        }
        DeletionOptions options;
        if (!context.ParseAreas(parser.value(QStringLiteral("areas")), options.areas))
            return ExitBadInput;
        if (parser.isSet(QStringLiteral("filter"))) {
            if (!context.LoadFilter(parser.value(QStringLiteral("filter")), options.filter))
                return ExitBadInput;
        }
        if (!ReadAgeOptions(parser, context, options.ages))
            return ExitBadInput;
        ReportAgeLimits(context, options.ages);
        options.deleteFromDisk = parser.isSet(QStringLiteral("files"));
        options.dryRun = dryRun;
        CliDelegate run(context);
        run.SetAllowOffline(parser.isSet(QStringLiteral("allow-offline")));
        RunDeletion(options, run);
        context.Line(run.Summary());
        return run.ExitCode();
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeDeleteCommand()
{
    return std::make_unique<DeleteCommand>();
}
