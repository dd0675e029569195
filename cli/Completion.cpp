#include "cli/Completion.h"

#include "cli/CliCommand.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QStringList>

namespace
{

// The lines of one section ("Options:", "Arguments:") of a help text.
QStringList SectionLines(const QString& helpText, const QString& title)
{
    QStringList lines;
    bool inside = false;
    for (const QString& line : helpText.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char(' ')) && !line.isEmpty()) {
            inside = line == title;
            continue;
        }
        if (inside)
            lines << line;
    }
    return lines;
}

// A word the script may hold without quotes.
bool PlainWord(const QString& word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._-]+$"));
    return plain.match(word).hasMatch();
}

// The values a synopsis lists for an option ("--format text|csv|json"); an
// alternative with a placeholder in capitals ("area:N") is left to the user.
QStringList ChoicesInSynopsis(const QString& synopsis, const QString& option)
{
    static const QRegularExpression alternatives(
        QStringLiteral("(--[A-Za-z0-9-]+) ([^\\s\\[\\]()|]+(?:\\|[^\\s\\[\\]()|]+)+)"));
    QStringList choices;
    auto it = alternatives.globalMatch(synopsis);
    while (it.hasNext()) {
        const auto match = it.next();
        if (match.captured(1) != option)
            continue;
        for (const QString& choice : match.captured(2).split(QLatin1Char('|'))) {
            if (PlainWord(choice) && choice.toLower() == choice)
                choices << choice;
        }
    }
    return choices;
}

// The shell words that complete the value of an option: files for a FILE,
// folders for a DIR, the journal's latest runs for a RUN, the synopsis's
// choices, the usual retention periods for DAYS (--older-than,
// --not-accessed-in), or nothing the script could know.
QString ValueCompletion(const QString& valueName, const QStringList& choices)
{
    if (!choices.isEmpty())
        return QStringLiteral("_vtfilemgr_cli_words '%1'").arg(choices.join(QLatin1Char(' ')));
    if (valueName == QLatin1String("RUN"))
        return QStringLiteral("_vtfilemgr_cli_runs");
    if (valueName == QLatin1String("DAYS"))
        return QStringLiteral("_vtfilemgr_cli_words '30 90 180 365 730'");
    if (valueName.contains(QLatin1String("DIR")))
        return QStringLiteral("_vtfilemgr_cli_dirs");
    if (valueName.contains(QLatin1String("FILE")))
        return QStringLiteral("_vtfilemgr_cli_files");
    return QStringLiteral(":");
}

// The `case $prev in` arms for the options that take a value.
QString ValueArms(const QList<HelpOption>& options, const QString& synopsis, const QString& indent)
{
    QString arms;
    for (const HelpOption& option : options) {
        if (option.valueName.isEmpty())
            continue;
        QStringList choices;
        for (const QString& name : option.names)
            choices << ChoicesInSynopsis(synopsis, name);
        arms += QStringLiteral("%1%2) %3; return ;;\n")
                    .arg(indent, option.names.join(QLatin1Char('|')),
                         ValueCompletion(option.valueName, choices));
    }
    return arms;
}

QString OptionWords(const QList<HelpOption>& options)
{
    QStringList words;
    for (const HelpOption& option : options)
        words << option.names;
    return words.join(QLatin1Char(' '));
}

} // namespace

QList<HelpOption> OptionsOfHelp(const QString& helpText)
{
    // "  -h, --help            Displays ..." and "  --areas <SPEC>  The ...":
    // an option line starts with two blanks and a dash; a description that
    // runs on starts further in.
    static const QRegularExpression name(QStringLiteral("^(-{1,2}[^\\s,<]+)(?: <([^>]*)>)?"));
    QList<HelpOption> options;
    for (const QString& line : SectionLines(helpText, QStringLiteral("Options:"))) {
        if (!line.startsWith(QLatin1String("  -")))
            continue;
        HelpOption option;
        QString rest = line.mid(2);
        for (;;) {
            const auto match = name.match(rest);
            if (!match.hasMatch())
                break;
            option.names << match.captured(1);
            if (match.capturedLength(2) > 0)
                option.valueName = match.captured(2);
            rest = rest.mid(match.capturedLength());
            if (!rest.startsWith(QLatin1String(", ")))
                break;
            rest = rest.mid(2);
        }
        if (!option.names.isEmpty())
            options << option;
    }
    return options;
}

