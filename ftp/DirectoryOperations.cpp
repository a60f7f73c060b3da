// The operations that change, show, create and remove remote directories and files,
// and the small commands the transfers are built from.

#include <algorithm>
#include <cstdio>

#include "ftp/CtrlSocket.h"
#include "ftp/RemotePath.h"
#include "listing/DirectoryCache.h"
#include "listing/PathRules.h"

namespace {

bool StartsWith(const std::string& text, std::string_view head)
{
    return text.compare(0, head.size(), head) == 0;
}

}  // namespace

int CCtrlSocket::RefreshListing()
{
    return List("", "", 0);
}

std::string CCtrlSocket::RemoteName(const std::string& path) const
{
    std::string directory = RemoteDirectoryOf(path);
    if (!directory.empty() && SamePath(directory, session.CurrentRemoteDirectory()))
        return path.substr(path.find_last_of('/') + 1);
    return path;
}

void CCtrlSocket::InvalidateCachedDir(const std::string& directory)
{
    CDirectoryCache* cache = session.DirectoryCache();
    if (cache == nullptr)
        return;
    // A relative path names a directory below the current one, not the site's top.
    std::string full = directory;
    if (full.empty())
        full = session.CurrentRemoteDirectory();
    else if (full.front() != '/')
        full = JoinPath(session.CurrentRemoteDirectory(), full);
    cache->DeleteCachedList(session.CacheSite(), full);
}

int CCtrlSocket::Cwd(const std::string& requested, int flags)
{
    // Blanks at either end may belong to a folder's name: only a path of blanks alone is
    // taken as no path.
    std::string path = TrimBlanks(requested).empty() ? std::string() : requested;
    if (path.empty() || SamePath(session.CurrentRemoteDirectory(), path))
        path = ".";
    if (path == "." && !(flags & OPFLAG_SEND_ALWAYS))
        return FTP_OK;
    int r = SendCommand("cwd " + path, 1);
    if (r != FTP_OK)
        return r;
    if (IsReply550())
        return FTP_NOT_AVAILABLE;
    if (ReplyCode(0) != "250")
        return FTP_FAILED;
    if (path != ".") {
        r = Pwd();
        if (r != FTP_OK)
            return r;
    }
    if (flags & OPFLAG_REFRESH)
        return RefreshListing();
    return FTP_OK;
}

int CCtrlSocket::Cdup(int flags)
{
    int r = SendCommand("cdup", 1);
    if (r != FTP_OK)
        return r;
    if (!StartsWith(ReplyCode(0), "2"))
        return FTP_FAILED;
    r = Pwd();
    if (r != FTP_OK)
        return r;
    if (flags & OPFLAG_REFRESH)
        return RefreshListing();
    return FTP_OK;
}

int CCtrlSocket::Pwd()
{
    int r = SendCommand("pwd", 1);
    if (r != FTP_OK)
        return r;
    if (IsReply550())
        return FTP_NOT_AVAILABLE;
    if (ReplyCode(0) != "257")
        return FTP_FAILED;
    // "257 "/dir" is current directory": the directory starts after the opening quote.
    std::string line = replyText.substr(0, replyText.find_first_of("\r\n"));
    if (line.size() < 5 || line[4] != '"')
        return FTP_FAILED;
    std::size_t close = line.find('"', 5);
    if (close == std::string::npos)
        return FTP_FAILED;
    session.SetCurrentRemoteDirectory(line.substr(5, close - 5));
    return FTP_OK;
}

int CCtrlSocket::RefusedOrFailed() const
{
    // A 55x reply refuses the object itself (no such file, no permission): trying again
    // will not change it, and the caller tells the user so.
    return StartsWith(ReplyCode(0), "55") ? FTP_NOT_AVAILABLE : FTP_FAILED;
}

int CCtrlSocket::Delete(const std::string& path, int flags)
{
    InvalidateCachedDir(RemoteDirectoryOf(path));
    int r = SendCommand("dele " + path, 1);
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) != "250")
        return RefusedOrFailed();
    if (flags & OPFLAG_REFRESH)
        RefreshListing();
    session.CountProcessedFile();
    session.LogTransfer("Delete:" + path);
    return FTP_OK;
}

