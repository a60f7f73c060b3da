#pragma once
// Only one copy of the program runs per user. The first start locks a lock file and
// keeps it locked while it runs, then listens on a local socket; a later start finds the
// lock taken, connects, sends its message and ends. A later start never runs beside a
// copy that holds the lock: when that copy does not answer, the start is refused
// (NotResponding). The lock is the kernel's (flock), so it ends with its owner process:
// the lock of a crashed copy is free for the next start.
// The socket and the lock live in $XDG_RUNTIME_DIR (or the temporary folder) under a
// name that holds the user id, and only the user may connect.
//
// Messages carry a kind: a command line (a URL or a job file), or the files for the
// transfer dialog. Paths are made absolute by the sender, against its own working folder,
// so the running copy never resolves them against its own.

#include <QByteArray>
#include <QDir>
#include <QLocalServer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

struct InstanceMessage {
    enum class Kind : quint8 {
        CommandLine = 1,   // items: the one command-line text
        TransferFiles = 2, // items: absolute paths of the files for the transfer dialog
    };
    Kind kind = Kind::CommandLine;
    QStringList items;

    bool operator==(const InstanceMessage&) const = default;
};

// The command-line text as the running copy needs it: a job file (".tvq") or an existing
// local file named relative to `base` becomes absolute; a URL or anything else stays as
// it is. Surrounding double quotes are taken off a path.
QString AbsoluteCommandLine(const QString& text, const QDir& base = QDir::current());

// The messages a start sends, with their paths made absolute against `base`.
InstanceMessage CommandLineMessage(const QByteArray& commandLine, const QDir& base = QDir::current());
InstanceMessage TransferFilesMessage(const QStringList& files, const QDir& base = QDir::current());

class SingleInstance {
public:
    enum class Role {
        Primary,       // this start runs the program and receives later messages
        HandedOver,    // another start runs; the message went to it: end this start
        NotResponding, // another copy runs but did not answer: end this start with
                       // kNotRespondingText and a failure status
        Failed,        // this start holds the lock but could not listen: it runs, and
                       // later starts are told it does not respond
    };
    using Handler = std::function<void(const QByteArray& commandLine)>;
    using FilesHandler = std::function<void(const QStringList& absolutePaths)>;

    static constexpr const char* kNotRespondingText = "Tollvane is already running but does not respond.";
    // The largest message accepted from another start.
    static constexpr qint64 kMaxMessage = 1 << 20;
    // How long a later start waits for the running copy to answer by default.
    static constexpr int kDefaultTimeoutMs = 5000;

    explicit SingleInstance(QString serverName = DefaultServerName());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    static QString DefaultServerName();

    // Hands `commandLine` (made absolute with AbsoluteCommandLine) to a running copy, or
    // becomes the running copy. `timeoutMs` bounds each wait on the other process.
    Role Start(const QByteArray& commandLine, int timeoutMs = kDefaultTimeoutMs);
    // The same with the files for the transfer dialog (made absolute here).
    Role StartWithFiles(const QStringList& files, int timeoutMs = kDefaultTimeoutMs);
    // The message as it is: paths in it must already be absolute.
    Role StartWith(const InstanceMessage& message, int timeoutMs = kDefaultTimeoutMs);

    // Called on the event loop with each command line a later start sends.
    void SetHandler(Handler handler) { m_handler = std::move(handler); }
    // Called on the event loop with each list of files a later start sends.
    void SetFilesHandler(FilesHandler handler) { m_filesHandler = std::move(handler); }

    const QString& ServerName() const { return m_serverName; }
    QString LockFileName() const { return m_serverName + QStringLiteral(".lock"); }

private:
    enum class HandOverResult { Delivered, NobodyListens, NoAnswer };
    HandOverResult HandOver(const QByteArray& frame, int timeoutMs);
    HandOverResult HandOverWhileStarting(const QByteArray& frame, int timeoutMs);
    bool Listen();
    void Accept();

    QString m_serverName;
    int m_lockFd = -1; // holds the lock for as long as this copy runs
    std::unique_ptr<QLocalServer> m_server;
    Handler m_handler;
    FilesHandler m_filesHandler;
};
