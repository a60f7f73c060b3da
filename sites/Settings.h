#pragma once
// The in-memory settings table: every user setting with its default. The application
// reads it from the settings store at start-up and writes it back at exit; the engine
// only ever sees this table. Field names are the names of the stored values.

#include <string>

struct CSettings {
    int RetryDelay = 5;              // seconds to wait before a retry
    int ErrorRetry = 16;             // retries after a failure
    int SaveQueue = 1;               // save the transfer queues on exit
    int FileRetry = 16;              // retries at file level
    int AlwaysRetry = 0;
    int AutoReset = 0;               // auto reset stopped items in queue
    int Timeout = 60;                // transfer time-out in seconds
    int LastPassive = 1;
    int LastPort = 21;
    std::string LastUser = "anonymous";
    std::string LastAddress;
    std::string AnonymousPass = "tollvane@example.com";
    std::string LastPassword = "tollvane@example.com"; // kept decoded in memory
    int AlwaysRefresh = 1;
    int EnableCache = 1;
    int SaveLocalDir = 1;
    std::string DefaultLocalDirectory;   // the current directory at start-up
    int DefaultOverwriteAction = 3;      // 0 Skip, 1 Resume, 2 Overwrite, 3 Auto
    // Uploads go to NAME.tvpart beside the target and are renamed once complete.
    int UploadTemporaryName = 1;
    // Downloads take the server's exact modification time (from MLSD, else asked with
    // MDTM when the listing gives only minutes): 0 never, 1 in folder downloads, 2 always.
    int ExactRemoteTimes = 1;
    std::string CacheHomeDirectory;      // data folder followed by "cache"
    std::string ViewerPath = "xdg-open";
    int KeepAlive = 1;
    int AntiIdleCommandInterval = 30;
    int AutoRefreshRemote = 1;
    int AutoClosePrompt = 0;
    int PromptSeconds = 10;
    int DisableAllPrompt = 0;
    int pTransfer = 1;
    int pActionFailed = 0;
    int pLogin = 0;
    int pOverwrite = 1;
    int pClose = 0;
    int pDelete = 1;
    int pDisconnect = 0;
    std::string TextFileExtension =
        "txt;ini;htm;html;shtml;dhtml;asp;css;mak;php;pl;bat;xml;c;cpp;h;rc;java;asm;rtf";
    int CheckContent = 1;
    int PreviewLen = 1;                  // KB examined by the content check
    int WPLeft = 0;
    int WPTop = 0;
    int WPWidth = 0;
    int WPHeight = 0;
    int WPMaximized = 0;
    int UseShellIcon = 1;
    // The proxy every connection goes through.
    int ProxyType = 0;                   // 0 none, 1 SOCKS4, 2 SOCKS4A, 3 SOCKS5, 4 HTTP
    std::string ProxyHost;
    int ProxyPort = 0;
    int ProxyUseAuth = 0;                // send ProxyUser and ProxyPassword
    std::string ProxyUser;
    std::string ProxyPassword;           // kept decoded in memory
};
