#include "ftp/IncomingDataSocket.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include "ftp/FtpTypes.h"
#include "platform/Fatal.h"
#include "platform/SocketErrors.h"

namespace {

std::string ErrnoText(int errnoValue)
{
    return std::strerror(errnoValue);
}

}  // namespace

CIncomingDataSocket::CIncomingDataSocket(DataSocketLink& owner)
    : session(owner),
      receiveBuffer(AllocateBuffer(kDataBufferSize + 1)),
      sendBuffer(AllocateBuffer(kDataBufferSize)),
      chunkSentEvent(/*manualReset=*/true, /*initialState=*/true),
      sendDoneEvent(/*manualReset=*/true, /*initialState=*/true),
      receiveDoneEvent(/*manualReset=*/true, /*initialState=*/true)
{
}

CIncomingDataSocket::DataBuffer CIncomingDataSocket::AllocateBuffer(std::size_t size)
{
    constexpr std::size_t kPage = 4096;
    const std::size_t rounded = (size + kPage - 1) / kPage * kPage;  // as aligned_alloc wants
    DataBuffer buffer(static_cast<char*>(std::aligned_alloc(kPage, rounded)));
    if (!buffer)
        FatalError("Out of memory for the data connection's buffer!");
    return buffer;
}

// The file closes with its unique_ptr, the socket with the base class.
CIncomingDataSocket::~CIncomingDataSocket() = default;

bool CIncomingDataSocket::SetBufferSize(int size)
{
    if (size < 1 || size > kMaxDataBufferSize || sendFileRunning)
        return false;
    bufferSize = size;
    receiveBuffer = AllocateBuffer(static_cast<std::size_t>(size) + 1);
    sendBuffer = AllocateBuffer(static_cast<std::size_t>(size));
    return true;
}

bool CIncomingDataSocket::CreateDataSocket()
{
    if (GetSocketHandle() != INVALID_SOCKET) {
        session.Log("Force close data connection.", LOG_STATE);
        Close();
    }
    session.Log("Creating data socket...", LOG_STATE);
    proxyListenEvent.Reset();
    proxyListenHost.clear();
    proxyListenPort = 0;
    // Close emptied the chain: the layers go in again before every Create.
    std::string proxyProblem;
    if (!InsertProxyLayer(*this, session.Proxy(), &proxyProblem, tlsControl != nullptr)) {
        session.Log(proxyProblem, LOG_ERROR);
        WSASetLastError(WSAEINVAL);
        return false;
    }
    return Create(0, SOCK_STREAM, FD_ALL_EVENTS, nullptr);
}

