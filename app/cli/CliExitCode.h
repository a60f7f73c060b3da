#pragma once
// Exit status of tollvane-cli.
enum CliExitCode {
    kExitDone = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitConnect = 3,     // could not connect or log in
    kExitInterrupted = 4, // Ctrl-C
    kExitRefused = 6,     // the server refused the object (550), or nothing cached
};
