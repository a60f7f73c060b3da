// The session's services that need no server: the waits (run on the test thread, which
// stands in for the worker), the busy flag, Stop and the anti-idle count.

#include "session/FtpSession.h"
#include "session/TransferType.h"

#include <gtest/gtest.h>

#include "platform/Event.h"
#include "tests/support/RecordingSessionUi.h"

namespace {

class SessionServices : public ::testing::Test {
protected:
    SessionServices() {
        settings.Timeout = 1;
        settings.RetryDelay = 1;
        site.address = "127.0.0.1";
        site.username = "alice";
        site.password = "secret";
        Rebuild();
    }

    // A new session over the settings as they stand: the services of a worker follow the
    // table of its current operation, and these tests run no worker.
    void Rebuild() {
        if (session) session->SetUi(nullptr);
        session.reset();
        shared.Replace(settings);
        session = std::make_unique<CFtpSession>(shared, site);
        session->SetUi(&ui);
    }

    // The only log line, which must be an engine line (both flags set).
    void ExpectSingleLine(const std::string& text, int kind) {
        const auto lines = ui.Lines();
        ASSERT_EQ(lines.size(), 1u) << ui.Transcript();
        EXPECT_EQ(lines[0].text, text);
        EXPECT_EQ(lines[0].kind, kind);
        EXPECT_EQ(lines[0].newline, 1);
        EXPECT_EQ(lines[0].prefix, 1);
    }

