#pragma once
// The commands that work through a session's transfer queue: the recursive forms of get,
// put and rm, and cache (RunRecursive); run and queue are command groups of their own.

#include "app/cli/CommandArgs.h"

enum class RecursiveCommand { Get, Put, Remove, Cache };

// Builds the queue entry the command names and runs the session's queue until it ends.
int RunRecursive(CliContext& context, const CommandArgs& parsed, RecursiveCommand command);
