#include "app/lib/CrashHandler.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

char g_reportPath[4096];
char g_altStack[64 * 1024];
const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

void Put(int fd, const char* text)
{
    size_t length = std::strlen(text);
    while (length > 0) {
        const ssize_t n = ::write(fd, text, length);
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

// Decimal text without the C library's formatting, which is not async-signal-safe.
void PutNumber(int fd, long value)
{
    char digits[24];
    int at = sizeof digits;
    digits[--at] = '\0';
    const bool negative = value < 0;
    unsigned long magnitude = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative)
        digits[--at] = '-';
    Put(fd, digits + at);
}

void PutHex(int fd, unsigned long value)
{
    char digits[2 + 2 * sizeof value + 1];
    int at = sizeof digits;
    digits[--at] = '\0';
    do {
        digits[--at] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    digits[--at] = 'x';
    digits[--at] = '0';
    Put(fd, digits + at);
}

const char* SignalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

void OnFatalSignal(int sig, siginfo_t* info, void*)
{
    const int savedErrno = errno;
    Put(STDERR_FILENO, "Tollvane is about to crash due to an exception.\n"
                       "A dump file will be generated in the application data folder.\n");
    const int fd = ::open(g_reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        Put(STDERR_FILENO, "Failed to save dump file to \n'");
        Put(STDERR_FILENO, g_reportPath);
        Put(STDERR_FILENO, "'.\nError code: ");
        PutNumber(STDERR_FILENO, errno);
        Put(STDERR_FILENO, "\n");
    } else {
        Put(fd, "Tollvane crash report\nsignal: ");
        PutNumber(fd, sig);
        Put(fd, " (");
        Put(fd, SignalName(sig));
        Put(fd, ")\ncode: ");
        PutNumber(fd, info ? info->si_code : 0);
        Put(fd, "\naddress: ");
        PutHex(fd, info ? reinterpret_cast<unsigned long>(info->si_addr) : 0UL);
        Put(fd, "\nprocess: ");
        PutNumber(fd, ::getpid());
        Put(fd, "\nbacktrace:\n");
        void* frames[64];
        const int count = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, count, fd);
        ::fsync(fd);
        ::close(fd);
        Put(STDERR_FILENO, "Dump file was successfully saved to \n'");
        Put(STDERR_FILENO, g_reportPath);
        Put(STDERR_FILENO, "'\n");
    }
    errno = savedErrno;
    // Let the signal end the process the usual way (exit status, core file).
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

} // namespace

bool InstallCrashHandler(const std::string& dataFolder)
{
    const std::string path = dataFolder + "Tollvane.dmp";
    if (path.size() >= sizeof g_reportPath)
        return false;
    std::memcpy(g_reportPath, path.c_str(), path.size() + 1);

    // backtrace() loads its unwinder on first use, which allocates: do that now.
    void* warmUp[1];
    ::backtrace(warmUp, 1);

    stack_t stack {};
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof g_altStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int sig : kSignals)
        ok = ::sigaction(sig, &action, nullptr) == 0 && ok;
    return ok;
}

const char* CrashReportPath()
{
    return g_reportPath;
}
