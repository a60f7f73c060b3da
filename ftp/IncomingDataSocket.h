#pragma once
// CIncomingDataSocket: the data connection of one session. It carries one listing,
// download or upload at a time: received data goes to the session's listing text or to
// the local file, an upload is read from the local file and sent in chunks. The end of
// a transfer is told to the waiting operation by setting an event. Lives as long as the
// session and is reused for every transfer; only the session's worker thread touches it.
//
// Usage (download, passive mode):
//   data.CreateDataSocket();                         // before PASV
//   data.OpenFile(localPath, "wb");                  // or "ab" after REST
//   data.BeginReceive(/*listing=*/false);
//   ... send RETR, then data.Connect(dataHost, dataPort) ...
//   int r = session.WaitForTransfer(&data.ReceiveDoneEvent(), 0);
//   if (data.TransferError() != 0) r = FTP_FAILED;
// A listing (BeginReceive(true)) ends the same way, and TransferError() matters there too:
// a listing cut short by a socket error, or refused as too long, is incomplete.
// Upload: OpenFile(path, "rb") (SeekFile after REST), BeginSend(), STOR, connect (or the
// listening socket accepts); the socket sends the file itself once connected and sets
// SendDoneEvent(); SendResult() then tells how it went.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "ftp/DataSocketLink.h"
#include "ftp/LineEnds.h"
#include "net/MySocket.h"
#include "platform/Event.h"

// Bytes moved per socket read and per file read of an upload. Large pieces keep the cost
// of each notification, read and write small against the bytes they move.
constexpr int kDataBufferSize = 256 * 1024;
// Largest buffer size SetBufferSize accepts (a benchmark may try larger chunks).
constexpr int kMaxDataBufferSize = 1024 * 1024;
// Most bytes one read notification takes from the socket before the thread looks at its
// other sockets again: a fast data connection must not starve the control connection.
constexpr int kReceiveBytesPerEvent = 1024 * 1024;
// A listing longer than this is refused as hostile (no real directory comes close).
constexpr std::size_t kMaxListingBytes = 256u * 1024 * 1024;
// A download's bytes are handed to the disk in steps of this size while they arrive.
constexpr std::uint64_t kWritebackStep = 16u << 20;
// transferError when the local file failed (write, flush or read), not the socket.
constexpr int kLocalFileError = -1;

class CIncomingDataSocket : public CMySocket {
public:
    explicit CIncomingDataSocket(DataSocketLink& session);
    ~CIncomingDataSocket() override;  // closes a file still open

    // Closes a data connection left over (logged as forced), then creates a fresh socket
    // (any port, all events). Returns the result of Create; the reason is in
    // WSAGetLastError().
    bool CreateDataSocket();
    // Ends the transfer at once: closes the local file (downloads), closes the socket,
    // then sets receiveDoneEvent (sending false) or sets sendResult 1 and sendDoneEvent
    // (sending true).
    void ForceClose(bool sending);
    // Sends the open file in chunks, waiting for each; started by the socket itself when
    // the connection is established while an upload is pending.
    void SendFile();
    // Closes the local file when one is open and the socket is not in listing mode;
    // whether it closed one. A failed flush of a download marks the transfer failed.
    bool CloseFile();

    // The local file of the next transfer. mode: "wb" or "ab" (download), "rb" (upload).
    // False, with the reason logged as an Error line naming the file, when it can't open.
    bool OpenFile(const std::string& path, const char* mode);
    // The same for a file the caller has opened itself (a download's partial file, opened
    // without following links): the socket takes over `fd` and closes it.
    bool AdoptFile(int fd, const std::string& path, bool forWriting);
    // Positions the open file (an upload resumed at the server's size).
    bool SeekFile(std::int64_t offset);
    bool HasFile() const { return file != nullptr; }

    // Start of a transfer: clears the previous transfer's error and the event that its
    // end will set. BeginReceive also sets listing mode. BeginSend on a connection that
    // is already open (a server that connects as soon as PORT arrives) starts the upload
    // at the next notification.
    // `text`: an ASCII-mode download, whose CR LF line ends are stored as LF.
    void BeginReceive(bool listing, bool text = false);
    void BeginSend();

    // Active mode through a SOCKS proxy: after CreateDataSocket, asks the proxy to listen
    // for serverAddress (network order, 0: any). ProxyListenEvent is set when the proxy
    // listens (ProxyListenAddress then tells where) or the request failed (then false).
    // The server's connection arrives on this socket itself.
    bool ListenThroughProxy(uint32_t serverAddress);
    CEvent& ProxyListenEvent() { return proxyListenEvent; }
    bool ProxyListenAddress(std::string& address, unsigned& port) const;

