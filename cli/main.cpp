// vtfilemgr-cli: the file manager's runs for unattended maintenance.
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/Completion.h"
#include "common/BuildInfo.h"
#include "common/ManPage.h"
#include "common/Text.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "server/RunJournal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
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

// The global options as the usage lines show them.
const QString kGlobalSynopsis =
    QStringLiteral("[--home DIR] [--config FILE] [--codepage CP] [--log FILE]");

// `text`, which starts at column `indent`, broken at blanks into lines of
// at most 79 columns; every line after the first is indented the same. A
// group in brackets or parentheses ("[--format text|csv|json]") stays on
// one line unless it is longer than a line.
QString Wrapped(const QString& text, qsizetype indent)
{
    QStringList groups;
    int depth = 0;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (depth > 0)
            groups.last() += QLatin1Char(' ') + word;
        else
            groups << word;
        depth += int(word.count(QLatin1Char('[')) + word.count(QLatin1Char('('))) -
                 int(word.count(QLatin1Char(']')) + word.count(QLatin1Char(')')));
        depth = std::max(depth, 0);
    }
    QStringList words;
    for (const QString& group : std::as_const(groups)) {
        if (group.size() > 79 - indent)
            words << group.split(QLatin1Char(' '));
        else
            words << group;
    }
    QString out;
    qsizetype column = indent;
    bool lineEmpty = true;
    for (const QString& word : std::as_const(words)) {
        if (!lineEmpty && column + 1 + word.size() > 79) {
            out += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += QLatin1Char(' ');
            ++column;
        }
        out += word;
        column += word.size();
        lineEmpty = false;
    }
    return out;
}

QString ToolHelp()
{
    const QString head = QStringLiteral("Usage: vtfilemgr-cli ");
    QString text = head +
                   Wrapped(kGlobalSynopsis + QStringLiteral(" COMMAND [options]"), head.size()) +
                   QStringLiteral("\n"
                                  "\n"
                                  "Maintains a BBS's file base without the window: listings, "
                                  "file lists,\n"
                                  "deletions, moves and freshens, for cron and scripts.\n"
                                  "\n"
                                  "Commands:\n");
    // The summaries start two columns after the longest command name.
    qsizetype width = 0;
    for (const CliCommandFactory& make : CliCommands())
        width = std::max(width, make()->Name().size());
    const qsizetype column = 2 + width + 2;
    for (const CliCommandFactory& make : CliCommands()) {
        const auto command = make();
        text += QStringLiteral("  ") + command->Name().leftJustified(width + 2) +
                Wrapped(command->Summary(), column) + QLatin1Char('\n');
    }
    text += QStringLiteral(
        "\n"
        "Global options:\n"
        "  --home DIR       the BBS home folder (default: $WCSRV_HOME, then\n"
        "                   $XDG_DATA_HOME/wcsrv)\n"
        "  --config FILE    the program's settings file to read the code page (and for\n"
        "                   tic the TIC, TicAreas and TicPasswords sections) from\n"
        "                   (default: vuru.cfg in the program's folder, or in\n"
        "                   $XDG_CONFIG_HOME/vtfile/ when that folder cannot be written)\n"
        "  --codepage CP    the code page of record texts: latin1, 437, 850, 852 or\n"
        "                   866 (default: the CodePage setting, else latin1); the\n"
        "                   output is UTF-8\n"
        "  --log FILE       append every result line to FILE with a time stamp\n"
        "  -h, --help       this text; COMMAND --help for a command's options\n"
        "  --version        the version\n"
        "\n"
        "\n"
        "Every command that changes the base (given --yes) is one run of the\n"
        "journal, kept in the BBS's store: history lists the runs, undo RUN takes\n"
        "one back, and the files a run deleted wait in the trash for TrashDays\n"
        "days (section General of the settings file; default 7).\n"
        "\n"
        "tic takes in the files of file echoes: each TIC of the inbound folder\n"
        "(TIC section, Inbound) is checked and its file placed into the area\n"
        "TicAreas names for its echo, left while it is incomplete, or moved with\n"
        "the TIC to the bad folder with a NAME.TIC.reason file beside it. Its\n"
        "exit code is 1 when some went to bad, 2 without an inbound folder or\n"
        "TicAreas.\n"
        "\n"
        "Exit codes: 0 all done, 1 some records or files failed (each reported) or\n"
        "an undo left conflicts, 2 bad input (unknown option, unknown area or run,\n"
        "unreadable filter file, a bad number of days or downloads, no BBS, a trash\n"
        "that cannot be written).\n");
    return text;
}

