#include "app/cli/CliCommand.h"

extern const CliCommand kSitesCommand;
extern const CliCommand kLsCommand;
extern const CliCommand kGetCommand;
extern const CliCommand kPutCommand;
extern const CliCommand kMkdirCommand;
extern const CliCommand kRmdirCommand;
extern const CliCommand kRmCommand;
extern const CliCommand kMvCommand;
extern const CliCommand kChmodCommand;
extern const CliCommand kSearchCommand;
extern const CliCommand kCacheCommand;
extern const CliCommand kRunCommand;
extern const CliCommand kQueueCommand;

const std::vector<CliCommand>& CliCommands()
{
    static const std::vector<CliCommand> commands = {
        kLsCommand,    kGetCommand,  kPutCommand,    kMkdirCommand, kRmdirCommand,
        kRmCommand,    kMvCommand,   kChmodCommand,  kCacheCommand, kRunCommand,
        kQueueCommand, kSearchCommand, kSitesCommand,
    };
    return commands;
}

const CliCommand* FindCliCommand(const std::string& name)
{
    for (const CliCommand& command : CliCommands())
        if (name == command.name)
            return &command;
    return nullptr;
}
