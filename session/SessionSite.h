#pragma once
// The connection fields a session is opened with, named as in the site record so that a
// session can be filled from one.

#include <string>

enum LoginType : int {
    LOGIN_NORMAL = 0,
    LOGIN_ANONYMOUS = 1,  // "anonymous" with the "AnonymousPass" setting as password
    LOGIN_DOUBLE = 2,
};

struct CSessionSite {
    std::string address;
    int port = 21;
    std::string username = "anonymous";
    std::string password;
    int logintype = LOGIN_NORMAL;
    int hosttype = 0;
    int passive = 0;
    std::string defremotedir;
    int encryption = 0;  // a TlsMode (ftp/FtpTypes.h): the site's encryption choice
};
