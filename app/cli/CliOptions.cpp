#include "app/cli/CliOptions.h"

#include "ftp/CertificateCheck.h"
#include "ftp/FtpTypes.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool ParseCount(const std::string& text, int minimum, int maximum, int& value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

struct NumberOption {
    const char* name;
    int minimum;
    int maximum;
    int CliOptions::*field;
};

const NumberOption kNumberOptions[] = {
    {"--port", 1, 65535, &CliOptions::port},
    {"--timeout", 1, 86400, &CliOptions::timeout},
    {"--retry-delay", 0, 86400, &CliOptions::retryDelay},
    {"--file-retry", 0, 1000000, &CliOptions::fileRetry},
    {"--error-retry", 0, 1000000, &CliOptions::errorRetry},
};

// "--name VALUE" or "--name=VALUE": true when args[at] is that option; the value is read.
bool ValueOption(const std::vector<std::string>& args, size_t& at, const std::string& name,
                 std::string& value, bool& missing)
{
    const std::string& arg = args[at];
    missing = false;
    if (arg == name) {
        if (at + 1 >= args.size()) {
            missing = true;
            return true;
        }
        value = args[++at];
        return true;
    }
    if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

} // namespace

OptionParse ParseCliOption(const std::vector<std::string>& args, size_t& at, CliOptions& options,
                           std::string* error)
{
    auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return OptionParse::Error;
    };
    const std::string& arg = args[at];
    struct Flag {
        const char* name;
        void (*set)(CliOptions&);
    };
    static const Flag kFlags[] = {
        {"--active", [](CliOptions& o) { o.passive = 0; }},
        {"--passive", [](CliOptions& o) { o.passive = 1; }},
        {"--ascii", [](CliOptions& o) { o.transferType = 0; }},
        {"--binary", [](CliOptions& o) { o.transferType = 1; }},
        {"--auto", [](CliOptions& o) { o.transferType = 2; }},
        {"--always-retry", [](CliOptions& o) { o.alwaysRetry = true; }},
        {"-v", [](CliOptions& o) { o.verbose = true; }},
        {"--verbose", [](CliOptions& o) { o.verbose = true; }},
        {"-q", [](CliOptions& o) { o.quiet = true; }},
        {"--quiet", [](CliOptions& o) { o.quiet = true; }},
    };
    for (const Flag& flag : kFlags) {
        if (arg == flag.name) {
            flag.set(options);
            return OptionParse::Consumed;
        }
    }

    std::string value;
    bool missing = false;
    for (const NumberOption& number : kNumberOptions) {
        if (!ValueOption(args, at, number.name, value, missing))
            continue;
        if (missing)
            return fail(std::string(number.name) + " needs a value");
        int parsed = 0;
        if (!ParseCount(value, number.minimum, number.maximum, parsed))
            return fail(std::string(number.name) + " needs a whole number from " +
                        std::to_string(number.minimum) + " to " + std::to_string(number.maximum) +
                        ", not \"" + value + "\"");
        options.*number.field = parsed;
        return OptionParse::Consumed;
    }
    if (ValueOption(args, at, "--site", value, missing)) {
        if (missing || value.empty())
            return fail("--site needs the name of a stored site");
        options.site = value;
        return OptionParse::Consumed;
    }
    if (ValueOption(args, at, "--user", value, missing)) {
        if (missing || value.empty())
            return fail("--user needs a user name");
        options.user = value;
        return OptionParse::Consumed;
    }
    if (ValueOption(args, at, "--password", value, missing)) {
        if (missing)
            return fail("--password needs a value");
        options.password = value;
        return OptionParse::Consumed;
    }
    if (ValueOption(args, at, "--overwrite", value, missing)) {
        static const char* const kActions[] = {"skip", "resume", "overwrite", "auto"};
        for (int action = 0; action < 4; ++action) {
            if (!missing && value == kActions[action]) {
                options.overwrite = action;
                return OptionParse::Consumed;
            }
        }
        return fail("--overwrite needs skip, resume, overwrite or auto");
    }
    if (ValueOption(args, at, "--set", value, missing)) {
        SettingOverride parsed;
        if (missing)
            return fail("--set needs NAME=VALUE");
        if (!ParseSettingOverride(value, parsed))
            return fail("--set needs NAME=VALUE, not \"" + value + "\"");
        options.overrides.push_back(parsed);
        return OptionParse::Consumed;
    }
    if (ValueOption(args, at, "--tls", value, missing)) {
        static const char* const kModes[] = {"off", "try", "require", "implicit"};
        for (int mode = TLS_OFF; mode <= TLS_IMPLICIT; ++mode) {
            if (!missing && value == kModes[mode]) {
                options.tls = mode;
                return OptionParse::Consumed;
            }
        }
        return fail("--tls needs off, try, require or implicit");
    }
    if (ValueOption(args, at, "--trust-certificate", value, missing)) {
        const std::string fingerprint = missing ? std::string() : NormaliseFingerprint(value);
        if (fingerprint.empty())
            return fail("--trust-certificate needs a SHA-256 fingerprint such as SHA256:AB:CD:... (64 hex digits)");
        options.trustCertificate = fingerprint;
        return OptionParse::Consumed;
    }
    if (ValueOption(args, at, "--proxy", value, missing)) {
        if (missing)
            return fail("--proxy needs a URL such as socks5://host:1080");
        ProxyUrl proxy;
        std::string why;
        if (!ParseProxyUrl(value, proxy, &why))
            return fail(why);
        options.proxy = proxy;
        return OptionParse::Consumed;
    }
    return OptionParse::NotOption;
}

void ApplyRunOptions(const CliOptions& options, CSettings& settings)
{
    if (options.timeout >= 0)
        settings.Timeout = options.timeout;
    // The engine pauses for the time-out when the delay is 0; on the command line 0 means
    // no pause at all, which the engine takes as a negative delay.
    if (options.retryDelay >= 0)
        settings.RetryDelay = options.retryDelay > 0 ? options.retryDelay : -1;
    if (options.fileRetry >= 0)
        settings.FileRetry = options.fileRetry;
    if (options.errorRetry >= 0)
        settings.ErrorRetry = options.errorRetry;
    if (options.alwaysRetry)
        settings.AlwaysRetry = 1;
    if (options.overwrite >= 0)
        settings.DefaultOverwriteAction = options.overwrite;
    if (options.proxy)
        ApplyProxyUrl(*options.proxy, settings);
}
