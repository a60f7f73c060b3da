#pragma once
// The commands the interface hands to a session's worker, and the mailbox they travel in.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
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
    // A step of another session's site-to-site copy on this session's connection
    // (CSessionCommand::partnerStep); never a user's command, never reported as finished.
    CMD_PARTNER_STEP = 100,
};

struct CPartnerStep;

// Flags of the change-directory command.
enum SessionCommandFlag : int {
    CMDFLAG_LIST_AFTERWARDS = 0x1,  // list the directory after the change
    CMDFLAG_SEND_ALWAYS = 0x20,     // send CWD even when the directory would not change
};

// Who asked for a command. Only the user's commands must never be lost; a second copy of
// a pending refresh or keep-alive, or of a queue run the session resumes by itself, adds
// nothing and is dropped.
enum class CommandOrigin : int {
    User,       // a menu, a button, a command line
    Refresh,    // the remote pane lists its folder again
    KeepAlive,  // the anti-idle timer; its listing never reaches a pane
    Session,    // the session itself (the queue run resumed after a reconnect)
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
    CommandOrigin origin = CommandOrigin::User;
    std::shared_ptr<CPartnerStep> partnerStep;  // CMD_PARTNER_STEP only
};

// The commands the interface thread has written and the worker has not taken yet, oldest
// first. Any thread may put; only the worker takes.
class CCommandMailbox {
public:
    // Queues the command; false when it was dropped because an equal request is pending
    // (see CommandOrigin). A user command is always queued.
    bool Put(const CSessionCommand& command) {
        std::lock_guard lock(mutex_);
        for (const CSessionCommand& waiting : pending_)
            if (MakesRedundant(waiting, command)) return false;
        pending_.push_back(command);
        return true;
    }
    // The oldest command, or none when the mailbox is empty.
    std::optional<CSessionCommand> TryTake() {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return std::nullopt;
        CSessionCommand command = std::move(pending_.front());
        pending_.pop_front();
        return command;
    }
    // The oldest command with this code, the others keeping their places; none when there
    // is no such command.
    std::optional<CSessionCommand> TryTakeFirst(int code) {
        std::lock_guard lock(mutex_);
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->code != code) continue;
            CSessionCommand command = std::move(*it);
            pending_.erase(it);
            return command;
        }
        return std::nullopt;
    }
    // Puts a command the worker took but could not run yet back in front of the others.
    void PutBack(CSessionCommand command) {
        std::lock_guard lock(mutex_);
        pending_.push_front(std::move(command));
    }
    bool IsEmpty() const {
        std::lock_guard lock(mutex_);
        return pending_.empty();
    }
    std::size_t Size() const {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }

private:
    static bool MakesRedundant(const CSessionCommand& waiting, const CSessionCommand& incoming) {
        switch (incoming.origin) {
        case CommandOrigin::User:
            return false;
        case CommandOrigin::KeepAlive:
            // Any command still waiting will keep the connection busy by itself.
            return true;
        case CommandOrigin::Refresh:
            return waiting.origin == CommandOrigin::Refresh;
        case CommandOrigin::Session:
            return waiting.code == incoming.code;
        }
        return false;
    }

    mutable std::mutex mutex_;
    std::deque<CSessionCommand> pending_;
};

// The listing the Refresh button asks for: the current folder, listed again.
inline CSessionCommand RefreshCommand() {
    CSessionCommand command;
    command.code = CMD_LIST;
    command.origin = CommandOrigin::Refresh;
    return command;
}

// A command without path arguments.
inline CSessionCommand SimpleCommand(int code, int flags = 0) {
    CSessionCommand command;
    command.code = code;
    command.flags = flags;
    return command;
}