// The usage line of one command, broken at 79 columns.
QString CommandUsage(const CliCommand& command)
{
    const QString head = QStringLiteral("Usage: vtfilemgr-cli ");
    return head + Wrapped(kGlobalSynopsis + QLatin1Char(' ') + command.Name() + QLatin1Char(' ') +
                              command.Synopsis(),
                          head.size());
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
        page += QStringLiteral(".B vtfilemgr\\-cli\n%1 %2 %3\n.br\n")
                    .arg(escape(kGlobalSynopsis), command->Name(), escape(command->Synopsis()));
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
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("Settings file."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption codepage(QStringLiteral("codepage"), QStringLiteral("Code page."),
                                      QStringLiteral("CP"));
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
    global.addOptions({home, config, codepage, log, help, version, man, completion});
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
    CliJournal journal = CliJournal::None;
    for (const CliCommandEntry& entry : CliCommandTable()) {
        auto candidate = entry.make();
        if (candidate->Name() == rest.first()) {
            command = std::move(candidate);
            journal = entry.journal;
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
        // The parser's own text from its "Options:" line on.
        QTextStream(stdout) << CommandUsage(*command) << "\n\n"
                            << Wrapped(command->Summary(), 0) << "\n\n"
                            << parser.helpText().section(QLatin1Char('\n'), 3);
        return ExitDone;
    }
    if (!parser.positionalArguments().isEmpty() &&
        command->Synopsis().indexOf(QLatin1String("FILE")) < 0 &&
        command->Synopsis().indexOf(QLatin1String("RUN")) < 0)
        return BadInput(QStringLiteral("unexpected argument \"%1\" (vtfilemgr-cli %2 --help)")
                            .arg(parser.positionalArguments().first(), command->Name()));

    // Record texts are read through the code page the program shows them
    // in: --codepage, else the CodePage setting of the program's vuru.cfg
    // (or of --config FILE).
    RecordCodePage page = RecordCodePage::Latin1;
    if (global.isSet(codepage) && !CodePageOfName(global.value(codepage), page))
        return BadInput(QStringLiteral("unknown --codepage \"%1\": give latin1, 437, 850, 852 "
                                       "or 866")
                            .arg(global.value(codepage)));
    const QString configPath = global.isSet(config) ? global.value(config) : ProgramConfigPath();
    const QFileInfo configFile(configPath);
    if ((global.isSet(config) || configFile.exists()) && !configFile.isFile())
        return BadInput(QStringLiteral("cannot read the settings file %1: %2")
                            .arg(configPath, configFile.exists()
                                                 ? QStringLiteral("not a regular file")
                                                 : QStringLiteral("no such file")));
    if (!global.isSet(codepage) && configFile.isFile())
        page = ReadCodePageSetting(IniFile(configPath));
    SetRecordCodePage(page);
    if (configFile.isFile()) {
        SetTrashDays(ReadTrashDaysSetting(IniFile(configPath)));
        ClamdSocketSetting = ReadClamdSocketSetting(IniFile(configPath));
    }

    CliContext context;
    context.SetConfigPath(configPath);
    if (global.isSet(log) && !context.OpenLog(global.value(log)))
        return ExitBadInput;
    if (!context.Login(global.value(home)))
        return ExitBadInput;
    if (journal == CliJournal::None || !parser.isSet(QStringLiteral("yes")))
        return command->Run(parser, context);
    // The whole command is one run of the journal, kept as it was typed
    // (without the global options); a refused run changes nothing.
    JournaledRun run(CommandLineText(rest));
    if (!run.Begun()) {
        context.Error(run.Refusal());
        return ExitBadInput;
    }
    const int code = command->Run(parser, context);
    if (!run.End())
        context.Error(QStringLiteral("cannot end run %1 of the journal (server error 0x%2)")
                          .arg(run.Id())
                          .arg(WcGetLastError(), 8, 16, QLatin1Char('0')));
    return code;
}