bool CIncomingDataSocket::ListenThroughProxy(uint32_t serverAddress)
{
    proxyListenEvent.Reset();
    proxyListenHost.clear();
    proxyListenPort = 0;
    // The proxy layer reads Listen's argument as the peer it lets in.
    if (Listen(static_cast<int>(serverAddress)))
        return true;
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

bool CIncomingDataSocket::ProxyListenAddress(std::string& address, unsigned& port) const
{
    if (proxyListenHost.empty())
        return false;
    address = proxyListenHost;
    port = proxyListenPort;
    return true;
}

void CIncomingDataSocket::UseTls(const CSslSocketLayer* control, const std::string& host)
{
    tlsControl = control;
    tlsHost = host;
}

int CIncomingDataSocket::OnLayerCallback(CSocketLayer* layer, int type, intptr_t param1,
                                         intptr_t param2)
{
    if (layer == &sslLayer && type == CSocketLayer::LAYERCALLBACK_LAYERSPECIFIC) {
        OnTlsNotice(static_cast<int>(param1));
        return CMySocket::OnLayerCallback(layer, type, param1, param2);
    }
    std::string text;
    int kind = LOG_STATE;
    if (ProxyReportLine(*this, layer, type, param1, param2, text, kind)) {
        session.Log(text, kind);
        if (param1 == PROXYSTATUS_LISTENSOCKETCREATED && param2 != 0) {
            const auto* where = reinterpret_cast<const sockaddr_in*>(param2);
            char dotted[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &where->sin_addr, dotted, sizeof dotted);
            proxyListenHost = dotted;
            proxyListenPort = ntohs(where->sin_port);
            proxyListenEvent.Set();
        }
    }
    return CMySocket::OnLayerCallback(layer, type, param1, param2);
}

void CIncomingDataSocket::OnAccept(int error)
{
    // Only a proxy that listened for us reports an accept on the data socket.
    if (error != 0) {
        session.Log(GetSocketErrorText(error), LOG_ERROR);
        proxyListenEvent.Set();  // a BIND that failed before the proxy listened
        if (UploadPending())
            FailTransfer(error);
        return;
    }
    // The server has connected to the proxy; the data flows on this socket itself.
    CEventSocket unused;
    if (!Accept(unused)) {
        const int acceptError = WSAGetLastError();
        if (acceptError != WSAEWOULDBLOCK)
            FailTransfer(acceptError);
        return;
    }
    OnConnected();
}

void CIncomingDataSocket::PrepareForAccept()
{
    RemoveAllLayers();
    if (tlsControl != nullptr)
        AddLayer(&sslLayer);
}

void CIncomingDataSocket::BeginReceive(bool listing, bool text)
{
    listingMode = listing;
    textDownload = text && !listing;
    lineEnds.Reset();
    listingBytes = 0;
    transferError = 0;
    bytesMoved = 0;
    writebackStart = 0;
    receiveDoneEvent.Reset();
}

void CIncomingDataSocket::BeginSend()
{
    listingMode = false;
    transferError = 0;
    bytesMoved = 0;
    sendResult = 0;
    sendDoneEvent.Reset();
    // Some servers open an active connection as soon as PORT arrives, before the upload
    // is asked for: have its room to write reported again so that OnSend starts it.
    if (GetSocketHandle() != INVALID_SOCKET)
        AsyncSelect(FD_ALL_EVENTS);
}

bool CIncomingDataSocket::OpenFile(const std::string& path, const char* mode)
{
    file.reset();
    filePath = path;
    fileForWriting = mode != nullptr && (mode[0] == 'w' || mode[0] == 'a');
    std::FILE* opened = mode != nullptr ? std::fopen(path.c_str(), mode) : nullptr;
    if (opened == nullptr) {
        session.Log("Unable to open local file " + path + ": " + ErrnoText(mode ? errno : EINVAL) + ".",
                    LOG_ERROR);
        return false;
    }
    file.reset(opened);
    return true;
}

bool CIncomingDataSocket::AdoptFile(int fd, const std::string& path, bool forWriting)
{
    file.reset();
    filePath = path;
    fileForWriting = forWriting;
    std::FILE* opened = fd >= 0 ? ::fdopen(fd, forWriting ? "ab" : "rb") : nullptr;
    if (opened == nullptr) {
        session.Log("Unable to open local file " + path + ": " + ErrnoText(fd >= 0 ? errno : EBADF) + ".",
                    LOG_ERROR);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    file.reset(opened);
    return true;
}

bool CIncomingDataSocket::SeekFile(std::int64_t offset)
{
    if (!file || offset < 0)
        return false;
    if (fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) {
        session.Log("Unable to seek in local file " + filePath + ": " + ErrnoText(errno) + ".",
                    LOG_ERROR);
        return false;
    }
    return true;
}

bool CIncomingDataSocket::CloseFileChecked()
{
    if (!file)
        return false;
    char last = 0;
    // A CR at the very end had no LF after it. A failed write has closed the file and
    // failed the transfer already.
    if (fileForWriting && textDownload && lineEnds.Finish(last) && !WriteToFile(&last, 1))
        return true;
    std::FILE* closing = file.release();
    // Written data may still sit in the stream's buffer: a full disk shows up here.
    if (std::fclose(closing) != 0 && fileForWriting) {
        session.Log("Unable to write local file " + filePath + ": " + ErrnoText(errno) + ".",
                    LOG_ERROR);
        transferError = kLocalFileError;
    }
    return true;
}

bool CIncomingDataSocket::CloseFile()
{
    if (listingMode)
        return false;
    return CloseFileChecked();
}

void CIncomingDataSocket::ForceClose(bool sending)
{
    // An upload in progress closes its file itself when SendFile unwinds.
    if (!sending || !sendFileRunning)
        CloseFile();
    session.Log("Force close data connection.", LOG_STATE);
    Close();
    if (sending) {
        sendResult = 1;
        chunkSentEvent.Set();  // ends SendFile's wait for the chunk at once
        sendDoneEvent.Set();
    } else {
        receiveDoneEvent.Set();
    }
}

void CIncomingDataSocket::FailTransfer(int error)
{
    session.Log(GetSocketErrorText(error), LOG_ERROR);
    transferError = error;
    ForceClose(UploadPending());
}

void CIncomingDataSocket::FailLocalFile(const std::string& what, int errnoValue)
{
    session.Log("Unable to " + what + " local file " + filePath + ": " + ErrnoText(errnoValue) + ".",
                LOG_ERROR);
    transferError = kLocalFileError;
    ForceClose(UploadPending());
}

void CIncomingDataSocket::OnReceive(int error)
{
    // Every notification costs a trip through the thread's message queue: take what is
    // waiting, within a budget. A short read means the socket is drained for now; if
    // bytes are left (a layer holding some back), the next notification takes them.
    int budget = kReceiveBytesPerEvent;
    for (;;) {
        const int count = ReceiveChunk(error);
        if (count < bufferSize)
            return;
        budget -= count;
        if (budget <= 0)
            return;
        error = 0;
    }
}

int CIncomingDataSocket::ReceiveChunk(int error)
{
    if (awaitingPeerClose) {
        // The upload is complete: what the server sends now only ends the connection.
        int count;
        while ((count = Receive(receiveBuffer.get(), bufferSize)) > 0) {
        }
        const int readError = count < 0 ? WSAGetLastError() : 0;
        if (count == 0 || readError != WSAEWOULDBLOCK) {
            if (peerCloseError == 0)
                peerCloseError = error != 0 ? error : readError;
            session.Log("Auto close data connection.", LOG_STATE);
            Close();
            chunkSentEvent.Set();
        }
        return -1;
    }
    if (error != 0) {
        FailTransfer(error);
        return -1;
    }
    // The transfer's time-out counts from the last data; bytes nobody waits for (sent
    // by the server during an upload) must not keep a stalled transfer alive.
    if (!receiveDoneEvent.IsSignalled())
        session.ArmIdleTimer(0);
    int count = Receive(receiveBuffer.get(), bufferSize);
    if (count < 0) {
        int readError = WSAGetLastError();
        if (readError != WSAEWOULDBLOCK) {
            // A cut without close_notify: what arrived may be only part of the file.
            if (sslLayer.IsActive() && !sslLayer.ErrorText().empty())
                session.Log(sslLayer.ErrorText() + "; the transfer is incomplete.", LOG_ERROR);
            FailTransfer(readError);
        }
        return -1;
    }
    receiveBuffer[static_cast<std::size_t>(count)] = '\0';
    // Bytes that arrive when no listing or download waits for them are dropped, and are
    // no progress either.
    if (count > 0 && !receiveDoneEvent.IsSignalled()) {
        session.AddTransferredBytes(static_cast<std::uint64_t>(count));
        if (!StoreReceived(receiveBuffer.get(), count))
            return -1;
    }
    return count;
}

bool CIncomingDataSocket::StoreReceived(const char* bytes, int count)
{
    if (listingMode) {
        // Listing text ends at the first NUL of a chunk.
        std::size_t length = strnlen(bytes, static_cast<std::size_t>(count));
        if (listingBytes + length > kMaxListingBytes) {
            session.Log("File list too long; the data connection is closed.", LOG_ERROR);
            transferError = WSAEMSGSIZE;
            ForceClose(false);
            return false;
        }
        listingBytes += length;
        session.AppendListingText(bytes, length);
        return true;
    }
    if (!file) {
        session.Log("No local file is open for the received data.", LOG_ERROR);
        transferError = kLocalFileError;
        ForceClose(false);
        return false;
    }
    if (textDownload) {
        lineEnds.Convert(bytes, static_cast<std::size_t>(count), convertedText);
        return WriteToFile(convertedText.data(), convertedText.size());
    }
    return WriteToFile(bytes, static_cast<std::size_t>(count));
}

bool CIncomingDataSocket::WriteToFile(const char* bytes, std::size_t count)
{
    // Straight to the file: each piece is large already, and going through the stream's
    // small buffer would split it into two writes. Nothing is ever left in that buffer.
    const int fd = fileno(file.get());
    std::size_t written = 0;
    while (written < count) {
        const ssize_t done = ::write(fd, bytes + written, count - written);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            FailLocalFile("write", done < 0 ? errno : EIO);
            return false;
        }
        written += static_cast<std::size_t>(done);
    }
    bytesMoved += count;
    // A large download is handed to the disk as it arrives: the flush before it takes
    // its final name then waits for the last piece only, not for the whole file.
    const std::uint64_t pending = bytesMoved - writebackStart;
    if (pending >= kWritebackStep) {
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end >= static_cast<off_t>(pending))
            StartWriteback(fd, end - static_cast<off_t>(pending), static_cast<off_t>(pending));
        writebackStart = bytesMoved;
    }
    return true;
}

