// The commands of vtfilemgr-cli, in the order --help lists them, each with
// whether it changes the base: such a command runs inside one journaled run
// when it is told to make its changes (--yes), so that `undo` can take the
// whole command back. Dry runs and commands that only read are not kept.
#include "cli/CliCommand.h"

std::unique_ptr<CliCommand> MakeFileListCommand();
std::unique_ptr<CliCommand> MakeDeleteCommand();
std::unique_ptr<CliCommand> MakeMoveCommand();
std::unique_ptr<CliCommand> MakeListCommand();
std::unique_ptr<CliCommand> MakeFreshenCommand();
std::unique_ptr<CliCommand> MakeImportDescCommand();
std::unique_ptr<CliCommand> MakeExportDescCommand();
std::unique_ptr<CliCommand> MakeAddFilesCommand();
std::unique_ptr<CliCommand> MakeDupesCommand();
std::unique_ptr<CliCommand> MakeCheckCommand();
std::unique_ptr<CliCommand> MakeScanCommand();
std::unique_ptr<CliCommand> MakeHistoryCommand();
std::unique_ptr<CliCommand> MakeUndoCommand();
std::unique_ptr<CliCommand> MakeTrashCommand();
std::unique_ptr<CliCommand> MakeTicCommand();

const std::vector<CliCommandEntry>& CliCommandTable()
{
    // undo is journaled by the library itself (a run of its own), and the
    // trash is the journal's own upkeep.
    static const std::vector<CliCommandEntry> table = {
        {MakeFileListCommand, CliJournal::None},   {MakeDeleteCommand, CliJournal::WithYes},
        {MakeMoveCommand, CliJournal::WithYes},    {MakeListCommand, CliJournal::None},
        {MakeFreshenCommand, CliJournal::WithYes}, {MakeImportDescCommand, CliJournal::WithYes},
        {MakeExportDescCommand, CliJournal::None}, {MakeAddFilesCommand, CliJournal::WithYes},
        {MakeDupesCommand, CliJournal::WithYes},   {MakeCheckCommand, CliJournal::None},
        {MakeScanCommand, CliJournal::WithYes},    {MakeHistoryCommand, CliJournal::None},
        {MakeUndoCommand, CliJournal::None},       {MakeTrashCommand, CliJournal::None},
        {MakeTicCommand, CliJournal::WithYes},
    };
    return table;
}

const std::vector<CliCommandFactory>& CliCommands()
{
    static const std::vector<CliCommandFactory> commands = [] {
        std::vector<CliCommandFactory> all;
        for (const CliCommandEntry& entry : CliCommandTable())
            all.push_back(entry.make);
        return all;
    }();
    return commands;
}