QStringList ArgumentsOfHelp(const QString& helpText)
{
    QStringList arguments;
    // "  FILE        The FILES.BBS ...": the name starts after two blanks.
    for (const QString& line : SectionLines(helpText, QStringLiteral("Arguments:"))) {
        if (line.startsWith(QLatin1String("  ")) && line.size() > 2 && line.at(2) != u' ')
            arguments << line.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return arguments;
}

QString BashCompletion(const QCommandLineParser& global,
                       const std::function<void(CliCommand&, QCommandLineParser&)>& setUp)
{
    const QList<HelpOption> globalOptions = OptionsOfHelp(global.helpText());
    QStringList commandNames;
    QString commandArms;
    for (const CliCommandFactory& make : CliCommands()) {
        const auto command = make();
        commandNames << command->Name();
        QCommandLineParser parser;
        setUp(*command, parser);
        const QString help = parser.helpText();
        const QList<HelpOption> options = OptionsOfHelp(help);
        // A word that is no option's value: the command's argument (a file
        // or folder by its name) where it takes one, else its options.
        QString operand = QStringLiteral("_vtfilemgr_cli_words '%1'").arg(OptionWords(options));
        const QStringList arguments = ArgumentsOfHelp(help);
        if (!arguments.isEmpty()) {
            const QString value = ValueCompletion(arguments.first(), {});
            operand = QStringLiteral("if [[ $cur == -* ]]; then %1; else %2; fi")
                          .arg(operand, value == QLatin1String(":")
                                            ? QStringLiteral("_vtfilemgr_cli_files")
                                            : value);
        }
        commandArms +=
            QStringLiteral("        %1)\n"
                           "            case $prev in\n"
                           "%2"
                           "            esac\n"
                           "            %3\n"
                           "            ;;\n")
                .arg(command->Name(),
                     ValueArms(options, command->Synopsis(), QStringLiteral("                ")),
                     operand);
    }

    return QStringLiteral(
               "# bash completion for vtfilemgr-cli, made by `vtfilemgr-cli --completion`\n"
               "# from the option tables that its --help prints.\n"
               "\n"
               "_vtfilemgr_cli_words()\n"
               "{\n"
               "    mapfile -t COMPREPLY < <(compgen -W \"$1\" -- \"$cur\")\n"
               "}\n"
               "\n"
               "_vtfilemgr_cli_files()\n"
               "{\n"
               "    compopt -o filenames 2>/dev/null\n"
               "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
               "}\n"
               "\n"
               "_vtfilemgr_cli_dirs()\n"
               "{\n"
               "    compopt -o filenames 2>/dev/null\n"
               "    mapfile -t COMPREPLY < <(compgen -d -- \"$cur\")\n"
               "}\n"
               "\n"
               "# The numbers of the latest runs, from the BBS the line names (--home).\n"
               "_vtfilemgr_cli_runs()\n"
               "{\n"
               "    local i home=()\n"
               "    for ((i = 1; i < COMP_CWORD - 1; i++)); do\n"
               "        [[ ${COMP_WORDS[i]} == --home ]] && home=(--home \"${COMP_WORDS[i + "
               "1]}\")\n"
               "    done\n"
               "    _vtfilemgr_cli_words \"$(\"${COMP_WORDS[0]}\" \"${home[@]}\" history --limit "
               "30 "
               "2>/dev/null | cut -f1)\"\n"
               "}\n"
               "\n"
               "_vtfilemgr_cli()\n"
               "{\n"
               "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
               "    local i command=\n"
               "    COMPREPLY=()\n"
               "    # The command is the first word that is neither a global option nor\n"
               "    # the value of one.\n"
               "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
               "        case ${COMP_WORDS[i]} in\n"
               "            %1) ((i++)) ;;\n"
               "            -*) ;;\n"
               "            *) command=${COMP_WORDS[i]}; break ;;\n"
               "        esac\n"
               "    done\n"
               "    if [[ -z $command ]]; then\n"
               "        case $prev in\n"
               "%2"
               "        esac\n"
               "        if [[ $cur == -* ]]; then\n"
               "            _vtfilemgr_cli_words '%3'\n"
               "        else\n"
               "            _vtfilemgr_cli_words '%4'\n"
               "        fi\n"
               "        return\n"
               "    fi\n"
               "    case $command in\n"
               "%5"
               "    esac\n"
               "}\n"
               "complete -F _vtfilemgr_cli vtfilemgr-cli\n")
        .arg(
            [&] {
                QStringList withValue;
                for (const HelpOption& option : globalOptions) {
                    if (!option.valueName.isEmpty())
                        withValue << option.names;
                }
                return withValue.join(QLatin1Char('|'));
            }(),
            ValueArms(globalOptions, QString(), QStringLiteral("            ")),
            OptionWords(globalOptions), commandNames.join(QLatin1Char(' ')), commandArms);
}