int CCtrlSocket::MakeDir(const std::string& path, int flags)
{
    std::string parent = RemoteDirectoryOf(path);
    if (flags & OPFLAG_LIST_PARENT_FIRST) {
        int r = List(parent, "", 0);
        if (r != FTP_OK)
            return r;
    }
    if (CDirectoryCache* cache = session.DirectoryCache()) {
        RFILE_DATA entry;
        std::string full = path;
        if (!full.empty() && full.front() != '/')
            full = JoinPath(session.CurrentRemoteDirectory(), path);
        if (cache->LookupCachedEntry(session.CacheSite(), full, entry) == 0 && entry.bDirectory) {
            session.Log("Directory " + path + " already exists. No need to create.", LOG_STATE);
            return FTP_OK;
        }
    }
    int r = SendCommand("mkd " + path, 1);
    if (r != FTP_OK)
        return r;
    if (!StartsWith(ReplyCode(0), "2"))
        return FTP_NOT_AVAILABLE;
    // A folder made just now holds no upload an earlier run left unfinished.
    if (createdFolders.size() < kMaxCreatedFolders)
        createdFolders.insert(FullRemotePath(path));
    if (flags & OPFLAG_REFRESH)
        return RefreshListing();
    return FTP_OK;
}

int CCtrlSocket::RemoveDir(const std::string& path, int flags)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    std::string parent = RemoteDirectoryOf(trimmed);
    if (parent.empty() || trimmed == "/")
        return FTP_FAILED;
    // Leave the directory before removing it; a refusal shows up in RMD's reply.
    Cwd(parent, OPFLAG_PWD_FIRST);
    InvalidateCachedDir(parent);
    int r = SendCommand("rmd " + path, 1);
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) != "250")
        return RefusedOrFailed();
    if (flags & OPFLAG_REFRESH)
        return RefreshListing();
    return FTP_OK;
}

int CCtrlSocket::Rename(const std::string& oldPath, const std::string& newPath, int flags)
{
    int r = SendCommand("rnfr " + oldPath, 1);
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) != "350")
        return RefusedOrFailed();
    r = SendCommand("rnto " + newPath, 1);
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) != "250")
        return RefusedOrFailed();
    if (flags & OPFLAG_REFRESH)
        return RefreshListing();
    return FTP_OK;
}

int CCtrlSocket::Chmod(const std::string& path, const std::string& mode, int flags)
{
    int r = SendCommand("SITE CHMOD " + mode + " " + path, 1);
    if (r != FTP_OK)
        return r;
    if (!StartsWith(ReplyCode(0), "2"))
        return FTP_NOT_AVAILABLE;
    if (flags & OPFLAG_REFRESH)
        return RefreshListing();
    return FTP_OK;
}

int CCtrlSocket::SetType(int type)
{
    if (type == transferType)
        return FTP_OK;
    int r = SendCommand(type == 0 ? "type a" : "type i", 1);
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) != "200")
        return FTP_FAILED;
    transferType = type;
    return FTP_OK;
}

int CCtrlSocket::Pasv()
{
    int r = SendCommand("pasv", 1);
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) != "227")
        return FTP_FAILED;
    std::size_t open = replyText.find('(');
    std::size_t close = replyText.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return FTP_FAILED;
    // Six comma-separated numbers; runs of commas count as one separator.
    int fields[6];
    int count = 0;
    std::string inside = replyText.substr(open + 1, close - open - 1);
    std::size_t at = 0;
    while (count < 6) {
        at = inside.find_first_not_of(", ", at);
        if (at == std::string::npos)
            break;
        std::size_t end = inside.find_first_of(", ", at);
        std::string field = inside.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (field.empty() || field.size() > 3 || field.find_first_not_of("0123456789") != std::string::npos)
            break;
        fields[count] = std::stoi(field);
        if (fields[count] > 255)
            break;
        ++count;
        at = end;
    }
    if (count != 6) {
        session.Log("Invalid passive mode reply: " + inside, LOG_ERROR);
        return FTP_FAILED;
    }
    char host[16];
    std::snprintf(host, sizeof host, "%d.%d.%d.%d", fields[0], fields[1], fields[2], fields[3]);
    dataHost = host;
    dataPort = fields[4] * 256 + fields[5];

    // Our own data connection goes to the server we talk to: a reply naming another
    // host would otherwise let the server direct us anywhere.
    std::string peer;
    unsigned peerPort = 0;
    // Through a proxy that reached the server by name, only the name is known.
    if (GetPeerName(peer, peerPort))
        dataConnectHost = peer;
    else
        dataConnectHost = session.Proxy().Enabled() ? session.Host() : dataHost;
    if (dataConnectHost != dataHost)
        session.Log("Passive mode reply names " + dataHost + ", connecting to " +
                        dataConnectHost + " instead.",
                    LOG_WARNING);
    return FTP_OK;
}

