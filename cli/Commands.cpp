// The commands of vtfilemgr-cli, in the order --help lists them.
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

const std::vector<CliCommandFactory>& CliCommands()
{
    static const std::vector<CliCommandFactory> commands = {
        MakeFileListCommand, MakeDeleteCommand,     MakeMoveCommand,       MakeListCommand,
        MakeFreshenCommand,  MakeImportDescCommand, MakeExportDescCommand, MakeAddFilesCommand,
        MakeDupesCommand,    MakeCheckCommand,
    };
    return commands;
}
