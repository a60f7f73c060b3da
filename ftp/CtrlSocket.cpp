#include "ftp/CtrlSocket.h"

#include <cctype>

#include <netinet/in.h>
#include <string_view>

#include "ftp/CertificateCheck.h"
#include "platform/SocketErrors.h"

namespace {

constexpr int REPLY_FAILED = -1;

// Characters that would end the command line early and let the rest of the text
// through as a command of its own.
constexpr std::string_view kLineBreakers("\r\n\0", 3);

std::string UpperCaseVerb(const std::string& text)
{
    std::string line = text;
    for (std::size_t i = 0; i < line.size() && i < 4; ++i)
        line[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
    return line;
}

std::string FirstWord(const std::string& text)
{
    const char* blanks = " \t";
    std::size_t start = text.find_first_not_of(blanks);
    if (start == std::string::npos)
        return {};
    std::size_t end = text.find_first_of(blanks, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool EndsWith(const std::string& text, std::string_view tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsOneOf(const std::string& code, std::initializer_list<std::string_view> accepted)
{
    for (std::string_view candidate : accepted) {
        if (code == candidate)
            return true;
    }
    return false;
}

}  // namespace

CCtrlSocket::CCtrlSocket(SessionLink& owner)
    : session(owner), replyEvent(/*manualReset=*/true, /*initialState=*/true)
{
    overwriteDecisions.fill(OVERWRITE_UNDECIDED);
}

CCtrlSocket::~CCtrlSocket()
{
    // Downloads still waiting for their final names are complete: they get them, without
    // a word to a session that may be going away itself.
    completedDownloads.Finish([](const CCompletedDownloads::Download&, bool, const std::string&) {});
}

std::string CCtrlSocket::ReplyCode(int i) const
{
    if (i < 0 || i >= replyCount)
        return {};
    return replyCodes[i];
}

bool CCtrlSocket::IsReply550() const
{
    return replyCount == 1 && replyCodes[0] == "550";
}

void CCtrlSocket::PrepareForReply()
{
    std::lock_guard lock(replyMutex);
    ForgetReply();
}

void CCtrlSocket::ForgetReply()
{
    replyText.clear();
    replyCount = 0;
    replyStatus = 0;
    replyAheadAwaited = false;
    replyEvent.Reset();
}

int CCtrlSocket::SendCommand(const std::string& text, int waitForReply)
{
    return SendLines({text}, waitForReply);
}

int CCtrlSocket::SendCommandsTogether(const std::string& first, const std::string& second)
{
    return SendLines({first, second}, 1);
}

int CCtrlSocket::SendLines(const std::vector<std::string>& texts, int waitForReply)
{
    for (const std::string& text : texts) {
        if (text.find_first_of(kLineBreakers) != std::string::npos) {
            // A name from a server or a user must never smuggle in a second command.
            {
                std::lock_guard lock(replyMutex);
                replyText.clear();
                replyCount = 0;
            }
            session.Log("Command not sent: it contains a line break or NUL character.", LOG_ERROR);
            return FTP_FAILED;
        }
    }

    const std::string verb = FirstWord(UpperCaseVerb(*texts.begin()));
    // ABOR is the one command meant to go out while a transfer's reply is still owed.
    if (!SameWord(verb, "ABOR")) {
        // An upload's rename held back for the next file's EPSV goes first: the command may
        // change the directory its names are relative to, or end the batch.
        int r = owedRename ? SendOwedRename() : FTP_OK;
        if (r == FTP_OK)
            r = CatchUpWithOwedReply();
        if (r != FTP_OK)
            return r;
    }
    std::string lines;
    for (const std::string& text : texts) {
        std::string line = UpperCaseVerb(text);
        LogCommand(line);
        lines += line + "\r\n";
    }
    {
        // The verb belongs to the reply now awaited: the parser judges that reply by it.
        std::lock_guard lock(replyMutex);
        ForgetReply();
        commandVerb = verb;
        for (auto text = texts.begin() + 1; text != texts.end(); ++text)
            verbsAhead.push_back(FirstWord(UpperCaseVerb(*text)));
    }

    {
        std::lock_guard lock(sendMutex);
        sendBuffer = std::move(lines);
        sendLength = static_cast<int>(sendBuffer.size());
        sentCount = 0;
        lastError = 0;
        sentEvent.Reset();
    }
    OnSend(0);

    int r = session.WaitForEvent(&sentEvent, 0);
    if (r != FTP_OK)
        return r;
    if (lastError != 0)
        return FTP_FAILED;
    if (!waitForReply)
        return FTP_OK;
    return WaitForReply();
}

int CCtrlSocket::CatchUpWithOwedReply()
{
    for (;;) {
        if (!replyEvent.IsSignalled()) {
            // An earlier command was stopped (or timed out) before its reply came, or a
            // command sent together with it was never taken up. That reply must never be
            // read as the answer to the next command: it is awaited first, as long as any
            // reply, and the connection is given up when it does not come.
            session.Log("Waiting for the reply to the interrupted " + commandVerb + " command...", LOG_STATE);
            const int r = session.WaitForEvent(&replyEvent, 0);
            if (r == FTP_TIMEOUT) {
                NoteSilentCommandAhead(r);
                session.Log("The server did not answer the interrupted command; the connection is closed so "
                            "that no later command takes its reply.",
                            LOG_ERROR);
                DropConnection();
                return FTP_CLOSED;
            }
            if (r != FTP_OK)
                return r;
        }
        if (!HasRepliesAhead())
            return FTP_OK;
        AdvanceToNextReply();
    }
}

bool CCtrlSocket::HasRepliesAhead()
{
    std::lock_guard lock(replyMutex);
    return !verbsAhead.empty();
}

void CCtrlSocket::AdvanceToNextReply()
{
    std::lock_guard lock(replyMutex);
    if (verbsAhead.empty())
        return;
    ForgetReply();
    commandVerb = std::move(verbsAhead.front());
    verbsAhead.pop_front();
    replyAheadAwaited = true;
    // What arrived already is this reply's beginning (or all of it, and more).
    replyText = std::move(textAhead);
    textAhead.clear();
    if (EndsWith(replyText, "\n"))
        ParseReceivedReply();
}

void CCtrlSocket::NoteSilentCommandAhead(int result)
{
    // Not a word in reply to a command that went out with the one before it: the server
    // drops what follows a command in the same read.
    if (result != FTP_TIMEOUT || !session.CommandsTogetherAllowed())
        return;
    std::lock_guard lock(replyMutex);
    if (!replyAheadAwaited || !replyText.empty())
        return;
    session.Log("The server did not answer a second command sent together with the first; commands "
                "go out one at a time from now on.",
                LOG_WARNING);
    session.RefuseCommandsTogether();
}

int CCtrlSocket::WaitForReply()
{
    int r = session.WaitForEvent(&replyEvent, 0);
    NoteSilentCommandAhead(r);
    if (r != FTP_OK)
        return r;
    return (lastError != 0 || replyStatus == REPLY_FAILED) ? FTP_FAILED : FTP_OK;
}

void CCtrlSocket::LogCommand(const std::string& line)
{
    if (line.compare(0, 4, "PASS") != 0) {
        session.Log(line, LOG_COMMAND);
        return;
    }
    // A fixed mask: the log must not tell the password's length either.
    session.Log(std::string(kMaskedPasswordCommand), LOG_COMMAND);
}

void CCtrlSocket::OnSend(int error)
{
    std::unique_lock lock(sendMutex);
    if (sendLength == 0) {
        lock.unlock();
        CMySocket::OnSend(error);
        return;
    }
    if (error == WSAENETDOWN) {
        lastError = error;
        sendLength = 0;
        sentEvent.Set();
        DropConnection();
        return;
    }
    while (sentCount < sendLength) {
        int written = Send(sendBuffer.data() + sentCount, sendLength - sentCount);
        if (written < 0) {
            int code = WSAGetLastError();
            if (code == WSAEWOULDBLOCK)
                break;  // the next send notification continues
            session.Log(GetSocketErrorText(code), LOG_ERROR);
            lastError = code;
            sendLength = 0;
            sentEvent.Set();
            DropConnection();
            return;
        }
        if (written == 0)
            break;
        sentCount += written;
    }
    if (sentCount == sendLength) {
        // Written whole: nothing stays pending for later send notifications.
        sendLength = 0;
        sentCount = 0;
        lastError = 0;
        sentEvent.Set();
    }
    lock.unlock();
    CMySocket::OnSend(error);
}

void CCtrlSocket::OnReceive(int error)
{
    char receiveBuffer[1024 + 1];
    int received = Receive(receiveBuffer, 1024);
    if (received < 0) {
        if (WSAGetLastError() == WSAEWOULDBLOCK) {
            CMySocket::OnReceive(error);
            return;
        }
        session.Log("Error occurred", LOG_ERROR);
        DropConnection();
        FailAwaitedReply();
        CMySocket::OnReceive(error);
        return;
    }
    if (received == 0) {
        session.Log("Control Connection Closed.", LOG_STATE);
        DropConnection();
        FailAwaitedReply();
        CMySocket::OnReceive(error);
        return;
    }
    receiveBuffer[received] = '\0';
    // The chunk is text: anything after a NUL byte is not part of it.
    std::string chunk(receiveBuffer);
    if (!chunk.empty())
        HandleReplyChunk(chunk);
    CMySocket::OnReceive(error);
}

void CCtrlSocket::HandleReplyChunk(const std::string& chunk)
{
    std::lock_guard lock(replyMutex);
    if (replyEvent.IsSignalled() && !verbsAhead.empty()) {
        // The reply to a command sent together with the one just answered.
        LogReplyChunk(chunk, textAhead);
        textAhead += chunk;
        if (textAhead.size() > MAX_REPLY_LENGTH) {
            session.Log("Reply too long: more than " + std::to_string(MAX_REPLY_LENGTH) + " bytes.", LOG_ERROR);
            DropConnection();
        }
        return;
    }
    if (replyEvent.IsSignalled()) {
        session.Log("Unexpected response received.", LOG_STATE);
        session.Log(chunk, LOG_REPLY, false, true);
        return;
    }
    LogReplyChunk(chunk, replyText);
    replyText += chunk;
    if (EndsWith(replyText, "\n"))
        ParseReceivedReply();
    if (!replyEvent.IsSignalled() && replyText.size() > MAX_REPLY_LENGTH) {
        session.Log("Reply too long: more than " + std::to_string(MAX_REPLY_LENGTH) +
                        " bytes without its end.",
                    LOG_ERROR);
        FailReply();
    }
}

void CCtrlSocket::LogReplyChunk(const std::string& chunk, const std::string& received)
{
    // A reply that arrives in pieces is shown as one log entry; its continuation lines
    // are indented by two TABs. Lines end at the line feed, so a reply with bare LF line
    // ends is shown the same however it was cut.
    std::string logged;
    if (EndsWith(received, "\n"))
        logged = "\t\t";
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        logged += chunk[i];
        if (chunk[i] == '\n' && i + 1 < chunk.size())
            logged += "\t\t";
    }
    session.Log(logged, LOG_REPLY, false, received.empty());
}

void CCtrlSocket::ParseReceivedReply()
{
    // Commands sent together: the text may go on with the next command's reply.
    std::size_t end = replyText.size();
    switch (ParseReply(replyText, commandVerb, replyCodes, replyCount, verbsAhead.empty() ? nullptr : &end)) {
    case REPLY_INCOMPLETE:
        return;
    case REPLY_COMPLETE:
        if (end < replyText.size()) {
            textAhead.assign(replyText, end);
            replyText.resize(end);
        }
        replyStatus = 0;
        if (replyCodes[0].compare(0, 2, "55") == 0)
            OnActionFailed();
        else if (replyCodes[replyCount - 1][0] == '4' || replyCodes[replyCount - 1][0] == '5')
            EndRefusedTransfer();
        SignalReply();
        return;
    case REPLY_TOO_MANY_CODES:
        session.Log("Too many replies to one command.", LOG_ERROR);
        FailReply();
        return;
    case REPLY_MALFORMED:
        FailReply();
        return;
    }
}

void CCtrlSocket::OnActionFailed()
{
    if (session.ActionFailedPromptEnabled() && !quietRefusals)
        session.ReportActionFailed(replyText);
    // The server refused the transfer: its data connection will never complete.
    if (SameWord(commandVerb, "STOR"))
        session.ForceDataConnectionClosed(/*sending=*/true);
    else if (SameWord(commandVerb, "RETR"))
        session.ForceDataConnectionClosed(/*sending=*/false);
}

void CCtrlSocket::EndRefusedTransfer()
{
    // A transfer the server ended with a negative reply (425 without a data connection,
    // 426 after it broke) will move no more data: nothing should wait for it.
    if (SameWord(commandVerb, "STOR"))
        session.ForceDataConnectionClosed(/*sending=*/true);
    else if (SameWord(commandVerb, "RETR") || SameWord(commandVerb, "LIST") || SameWord(commandVerb, "MLSD"))
        session.ForceDataConnectionClosed(/*sending=*/false);
}

void CCtrlSocket::FailAwaitedReply()
{
    std::lock_guard lock(replyMutex);
    // Nothing more comes for commands sent together with the awaited one either.
    verbsAhead.clear();
    textAhead.clear();
    if (!replyEvent.IsSignalled())
        FailReply();
}

void CCtrlSocket::FailReply()
{
    replyStatus = REPLY_FAILED;
    SignalReply();
}

void CCtrlSocket::SignalReply()
{
    // Both steps happen under replyMutex: a driving thread that sees replyEvent set may go
    // on to send its next command here and pair the sessions, and neither must change
    // what this reply is judged by.
    replyEvent.Set();
    ApplyPairRule();
}

void CCtrlSocket::ApplyPairRule()
{
    if (!session.PairFlag())
        return;
    SessionLink* partner = session.PartnerToInterrupt();
    if (partner != nullptr && partner->PairFlag() && !CompletedTransfer()) {
        // This side failed: end the partner's wait of the site-to-site copy.
        partner->ClearPairFlag();
        partner->SignalStop();
    }
    session.ClearPairFlag();
}

void CCtrlSocket::DropConnection()
{
    if (GetSocketHandle() == INVALID_SOCKET)
        return;
    Close();
    session.SetLoggedIn(false);
    session.SignalServerClosed();
}

void CCtrlSocket::OnConnect(int error)
{
    connectEvent.Set();
    if (error == 0)
        session.Log("Socket connected, waiting for welcome message...", LOG_STATE);
    else
        session.Log(GetSocketErrorText(error), LOG_ERROR);
    lastError = error;
    CMySocket::OnConnect(error);
}

int CCtrlSocket::OnLayerCallback(CSocketLayer* layer, int type, intptr_t param1, intptr_t param2)
{
    if (layer == &sslLayer && type == CSocketLayer::LAYERCALLBACK_LAYERSPECIFIC) {
        tlsEvent.Set();
        return CMySocket::OnLayerCallback(layer, type, param1, param2);
    }
    std::string text;
    int kind = LOG_STATE;
    if (ProxyReportLine(*this, layer, type, param1, param2, text, kind))
        session.Log(text, kind);
    return CMySocket::OnLayerCallback(layer, type, param1, param2);
}

void CCtrlSocket::OnClose(int error)
{
    switch (error) {
    case WSAECONNRESET:
        session.Log("Control connection reset by server.", LOG_ERROR);
        break;
    case WSAECONNABORTED:
        session.Log("Control connection was aborted due to Timeout or other failure.", LOG_ERROR);
        break;
    case 0:
        session.Log("Control Connection Closed", LOG_STATE);
        break;
    case WSAENETDOWN:
        session.Log("The network subsystem failed.", LOG_ERROR);
        break;
    default:
        break;
    }
    Close();
    session.SetLoggedIn(false);
    session.SignalServerClosed();
    // A reply still awaited will never come; whoever waits for it (also a site-to-site
    // partner, whose wait has no server-closed event of ours) must not wait on.
    FailAwaitedReply();
    CMySocket::OnClose(error);
}

int CCtrlSocket::ConnectAndLogin()
{
    commandVerb = "login";
    std::string host = session.Host();
    session.Log("Connecting to " + host + " ...", LOG_STATE);
    PrepareForReply();

    // Every login starts on a fresh socket; whatever the last attempt left is dropped.
    if (GetSocketHandle() != INVALID_SOCKET)
        Close();
    lastError = 0;
    connectEvent.Reset();
    refusedForSecurity = false;
    dataProtected = false;
    const int tlsMode = session.TlsModeSetting();
    const ProxyOptions proxy = session.Proxy();
    std::string proxyProblem;
    if (!InsertProxyLayer(*this, proxy, &proxyProblem, tlsMode != TLS_OFF)) {
        session.Log(proxyProblem, LOG_ERROR);
        return FTP_FAILED;
    }
    if (proxy.Enabled())
        session.Log("Connecting through the " + proxy.Description() + " ...", LOG_STATE);
    if (!Create()) {
        session.Log(GetSocketErrorText(WSAGetLastError()), LOG_ERROR);
        return FTP_FAILED;
    }
    if (!Connect(host.c_str(), static_cast<unsigned>(session.Port()))) {
        int code = WSAGetLastError();
        if (code != WSAEWOULDBLOCK) {
            session.Log(GetSocketErrorText(code), LOG_ERROR);
            return FTP_FAILED;
        }
        int r = session.WaitForTransfer(&connectEvent, 0);
        if (r != FTP_OK)
            return r;
        if (lastError != 0)
            return FTP_FAILED;
    }
    if (tlsMode == TLS_IMPLICIT) {
        int r = StartTls();
        if (r != FTP_OK)
            return r;
    }

    // The welcome, after any preliminary reply.
    int r = WaitForReply();
    if (r != FTP_OK)
        return r;
    if (replyCount == 0 || replyCodes[replyCount - 1] != "220")
        return FTP_FAILED;
    if (tlsMode == TLS_TRY || tlsMode == TLS_REQUIRE) {
        r = NegotiateExplicitTls(tlsMode);
        if (r != FTP_OK)
            return r;
    }
    r = Login();
    if (r != FTP_OK)
        return r;
    if (sslLayer.IsActive()) {
        r = ProtectDataConnections(tlsMode);
        if (r != FTP_OK)
            return r;
    }
    return NegotiateFeatures();
}

int CCtrlSocket::NegotiateExplicitTls(int mode)
{
    int r = SendCommand("auth tls", 1);
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) == "234")
        return StartTls();
    // Any other answer (500, 502, 504, 534, ...) means the server offers no TLS.
    if (mode == TLS_REQUIRE) {
        session.Log("The server does not offer TLS (AUTH TLS was answered " + ReplyCode(0) +
                        "); this site requires an encrypted connection, so nothing is sent in plain text.",
                    LOG_ERROR);
        refusedForSecurity = true;
        return FTP_NOT_AVAILABLE;
    }
    session.Log("The server does not offer TLS: continuing without encryption, as this site allows.",
                LOG_WARNING);
    return FTP_OK;
}

int CCtrlSocket::StartTls()
{
    session.Log("Starting TLS...", LOG_STATE);
    tlsEvent.Reset();
    if (!sslLayer.StartClient(session.Host(), nullptr)) {
        session.Log(sslLayer.ErrorText(), LOG_ERROR);
        return FTP_FAILED;
    }
    if (!sslLayer.IsEstablished()) {
        // A stalled handshake ends like a stalled connect: by the time-out.
        int r = session.WaitForTransfer(&tlsEvent, 0);
        if (r != FTP_OK)
            return r;
    }
    if (!sslLayer.IsEstablished()) {
        session.Log(sslLayer.ErrorText().empty() ? "TLS handshake failed." : sslLayer.ErrorText(), LOG_ERROR);
        return FTP_FAILED;
    }
    session.Log("TLS connection established: " + sslLayer.Description(), LOG_STATE);
    return CheckCertificate();
}

int CCtrlSocket::CheckCertificate()
{
    const CTlsCertificate& certificate = sslLayer.PeerCertificate();
    const std::string where = session.Host() + ":" + std::to_string(session.Port());
    switch (JudgeCertificate(certificate, session.PinnedCertificate())) {
    case CertificateVerdict::Verified:
        session.Log("The server's certificate is valid for " + session.Host() + ".", LOG_STATE);
        return FTP_OK;
    case CertificateVerdict::Pinned:
        session.Log("The server's certificate is the one trusted for " + where + " (" +
                        FingerprintText(certificate.sha256) + ").",
                    LOG_STATE);
        return FTP_OK;
    case CertificateVerdict::Changed:
        // Never passed silently: only the user's explicit answer for this very
        // certificate lets the connection go on.
        session.Log("WARNING: THE CERTIFICATE OF " + where +
                        " HAS CHANGED. It is not the certificate you trusted for this server (" +
                        FingerprintText(session.PinnedCertificate()) +
                        "). Someone may be intercepting the connection.\n" + DescribeCertificate(certificate),
                    LOG_ERROR);
        break;
    case CertificateVerdict::Unknown:
        session.Log("The server's certificate is not trusted.\n" + DescribeCertificate(certificate), LOG_WARNING);
        break;
    }
    const int trust = session.AskCertificateTrust(certificate, session.PinnedCertificate());
    if (trust == CERT_TRUST_ALWAYS) {
        session.RememberCertificate(certificate.sha256);
        session.Log("Certificate " + FingerprintText(certificate.sha256) + " trusted for " + where +
                        " from now on.",
                    LOG_STATE);
        return FTP_OK;
    }
    if (trust == CERT_TRUST_ONCE) {
        session.Log("Certificate " + FingerprintText(certificate.sha256) + " trusted for this connection.",
                    LOG_STATE);
        return FTP_OK;
    }
    session.Log("Connection refused: the certificate of " + where + " is not trusted (" +
                    FingerprintText(certificate.sha256) + ").",
                LOG_ERROR);
    refusedForSecurity = true;
    DropConnection();
    return FTP_NOT_AVAILABLE;
}

int CCtrlSocket::ProtectDataConnections(int mode)
{
    int r = SendCommand("pbsz 0", 1);
    if (r != FTP_OK)
        return r;
    r = SendCommand("prot p", 1);
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) == "200") {
        dataProtected = true;
        return FTP_OK;
    }
    if (mode == TLS_TRY) {
        session.Log("The server refused to encrypt data connections: file data and listings go in plain "
                    "text, as this site allows.",
                    LOG_WARNING);
        return FTP_OK;
    }
    session.Log("The server refused to encrypt data connections (PROT P); this site requires encryption.",
                LOG_ERROR);
    refusedForSecurity = true;
    return FTP_NOT_AVAILABLE;
}

