// The commands of vtfilemgr-cli, in the order --help lists them.
#include "cli/CliCommand.h"

const std::vector<CliCommandFactory>& CliCommands()
{
    static const std::vector<CliCommandFactory> commands = {};
    return commands;
}
