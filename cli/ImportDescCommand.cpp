// import-desc: sets the descriptions of an area's records from a FILES.BBS or
// DESCRIPT.ION list (and with --add gives named files of the area's folder a
// record).
#include "archive/DescriptionListRun.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "server/AreaFiles.h"

#include <QCommandLineParser>

#include <utility>

namespace
{

class ImportDescCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("import-desc"); }
    QString Summary() const override
    {
        return QStringLiteral(
            "Sets the descriptions of an area's records from a FILES.BBS or DESCRIPT.ION list.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--area N FILE [--add] [--allow-links] (--dry-run | --yes)");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption(
            {QStringLiteral("area"), QStringLiteral("The file area."), QStringLiteral("N")});
        parser.addOption({QStringLiteral("add"),
                          QStringLiteral("Adds records for named files that lie in the area's "
                                         "folder.")});
        parser.addOption(
            {QStringLiteral("allow-links"),
             QStringLiteral("With --add, gives records to links in the area's folder too (a "
                            "link may point at any file the BBS can read).")});
        parser.addOption({QStringLiteral("dry-run"),
                          QStringLiteral("Prints every text it would set; changes nothing.")});
        parser.addOption({QStringLiteral("yes"), QStringLiteral("Sets the texts.")});
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     QStringLiteral("The FILES.BBS or DESCRIPT.ION list."));
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
        const bool yes = parser.isSet(QStringLiteral("yes"));
        if (dryRun == yes) {
            context.Error(QStringLiteral("import-desc needs one of --dry-run and --yes "
                                         "(--dry-run shows what --yes would set)"));
            return ExitBadInput;
        }
        if (!parser.isSet(QStringLiteral("area"))) {
            context.Error(QStringLiteral("import-desc needs --area N"));
            return ExitBadInput;
        }
        if (parser.positionalArguments().size() != 1) {
            context.Error(QStringLiteral("import-desc needs one list FILE"));
            return ExitBadInput;
        }
        DescriptionImportOptions options;
        if (!context.ParseArea(QStringLiteral("--area"), parser.value(QStringLiteral("area")),
                               options.area))
            return ExitBadInput;
        const QString path = parser.positionalArguments().first();
        DescriptionListFile file = ReadDescriptionListFile(path);
        if (!file.ok()) {
            context.Error(QStringLiteral("cannot read %1: %2").arg(path, file.failure));
            return ExitBadInput;
        }
        options.list = std::move(file.bytes);
        options.add = parser.isSet(QStringLiteral("add"));
        SetAreaLinksAllowed(parser.isSet(QStringLiteral("allow-links")));
        options.dryRun = dryRun;
        CliDelegate run(context);
        const DescriptionImportResult result = RunDescriptionImport(options, run);
        context.Line(run.Summary() +
                     QStringLiteral("; %1 unknown, %2 unreadable lines, %3 texts cut")
                         .arg(result.unknown.size())
                         .arg(result.unread.size())
                         .arg(result.cuts));
        return run.ExitCode();
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeImportDescCommand()
{
    return std::make_unique<ImportDescCommand>();
}