void CIncomingDataSocket::StartWriteback(int fd, off_t start, off_t length)
{
    // Only what was written since the last step: the pages before it are on their way.
    // Handing pages to a busy disk can block for milliseconds, so a thread of its own
    // does it while the data goes on arriving; one step at a time (replacing the last
    // step's future waits for it), on a descriptor of its own.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        ::sync_file_range(fd, start, length, SYNC_FILE_RANGE_WRITE);
        return;
    }
    try {
        writeback = std::async(std::launch::async, [copy, start, length] {
            ::sync_file_range(copy, start, length, SYNC_FILE_RANGE_WRITE);
            ::close(copy);
        });
    } catch (const std::system_error&) {
        ::sync_file_range(copy, start, length, SYNC_FILE_RANGE_WRITE);
        ::close(copy);
    }
}

void CIncomingDataSocket::OnClose(int error)
{
    if (awaitingPeerClose && peerCloseError == 0)
        peerCloseError = error;  // a reset: the server left some of the file unread
    // Drain what the peer sent before closing. A would-block read means nothing is left:
    // the peer's close has been seen, so no more data can come.
    for (;;) {
        int count = ReceiveChunk(0);
        if (count > 0)
            continue;
        if (count < 0 && GetSocketHandle() == INVALID_SOCKET)
            return;  // the read failed and has already ended the transfer
        break;
    }
    if (error != 0)
        session.Log(GetSocketErrorText(error), LOG_ERROR);
    session.Log("Data connection closed.", LOG_STATE);
    transferError = error;
    if (file && !listingMode && !receiveDoneEvent.IsSignalled())
        CloseFileChecked();
    receiveDoneEvent.Set();
    session.Log("Auto close data connection.", LOG_STATE);
    Close();
    // An upload cut short by the peer: SendFile must not wait for the chunk until the
    // time-out; it sees the closed socket and reports the failure.
    if (sendFileRunning)
        chunkSentEvent.Set();
}

