// vtfilemgr-cli: the file manager's runs for unattended maintenance.
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/Completion.h"
#include "common/BuildInfo.h"
#include "common/ManPage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace
{

// Adds a command's options and its --help to the parser that reads its
// arguments; the manual page and the completion read the same parser.
void SetUpCommandParser(CliCommand& command, QCommandLineParser& parser)
{
    command.AddOptions(parser);
    parser.addOption(
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help.")});
}

QString ToolHelp()
{
    QString text =
        QStringLiteral("Usage: vtfilemgr-cli [--home DIR] [--log FILE] COMMAND [options]\n"
                       "\n"
                       "Maintains a BBS's file base without the window: listings, file lists,\n"
                       "deletions, moves and freshens, for cron and scripts.\n"
                       "\n"
                       "Commands:\n");
    // The names in one column as wide as the longest name and two blanks.
    qsizetype width = 0;
    for (const CliCommandFactory& make : CliCommands())
        width = std::max(width, make()->Name().size() + 2);
    for (const CliCommandFactory& make : CliCommands()) {
        const auto command = make();
        text += QStringLiteral("  %1%2\n")
                    .arg(command->Name().leftJustified(width), command->Summary());
    }
    text += QStringLiteral(
        "\n"
        "Global options:\n"
        "  --home DIR   the BBS home folder (default: $WCSRV_HOME, then\n"
        "               $XDG_DATA_HOME/wcsrv)\n"
        "  --log FILE   append every result line to FILE with a time stamp\n"
        "  -h, --help   this text; COMMAND --help for a command's options\n"
        "  --version    the version\n"
        "\n"
        "Exit codes: 0 all done, 1 some records or files failed (each reported),\n"
        "2 bad input (unknown option, unknown area, unreadable filter file, no BBS).\n");
    return text;
}

// The manual page (troff), made from the same texts as --help, so the page
// and the program cannot disagree. The build writes it beside the program.
QString ManPage()
{
    const auto escape = ManText;
    QString page = ManHead(QStringLiteral("vtfilemgr-cli"),
                           QStringLiteral("unattended maintenance of a BBS file base")) +
                   QStringLiteral(".SH SYNOPSIS\n");
    for (const CliCommandFactory& make : CliCommands()) {
        const auto command = make();
        page += QStringLiteral(".B vtfilemgr\\-cli\n[\\-\\-home DIR] [\\-\\-log FILE] %1 %2\n.br\n")
                    .arg(command->Name(), escape(command->Synopsis()));
    }
    page += QStringLiteral(".SH DESCRIPTION\n.nf\n") + escape(ToolHelp()) + QStringLiteral(".fi\n");
    page += QStringLiteral(".SH COMMANDS\n");
    for (const CliCommandFactory& make : CliCommands()) {
        const auto command = make();
        QCommandLineParser parser;
        SetUpCommandParser(*command, parser);
        page += QStringLiteral(".SS %1\n%2\n.nf\n%3.fi\n")
                    .arg(command->Name(), escape(command->Summary()),
                         escape(parser.helpText().section(QLatin1Char('\n'), 2)));
    }
    page += QStringLiteral(".SH ENVIRONMENT\n.TP\nWCSRV_HOME\nThe BBS home folder when "
                           "\\-\\-home is not given.\n"
                           ".TP\nWCSRV_DATABASE\nA PostgreSQL connection string: the records "
                           "are kept on that server.\n"
                           ".SH SEE ALSO\nvtfilemgr(1), wcsrv\\-admin(1)\n");
    return page;
}

int BadInput(const QString& message)
{
    QTextStream(stderr) << "vtfilemgr-cli: " << message << '\n';
    return ExitBadInput;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vtfilemgr-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VT_VERSION));
    const QStringList args = QCoreApplication::arguments();

    // The global options come before the command; the command's parser reads
    // the rest, so each command keeps its own options and help.
    QCommandLineParser global;
    global.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("BBS home folder."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Log file."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Version."));
    QCommandLineOption man(QStringLiteral("man"), QStringLiteral("Manual page."));
    man.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption completion(QStringLiteral("completion"),
                                  QStringLiteral("Bash completion script."));
    completion.setFlags(QCommandLineOption::HiddenFromHelp);
    global.addOptions({home, log, help, version, man, completion});
    if (!global.parse(args))
        return BadInput(global.errorText() +
                        QStringLiteral(" (vtfilemgr-cli --help lists the options)"));
    if (global.isSet(version)) {
        std::printf("vtfilemgr-cli %s\n", VT_VERSION);
        return ExitDone;
    }
    if (global.isSet(man)) {
        QTextStream(stdout) << ManPage();
        return ExitDone;
    }
    if (global.isSet(completion)) {
        QTextStream(stdout) << BashCompletion(global, SetUpCommandParser);
        return ExitDone;
    }
    const QStringList rest = global.positionalArguments();
    if (global.isSet(help) || rest.isEmpty()) {
        QTextStream(rest.isEmpty() && !global.isSet(help) ? stderr : stdout) << ToolHelp();
        return global.isSet(help) ? ExitDone : ExitBadInput;
    }

    std::unique_ptr<CliCommand> command;
    for (const CliCommandFactory& make : CliCommands()) {
        auto candidate = make();
        if (candidate->Name() == rest.first()) {
            command = std::move(candidate);
            break;
        }
    }
    if (!command)
        return BadInput(QStringLiteral("unknown command \"%1\" (vtfilemgr-cli --help lists the "
                                       "commands)")
                            .arg(rest.first()));

    QCommandLineParser parser;
    parser.setApplicationDescription(command->Summary());
    SetUpCommandParser(*command, parser);
    QStringList commandArgs = rest;
    commandArgs.first() = QStringLiteral("vtfilemgr-cli ") + command->Name();
    if (!parser.parse(commandArgs))
        return BadInput(
            parser.errorText() +
            QStringLiteral(" (vtfilemgr-cli %1 --help lists its options)").arg(command->Name()));
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << "Usage: vtfilemgr-cli [--home DIR] [--log FILE] " << command->Name()
                            << ' ' << command->Synopsis() << "\n\n"
                            << command->Summary() << "\n\n"
                            << parser.helpText().section(QLatin1Char('\n'), 2);
        return ExitDone;
    }
    if (!parser.positionalArguments().isEmpty() &&
        command->Synopsis().indexOf(QLatin1String("FILE")) < 0)
        return BadInput(QStringLiteral("unexpected argument \"%1\" (vtfilemgr-cli %2 --help)")
                            .arg(parser.positionalArguments().first(), command->Name()));

    CliContext context;
    if (global.isSet(log) && !context.OpenLog(global.value(log)))
        return ExitBadInput;
    if (!context.Login(global.value(home)))
        return ExitBadInput;
    return command->Run(parser, context);
}
