#pragma once
// Files handed over by the desktop ("Send to Tollvane"): queued as uploads to an ftp URL,
// or copied into a local folder. Usable without a window; the shell transfer dialog is
// its view.

#include "sites/SharedSettings.h"
#include "sites/SiteSetting.h"

#include <QStringList>

#include <string>
#include <vector>

class OpenSession;
class SessionList;

struct ShellTransferResult {
    enum class Kind { InvalidUrl, Uploads, LocalCopy };
    Kind kind = Kind::InvalidUrl;
    OpenSession* session = nullptr;     // uploads: the session that got them
    int done = 0;                       // entries queued or files copied
    std::vector<std::string> problems;  // "<path> not accessible!" and copy failures
};

class ShellTransfer {
public:
    ShellTransfer(SessionList& sessions, const SiteList& sites, const CSharedSettings& settings)
        : m_sessions(sessions), m_sites(sites), m_settings(settings) {}

    // The destination is an existing local folder (absolute path) or an ftp URL ("ftp://"
    // may be left out). A URL's session is found by its host; when the URL names a user
    // or a port, a session with another user or port is not taken for it.
    ShellTransferResult run(const std::string& destination, const QStringList& files);

    // The open session for the URL as described, or null.
    OpenSession* findSession(const std::string& prefixedUrl) const;

private:
    SessionList& m_sessions;
    const SiteList& m_sites;
    const CSharedSettings& m_settings;
};
