#pragma once
// Values shared by the FTP layer and everything above it: the result of every
// control-connection operation and session wait, and the kinds of log line.

// Result of a control-connection operation or of a session wait.
enum FtpResult : int {
    FTP_OK = 0,              // the command or operation succeeded
    FTP_FAILED = 1,          // socket error, failed or malformed reply, unexpected code
    FTP_INTERRUPTED = 2,     // the session's stop event ended a wait
    FTP_TIMEOUT = 3,         // a wait ran out of time
    FTP_CLOSED = 4,          // the server closed the control connection during a wait
    FTP_CONNECT_FAILED = 5,  // the connection loop gave up (session level)
    FTP_NOT_AVAILABLE = 6,   // the server refused the object of the command (550-type)
};

// Kinds of log line; each has its own prefix and colour in the log window.
enum LogKind : int {
    LOG_STATE = 0,
    LOG_WARNING = 1,
    LOG_ERROR = 2,
    LOG_REPLY = 3,
    LOG_COMMAND = 4,
};

// Flags of the control-connection operations.
enum OperationFlag : int {
    OPFLAG_REFRESH = 0x1,            // after success, list the (new) current directory
    OPFLAG_PWD_FIRST = 0x4,          // List without a directory runs PWD first
    OPFLAG_CHANGE_TO_FILE_DIR = 0x8, // change into the remote file's directory first
    OPFLAG_SEND_ALWAYS = 0x20,       // Cwd sends "cwd ." even when nothing changes
    OPFLAG_LIST_PARENT_FIRST = 0x40, // MakeDir lists the parent first
    OPFLAG_ONLY_IF_EXISTS = 0x80,    // transfer only when the target already exists
    OPFLAG_FOLDER_COPY = 0x100,      // the file is part of a folder being copied
};

// A site's encryption choice, as the site file stores it.
enum TlsMode : int {
    TLS_OFF = 0,       // plain FTP
    TLS_TRY = 1,       // AUTH TLS when the server offers it, else plain (the user allowed it)
    TLS_REQUIRE = 2,   // AUTH TLS, and no connection without it
    TLS_IMPLICIT = 3,  // TLS from the first byte (port 990 by default)
};

// What the user decided about a server certificate the system does not vouch for.
enum CertificateTrust : int {
    CERT_REFUSE = 0,
    CERT_TRUST_ONCE = 1,    // this connection only
    CERT_TRUST_ALWAYS = 2,  // remembered for the host and port
};
