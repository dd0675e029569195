// vtfilemgr-cli addfiles: records for the files that already lie in the
// areas' folders.
#include "app/AddFilesRun.h"
#include "archive/TUnzipFile.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "server/AreaFiles.h"

#include <QCommandLineParser>

namespace
{

class AddFilesCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("addfiles"); }
    QString Summary() const override
    {
        return QStringLiteral("Gives a record to every file in the areas' folders that has none.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC [--allow-links] (--dry-run | --yes)");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption({QStringLiteral("areas"),
                          QStringLiteral("The areas: \"all\" or a list such as 1,3-5,9."),
                          QStringLiteral("SPEC")});
        parser.addOption(
            {QStringLiteral("allow-links"),
             QStringLiteral("Gives records to links in the areas' folders too (a link may "
                            "point at any file the BBS can read).")});
        parser.addOption({QStringLiteral("dry-run"),
                          QStringLiteral("Prints every file it would add and every one it refuses; "
                                         "changes nothing.")});
        parser.addOption({QStringLiteral("yes"), QStringLiteral("Adds the records.")});
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
        const bool yes = parser.isSet(QStringLiteral("yes"));
        if (dryRun == yes) {
            context.Error(QStringLiteral("addfiles needs one of --dry-run and --yes "
                                         "(--dry-run shows what --yes would add)"));
            return ExitBadInput;
        }
        if (!parser.isSet(QStringLiteral("areas"))) {
            context.Error(QStringLiteral("addfiles needs --areas SPEC (\"all\" or e.g. 1,3-5)"));
            return ExitBadInput;
        }
        AddFilesOptions options;
        if (!context.ParseAreas(parser.value(QStringLiteral("areas")), options.areas))
            return ExitBadInput;
        options.dryRun = dryRun;
        SetAreaLinksAllowed(parser.isSet(QStringLiteral("allow-links")));
        options.preview = false;
        // Without the zip library, zip archives take their descriptions from
        // the folder's list only.
        TUnzipFile unzip;
        options.unzip = unzip.IsLoaded() ? &unzip : nullptr;
        CliDelegate run(context);
        RunAddFiles(options, run);
        context.Line(run.Summary());
        return run.ExitCode();
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeAddFilesCommand()
{
    return std::make_unique<AddFilesCommand>();
}
