#pragma once
// What "Connect" on the quick-connect bar opens, from the bar's fields: a transient site,
// a local folder, or nothing (with the message to show).

#include "sites/Settings.h"
#include "sites/SiteSetting.h"

#include <string>

struct QuickConnectFields {
    std::string url;
    std::string user;
    std::string password;
    std::string port;
    bool anonymous = true;
    bool passive = true;
};

struct QuickConnectTarget {
    enum class Kind { Site, LocalFolder, Invalid };
    Kind kind = Kind::Invalid;
    CSiteSetting site;        // Kind::Site
    std::string localFolder;  // Kind::LocalFolder
    std::string error;        // Kind::Invalid: the message, to be shown as plain text

    static QuickConnectTarget From(const QuickConnectFields& fields, const CSettings& settings);
};
