#pragma once
// Fatal resource failures: the program cannot go on without the resource.
//
// Usage:
//   if (!timer.SetDueInSeconds(timeout)) FatalError("Can't set waitable timer!");
//
// Prints the fixed message to standard error and ends the process at once.

[[noreturn]] void FatalError(const char* message);
