#pragma once
// The commands the interface hands to a session's worker, and the mailbox they travel in.

#include <cstdint>
#include <mutex>
#include <string>

enum SessionCommandCode : int {
    CMD_CWD = 0,
    CMD_CDUP = 1,
    CMD_DELETE = 2,
    CMD_DOWNLOAD = 3,
    CMD_UPLOAD = 4,
    CMD_LIST = 5,
    CMD_RUN_QUEUE = 6,
    CMD_CONNECT = 7,
    CMD_MKDIR = 8,
    CMD_DISCONNECT = 9,
    CMD_QUIT = 10,
    CMD_RENAME = 11,
    CMD_PWD = 12,
    CMD_REST = 13,
    CMD_CHMOD = 14,
};

// Flags of the change-directory command.
enum SessionCommandFlag : int {
    CMDFLAG_LIST_AFTERWARDS = 0x1,  // list the directory after the change
    CMDFLAG_SEND_ALWAYS = 0x20,     // send CWD even when the directory would not change
};

// One command with its arguments.
struct CSessionCommand {
    int code = CMD_CONNECT;
    std::string path;         // first argument: a remote path in most commands
    std::string localPath;    // second argument: the local path of a transfer
    std::string listArguments;
    std::string newName;      // target of a rename
    std::string mode;         // permission text of a change-mode command
    std::uint64_t restOffset = 0;  // number sent by the raw "rest" command
    int flags = 0;
};

// The mailbox holds the latest command written by the interface thread; the worker takes
// a copy after the command event woke it. A later command overwrites one that has not
// been taken yet. The lock only keeps each write and each copy whole.
class CCommandMailbox {
public:
    void Put(const CSessionCommand& command) {
        std::lock_guard lock(mutex_);
        command_ = command;
    }
    CSessionCommand Take() const {
        std::lock_guard lock(mutex_);
        return command_;
    }

private:
    mutable std::mutex mutex_;
    CSessionCommand command_;
};

// A command without path arguments.
inline CSessionCommand SimpleCommand(int code, int flags = 0) {
    CSessionCommand command;
    command.code = code;
    command.flags = flags;
    return command;
}
