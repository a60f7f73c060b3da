#pragma once
// One stored FTP site. The field names are the keys of the site file.

#include <memory>
#include <string>
#include <vector>

struct CSiteSetting {
    enum LoginType { LOGIN_NORMAL = 0, LOGIN_ANONYMOUS = 1, LOGIN_DOUBLE = 2 };
    // The connection's encryption (the numbers the FTP layer's TlsMode uses).
    enum Encryption {
        ENCRYPTION_PLAIN = 0,
        ENCRYPTION_TRY = 1,       // explicit TLS when offered, else plain
        ENCRYPTION_REQUIRE = 2,   // explicit TLS or no connection
        ENCRYPTION_IMPLICIT = 3,  // TLS from the first byte
    };
    static constexpr int kImplicitTlsPort = 990;

    std::string name;                 // unique in the list, compared without regard to case
    std::string address;
    int port = 21;
    std::string username = "anonymous";
    std::string password;             // in clear in memory; the "AnonymousPass" setting for a new record
    int logintype = LOGIN_ANONYMOUS;
    int hosttype = 0;                 // 0 "Auto Detect", the only type offered
    std::string deflocaldir;
    std::string defremotedir;
    int passive = 0;
    int encryption = ENCRYPTION_PLAIN;  // stored only when not plain (see SiteFile.h)
};

// The ordered site list; it owns its records.
using SiteList = std::vector<std::unique_ptr<CSiteSetting>>;