void CIncomingDataSocket::OnConnect(int error)
{
    if (error != 0) {
        session.Log(GetSocketErrorText(error), LOG_ERROR);
        // An upload fails at once; a listing or download ends by the idle time-out, as
        // the waiting operation expects.
        if (UploadPending())
            FailTransfer(error);
        return;
    }
    OnConnected();
}

void CIncomingDataSocket::OnConnected()
{
    if (tlsControl != nullptr) {
        // Established once the handshake is done (OnTlsNotice).
        if (!sslLayer.StartClient(tlsHost, tlsControl)) {
            session.Log(sslLayer.ErrorText(), LOG_ERROR);
            FailTransfer(WSAECONNABORTED);
        }
        return;
    }
    OnEstablished();
}

void CIncomingDataSocket::OnTlsNotice(int notice)
{
    if (notice != CSslSocketLayer::SSL_NOTICE_HANDSHAKE_DONE) {
        session.Log(sslLayer.ErrorText(), LOG_ERROR);
        FailTransfer(WSAECONNABORTED);
        return;
    }
    // The data connection must reach the server the control connection checked.
    if (tlsControl == nullptr || sslLayer.PeerCertificate().sha256 != tlsControl->PeerCertificate().sha256) {
        session.Log("The data connection presented another certificate than the control connection; "
                    "it is refused.",
                    LOG_ERROR);
        FailTransfer(WSAECONNABORTED);
        return;
    }
    session.Log(std::string("TLS data connection established") +
                    (sslLayer.SessionReused() ? " (TLS session resumed)." : " (new TLS session)."),
                LOG_STATE);
    OnEstablished();
}

void CIncomingDataSocket::OnEstablished()
{
    if (UploadPending() && !sendFileRunning)
        SendFile();
}

