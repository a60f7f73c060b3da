#include "app/cli/CliCommand.h"

extern const CliCommand kSitesCommand;

const std::vector<CliCommand>& CliCommands()
{
    static const std::vector<CliCommand> commands = {kSitesCommand};
    return commands;
}

const CliCommand* FindCliCommand(const std::string& name)
{
    for (const CliCommand& command : CliCommands())
        if (name == command.name)
            return &command;
    return nullptr;
}
