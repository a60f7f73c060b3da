#include "ui/ShellTransfer.h"

#include "session/QueueEntry.h"
#include "session/QueueFiles.h"
#include "sites/FtpUrl.h"
#include "ui/OpenSession.h"
#include "ui/SessionList.h"

#include <filesystem>
#include <memory>
#include <system_error>

namespace {

// Whether the URL's host part carries a ":port" (FtpUrl says 21 either way).
bool UrlNamesPort(const std::string& url)
{
    std::string::size_type start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    std::string::size_type end = url.find('/', start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (const auto at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);
    return authority.find(':') != std::string::npos;
}

} // namespace

OpenSession* ShellTransfer::findSession(const std::string& prefixedUrl) const
{
    FtpUrl url;
    if (!SplitFtpUrl(prefixedUrl, url))
        return nullptr;
    const bool namesPort = UrlNamesPort(prefixedUrl);
    for (const auto& owned : m_sessions.sessions()) {
        const CFtpSession& session = owned->session();
        if (session.HostName() != url.host)
            continue;
        if (!url.user.empty() && session.UserName() != url.user)
            continue;
        if (namesPort && session.Port() != url.port)
            continue;
        // A URL that asks for TLS never goes to a session of that host that may be plain.
        if (url.encryption != CSiteSetting::ENCRYPTION_PLAIN && session.TlsModeSetting() != url.encryption)
            continue;
        return owned.get();
    }
    return nullptr;
}

ShellTransferResult ShellTransfer::run(const std::string& destination, const QStringList& files)
{
    namespace fs = std::filesystem;
    ShellTransferResult result;
    std::error_code error;
    const fs::path folder(destination);
    if (folder.is_absolute() && fs::is_directory(folder, error)) {
        result.kind = ShellTransferResult::Kind::LocalCopy;
        for (const QString& file : files) {
            const fs::path source(file.toStdString());
            const fs::path target = folder / source.filename();
            std::error_code copyError;
            if (!fs::exists(source, copyError)) {
                result.problems.push_back(source.string() + " not accessible!");
            } else if (fs::exists(target, copyError)) {
                result.problems.push_back(target.string() + " exists already; it was left as it is.");
            } else {
                fs::copy(source, target, fs::copy_options::recursive, copyError);
                if (copyError)
                    result.problems.push_back(source.string() + ": " + copyError.message());
                else
                    ++result.done;
            }
        }
        return result;
    }

    const std::string prefixed = WithFtpPrefix(destination);
    FtpUrl url;
    if (!SplitFtpUrl(prefixed, url))
        return result; // InvalidUrl
    result.kind = ShellTransferResult::Kind::Uploads;
    OpenSession* session = findSession(prefixed);
    if (!session) {
        CSiteSetting site = SiteForHost(m_sites, url.host, *m_settings.Current());
        if (!url.user.empty()) {
            site.username = url.user;
            site.password = url.password;
            site.logintype = CSiteSetting::LOGIN_NORMAL;
        }
        if (url.encryption != CSiteSetting::ENCRYPTION_PLAIN) {
            site.encryption = url.encryption;
            if (url.encryption == CSiteSetting::ENCRYPTION_IMPLICIT)
                site.port = url.port;  // 990 unless the URL names another
        }
        if (UrlNamesPort(prefixed))
            site.port = url.port;
        session = m_sessions.add(site);
    }
    result.session = session;
    const std::string remoteFolder = url.path.empty() ? "/" : url.path;
    for (const QString& file : files) {
        const std::string path = file.toStdString();
        std::error_code statError;
        const fs::file_status status = fs::status(path, statError);
        if (statError || !fs::exists(status)) {
            result.problems.push_back(path + " not accessible!");
            continue;
        }
        auto entry = std::make_unique<CQueueEntry>();
        entry->operation = QUEUE_UPLOAD;
        entry->localPath = path;
        entry->remotePath = remoteFolder;
        if (fs::is_directory(status)) {
            entry->kind = KIND_DIRECTORY;
            entry->SetSize(0);
        } else {
            entry->kind = KIND_FILE;
            const auto size = fs::file_size(path, statError);
            if (statError)
                entry->SetSizeUnknown();
            else
                entry->SetSize(size);
        }
        session->session().Queue().Append(std::move(entry));
        ++result.done;
    }
    return result;
}
