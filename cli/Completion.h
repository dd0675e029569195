// The bash completion of vtfilemgr-cli (its hidden --completion option): the
// commands, each command's options and the values they take, read from the
// same parsers whose help texts --help prints, so that the completion and
// the help cannot disagree.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class CliCommand;
class QCommandLineParser;

// An option as a help text lists it: its names ("-h", "--help") and the name
// of its value ("SPEC"; empty for a switch).
struct HelpOption {
    QStringList names;
    QString valueName;
};

// The options and the positional arguments ("FILE") of a parser's help text.
QList<HelpOption> OptionsOfHelp(const QString& helpText);
QStringList ArgumentsOfHelp(const QString& helpText);

// The script: a function _vtfilemgr_cli registered with `complete -F`.
// `global` holds the options before the command; `setUp` adds a command's
// options (and its --help) to a parser, as the command line reads them.
QString BashCompletion(const QCommandLineParser& global,
                       const std::function<void(CliCommand&, QCommandLineParser&)>& setUp);