namespace {

// The port of a "229 ... (|||port|)" reply: the delimiter is any visible character but a
// digit, the address and protocol fields must be empty (the data connection goes to the
// server we talk to, never to a host the reply names), the port a number 1-65535.
bool ParseEpsvReply(const std::string& reply, int& port)
{
    const std::string line = reply.substr(0, reply.find_first_of("\r\n"));
    const std::size_t open = line.find('(');
    if (open == std::string::npos || open + 6 > line.size())
        return false;
    const char delimiter = line[open + 1];
    if (delimiter < 33 || delimiter > 126 || (delimiter >= '0' && delimiter <= '9'))
        return false;
    if (line[open + 2] != delimiter || line[open + 3] != delimiter)
        return false;
    std::size_t at = open + 4;
    int value = 0;
    std::size_t digits = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
        if (++digits > 5)
            return false;
        value = value * 10 + (line[at] - '0');
    }
    if (digits == 0 || value < 1 || value > 65535)
        return false;
    if (at + 1 >= line.size() || line[at] != delimiter || line[at + 1] != ')')
        return false;
    port = value;
    return true;
}

}  // namespace

int CCtrlSocket::Epsv(const std::string& sendAlong, const std::vector<std::string>& leading)
{
    leadingReplies.clear();
    int r;
    if (sendAlong.empty()) {
        r = SendQuietly("epsv");
    } else {
        // The leading commands' replies come first and are kept for the caller.
        std::vector<std::string> lines = leading;
        lines.push_back("epsv");
        lines.push_back(sendAlong);
        quietRefusals = true;
        r = SendLines(lines, 1);
        for (std::size_t i = 0; i < leading.size() && r == FTP_OK; ++i) {
            leadingReplies.push_back({ReplyCode(0), replyText});
            AdvanceToNextReply();
            r = WaitForReply();
        }
        quietRefusals = false;
    }
    if (r != FTP_OK)
        return r;
    const std::string code = ReplyCode(0);
    if (!code.empty() && code[0] == '5')
        return FTP_NOT_AVAILABLE;
    if (code != "229")
        return FTP_FAILED;
    int port = 0;
    if (!ParseEpsvReply(replyText, port)) {
        session.Log("Invalid extended passive mode reply: " +
                        replyText.substr(0, std::min<std::size_t>(replyText.find_first_of("\r\n"), 200)),
                    LOG_ERROR);
        return FTP_FAILED;
    }
    std::string peer;
    unsigned peerPort = 0;
    // Through a proxy that reached the server by name, only the name is known.
    if (GetPeerName(peer, peerPort))
        dataConnectHost = peer;
    else
        dataConnectHost = session.Host();
    dataHost = dataConnectHost;
    dataPort = port;
    epsvAccepted = true;
    return FTP_OK;
}

int CCtrlSocket::Eprt(const std::string& address, int port)
{
    if (port < 1 || port > 65535 || address.empty())
        return FTP_FAILED;
    const char* family = address.find(':') != std::string::npos ? "2" : "1";
    int r = SendQuietly("eprt |" + std::string(family) + "|" + address + "|" + std::to_string(port) + "|");
    if (r != FTP_OK)
        return r;
    const std::string code = ReplyCode(0);
    if (code == "200")
        return FTP_OK;
    return !code.empty() && code[0] == '5' ? FTP_NOT_AVAILABLE : FTP_FAILED;
}

int CCtrlSocket::Port(const std::string& address, int port)
{
    if (port < 0 || port > 65535)
        return FTP_FAILED;
    std::string commas = address;
    for (char& c : commas) {
        if (c == '.')
            c = ',';
    }
    char line[96];
    std::snprintf(line, sizeof line, "port %s,%d,%d", commas.c_str(), port / 256, port % 256);
    int r = SendCommand(line, 1);
    if (r != FTP_OK)
        return r;
    return ReplyCode(0) == "200" ? FTP_OK : FTP_FAILED;
}

int CCtrlSocket::Rest(std::uint64_t offset, bool& canResume)
{
    int r = SendCommand("rest " + std::to_string(offset), 1);
    if (r != FTP_OK)
        return r;
    std::string code = ReplyCode(0);
    if (code == "350") {
        canResume = true;
        return FTP_OK;
    }
    if (StartsWith(code, "5")) {
        session.Log("This site can't resume broken downloads.", LOG_STATE);
        canResume = false;
        return FTP_OK;
    }
    return FTP_FAILED;
}

int CCtrlSocket::Abort()
{
    int r = SendCommand("abor", 1);
    if (r != FTP_OK)
        return r;
    // A 426 or 451 that ended the transfer comes first; ABOR's own reply is the last.
    return StartsWith(ReplyCode(replyCount - 1), "2") ? FTP_OK : FTP_FAILED;
}

int CCtrlSocket::Quit()
{
    return SendCommand("quit", 1);
}
