// One command of vtfilemgr-cli: its name, its options and help, and its run.
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class CliContext;
class QCommandLineParser;

// Exit codes: every record done; some records or files failed (each one
// reported), or an undo met conflicts; bad input (unknown option, area or
// run, unreadable filter, a bad number of days or downloads, no BBS).
enum CliExit { ExitDone = 0, ExitSomeFailed = 1, ExitBadInput = 2 };

class CliCommand
{
public:
    virtual ~CliCommand() = default;
    virtual QString Name() const = 0;
    // One line for the tool's command list.
    virtual QString Summary() const = 0;
    // The synopsis after the command's name, e.g. "--areas SPEC [--filter FILE.FMS]".
    virtual QString Synopsis() const = 0;
    // Adds the command's own options to the parser.
    virtual void AddOptions(QCommandLineParser& parser) = 0;
    // Runs the command once the parser has read the arguments and the context
    // is logged in; returns one of the exit codes above.
    virtual int Run(QCommandLineParser& parser, CliContext& context) = 0;
};

using CliCommandFactory = std::function<std::unique_ptr<CliCommand>()>;

// Whether a command runs inside a journaled run (server/RunJournal.h):
// never, or when its --yes is given (it changes the base only then).
enum class CliJournal { None, WithYes };
struct CliCommandEntry {
    CliCommandFactory make;
    CliJournal journal = CliJournal::None;
};
// Every command of the tool with its journal flag, in the order --help
// lists them; CliCommands() holds the same factories alone.
const std::vector<CliCommandEntry>& CliCommandTable();
const std::vector<CliCommandFactory>& CliCommands();
