// The commands of vtfilemgr-cli, in the order --help lists them.
#include "cli/CliCommand.h"

std::unique_ptr<CliCommand> MakeFileListCommand();
std::unique_ptr<CliCommand> MakeDeleteCommand();
std::unique_ptr<CliCommand> MakeMoveCommand();

const std::vector<CliCommandFactory>& CliCommands()
{
    static const std::vector<CliCommandFactory> commands = {
        MakeFileListCommand,
        MakeDeleteCommand,
        MakeMoveCommand,
    };
    return commands;
}
