#pragma once
// CCtrlSocket: the FTP control connection of one site session. It carries one command
// at a time: writes the command line, collects the reply lines, decides when the reply
// is complete, keeps the reply codes for the operation that asked, and wakes the
// session's worker thread. Every line sent and every chunk received goes to the site log.
//
// Usage (on the session's worker thread, whose waits pump the socket's notifications):
//   CCtrlSocket ctrl(session);
//   if (ctrl.ConnectAndLogin() != FTP_OK) ...
//   if (ctrl.SendCommand("pwd", 1) == FTP_OK && ctrl.ReplyCode(0) == "257") ...
//
// Commands are passed in lower case ("type i"); the first four characters go out
// upper-cased ("TYPE i") and a password is masked in the log, never on the wire.

#include <string>

#include "ftp/FtpTypes.h"
#include "ftp/ReplyParser.h"
#include "ftp/SessionLink.h"
#include "net/MySocket.h"
#include "platform/Event.h"

class CCtrlSocket : public CMySocket {
public:
    explicit CCtrlSocket(SessionLink& session);
    ~CCtrlSocket() override;

    // Sends one command line; with waitForReply non-zero, also waits until its reply is
    // complete. Returns an FtpResult. A command holding CR, LF or NUL is never sent.
    int SendCommand(const std::string& text, int waitForReply);
    // Waits for the reply to a command sent without waiting.
    int WaitForReply();
    // Forgets the previous reply and marks a reply as awaited.
    void PrepareForReply();
    // True when the reply was exactly one "550".
    bool IsReply550() const;
    // Opens the connection to the session's host, reads the welcome and logs in.
    int ConnectAndLogin();

    // The reply to the current command.
    const std::string& ReplyText() const { return replyText; }
    int ReplyCount() const { return replyCount; }
    // The code of reply i (0 the first); empty when there is none.
    std::string ReplyCode(int i) const;
    // First word of the last command line sent, as sent ("login" while logging in).
    const std::string& CommandVerb() const { return commandVerb; }

protected:
    void OnClose(int error) override;
    void OnConnect(int error) override;
    void OnReceive(int error) override;
    void OnSend(int error) override;

    // Operations built from commands need the session too.
    SessionLink& session;

private:
    int Login();
    void HandleReplyChunk(const std::string& chunk);
    void LogReplyChunk(const std::string& chunk);
    void ParseReceivedReply();
    void FailReply();
    void SignalReply();
    void OnActionFailed();
    // Our side closed the socket after a failure: the session must learn that the
    // connection is gone, as it does when the server closes it.
    void DropConnection();
    void LogCommand(const std::string& line);

    std::string commandVerb;
    std::string sendBuffer;  // the command line being written, CR LF included
    int sendLength = 0;      // 0: nothing to write
    int sentCount = 0;
    CEvent sentEvent;        // auto-reset: the line was written or the attempt failed
    int lastError = 0;       // socket error of the last connect or send
    CEvent connectEvent;     // auto-reset: a connect attempt completed
    CEvent replyEvent;       // manual-reset; set while no reply is outstanding
    int replyStatus = 0;     // 0 complete, -1 failed
    std::string replyText;
    ReplyCodeTable replyCodes;
    int replyCount = 0;
};