void CIncomingDataSocket::OnSend(int error)
{
    if (error != 0) {
        FailTransfer(error);
        return;
    }
    if (drainingTls) {
        if (sslLayer.FinishOutput())
            chunkSentEvent.Set();
        return;
    }
    if (chunkLength == 0) {
        // Room to write on an established connection with an upload waiting to start.
        if (UploadPending() && !sendFileRunning)
            SendFile();
        return;
    }
    if (chunkSentEvent.IsSignalled())
        return;
    session.ArmIdleTimer(0);
    while (chunkSent < chunkLength) {
        int count = Send(sendBuffer.get() + chunkSent, chunkLength - chunkSent);
        if (count < 0) {
            int sendError = WSAGetLastError();
            if (sendError != WSAEWOULDBLOCK)
                FailTransfer(sendError);
            return;  // the next send notification goes on
        }
        chunkSent += count;
        bytesMoved += static_cast<std::uint64_t>(count);
        session.AddTransferredBytes(static_cast<std::uint64_t>(count));
    }
    chunkSentEvent.Set();
}

int CIncomingDataSocket::EndTlsOutput()
{
    // The file ends with TLS's close_notify, sent only once all of the file has left:
    // closing earlier would cut its last bytes off.
    drainingTls = true;
    chunkSentEvent.Reset();
    if (sslLayer.FinishOutput())
        chunkSentEvent.Set();
    int waited = session.WaitForTransfer(&chunkSentEvent, 0);
    drainingTls = false;
    if (waited != FTP_OK || GetSocketHandle() == INVALID_SOCKET || !sslLayer.ErrorText().empty()) {
        if (!sslLayer.ErrorText().empty())
            session.Log(sslLayer.ErrorText(), LOG_ERROR);
        chunkSentEvent.Set();
        return waited != FTP_OK ? waited : 1;
    }
    return 0;
}

int CIncomingDataSocket::EndUpload()
{
    if (sslLayer.IsActive()) {
        const int r = EndTlsOutput();
        if (r != 0)
            return r;
    }
    // Our side ends, then the server closes its own once it has read everything. A
    // server that stopped reading early (and may still say "226") resets the connection
    // instead, because our last bytes wait unread: that upload is incomplete. Closing
    // at once would hide the reset, and over TLS a socket closed while the server's own
    // close_notify waits unread would be reset by us.
    awaitingPeerClose = true;
    peerCloseError = 0;
    chunkSentEvent.Reset();
    ShutDown(SD_SEND);
    const int waited = session.WaitForTransfer(&chunkSentEvent, 0);
    awaitingPeerClose = false;
    chunkSentEvent.Set();
    if (waited == FTP_INTERRUPTED)
        return waited;
    if (peerCloseError != 0) {
        session.Log(GetSocketErrorText(peerCloseError) + " The server closed the data connection before it had "
                                                         "read the whole file.",
                    LOG_ERROR);
        return 1;
    }
    // A server that keeps its side open past the time-out is judged by its final reply.
    return 0;
}

void CIncomingDataSocket::SendFile()
{
    sendFileRunning = true;
    sendResult = 0;
    if (!file) {
        session.Log("No local file is open for sending.", LOG_ERROR);
        transferError = kLocalFileError;
        sendResult = 1;
    }
    while (sendResult == 0) {
        std::size_t count = std::fread(sendBuffer.get(), 1, static_cast<std::size_t>(bufferSize), file.get());
        if (count == 0) {
            if (std::ferror(file.get())) {
                FailLocalFile("read", errno);
                sendResult = 1;
            }
            break;  // end of file
        }
        chunkLength = static_cast<int>(count);
        chunkSent = 0;
        chunkSentEvent.Reset();
        OnSend(0);
        int waited = session.WaitForTransfer(&chunkSentEvent, 0);
        if (waited != FTP_OK) {
            ForceClose(true);
            sendResult = waited;
            break;
        }
        // A send error, the peer's close or a forced close ended the connection.
        if (transferError != 0 || GetSocketHandle() == INVALID_SOCKET) {
            sendResult = 1;
            break;
        }
    }
    chunkLength = 0;
    chunkSent = 0;
    chunkSentEvent.Set();
    file.reset();
    if (sendResult == 0 && GetSocketHandle() != INVALID_SOCKET)
        sendResult = EndUpload();
    if (GetSocketHandle() != INVALID_SOCKET) {
        session.Log("Auto close data connection.", LOG_STATE);
        Close();
    }
    if (sendResult == 0)
        session.Log("File " + session.CurrentFileName() + " sent successfully.", LOG_STATE);
    else
        session.Log("Failed to send file " + session.CurrentFileName() + ".", LOG_ERROR);
    sendDoneEvent.Set();
    sendFileRunning = false;
}
