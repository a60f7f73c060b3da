#pragma once
// The command-line front end: global options, then a command group ("sites", ...) that
// gets the rest of the arguments. Each group lives in a file of its own and is listed in
// CliCommands.cpp.

#include "app/cli/CliExitCode.h"
#include "app/cli/CliOptions.h"
#include "sites/Settings.h"
#include "sites/SiteSetting.h"

#include <cstdio>
#include <string>
#include <vector>

struct CliContext {
    std::string dataFolder;  // ends in "/"
    CSettings settings;      // this run's values: the stored ones with the command-line overrides
    SiteList sites;          // read from "site.dat" at start
    CliOptions options;      // the options given before the command
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

struct CliCommand {
    const char* name;
    const char* help; // the lines "--help" shows for this group
    int (*run)(CliContext& context, const std::vector<std::string>& args);
};

const std::vector<CliCommand>& CliCommands();
const CliCommand* FindCliCommand(const std::string& name);
