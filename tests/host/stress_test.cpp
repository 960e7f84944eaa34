// Logins under load, for the thread checker: the input side, the output relay or screen mirror,
// the child watcher and the command processor all busy at once, with fast typing, resizes,
// redraws, and the command processor ending while a pass or a relay is under way.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "login_harness.h"
#include "vterm_terminal.h"

namespace {

namespace test = winsim::test;

// A client terminal large enough for every size used here.
class Terminal : public VtermTerminal {
  public:
    Terminal() : VtermTerminal(60, 160) {}
};

// Whether the bytes of `part` appear in `whole` in their order, others possibly among them.
bool IsSubsequence(const std::string& part, const std::string& whole) {
    size_t at = 0;
    for (char c : whole) {
        if (at < part.size() && part[at] == c) ++at;
    }
    return at == part.size();
}

class StressTest : public testing::Test {
  protected:
    void SetUp() override {
        test::Reset();
        log_ = RegisterFakeCommandProcessor();
    }
    void TearDown() override { test::Reset(); }

    void SetMode(const char* mode) { SetSetting("ModeSelection", REG_SZ, test::RegSz(mode)); }
    std::string Word() {
        std::string word;
        for (int n = 1 + static_cast<int>(random_() % 8); n > 0; --n)
            word += static_cast<char>('a' + random_() % 26);
        return word;
    }
    int Below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

    std::shared_ptr<FakeCommandProcessorLog> log_;
    std::mt19937 random_{20261208};
};

TEST_F(StressTest, SimpleLoginsWithFastTypingResizesAndAnExitWhileOutputFlows) {
    SetMode("simple");
    for (int login_number = 0; login_number < 4; ++login_number) {
        SimLogin login;
        std::vector<std::string> words;
        for (int round = 0; round < 30; ++round) {
            // Several lines in one write, edited as they are typed, with a resize among them.
            std::string burst;
            for (int line = 0; line < 3; ++line) {
                std::string word = Word();
                words.push_back(word);
                burst += "echo x\b" + word + "\r";
            }
            if (Below(4) == 0) burst += TelnetStateMessage(20 + Below(40), 40 + Below(80));
            if (Below(8) == 0) {
                // Ctrl-C once the lines before it have been taken, so that none is cut short.
                test::Advance(300);
                login.Send("\x03");
            }
            login.Send(burst);
            test::Advance(static_cast<DWORD>(Below(60)));
        }
        // Every line's output reaches the client.  (Output still in the translation pipe when
        // the command processor ends is dropped: the child watcher closes the socket output at
        // once.  So the lines are given time before the exit.)
        const std::string last = "\n" + words.back() + "\r\n";
        for (int wait = 0; wait < 100 && login.Output().find(last) == std::string::npos; ++wait)
            test::Advance(500);
        // The command processor ends at once, while the relay may still be sending.
        login.Send("echo last\rexit\r");
        winsim::ExitStatus status = login.Wait();
        EXPECT_EQ(status.code, 0u);
        EXPECT_FALSE(status.crashed);
        // The relay may write once more after the child watcher closed the socket output.
        for (const std::string& report : Reports())
            EXPECT_EQ(report, "Writing translated output to socket: 6");
        const std::string output = login.Output();
        // The command processor had every line, in order; its answers all reached the client,
        // in order, with the editor's echoes written among them.
        std::vector<std::string> lines;
        {
            std::lock_guard<std::mutex> guard(log_->lock);
            lines = log_->lines;
        }
        ASSERT_GE(lines.size(), words.size());
        std::string answers;
        for (size_t i = 0; i < words.size(); ++i) {
            EXPECT_EQ(lines[i], "echo " + words[i]);
            answers += words[i] + "\r\nC:\\>";
        }
        EXPECT_TRUE(IsSubsequence(answers, output)) << testing::PrintToString(output);
        test::Reset();
        log_ = RegisterFakeCommandProcessor();
        SetMode("simple");
    }
}

TEST_F(StressTest, AdvancedLoginsWithTypingResizesRedrawsAndAnExitDuringAPass) {
    SetMode("advanced");
    for (int login_number = 0; login_number < 4; ++login_number) {
        SimLogin::Options options;
        options.console.buffer = COORD{60, 20};
        options.console.window = SMALL_RECT{0, 0, 59, 19};
        SimLogin login(options);
        Terminal client;
        for (int round = 0; round < 25; ++round) {
            switch (Below(6)) {
                case 0:
                    login.Send(TelnetStateMessage(10 + Below(30), 20 + Below(100)));
                    break;
                case 1:
                    login.Send(Below(2) == 0 ? "\x12" : "\x01\x12");  // redraw
                    break;
                case 2:
                    login.Send("size " + std::to_string(30 + Below(60)) + " " +
                               std::to_string(10 + Below(20)) + "\r");
                    break;
                default:
                    // Typing fast: a whole line in one write, then more before the pass.
                    login.Send("echo " + Word());
                    test::Advance(static_cast<DWORD>(Below(40)));
                    login.Send(" " + Word() + "\r");
                    break;
            }
            test::Advance(static_cast<DWORD>(Below(200)));
        }
        // Once the typing has been taken in (each line pauses for an ending command processor)
        // and the mirror has settled, the client shows what the console holds.
        size_t keys = 0;
        for (int wait = 0; wait < 100; ++wait) {
            test::Advance(1000);
            size_t now = test::InputLog(login.translator()).size();
            if (now == keys) break;
            keys = now;
        }
        client.Feed(login.Output());
        CONSOLE_SCREEN_BUFFER_INFO info = test::ScreenInfo(login.translator());
        for (int row = 0; row < info.dwSize.Y; ++row)
            EXPECT_EQ(client.Row(row), test::ScreenRow(login.translator(), row)) << "row " << row;
        // "exit" makes the keystroke's pass begin as the command processor ends.
        login.Send("exit");
        test::Advance(static_cast<DWORD>(Below(40)));
        login.Send("\r");
        test::Advance(static_cast<DWORD>(Below(35)));
        winsim::ExitStatus status = login.Wait();
        EXPECT_EQ(status.code, 0u);
        EXPECT_FALSE(status.crashed);
        EXPECT_EQ(g_translator.mirror_stop.load(), 1);
        EXPECT_TRUE(Reports().empty()) << Reports().at(0);
        test::Reset();
        log_ = RegisterFakeCommandProcessor();
        SetMode("advanced");
    }
}

}  // namespace