    CEvent& ChunkSentEvent() { return chunkSentEvent; }
    CEvent& SendDoneEvent() { return sendDoneEvent; }
    CEvent& ReceiveDoneEvent() { return receiveDoneEvent; }
    // Outcome of the last upload: 0 sent, 1 failed, 2 interrupted, 3 timed out, 4 closed.
    int SendResult() const { return sendResult; }
    // Socket error that ended the transfer, kLocalFileError, or 0.
    int TransferError() const { return transferError; }
    // Bytes of the current download or upload that went to the file or over the wire
    // (a resumed transfer counts from its offset on).
    std::uint64_t BytesMoved() const { return bytesMoved; }
    bool ListingMode() const { return listingMode; }
    void SetListingMode(bool on) { listingMode = on; }

    // The next data connections go through TLS, resuming the TLS session of `control` (the
    // control connection's layer) and checked against its certificate; null: plain. Set
    // before CreateDataSocket.
    void UseTls(const CSslSocketLayer* control, const std::string& host);

    // Bytes per read (default kDataBufferSize), 1 to kMaxDataBufferSize.
    bool SetBufferSize(int size);
    int BufferSize() const { return bufferSize; }

protected:
    void OnClose(int error) override;
    void OnConnect(int error) override;
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnAccept(int error) override;
    int OnLayerCallback(CSocketLayer* layer, int type, intptr_t param1, intptr_t param2) override;

private:
    friend class CLstnDataSocket;
    // Active mode: puts in the layers the server's connection is to go through, before
    // the listening socket accepts it into this socket.
    void PrepareForAccept();
    // The connection to the server stands (our connect completed, or we accepted the
    // server's): over TLS we are the client either way, so the handshake starts here;
    // without TLS the connection is established.
    void OnConnected();
    // The connection is established (connected or accepted, and TLS done when used):
    // starts a pending upload.
    void OnEstablished();
    // Reads once from the socket and hands the bytes on: the count, 0 when the peer has
    // closed, -1 when nothing was waiting or the read failed (then the socket is closed).
    // OnReceive reads repeatedly, up to kReceiveBytesPerEvent.
    int ReceiveChunk(int error);
    bool StoreReceived(const char* bytes, int count);
    // Writes all of `bytes` to the open download; false (the transfer failed) otherwise.
    bool WriteToFile(const char* bytes, std::size_t count);
    // An upload is pending or running (its failures end it in the sending direction).
    bool UploadPending() { return !sendDoneEvent.IsSignalled(); }
    // A socket error ends the transfer: logged, recorded, the connection forced closed.
    void FailTransfer(int error);
    // The local file failed: an Error line naming it and the reason, then as above.
    void FailLocalFile(const std::string& what, int errnoValue);
    // Closes the file; for a written file a failed flush is logged and marks the
    // transfer failed. Returns whether a file was open.
    bool CloseFileChecked();

    // Ends an upload once its last byte is sent: close_notify over TLS, our side's end,
    // then the server's close, which must not be a reset. 0, 1 (failed) or the wait's
    // FtpResult.
    int EndUpload();
    // Sends the upload's close_notify once all of the file has left. 0, 1 or FtpResult.
    int EndTlsOutput();
    // The TLS handshake of the data connection ended (done or failed).
    void OnTlsNotice(int notice);

    DataSocketLink& session;
    const CSslSocketLayer* tlsControl = nullptr;  // non-null: data connections use TLS
    std::string tlsHost;
    bool drainingTls = false;  // the upload's last bytes and close_notify are on their way
    bool awaitingPeerClose = false;  // an upload is complete: the server closes
    int peerCloseError = 0;          // how the server ended it (a reset: not all was read)

    int bufferSize = kDataBufferSize;
    // Page-aligned: the kernel copies between page-aligned file pages and an unaligned
    // buffer several times slower on some processors.
    struct AlignedFree {
        void operator()(char* bytes) const { std::free(bytes); }
    };
    using DataBuffer = std::unique_ptr<char[], AlignedFree>;
    static DataBuffer AllocateBuffer(std::size_t size);
    DataBuffer receiveBuffer;  // bufferSize + 1 (terminating NUL)
    bool textDownload = false;
    CCrLfToLf lineEnds;
    std::string convertedText;  // a text download's piece after conversion
    DataBuffer sendBuffer;
    int chunkLength = 0;
    int chunkSent = 0;
    CEvent chunkSentEvent;    // manual-reset, initially set
    CEvent sendDoneEvent;     // manual-reset, initially set; clear: an upload is wanted
    CEvent receiveDoneEvent;  // manual-reset, initially set
    int sendResult = 0;
    int transferError = 0;
    std::uint64_t bytesMoved = 0;
    std::uint64_t writebackStart = 0;  // bytesMoved when the disk was last handed data
    std::future<void> writeback;       // that step, under way on a thread of its own
    void StartWriteback(int fd, off_t start, off_t length);
    bool listingMode = false;
    std::size_t listingBytes = 0;
    CEvent proxyListenEvent{/*manualReset=*/true, /*initialState=*/false};
    std::string proxyListenHost;    // empty while the proxy does not listen
    unsigned proxyListenPort = 0;

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> file;
    std::string filePath;
    bool fileForWriting = false;
    bool sendFileRunning = false;  // SendFile is on the stack (it closes the file itself)
};
