#pragma once
// Starting and stopping the helper processes of the test servers. Internal to the
// fixtures in this folder.

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tvtest {

// Starts argv (argv[0] an absolute path, no shell involved) in a process group of its
// own, with the current environment plus `extraEnvironment` ("NAME=value"), standard
// input from /dev/null and standard output and error appended to outputPath. The child
// gets SIGTERM when the thread that started it ends, so a crashed test leaves no server
// behind. Returns the process id, or -1 with `why` set.
pid_t spawnProcess(const std::vector<std::string>& argv,
                   const std::vector<std::string>& extraEnvironment,
                   const std::string& outputPath, std::string& why);

// Sends SIGTERM to the process group of `pid`, waits up to timeoutMs for the leader to
// end, then sends SIGKILL to the group and reaps the leader.
void stopProcessGroup(pid_t pid, int timeoutMs);

// Runs argv to its end (bounded by timeoutMs, then killed). True when it exited with 0;
// otherwise `why` holds the exit and the output.
bool runToCompletion(const std::vector<std::string>& argv, const std::string& outputPath,
                     int timeoutMs, std::string& why);

// The repository's root folder (where tests/servers/ lives).
std::string sourceFolder();

// "exit code 3", "signal 9".
std::string describeExit(int status);

// True when a server that ended with `status` and printed `output` did so because its
// port was taken.
bool processReportsPortTaken(int status, const std::string& output);

// Path of the preload library that lets vsftpd read its PAM configuration from a folder
// of ours (tests/servers/pam_confdir_shim.c), built on first use beside the running test
// executable.
// Empty with `why` set when it cannot be built.
std::string pamConfdirShim(std::string& why);

// Binds port 0 on loopback to learn a port that is free right now; 0 when none could be
// had. The server started next may still lose it to another process, so callers retry.
int pickFreePort();

// A fresh temporary folder "<tmp>/<prefix>-XXXXXX" that server accounts other than ours
// can enter (mode 0755). Empty with `why` set when it cannot be made.
std::string makeWorkFolder(const std::string& prefix, std::string& why);

// Starts a server on a free loopback port: `launch` tries one port and says whether a
// failure was a port clash (another process took the port meanwhile); a clash is tried
// again on a new port, up to `attempts` times. The port the server runs on, or 0.
int launchOnFreePort(int attempts, const std::function<bool(int port, bool& portClash)>& launch,
                     std::string& why);

}  // namespace tvtest
