// export-desc: writes one FILES.BBS or DESCRIPT.ION list per area.
#include "archive/DescriptionListRun.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"

#include <QCommandLineParser>

namespace
{

class ExportDescCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("export-desc"); }
    QString Summary() const override
    {
        return QStringLiteral("Writes the descriptions of areas as FILES.BBS or DESCRIPT.ION "
                              "lists, one per area in DIR/<area>/.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC --format files.bbs|descript.ion --out DIR [--dry-run]");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption({QStringLiteral("areas"),
                          QStringLiteral("The areas: \"all\" or a list such as 1,3-5,9."),
                          QStringLiteral("SPEC")});
        parser.addOption({QStringLiteral("format"),
                          QStringLiteral("The layout: files.bbs or descript.ion."),
                          QStringLiteral("FORMAT")});
        parser.addOption({QStringLiteral("out"), QStringLiteral("The folder for the lists."),
                          QStringLiteral("DIR")});
        parser.addOption({QStringLiteral("dry-run"),
                          QStringLiteral("Prints the lists it would write; writes nothing.")});
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        if (!parser.isSet(QStringLiteral("areas")) || !parser.isSet(QStringLiteral("out")) ||
            !parser.isSet(QStringLiteral("format"))) {
            context.Error(QStringLiteral("export-desc needs --areas SPEC, --format and --out DIR"));
            return ExitBadInput;
        }
        DescriptionExportOptions options;
        const QString format = parser.value(QStringLiteral("format")).toLower();
        if (format == QLatin1String("files.bbs"))
            options.layout = DescriptionListLayout::FilesBbs;
        else if (format == QLatin1String("descript.ion"))
            options.layout = DescriptionListLayout::DescriptIon;
        else {
            context.Error(QStringLiteral("unknown --format \"%1\" (files.bbs or descript.ion)")
                              .arg(parser.value(QStringLiteral("format"))));
            return ExitBadInput;
        }
        if (!context.ParseAreas(parser.value(QStringLiteral("areas")), options.areas))
            return ExitBadInput;
        options.folder = parser.value(QStringLiteral("out"));
        options.dryRun = parser.isSet(QStringLiteral("dry-run"));
        CliDelegate run(context);
        RunDescriptionExport(options, run);
        context.Line(run.Summary());
        return run.ExitCode();
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeExportDescCommand()
{
    return std::make_unique<ExportDescCommand>();
}
