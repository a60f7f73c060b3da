#include "net/SslSocketLayer.h"

#include "net/EventSocket.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <cstdio>

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

// Encrypted bytes moved to the layer below per step.
constexpr int kOutputChunk = 64 * 1024;
// TLS reads from the layer below into a buffer of this size, as many records at once as
// have arrived (a server sends several per write): fewer reads, and the bytes are copied
// once on their way in, not through an intermediate buffer.
constexpr long kReadAheadBuffer = 128 * 1024;
// Plain bytes handed to TLS per Send.
constexpr int kMaxWritePiece = 64 * 1024;
// Certificate texts come from the server: cut to a length a message can show.
constexpr std::size_t kMaxCertificateText = 400;

// One client context for the process, with the system's trust store (the default
// paths, which SSL_CERT_FILE and SSL_CERT_DIR override).
SSL_CTX* ClientContext()
{
    static SSL_CTX* context = [] {
        SSL_CTX* made = SSL_CTX_new(TLS_client_method());
        if (made == nullptr)
            return made;
        SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
        SSL_CTX_set_read_ahead(made, 1);
        SSL_CTX_set_default_read_buffer_len(made, kReadAheadBuffer);
        SSL_CTX_set_default_verify_paths(made);
        // The certificate is judged after the handshake, with the user when needed.
        SSL_CTX_set_verify(made, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_session_cache_mode(made, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(made, &CSslSocketLayer::OnNewSession);
        return made;
    }();
    return context;
}

// Where an SSL object keeps its layer.
int LayerIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// The TLS input: reads go straight to the layer below the TLS layer (BIO data).
int ReadBelow(BIO* bio, char* buffer, int length)
{
    BIO_clear_retry_flags(bio);
    auto* layer = static_cast<CSslSocketLayer*>(BIO_get_data(bio));
    const int count = layer->ReadFromBelow(buffer, length);
    if (count < 0)
        BIO_set_retry_read(bio);
    return count;
}

long ControlBelow(BIO* bio, int command, long, void*)
{
    if (command == BIO_CTRL_FLUSH)
        return 1;
    if (command == BIO_CTRL_EOF)
        return static_cast<CSslSocketLayer*>(BIO_get_data(bio))->InputEnded() ? 1 : 0;
    return 0;
}

BIO_METHOD* BelowMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "layer below");
        if (made != nullptr) {
            BIO_meth_set_read(made, &ReadBelow);
            BIO_meth_set_ctrl(made, &ControlBelow);
            BIO_meth_set_create(made, [](BIO* bio) {
                BIO_set_init(bio, 1);
                return 1;
            });
        }
        return made;
    }();
    return method;
}

std::string LastOpenSslError()
{
    std::string text;
    while (unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        if (!text.empty())
            text += "; ";
        text += line;
    }
    return text.empty() ? "unknown TLS error" : text;
}

// Plain printable text of bounded length: anything else becomes '?'.
std::string Printable(const std::string& raw)
{
    std::string text;
    for (char c : raw) {
        if (text.size() >= kMaxCertificateText) {
            text += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        text += (u >= 0x20 && u < 0x7F) ? c : '?';
    }
    return text;
}

std::string BioText(BIO* bio)
{
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string NameText(const X509_NAME* name)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr)
        return {};
    // RFC 2253 form escapes control and non-ASCII characters.
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253);
    std::string text = Printable(BioText(bio));
    BIO_free(bio);
    return text;
}

std::string TimeText(const ASN1_TIME* time)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr)
        return {};
    ASN1_TIME_print(bio, time);
    std::string text = Printable(BioText(bio));
    BIO_free(bio);
    return text;
}

}  // namespace

CSslSocketLayer::~CSslSocketLayer()
{
    Release();
    std::lock_guard lock(sessionMutex);
    if (newestSession != nullptr)
        SSL_SESSION_free(newestSession);
    newestSession = nullptr;
}

int CSslSocketLayer::OnNewSession(SSL* ssl, SSL_SESSION* session)
{
    auto* layer = static_cast<CSslSocketLayer*>(SSL_get_ex_data(ssl, LayerIndex()));
    if (layer == nullptr || layer->family == nullptr)
        return 0;
    std::lock_guard lock(layer->family->sessionMutex);
    if (layer->family->newestSession != nullptr)
        SSL_SESSION_free(layer->family->newestSession);
    layer->family->newestSession = session;
    return 1;  // the reference is ours now
}