int CCtrlSocket::NegotiateFeatures()
{
    features = ServerFeatures{};
    epsvRefused = eprtRefused = mlsdRefused = epsvAccepted = false;
    int r = SendQuietly("feat");
    if (r != FTP_OK)
        return r;
    if (ReplyCode(0) == "211")
        features = ParseFeatReply(replyText);
    if (features.utf8) {
        // Names are bytes either way; the server is told to send and take UTF-8 ones.
        r = SendQuietly("opts UTF8 ON");
        if (r != FTP_OK)
            return r;
    }
    if (features.mlst) {
        const std::string facts = WantedMlstFacts(features.mlstFacts);
        if (!facts.empty()) {
            r = SendQuietly("opts MLST " + facts);
            if (r != FTP_OK)
                return r;
        }
    }
    return FTP_OK;
}

bool CCtrlSocket::ControlIsIpv6()
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (!GetPeerName(reinterpret_cast<sockaddr*>(&peer), &length))
        return false;
    if (peer.ss_family != AF_INET6)
        return false;
    return !IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr);
}

int CCtrlSocket::Login()
{
    std::string loginMessage = replyText;

    int r = SendCommand("user " + session.UserName(), 1);
    if (r != FTP_OK)
        return r;
    std::string code = ReplyCode(0);
    if (!IsOneOf(code, {"230", "530", "331", "332"}))
        return FTP_FAILED;
    loginMessage += replyText;

    if (code != "230") {
        r = SendCommand("pass " + session.Password(), 1);
        if (r != FTP_OK)
            return r;
        // "530": the server refused this login; asking again would not change that.
        if (ReplyCode(0) == "530" || (code == "530" && ReplyCode(0)[0] == '5'))
            return FTP_NOT_AVAILABLE;
        if (!IsOneOf(ReplyCode(0), {"230", "332", "202"}))
            return FTP_FAILED;
        loginMessage += replyText;
    }

    session.SetLoggedIn(true);
    session.ReportLogin(loginMessage);
    return FTP_OK;
}
