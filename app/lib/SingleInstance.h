#pragma once
// Only one copy of the program runs per user. The first start listens on a local socket;
// a later start connects to it, sends its command line and ends. The socket lives in
// $XDG_RUNTIME_DIR (or the temporary folder) under a name that holds the user id, and
// only the user may connect.

#include <QByteArray>
#include <QLocalServer>
#include <QLockFile>
#include <QString>

#include <functional>
#include <memory>

class SingleInstance {
public:
    enum class Role {
        Primary,    // this start runs the program and receives later command lines
        HandedOver, // another start runs; the command line went to it: end this start
        Failed,     // neither worked (a running copy did not answer in time, or no
                    // socket could be made); the caller may run without the hand-over
    };
    using Handler = std::function<void(const QByteArray& commandLine)>;

    // The largest command line accepted from another start.
    static constexpr qint64 kMaxCommandLine = 1 << 20;

    explicit SingleInstance(QString serverName = DefaultServerName());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    static QString DefaultServerName();

    // Hands `commandLine` to a running instance, or becomes the running instance.
    // `timeoutMs` bounds each wait on the other process.
    Role Start(const QByteArray& commandLine, int timeoutMs = 2000);

    // Called on the event loop with each command line a later start sends.
    void SetHandler(Handler handler) { m_handler = std::move(handler); }

    const QString& ServerName() const { return m_serverName; }

private:
    enum class HandOverResult { Delivered, NobodyListens, NoAnswer };
    HandOverResult HandOver(const QByteArray& commandLine, int timeoutMs);
    bool Listen();
    void Accept();

    QString m_serverName;
    std::unique_ptr<QLocalServer> m_server;
    Handler m_handler;
};
