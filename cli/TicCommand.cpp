// tic: takes in the files that arrived through file echoes. Each TIC of the
// inbound folder is checked, its file placed into the echo's area with a
// record, left for the next run while it is incomplete, or moved to the bad
// folder with its reason. --dry-run shows the same lines and changes
// nothing. Exit 0 when every TIC was placed, was a duplicate or waits; 1
// when some went to bad or failed; 2 on bad input (no inbound folder,
// settings that cannot be read).
#include "archive/TUnzipFile.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "managers/TicRun.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QStringList>

namespace
{

// The run's rows are the command's lines; the delegate's own item lines
// would repeat them.
class TicDelegate : public CliDelegate
{
public:
    using CliDelegate::CliDelegate;
    void Item(const RunItem&) override {}
};

class TicCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("tic"); }
    QString Summary() const override
    {
        return QStringLiteral("Takes the files of file echoes (TIC files in the inbound folder) "
                              "into their areas; refused ones go to the bad folder.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("[--inbound DIR] (--dry-run | --yes) [--announce FILE]");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption(m_inbound);
        parser.addOption(m_dryRun);
        parser.addOption(m_yes);
        parser.addOption(m_announce);
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        if (!parser.positionalArguments().isEmpty()) {
            context.Error(QStringLiteral("unexpected argument \"%1\" (vtfilemgr-cli tic --help)")
                              .arg(parser.positionalArguments().first()));
            return ExitBadInput;
        }
        if (parser.isSet(m_dryRun) == parser.isSet(m_yes)) {
            context.Error(QStringLiteral("tic needs either --dry-run (show what would happen) or "
                                         "--yes (take the files in)"));
            return ExitBadInput;
        }
        const QString configPath = context.ConfigPath();
        const QFileInfo config(configPath);
        if (!config.isFile() || !config.isReadable()) {
            context.Error(QStringLiteral("cannot read the settings file %1 (the TIC and TicAreas "
                                         "sections)")
                              .arg(configPath));
            return ExitBadInput;
        }
        QStringList problems;
        TicRunOptions options;
        options.settings = ReadTicSettings(IniFile(configPath), &problems);
        for (const QString& problem : std::as_const(problems))
            context.Error(QStringLiteral("%1: %2").arg(configPath, problem));
        if (!problems.isEmpty())
            return ExitBadInput;
        if (options.settings.areas.isEmpty()) {
            context.Error(
                QStringLiteral("%1 has no TicAreas lines: no echo has an area").arg(configPath));
            return ExitBadInput;
        }
        if (parser.isSet(m_inbound))
            options.settings.inbound = parser.value(m_inbound);
        if (options.settings.inbound.trimmed().isEmpty()) {
            context.Error(QStringLiteral("no inbound folder: give --inbound DIR or set Inbound "
                                         "in the TIC section of %1")
                              .arg(configPath));
            return ExitBadInput;
        }
        if (!QFileInfo(options.settings.inbound).isDir()) {
            context.Error(
                QStringLiteral("the inbound folder %1 is not there").arg(options.settings.inbound));
            return ExitBadInput;
        }
        options.dryRun = parser.isSet(m_dryRun);
        if (!options.dryRun)
            options.announcePath = parser.value(m_announce);
        TUnzipFile unzip;
        options.unzip = unzip.IsLoaded() ? &unzip : nullptr;
        options.row = [&context](const TicRow& row) {
            context.Line(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6")
                             .arg(row.tic, row.echo, QString::number(row.area), row.file,
                                  row.actionText, row.reason));
        };
        TicDelegate delegate(context);
        const TicRunResult result = RunTicIntake(options, delegate);
        context.EndProgress();
        if (result.noInbound)
            return ExitBadInput;
        context.Line(
            QStringLiteral("%1 %2, %3 duplicate, %4 waiting, %5 bad, %6 failed")
                .arg(result.placed)
                .arg(options.dryRun ? QStringLiteral("to place") : QStringLiteral("placed"))
                .arg(result.duplicates)
                .arg(result.waiting)
                .arg(result.bad)
                .arg(result.failed));
        return result.bad > 0 || result.failed > 0 || result.announceFailed ? ExitSomeFailed
                                                                            : ExitDone;
    }

private:
    QCommandLineOption m_inbound{QStringLiteral("inbound"),
                                 QStringLiteral("The inbound folder (instead of the TIC section's "
                                                "Inbound)."),
                                 QStringLiteral("DIR")};
    QCommandLineOption m_dryRun{QStringLiteral("dry-run"),
                                QStringLiteral("Shows what would happen to each TIC and changes "
                                               "nothing.")};
    QCommandLineOption m_yes{QStringLiteral("yes"), QStringLiteral("Takes the files in.")};
    QCommandLineOption m_announce{QStringLiteral("announce"),
                                  QStringLiteral("Appends the new files to FILE in the file "
                                                 "list's layout, for posting."),
                                  QStringLiteral("FILE")};
};

} // namespace

std::unique_ptr<CliCommand> MakeTicCommand()
{
    return std::make_unique<TicCommand>();
}