    CSettings settings;
    CSharedSettings shared;
    CSessionSite site;
    RecordingSessionUi ui;
    std::unique_ptr<CFtpSession> session;
};

TEST_F(SessionServices, WaitForEventReportsWhatEndedIt) {
    struct Case {
        const char* name;
        bool setEvent, stop, serverClosed, passEvent;
        int expected;
        const char* line;  // nullptr: nothing logged
        int kind;
    };
    const Case cases[] = {
        {"event", true, false, false, true, FTP_OK, nullptr, 0},
        {"stop", false, true, false, true, FTP_INTERRUPTED, "Interrupted by user", LOG_ERROR},
        {"stop beats event", true, true, false, true, FTP_INTERRUPTED, "Interrupted by user",
         LOG_ERROR},
        {"server closed", false, false, true, true, FTP_CLOSED,
         "Control connection closed by server.", LOG_ERROR},
        {"time-out", false, false, false, true, FTP_TIMEOUT, "Operation timed out", LOG_ERROR},
        {"pause ran out", false, false, false, false, FTP_TIMEOUT, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSessionUi fresh;
        session->SetUi(&fresh);
        CEvent event;
        if (c.setEvent) event.Set();
        if (c.stop) session->SignalStop();
        if (c.serverClosed) session->SignalServerClosed();
        EXPECT_EQ(session->WaitForEvent(c.passEvent ? &event : nullptr, 1), c.expected);
        const auto lines = fresh.Lines();
        if (c.line == nullptr) {
            EXPECT_TRUE(lines.empty()) << fresh.Transcript();
        } else {
            ASSERT_EQ(lines.size(), 1u) << fresh.Transcript();
            EXPECT_EQ(lines[0].text, c.line);
            EXPECT_EQ(lines[0].kind, c.kind);
        }
    }
}

TEST_F(SessionServices, StopIsConsumedByTheWaitThatSawIt) {
    CEvent event;
    session->SignalStop();
    EXPECT_EQ(session->WaitForEvent(&event, 1), FTP_INTERRUPTED);
    event.Set();
    EXPECT_EQ(session->WaitForEvent(&event, 1), FTP_OK);
}

TEST_F(SessionServices, WaitForTransferEndsOnIdleTimerUnlessDataMoves) {
    CEvent done;
    EXPECT_EQ(session->WaitForTransfer(&done, 1), FTP_TIMEOUT);
    ExpectSingleLine("Operation timed out", LOG_ERROR);

    done.Set();
    EXPECT_EQ(session->WaitForTransfer(&done, 1), FTP_OK);
    session->SignalStop();
    EXPECT_EQ(session->WaitForTransfer(&done, 1), FTP_INTERRUPTED);
}

TEST_F(SessionServices, WaitToRetryPausesSilentlyAfterItsLine) {
    EXPECT_EQ(session->WaitToRetry(), FTP_TIMEOUT);
    ExpectSingleLine("Waiting to retry...", LOG_STATE);
}

TEST_F(SessionServices, ServerClosedPromptFollowsSetting) {
    for (int pClose : {0, 1}) {
        RecordingSessionUi fresh;
        settings.pClose = pClose;
        Rebuild();
        session->SetUi(&fresh);
        session->OnServerClosed();
        int windows = 0;
        for (const auto& call : fresh.Calls()) {
            if (call.name == "ShowMessageWindow") {
                ++windows;
                EXPECT_EQ(call.detail, "127.0.0.1|Control connection closed by server.|modeless");
            }
        }
        EXPECT_EQ(windows, pClose) << "pClose " << pClose;
    }
}

TEST_F(SessionServices, LoginMessageShownOnlyWithSetting) {
    session->ReportLogin("230 Welcome\r\n");
    settings.pLogin = 1;
    Rebuild();
    session->ReportLogin("230 Hello\r\n");
    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "ShowLoginMessage");
    EXPECT_EQ(calls[0].detail, "127.0.0.1|230 Hello\r\n");
}

TEST_F(SessionServices, BusyFlagIsClaimedOnce) {
    EXPECT_FALSE(session->IsBusy());
    EXPECT_TRUE(session->TryBeginCommand());
    EXPECT_TRUE(session->IsBusy());
    EXPECT_FALSE(session->TryBeginCommand());
}

TEST_F(SessionServices, CancelStopsOnlyABusySession) {
    CEvent event;
    session->CancelOperation();  // idle: nothing to stop
    EXPECT_EQ(session->WaitForEvent(nullptr, 1), FTP_TIMEOUT);
    ASSERT_TRUE(session->TryBeginCommand());
    session->CancelOperation();
    EXPECT_EQ(session->WaitForEvent(&event, 1), FTP_INTERRUPTED);
}

TEST_F(SessionServices, CancelOnADrivenSessionStopsTheDriverOnce) {
    CFtpSession driver(shared, site);
    RecordingSessionUi driverUi;
    driver.SetUi(&driverUi);
    driver.SetPairFlag(true);
    session->SetPairFlag(true);
    session->SetDrivingSession(&driver);
    ASSERT_TRUE(session->TryBeginCommand());

    session->CancelOperation();
    EXPECT_FALSE(driver.PairFlag());
    EXPECT_EQ(driver.WaitForEvent(nullptr, 1), FTP_INTERRUPTED);
    EXPECT_EQ(session->WaitForEvent(nullptr, 1), FTP_TIMEOUT);  // own wait untouched

    session->CancelOperation();  // the driver's pair flag is gone: nothing more happens
    EXPECT_EQ(driver.WaitForEvent(nullptr, 1), FTP_TIMEOUT);
}

TEST_F(SessionServices, DisconnectInterruptsTheWait) {
    session->Disconnect();
    EXPECT_EQ(session->WaitForEvent(nullptr, 1), FTP_INTERRUPTED);
}

TEST_F(SessionServices, AntiIdleCountsWhileOfflineWithoutSending) {
    settings.AntiIdleCommandInterval = 3;
    shared.Replace(settings);  // the interface thread's tick reads the current table
    for (int i = 0; i < 5; ++i) session->AntiIdleTick();
    EXPECT_EQ(session->AntiIdleSeconds(), 5);
}

TEST(AntiIdleCommand, EachChoiceIsAHarmlessCommand) {
    struct Case {
        int choice, code, flags;
    };
    const Case cases[] = {
        {0, CMD_CWD, CMDFLAG_SEND_ALWAYS},
        {1, CMD_LIST, 0},
        {2, CMD_PWD, 0},
        {3, CMD_REST, 0},
    };
    for (const Case& c : cases) {
        const CSessionCommand command = CFtpSession::AntiIdleCommand(c.choice);
        EXPECT_EQ(command.code, c.code) << c.choice;
        EXPECT_EQ(command.flags, c.flags) << c.choice;
        EXPECT_TRUE(command.path.empty()) << c.choice;
        EXPECT_TRUE(command.listArguments.empty()) << c.choice;
        EXPECT_EQ(command.restOffset, 0u) << c.choice;
    }
}

TEST(SessionIdentity, AnonymousSitesUseTheAnonymousLogin) {
    CSettings table;
    table.AnonymousPass = "guest@example.org";
    CSharedSettings settings(table);
    CSessionSite site;
    site.address = "ftp.example.org";
    site.username = "alice";
    site.password = "secret";
    for (int loginType : {LOGIN_NORMAL, LOGIN_ANONYMOUS, LOGIN_DOUBLE}) {
        site.logintype = loginType;
        CFtpSession session(settings, site);
        const bool anonymous = loginType == LOGIN_ANONYMOUS;
        EXPECT_EQ(session.UserName(), anonymous ? "anonymous" : "alice") << loginType;
        EXPECT_EQ(session.Password(), anonymous ? "guest@example.org" : "secret") << loginType;
        EXPECT_EQ(session.Host(), "ftp.example.org");
        EXPECT_EQ(session.Port(), 21);
    }
}

TEST(SessionIdentity, ASiteRecordGivesTheSessionItsConnection) {
    CSettings table;
    table.AnonymousPass = "guest@example.org";
    CSharedSettings settings(table);
    CSiteSetting record;
    record.address = "ftp.example.org";
    record.port = 2121;
    record.username = "alice";
    record.password = "secret";
    record.passive = 1;
    record.defremotedir = "/pub";
    for (int loginType : {CSiteSetting::LOGIN_NORMAL, CSiteSetting::LOGIN_ANONYMOUS}) {
        record.logintype = loginType;
        CFtpSession session(settings, record);
        const bool anonymous = loginType == CSiteSetting::LOGIN_ANONYMOUS;
        EXPECT_EQ(session.UserName(), anonymous ? "anonymous" : "alice");
        EXPECT_EQ(session.Password(), anonymous ? "guest@example.org" : "secret");
        EXPECT_EQ(session.Port(), 2121);
        EXPECT_TRUE(session.IsPassive());
        EXPECT_EQ(session.InitialRemoteDirectory(), "/pub");
    }
}

TEST(SessionIdentity, TransferTypeFollowsTheSessionSetting) {
    CSharedSettings settings;
    CFtpSession session(settings, CSessionSite{});
    EXPECT_EQ(session.TransferTypeSetting(), TRANSFER_AUTO);
    EXPECT_EQ(session.ChooseTransferType("a.txt"), TRANSFER_ASCII);
    session.SetTransferTypeSetting(TRANSFER_BINARY);
    EXPECT_EQ(session.ChooseTransferType("a.txt"), TRANSFER_BINARY);
}

}  // namespace