void CSslSocketLayer::Release()
{
    if (ssl != nullptr)
        SSL_free(ssl);  // frees both memory BIOs
    ssl = nullptr;
    input = output = nullptr;
    family = nullptr;
    pendingOutput.clear();
    established = failed = belowEnded = false;
    closeNotifySent = closeNotifyReceived = closeRaised = truncated = writeWanted = false;
}

bool CSslSocketLayer::StartClient(const std::string& host, const CSslSocketLayer* resumeFrom)
{
    int notice = 0;
    {
        std::lock_guard lock(mutex);
        Release();
        certificate = {};
        errorText.clear();
        SSL_CTX* context = ClientContext();
        if (context == nullptr || (ssl = SSL_new(context)) == nullptr) {
            errorText = "TLS could not be set up: " + LastOpenSslError();
            return false;
        }
        BIO_METHOD* below = BelowMethod();
        input = below != nullptr ? BIO_new(below) : nullptr;
        output = BIO_new(BIO_s_mem());
        if (input == nullptr || output == nullptr) {
            BIO_free(input);
            BIO_free(output);
            SSL_free(ssl);
            ssl = nullptr;
            input = output = nullptr;
            errorText = "TLS could not be set up: out of memory";
            return false;
        }
        BIO_set_data(input, this);
        SSL_set_bio(ssl, input, output);
        SSL_set_connect_state(ssl);

        in6_addr literal6{};
        in_addr literal4{};
        const bool isAddress = inet_pton(AF_INET, host.c_str(), &literal4) == 1 ||
                               inet_pton(AF_INET6, host.c_str(), &literal6) == 1;
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (isAddress) {
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        } else {
            SSL_set1_host(ssl, host.c_str());
            SSL_set_tlsext_host_name(ssl, host.c_str());
        }
        family = resumeFrom != nullptr ? resumeFrom : this;
        SSL_set_ex_data(ssl, LayerIndex(), this);
        if (resumeFrom != nullptr) {
            SSL_SESSION* session = nullptr;
            {
                std::lock_guard sessionLock(resumeFrom->sessionMutex);
                session = resumeFrom->newestSession;
                if (session != nullptr)
                    SSL_SESSION_up_ref(session);
            }
            if (session == nullptr && resumeFrom->ssl != nullptr)
                session = SSL_get1_session(resumeFrom->ssl);
            if (session != nullptr) {
                SSL_set_session(ssl, session);
                SSL_SESSION_free(session);
            }
        } else {
            // A new control connection starts a new family.
            std::lock_guard sessionLock(sessionMutex);
            if (newestSession != nullptr)
                SSL_SESSION_free(newestSession);
            newestSession = nullptr;
        }
        notice = DriveHandshake();
    }
    Notify(notice);
    return !failed;
}

int CSslSocketLayer::DriveHandshake()
{
    if (ssl == nullptr || established || failed)
        return 0;
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl);
    if (!Flush() && failed)
        return SSL_NOTICE_FAILED;
    if (result == 1) {
        established = true;
        ReadCertificate();
        return SSL_NOTICE_HANDSHAKE_DONE;
    }
    const int code = SSL_get_error(ssl, result);
    if (code == SSL_ERROR_WANT_READ && !belowEnded)
        return 0;
    if (code == SSL_ERROR_WANT_WRITE)
        return 0;
    if (belowEnded && code != SSL_ERROR_SSL)
        Fail("the server closed the connection during the TLS handshake");
    else
        Fail("TLS handshake failed: " + LastOpenSslError());
    return SSL_NOTICE_FAILED;
}

void CSslSocketLayer::Fail(const std::string& why)
{
    if (errorText.empty())
        errorText = why;
    failed = true;
}

void CSslSocketLayer::Notify(int notice)
{
    if (notice != 0)
        DoLayerCallback(LAYERCALLBACK_LAYERSPECIFIC, notice, 0);
}

