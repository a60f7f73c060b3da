#pragma once
// The options every remote command understands, given before or after the command name:
// the connection (--site, --user, --password, --port, --active/--passive), the transfer
// type, the answer to the overwrite question, the retry and time-out settings, and how
// much is printed. They change this run only; nothing of them is saved.

#include "app/cli/ProxyUrl.h"
#include "app/cli/SettingsOverrides.h"
#include "sites/Settings.h"

#include <optional>
#include <string>
#include <vector>

struct CliOptions {
    std::string site;                     // --site NAME: a stored site
    std::optional<std::string> user;
    std::optional<std::string> password;
    int port = 0;                         // 0: from the URL or the site
    int passive = -1;                     // -1: the site's mode, passive for a URL
    int transferType = -1;                // 0 ASCII, 1 binary, 2 automatic; -1 automatic
    int overwrite = -1;                   // 0 skip, 1 resume, 2 overwrite, 3 auto; -1 ask the settings
    int timeout = -1;
    int retryDelay = -1;
    int fileRetry = -1;
    int errorRetry = -1;
    bool alwaysRetry = false;
    bool verbose = false;
    bool quiet = false;
    std::vector<SettingOverride> overrides; // --set NAME=VALUE
    std::optional<ProxyUrl> proxy;        // --proxy URL
    int tls = -1;                         // --tls off|try|require|implicit (a TlsMode); -1 the URL's or site's
    std::string trustCertificate;         // --trust-certificate SHA256:..., normalised ("AB:CD:...")
};

enum class OptionParse { Consumed, NotOption, Error };

// Looks at args[at]; when it is one of the options above, reads it (and its value, moving
// `at` past it) into `options`. Error: *error says what is wrong.
OptionParse ParseCliOption(const std::vector<std::string>& args, size_t& at, CliOptions& options,
                           std::string* error);

// The settings this run works with: `settings` changed by the options.
void ApplyRunOptions(const CliOptions& options, CSettings& settings);
