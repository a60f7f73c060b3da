#pragma once
// A session under test: short time-outs, a recording UI, and helpers to wait for its log.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "session/FtpSession.h"
#include "tests/support/RecordingSessionUi.h"

namespace sessiontest {

using namespace std::chrono_literals;

// Long enough for a login on a loaded machine; a healthy run never waits this long.
constexpr auto kLogWait = 30s;

class SessionTestBase : public ::testing::Test {
protected:
    SessionTestBase() {
        settings.Timeout = 2;
        settings.RetryDelay = 1;
        settings.ErrorRetry = 0;
        settings.KeepAlive = 0;
    }
    ~SessionTestBase() override {
        if (session) session->StopThread();
    }

    void Open(const CSessionSite& site) {
        session = std::make_unique<CFtpSession>(settings, site);
        session->SetUi(&ui);
        ASSERT_TRUE(session->Start());
    }

    bool WaitForLine(const std::string& text, int occurrence = 1) {
        return ui.WaitForLine(text, kLogWait, occurrence);
    }

    // Waits for the `occurrence`-th piece of kind `kind` whose text starts with `start`.
    bool WaitForLineStarting(int kind, const std::string& start, int occurrence = 1) {
        return ui.WaitUntil(
            [&](const std::vector<CLogLine>& lines) {
                int seen = 0;
                for (const CLogLine& line : lines) {
                    if (line.kind == kind && line.text.rfind(start, 0) == 0) ++seen;
                }
                return seen >= occurrence;
            },
            kLogWait);
    }

    // The first reply after the `occurrence`-th command line `command` (waits for it);
    // empty when none came.
    std::string ReplyAfter(const std::string& command, int occurrence = 1) {
        std::string reply;
        ui.WaitUntil(
            [&](const std::vector<CLogLine>& lines) {
                int seen = 0;
                for (size_t i = 0; i < lines.size(); ++i) {
                    if (lines[i].kind != LOG_COMMAND || lines[i].text != command) continue;
                    if (++seen < occurrence) continue;
                    for (size_t j = i + 1; j < lines.size(); ++j) {
                        if (lines[j].kind == LOG_REPLY && lines[j].prefix) {
                            reply = lines[j].text;
                            return true;
                        }
                    }
                    return false;
                }
                return false;
            },
            kLogWait);
        return reply;
    }

    // Index of the first line with exactly this text at or after `from`; -1 when none.
    int IndexOf(const std::string& text, int from = 0) const {
        const auto lines = ui.Lines();
        for (int i = from; i < static_cast<int>(lines.size()); ++i) {
            if (lines[i].text == text) return i;
        }
        return -1;
    }

    // Proves the worker is offline: a command other than connect is refused with the
    // offline question about this site (answered Cancel), so nothing connects.
    bool ConfirmOffline() {
        static const std::string question =
            "127.0.0.1|This site is currently offline.\n Do you wish to get online now?|" +
            std::to_string(MB_OKCANCEL | MB_ICONQUESTION);
        ui.SetMessageBoxAnswer(IDCANCEL);
        int asked = 0;
        for (const auto& call : ui.Calls()) asked += call.name == "MessageBox" && call.detail == question;
        const int refused = ui.CountLines("Not logged in, can't execute command!");
        session->IssueCommand(SimpleCommand(CMD_PWD));
        return ui.WaitForCall("MessageBox", question, kLogWait, asked + 1) &&
               ui.CountLines("Not logged in, can't execute command!") == refused + 1;
    }

    CSettings settings;
    RecordingSessionUi ui;
    std::unique_ptr<CFtpSession> session;
};

}  // namespace sessiontest
