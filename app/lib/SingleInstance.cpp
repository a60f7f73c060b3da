#include "app/lib/SingleInstance.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Frame: a 4-byte big-endian length, then the payload: the kind (one byte) and the
// items as a QDataStream string list. The receiver answers one byte once it has the
// whole frame and could read it.
constexpr char kAck = '\x06';

QByteArray Frame(const InstanceMessage& message)
{
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << static_cast<quint8>(message.kind) << message.items;
    }
    QByteArray frame(4, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), frame.data());
    return frame + payload;
}

bool Unframe(const QByteArray& payload, InstanceMessage& message)
{
    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_6_0);
    quint8 kind = 0;
    in >> kind >> message.items;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    if (kind != static_cast<quint8>(InstanceMessage::Kind::CommandLine) &&
        kind != static_cast<quint8>(InstanceMessage::Kind::TransferFiles))
        return false;
    message.kind = static_cast<InstanceMessage::Kind>(kind);
    return message.kind != InstanceMessage::Kind::CommandLine || message.items.size() == 1;
}

// The lock's outcome: taken (descriptor), held by a running process, or impossible here.
struct LockAttempt {
    int fd = -1;
    bool heldByAnother = false;
};

LockAttempt TryLock(const QString& path)
{
    LockAttempt attempt;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return attempt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        attempt.heldByAnother = errno == EWOULDBLOCK;
        ::close(fd);
        return attempt;
    }
    // The owner's process id, for a person who looks; the lock itself is what counts.
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, pid.constData(), static_cast<size_t>(pid.size()), 0);
    attempt.fd = fd;
    return attempt;
}

QString Unquoted(const QString& text)
{
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.mid(1, text.size() - 2);
    return text;
}

} // namespace

QString AbsoluteCommandLine(const QString& text, const QDir& base)
{
    const QString path = Unquoted(text.trimmed());
    if (path.isEmpty() || path.contains(QStringLiteral("://")) || QDir::isAbsolutePath(path))
        return text;
    const QFileInfo file(base, path);
    if (file.suffix().compare(QStringLiteral("tvq"), Qt::CaseInsensitive) == 0 || file.exists())
        return QDir::cleanPath(file.absoluteFilePath());
    return text;
}

InstanceMessage CommandLineMessage(const QByteArray& commandLine, const QDir& base)
{
    return {InstanceMessage::Kind::CommandLine, {AbsoluteCommandLine(QString::fromUtf8(commandLine), base)}};
}

InstanceMessage TransferFilesMessage(const QStringList& files, const QDir& base)
{
    InstanceMessage message{InstanceMessage::Kind::TransferFiles, {}};
    for (const QString& file : files)
        message.items.append(QDir::cleanPath(base.absoluteFilePath(file)));
    return message;
}

SingleInstance::SingleInstance(QString serverName) : m_serverName(std::move(serverName)) {}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close(); // removes the socket file
    // Closing unlocks: the next start becomes the running copy. The file stays, so that
    // two later starts always lock the same file.
    if (m_lockFd >= 0)
        ::close(m_lockFd);
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
    return StartWith(CommandLineMessage(commandLine), timeoutMs);
}

SingleInstance::Role SingleInstance::StartWithFiles(const QStringList& files, int timeoutMs)
{
    return StartWith(TransferFilesMessage(files), timeoutMs);
}

SingleInstance::Role SingleInstance::StartWith(const InstanceMessage& message, int timeoutMs)
{
    const QByteArray frame = Frame(message);
    const LockAttempt lock = TryLock(LockFileName());
    if (lock.fd < 0) {
        if (!lock.heldByAnother) {
            // No lock can be made here at all (a read-only runtime folder): the hand-over
            // is tried, and this copy runs without it otherwise.
            const HandOverResult result = HandOver(frame, timeoutMs);
            return result == HandOverResult::Delivered ? Role::HandedOver
                   : result == HandOverResult::NoAnswer ? Role::NotResponding
                                                         : Role::Failed;
        }
        // A running copy holds it; it may still be on its way to listening.
        return HandOverWhileStarting(frame, timeoutMs) == HandOverResult::Delivered ? Role::HandedOver
                                                                                  : Role::NotResponding;
    }
    // The lock is ours. A copy that listens without holding the lock (its lock file was
    // removed by hand) is still the running copy.
    switch (HandOver(frame, timeoutMs)) {
    case HandOverResult::Delivered:
        ::close(lock.fd);
        return Role::HandedOver;
    case HandOverResult::NoAnswer:
        ::close(lock.fd);
        return Role::NotResponding; // its socket must not be taken away
    case HandOverResult::NobodyListens:
        break;
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = lock.fd;
    return Listen() ? Role::Primary : Role::Failed;
}

SingleInstance::HandOverResult SingleInstance::HandOverWhileStarting(const QByteArray& frame, int timeoutMs)
{
    // The lock's owner listens right after taking it; until then nobody answers the
    // socket. Within the time limit, try again.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const HandOverResult result = HandOver(frame, static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
        if (result != HandOverResult::NobodyListens || deadline.hasExpired())
            return result;
        QThread::msleep(50);
    }
}

SingleInstance::HandOverResult SingleInstance::HandOver(const QByteArray& frame, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return HandOverResult::NobodyListens;
    socket.write(frame);
    if (!socket.waitForBytesWritten(timeoutMs))
        return HandOverResult::NoAnswer;
    // Wait for the receipt, so this start does not end before the other has the message.
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
        // The lock is ours and nobody answered, so a socket file left there is from a
        // copy that crashed.
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
            if (length > kMaxMessage) {
                socket->abort(); // not one of ours, or broken: drop it
                return;
            }
            if (static_cast<quint32>(buffer->size()) < 4 + length)
                return;
            const QByteArray payload = buffer->mid(4, static_cast<int>(length));
            buffer->clear();
            InstanceMessage message;
            if (!Unframe(payload, message)) {
                socket->abort(); // no receipt: the sender reports that nobody answered
                return;
            }
            socket->write(&kAck, 1);
            socket->flush();
            socket->disconnectFromServer();
            if (message.kind == InstanceMessage::Kind::CommandLine) {
                if (m_handler)
                    m_handler(message.items.front().toUtf8());
            } else if (m_filesHandler) {
                m_filesHandler(message.items);
            }
        });
    }
}
