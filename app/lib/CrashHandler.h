#pragma once
// On a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) writes a crash report,
// "Tollvane.dmp" in the data folder, tells the user on standard error, and lets the
// signal end the process as it would have. The handler uses only async-signal-safe calls
// and runs on its own stack, so a stack overflow is reported too.

#include <string>

// Installs the handler; the report path is fixed now, while allocating is still safe.
bool InstallCrashHandler(const std::string& dataFolder);

// The file the report goes to once installed; empty before.
const char* CrashReportPath();
