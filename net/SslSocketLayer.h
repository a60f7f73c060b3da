#pragma once
// CSslSocketLayer: carries a connection through TLS (OpenSSL, client side only). Until
// StartClient is called the layer is a transparent link that passes every call down and
// every event up unchanged, so a socket can hold it in its chain and still talk plain
// text (explicit FTPS starts TLS after the server agreed to it).
//
// Usage:
//   socket.AddLayer(&socket.SslLayer());          // before Create (and a proxy layer after)
//   socket.Create(); socket.Connect(host, port);  // ... connected:
//   socket.SslLayer().StartClient(host, nullptr); // or a control connection's layer to
//                                                 // resume its TLS session (data connections)
//   // OnLayerCallback(layer, LAYERCALLBACK_LAYERSPECIFIC, SSL_NOTICE_HANDSHAKE_DONE, 0)
//   // or SSL_NOTICE_FAILED (ErrorText() says why); then Send/Receive carry plain bytes.
//
// The handshake never fails for the certificate itself: the verification result against
// the system's trust store and the host name is kept in PeerCertificate() for the caller
// to decide on. Receive returns 0 only after the peer's close_notify; a peer that cut the
// connection without it makes Receive fail (WSAECONNABORTED, Truncated() true), so a cut
// file is never taken for a complete one. Close sends close_notify first; FinishOutput
// does so without closing and tells when everything sent has reached the network.

#include "net/SocketLayer.h"

#include <mutex>
#include <string>

typedef struct ssl_st SSL;
typedef struct bio_st BIO;
typedef struct ssl_session_st SSL_SESSION;

// What the server's certificate says, as plain text of bounded length (the server chose
// it: it is shown, never interpreted).
struct CTlsCertificate {
    std::string sha256;      // "AB:CD:..." (32 bytes), empty when the server sent none
    std::string subject;
    std::string issuer;
    std::string notBefore;
    std::string notAfter;
    bool verified = false;   // chain trusted by the system and host name matching
    std::string problem;     // why it is not verified ("self-signed certificate", ...)
};

class CSslSocketLayer : public CSocketLayer {
public:
    // Layer-specific callback codes (param1 of LAYERCALLBACK_LAYERSPECIFIC).
    static constexpr int SSL_NOTICE_HANDSHAKE_DONE = 1;
    static constexpr int SSL_NOTICE_FAILED = 2;

    CSslSocketLayer() = default;
    ~CSslSocketLayer() override;

    // Starts the client handshake on the connected socket. host is checked against the
    // certificate (a name or a literal address) and sent as the server name. resumeFrom:
    // an established layer whose TLS session the server should see resumed, or null.
    bool StartClient(const std::string& host, const CSslSocketLayer* resumeFrom);

    bool IsActive() const { return ssl != nullptr; }
    bool IsEstablished() const { return established; }
    bool SessionReused() const;
    // "TLSv1.3 (TLS_AES_256_GCM_SHA384)".
    std::string Description() const;
    const CTlsCertificate& PeerCertificate() const { return certificate; }
    const std::string& ErrorText() const { return errorText; }
    bool Truncated() const { return truncated; }
    // Sends close_notify (once); true when it and all earlier output left this layer.
    // While false, the layer raises FD_WRITE when the rest has gone.
    bool FinishOutput();

    // OpenSSL's report that the server handed out a session (TLS 1.3 sends its tickets
    // after the handshake, and again on each resumed connection; a ticket may serve only
    // once): the newest is what the next data connection resumes.
    static int OnNewSession(SSL* ssl, SSL_SESSION* session);
    // The TLS input's read from the layer below: the count, 0 at the end of the stream
    // (or when it broke), -1 when nothing is there yet.
    int ReadFromBelow(char* buffer, int length);
    bool InputEnded() const { return belowEnded; }

    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;
    int Send(const void* buffer, int length, int flags) override;
    int Receive(void* buffer, int length, int flags) override;
    bool Connect(const sockaddr* address, socklen_t addressLength) override;
    bool Connect(const char* host, unsigned port) override;
    void Close() override;
    bool ShutDown(int how) override;

private:
    enum class Raise { Nothing, Read, Write, Close };
    // Writes the TLS output to the layer below; true when none is left.
    bool Flush();
    // Moves the handshake on; the notice to give once the lock is released (0 none).
    int DriveHandshake();
    void Fail(const std::string& why);
    void ReadCertificate();
    void Release();
    void Notify(int notice);

    std::recursive_mutex mutex;  // a site-to-site copy may send from another thread
    // The layer whose connections share TLS sessions: this one, or the control
    // connection's layer for a data connection.
    const CSslSocketLayer* family = nullptr;
    mutable std::mutex sessionMutex;
    mutable SSL_SESSION* newestSession = nullptr;  // owned; kept on the family's layer
    SSL* ssl = nullptr;
    BIO* input = nullptr;        // owned by ssl; reads from the layer below
    BIO* output = nullptr;       // owned by ssl
    std::string pendingOutput;   // encrypted bytes the layer below has not taken yet
    bool established = false;
    bool failed = false;
    bool belowEnded = false;     // the layer below reported the end of the stream
    bool closeNotifySent = false;
    bool closeNotifyReceived = false;
    bool closeRaised = false;    // the caller has been told of the close_notify
    bool truncated = false;
    bool writeWanted = false;    // an upper Send was refused: raise FD_WRITE when drained
    CTlsCertificate certificate;
    std::string errorText;
};
