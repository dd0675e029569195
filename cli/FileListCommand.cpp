// vtfilemgr-cli filelist: the file list manager's run, the same bytes the
// window writes for the same areas and filter.
#include "cli/AgeOptions.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "managers/FileListRun.h"

#include <QCommandLineParser>

namespace
{

class FileListCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("filelist"); }
    QString Summary() const override
    {
        return QStringLiteral("Writes the file list of file areas for download.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC [--filter FILE.FMS] ") + AgeSynopsis() +
               QStringLiteral(" --out FILE");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption({QStringLiteral("areas"),
                          QStringLiteral("The areas: \"all\" or a list such as 1,3-5,9."),
                          QStringLiteral("SPEC")});
        parser.addOption({QStringLiteral("filter"),
                          QStringLiteral("Lists only the records that pass this filter."),
                          QStringLiteral("FILE.FMS")});
        AddAgeOptions(parser);
        parser.addOption({QStringLiteral("out"),
                          QStringLiteral("The list file; an older one is replaced."),
                          QStringLiteral("FILE")});
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        if (!parser.isSet(QStringLiteral("areas")) || !parser.isSet(QStringLiteral("out")) ||
            parser.value(QStringLiteral("out")).isEmpty()) {
            context.Error(QStringLiteral("filelist needs --areas SPEC and --out FILE"));
            return ExitBadInput;
        }
        QList<int> wanted;
        if (!context.ParseAreas(parser.value(QStringLiteral("areas")), wanted))
            return ExitBadInput;
        FileListOptions options;
        if (parser.isSet(QStringLiteral("filter"))) {
            if (!context.LoadFilter(parser.value(QStringLiteral("filter")), options.filter))
                return ExitBadInput;
        }
        if (!ReadAgeOptions(parser, context, options.ages))
            return ExitBadInput;
        ReportAgeLimits(context, options.ages);
        // The headings are the window's area lines.
        for (const FileListArea& area : AllFileListAreas())
            if (wanted.contains(area.area))
                options.areas.append(area);
        options.path = parser.value(QStringLiteral("out"));
        CliDelegate run(context);
        if (!RemoveOldFileList(options.path, run))
            return ExitSomeFailed;
        const FileListResult result = RunFileList(options, run);
        // A list that could not be written whole is no success: its warning
        // stands, and no line says the records were listed.
        if (result.writeFailed) {
            context.Error(
                QStringLiteral("the file list %1 could not be written whole").arg(options.path));
            return ExitSomeFailed;
        }
        context.Line(QStringLiteral("%1 records listed in %2").arg(result.total).arg(options.path));
        return run.ExitCode();
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeFileListCommand()
{
    return std::make_unique<FileListCommand>();
}
