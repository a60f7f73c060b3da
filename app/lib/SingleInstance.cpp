#include "app/lib/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QPointer>
#include <QtEndian>

#include <unistd.h>

namespace {

// Frame: a 4-byte big-endian length, then the command line. The receiver answers one
// byte once it has the whole frame.
constexpr char kAck = '\x06';

QByteArray Frame(const QByteArray& payload)
{
    QByteArray frame(4, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), frame.data());
    return frame + payload;
}

} // namespace

SingleInstance::SingleInstance(QString serverName) : m_serverName(std::move(serverName)) {}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close(); // removes the socket file
}

QString SingleInstance::DefaultServerName()
{
    const QString name = QStringLiteral("tollvane-%1.sock").arg(::getuid());
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && runtime.startsWith('/'))
        return QDir(QString::fromLocal8Bit(runtime)).filePath(name);
    return QDir(QDir::tempPath()).filePath(name);
}

SingleInstance::Role SingleInstance::Start(const QByteArray& commandLine, int timeoutMs)
{
    // The lock makes "is anyone listening? then I listen" one step between two starts
    // that race each other.
    QLockFile lock(m_serverName + QStringLiteral(".lock"));
    lock.setStaleLockTime(10000);
    if (!lock.tryLock(timeoutMs)) {
        return HandOver(commandLine, timeoutMs) == HandOverResult::Delivered ? Role::HandedOver
                                                                             : Role::Failed;
    }
    switch (HandOver(commandLine, timeoutMs)) {
    case HandOverResult::Delivered:
        return Role::HandedOver;
    case HandOverResult::NoAnswer:
        // Someone listens but is busy or hung: its socket must not be taken away.
        return Role::Failed;
    case HandOverResult::NobodyListens:
        break;
    }
    return Listen() ? Role::Primary : Role::Failed;
}

SingleInstance::HandOverResult SingleInstance::HandOver(const QByteArray& commandLine, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return HandOverResult::NobodyListens;
    socket.write(Frame(commandLine));
    if (!socket.waitForBytesWritten(timeoutMs))
        return HandOverResult::NoAnswer;
    // Wait for the receipt, so this start does not end before the other has the text.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return HandOverResult::NoAnswer;
    }
    char ack = 0;
    return socket.getChar(&ack) && ack == kAck ? HandOverResult::Delivered : HandOverResult::NoAnswer;
}

bool SingleInstance::Listen()
{
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        // Nobody answered, so a socket file left there is from a copy that crashed.
        if (m_server->serverError() != QAbstractSocket::AddressInUseError)
            return false;
        QLocalServer::removeServer(m_serverName);
        if (!m_server->listen(m_serverName))
            return false;
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(),
                     [this] { Accept(); });
    return true;
}

void SingleInstance::Accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() < 4)
                return;
            const quint32 length = qFromBigEndian<quint32>(buffer->constData());
            if (length > kMaxCommandLine) {
                socket->abort(); // not one of ours, or broken: drop it
                return;
            }
            if (static_cast<quint32>(buffer->size()) < 4 + length)
                return;
            const QByteArray commandLine = buffer->mid(4, static_cast<int>(length));
            buffer->clear();
            socket->write(&kAck, 1);
            socket->flush();
            socket->disconnectFromServer();
            if (m_handler)
                m_handler(commandLine);
        });
    }
}
