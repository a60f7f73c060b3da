// Carrying out one command from the mailbox on the worker thread.

#include <algorithm>
#include <cctype>
#include <string>

#include "ftp/CtrlSocket.h"
#include "session/FtpSession.h"

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Two remote paths name the same directory when they differ only in case or in a
// trailing separator.
bool SameDirectory(std::string a, std::string b) {
    auto normalise = [](std::string& path) {
        const char separator = path.find('\\') != std::string::npos ? '\\' : '/';
        if (path.empty() || path.back() != separator) path += separator;
        std::transform(path.begin(), path.end(), path.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    };
    normalise(a);
    normalise(b);
    return a == b;
}

// The directory of a "257" reply: the text between the first double quote and the
// closing one, a doubled quote standing for one quote. False when there is none.
bool QuotedDirectory(const std::string& reply, std::string& directory) {
    const auto lineEnd = reply.find_first_of("\r\n");
    const std::string line = reply.substr(0, lineEnd);
    auto at = line.find('"');
    if (at == std::string::npos) return false;
    directory.clear();
    for (++at; at < line.size(); ++at) {
        if (line[at] != '"') {
            directory += line[at];
        } else if (at + 1 < line.size() && line[at + 1] == '"') {
            directory += '"';
            ++at;
        } else {
            return !directory.empty();
        }
    }
    return false;
}

}  // namespace

int CFtpSession::ExecuteCommand(const CSessionCommand& command) {
    switch (command.code) {
    case CMD_CWD:
        return RunCwd(command.path, command.flags);
    case CMD_LIST:
        return RunList(command.path, command.listArguments, command.flags);
    case CMD_RUN_QUEUE:
        return RunQueue();
    case CMD_CONNECT:
    case CMD_DISCONNECT:
        return FTP_OK;
    case CMD_QUIT:
        return RunQuit();
    case CMD_PWD:
        return RunPwd();
    case CMD_REST:
        return RunRest(command.restOffset);
    case CMD_CDUP:
    case CMD_DELETE:
    case CMD_DOWNLOAD:
    case CMD_UPLOAD:
    case CMD_MKDIR:
    case CMD_RENAME:
    case CMD_CHMOD:
        // These arrive with the control connection's directory and transfer operations.
        return FTP_FAILED;
    default:
        SessionMessageBox("Unimplemented command!", MB_OK | MB_ICONEXCLAMATION);
        return FTP_FAILED;
    }
}

// The operations below stand in for the control connection's own Pwd, Cwd, List, Quit
// and Rest until it offers them; the session then calls those instead.

int CFtpSession::RunPwd() {
    if (!ctrl_) return FTP_FAILED;
    const int result = ctrl_->SendCommand("pwd", 1);
    if (result != FTP_OK) return result;
    if (ctrl_->IsReply550()) return FTP_NOT_AVAILABLE;
    if (ctrl_->ReplyCode(0) != "257") return FTP_FAILED;
    std::string directory;
    if (!QuotedDirectory(ctrl_->ReplyText(), directory)) return FTP_FAILED;
    SetCurrentRemoteDirectory(directory);
    return FTP_OK;
}

int CFtpSession::RunCwd(const std::string& requested, int flags) {
    if (!ctrl_) return FTP_FAILED;
    std::string path = Trimmed(requested);
    if (path.empty() || SameDirectory(CurrentRemoteDirectory(), path)) path = ".";
    if (path == "." && !(flags & CMDFLAG_SEND_ALWAYS)) return FTP_OK;
    const int result = ctrl_->SendCommand("cwd " + path, 1);
    if (result != FTP_OK) return result;
    if (ctrl_->IsReply550()) return FTP_NOT_AVAILABLE;
    if (ctrl_->ReplyCode(0) != "250") return FTP_FAILED;
    if (path != ".") {
        const int pwd = RunPwd();
        if (pwd == FTP_CLOSED || pwd == FTP_INTERRUPTED) return pwd;
    }
    if (flags & CMDFLAG_LIST_AFTERWARDS) return RunList("", "", 0);
    return FTP_OK;
}

int CFtpSession::RunList(const std::string&, const std::string&, int) {
    // A listing needs the data connection, which joins with the transfer operations.
    return FTP_FAILED;
}

int CFtpSession::RunQuit() {
    if (!ctrl_) return FTP_FAILED;
    return ctrl_->SendCommand("quit", 1);
}

int CFtpSession::RunRest(unsigned offset) {
    if (!ctrl_) return FTP_FAILED;
    return ctrl_->SendCommand("rest " + std::to_string(offset), 1);
}
