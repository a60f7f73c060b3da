#include "ui/QuickConnect.h"

#include "sites/FtpUrl.h"
#include "sites/TextUtil.h"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace {

bool IsLocalFolder(const std::string& text)
{
    if (text.empty() || text.front() != '/')
        return false;
    std::error_code error;
    return std::filesystem::is_directory(text, error);
}

// An empty box is port 21; anything but a number from 1 to 65535 is refused.
bool ParsePort(const std::string& text, int& port)
{
    const std::string trimmed = sites::Trim(text);
    if (trimmed.empty()) {
        port = 21;
        return true;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (error != std::errc() || end != trimmed.data() + trimmed.size() || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

} // namespace

QuickConnectTarget QuickConnectTarget::From(const QuickConnectFields& fields, const CSettings& settings)
{
    QuickConnectTarget target;
    const std::string text = sites::Trim(fields.url);
    if (IsLocalFolder(text)) {
        target.kind = Kind::LocalFolder;
        target.localFolder = text;
        return target;
    }
    std::string user = fields.user;
    std::string password = fields.password;
    if (fields.anonymous || user.empty()) {
        user = "anonymous";
        password = settings.AnonymousPass;
    }
    int port = 21;
    if (!ParsePort(fields.port, port)) {
        target.error = "Invalid port: " + fields.port;
        return target;
    }
    const std::string prefixed = WithFtpPrefix(text);
    FtpUrl url;
    if (!SplitFtpUrl(prefixed, url)) {
        target.error = InvalidUrlMessage(prefixed);
        return target;
    }
    // An ftps:// or ftpes:// URL asks for TLS: never connect in plain text instead. Port 21
    // (the box's default) means the implicit port, as in the Site Manager.
    if (url.encryption == CSiteSetting::ENCRYPTION_IMPLICIT && port == 21)
        port = url.port;
    target.kind = Kind::Site;
    target.site = OpenSiteFromFields(url.host, url.path, user, password, port, fields.passive);
    target.site.encryption = url.encryption;
    return target;
}
