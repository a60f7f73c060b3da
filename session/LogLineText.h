#pragma once
// The text of a log piece as every log shows and stores it: the log window, the transfer
// log and the command-line client's verbose output all use these, so they never differ.

#include <string>

#include "session/SessionUi.h"

// The prefix a log window puts before a line of `kind` ("State:>\t\t", ...); empty for an
// unknown kind.
const char* LogKindPrefix(int kind);

// The kind's prefix when the prefix flag is set, every CR CR pair made one CR, and a line
// end when the newline flag is set.
std::string FormatLogLine(const CLogLine& line);