void CSslSocketLayer::ReadCertificate()
{
    X509* peer = SSL_get1_peer_certificate(ssl);
    if (peer == nullptr) {
        certificate.problem = "the server sent no certificate";
        return;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (X509_digest(peer, EVP_sha256(), digest, &digestLength) == 1) {
        char hex[4];
        for (unsigned int i = 0; i < digestLength; ++i) {
            std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
            certificate.sha256 += hex;
        }
    }
    certificate.subject = NameText(X509_get_subject_name(peer));
    certificate.issuer = NameText(X509_get_issuer_name(peer));
    certificate.notBefore = TimeText(X509_get0_notBefore(peer));
    certificate.notAfter = TimeText(X509_get0_notAfter(peer));
    const long verifyResult = SSL_get_verify_result(ssl);
    certificate.verified = verifyResult == X509_V_OK;
    if (!certificate.verified)
        certificate.problem = X509_verify_cert_error_string(verifyResult);
    X509_free(peer);
}

bool CSslSocketLayer::SessionReused() const
{
    return ssl != nullptr && SSL_session_reused(ssl) == 1;
}

std::string CSslSocketLayer::Description() const
{
    if (ssl == nullptr)
        return {};
    const char* cipher = SSL_get_cipher_name(ssl);
    return std::string(SSL_get_version(ssl)) + " (" + (cipher ? cipher : "?") + ")";
}

int CSslSocketLayer::ReadFromBelow(char* buffer, int length)
{
    if (belowEnded)
        return 0;
    const int count = CSocketLayer::Receive(buffer, length, 0);
    if (count > 0)
        return count;
    if (count < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
        return -1;
    // The end of the stream, or a broken connection: either way nothing more comes, and
    // without a close_notify before it the read fails as cut short.
    belowEnded = true;
    return 0;
}

bool CSslSocketLayer::Flush()
{
    char buffer[kOutputChunk];
    int count;
    while ((count = BIO_read(output, buffer, sizeof buffer)) > 0)
        pendingOutput.append(buffer, static_cast<std::size_t>(count));
    std::size_t sent = 0;
    while (sent < pendingOutput.size()) {
        const int piece = static_cast<int>(std::min<std::size_t>(pendingOutput.size() - sent, 1 << 20));
        const int written = CSocketLayer::Send(pendingOutput.data() + sent, piece, 0);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && WSAGetLastError() != WSAEWOULDBLOCK)
            Fail("the connection failed while sending: " + GetSocketErrorText(WSAGetLastError()));
        break;
    }
    pendingOutput.erase(0, sent);
    return pendingOutput.empty();
}

// ---- Calls from above ----

int CSslSocketLayer::Send(const void* buffer, int length, int flags)
{
    std::lock_guard lock(mutex);
    if (ssl == nullptr)
        return CSocketLayer::Send(buffer, length, flags);
    if (!established || closeNotifySent || failed) {
        WSASetLastError(failed ? WSAECONNABORTED : (established ? WSAESHUTDOWN : WSAEWOULDBLOCK));
        if (!established && !failed)
            writeWanted = true;
        return SOCKET_ERROR;
    }
    if (!Flush()) {
        if (failed) {
            WSASetLastError(WSAECONNABORTED);
            return SOCKET_ERROR;
        }
        writeWanted = true;
        WSASetLastError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    }
    if (length <= 0)
        return 0;
    ERR_clear_error();
    const int written = SSL_write(ssl, buffer, std::min(length, kMaxWritePiece));
    if (written <= 0) {
        Fail("TLS write failed: " + LastOpenSslError());
        WSASetLastError(WSAECONNABORTED);
        return SOCKET_ERROR;
    }
    // What did not go out yet leaves with the next write notification.
    if (!Flush())
        writeWanted = true;
    return written;
}

int CSslSocketLayer::Receive(void* buffer, int length, int flags)
{
    bool moreWaiting = false;
    bool endNow = false;
    int total = 0;
    {
        std::lock_guard lock(mutex);
        if (ssl == nullptr)
            return CSocketLayer::Receive(buffer, length, flags);
        if (!established) {
            WSASetLastError(failed ? WSAECONNABORTED : WSAEWOULDBLOCK);
            return SOCKET_ERROR;
        }
        if (closeNotifyReceived)
            return 0;
        auto* bytes = static_cast<char*>(buffer);
        while (total < length) {
            ERR_clear_error();
            const int count = SSL_read(ssl, bytes + total, length - total);
            if (count > 0) {
                total += count;
                continue;
            }
            const int code = SSL_get_error(ssl, count);
            if (code == SSL_ERROR_WANT_READ && !belowEnded)
                break;  // the layer below has nothing more now, and reports when it has
            if (code == SSL_ERROR_ZERO_RETURN) {
                closeNotifyReceived = true;
                break;
            }
            if (code == SSL_ERROR_WANT_WRITE) {
                Flush();
                break;
            }
            const bool cut = ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
            if (cut || (belowEnded && code != SSL_ERROR_SSL)) {
                truncated = true;
                Fail("the server closed the connection without ending TLS (no close_notify)");
            } else {
                Fail("TLS read failed: " + LastOpenSslError());
            }
            break;
        }
        // A reply to something the server sent (a key update) goes out now.
        Flush();
        // The server ended the stream with close_notify: that is the connection's end for
        // the caller, whether or not the server also closes its socket (some wait for
        // ours first).
        if (closeNotifyReceived && !closeRaised) {
            closeRaised = true;
            endNow = true;
        }
        if (total == 0 && !endNow) {
            if (closeNotifyReceived)
                return 0;
            WSASetLastError(failed ? WSAECONNABORTED : WSAEWOULDBLOCK);
            return SOCKET_ERROR;
        }
        // A filled buffer may leave records in the TLS input that the layer below will
        // not report again; a short one ended on a read from below that would block (and
        // so re-armed its notification), the end, or a failure.
        moreWaiting = total > 0 && (total == length || belowEnded || failed);
    }
    if (endNow)
        PostLayerEvent(FD_CLOSE, 0);
    // Decrypted or buffered bytes the caller did not take: it hears of them again.
    else if (moreWaiting)
        PostLayerEvent(FD_FORCEREAD, 0);
    return total;
}

bool CSslSocketLayer::FinishOutput()
{
    std::lock_guard lock(mutex);
    if (ssl == nullptr || !established || failed)
        return true;
    if (!closeNotifySent) {
        closeNotifySent = true;
        SSL_shutdown(ssl);
    }
    const bool drained = Flush();
    if (!drained && !failed)
        writeWanted = true;
    return drained || failed;
}

void CSslSocketLayer::Close()
{
    {
        std::lock_guard lock(mutex);
        if (ssl != nullptr && established && !failed && !closeNotifySent) {
            // Best effort: the socket closes right after.
            closeNotifySent = true;
            SSL_shutdown(ssl);
            Flush();
        }
        Release();
    }
    CSocketLayer::Close();
}

bool CSslSocketLayer::ShutDown(int how)
{
    return CSocketLayer::ShutDown(how);
}

bool CSslSocketLayer::Connect(const sockaddr* address, socklen_t addressLength)
{
    return CSocketLayer::Connect(address, addressLength);
}

bool CSslSocketLayer::Connect(const char* host, unsigned port)
{
    return CSocketLayer::Connect(host, port);
}

// ---- Events from below ----

void CSslSocketLayer::OnConnect(int error)
{
    CSocketLayer::OnConnect(error);
}

void CSslSocketLayer::OnReceive(int error)
{
    int notice = 0;
    Raise raise = Raise::Read;
    {
        std::lock_guard lock(mutex);
        if (ssl != nullptr && error == 0) {
            if (!established) {
                notice = DriveHandshake();
                // Application data may have come with the end of the handshake.
                const bool waiting = established && SSL_has_pending(ssl) == 1;
                raise = waiting ? Raise::Read : Raise::Nothing;
                if (notice == SSL_NOTICE_HANDSHAKE_DONE && writeWanted) {
                    writeWanted = false;
                    raise = waiting ? Raise::Read : Raise::Write;
                }
            }
        }
    }
    Notify(notice);
    if (raise == Raise::Read)
        CSocketLayer::OnReceive(error);
    else if (raise == Raise::Write)
        CSocketLayer::OnSend(0);
}

void CSslSocketLayer::OnSend(int error)
{
    int notice = 0;
    Raise raise = Raise::Write;
    {
        std::lock_guard lock(mutex);
        if (ssl != nullptr && error == 0) {
            if (!established) {
                notice = DriveHandshake();
                raise = Raise::Nothing;
            } else if (!Flush() && !failed) {
                raise = Raise::Nothing;  // the next write notification goes on
            } else {
                writeWanted = false;
            }
        }
    }
    Notify(notice);
    if (raise == Raise::Write)
        CSocketLayer::OnSend(error);
}

void CSslSocketLayer::OnClose(int error)
{
    int notice = 0;
    {
        std::lock_guard lock(mutex);
        if (ssl != nullptr) {
            // What is still on its way stays readable below until the end of the stream:
            // the reads that follow take it, then see the end.
            if (!established && !failed) {
                notice = DriveHandshake();
                if (!established && !failed) {
                    Fail("the server closed the connection during the TLS handshake");
                    notice = SSL_NOTICE_FAILED;
                }
            }
        }
    }
    Notify(notice);
    CSocketLayer::OnClose(error);
}
