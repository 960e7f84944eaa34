// Whole simple-mode logins: the translator, its console and a fake command processor in the
// simulated Win32, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>

#include "LineEditor.h"
#include "TerminalModes.h"
#include "login_harness.h"

namespace {

using winsim::test::InputLog;

const char kQuestion[] = "Use advanced features (requires ANSI terminal emulation)? (y/n) [%s]? ";

std::string Question(const char* answer) {
    std::string text = kQuestion;
    return text.replace(text.find("%s"), 2, answer);
}

// The characters of the key-down events written into the console (modifier and special keys,
// which carry none, left out).
std::string KeysTyped(winsim::SimProcess& process) {
    std::string keys;
    for (const INPUT_RECORD& record : InputLog(process)) {
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (record.EventType == KEY_EVENT && key.bKeyDown && key.uChar.AsciiChar != 0)
            keys += key.uChar.AsciiChar;
    }
    return keys;
}

class LoginTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        log_ = RegisterFakeCommandProcessor();
    }
    void TearDown() override { winsim::test::Reset(); }

    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(log_->lock);
        return log_->lines;
    }

    std::shared_ptr<FakeCommandProcessorLog> log_;
};

TEST_F(LoginTest, QuestionRepeatsUntilAnsweredAndLeavesTheNextByteToTheLoop) {
    SimLogin login;
    EXPECT_EQ(login.NewOutput(), Question("y"));
    login.Send("x");
    EXPECT_EQ(login.NewOutput(), "\r\n" + Question("y"));
    login.Send("nA");  // "n" answers; "A" is the first byte the line editor sees
    std::string output = login.NewOutput();
    EXPECT_EQ(output.find("\r\n"), 0u);
    EXPECT_NE(output.find("C:\\>"), std::string::npos);
    EXPECT_NE(output.find('A', 2), std::string::npos);  // echoed, not yet passed on
    EXPECT_EQ(KeysTyped(login.translator()), "");
    EXPECT_EQ(*winsim::test::EnvironmentOf(login.translator(), "TERM"), "vt100");
    EXPECT_TRUE(login.Control().empty());
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(LoginTest, HangingUpWhileAskedEndsTheLoginWithAReport) {
    SimLogin::Options options;
    options.terminal = "dumb";
    SimLogin login(options);
    EXPECT_EQ(login.NewOutput(), Question("n"));
    login.CloseInput();
    EXPECT_NE(login.Wait().code, 0u);
    EXPECT_EQ(Reports(),
              std::vector<std::string>{"Error (RF) asking about ANSI escape sequences: 109"});
    EXPECT_TRUE(winsim::test::CreatedProcesses().empty());
}

TEST_F(LoginTest, FurtherTerminalTypesSettingMakesTheQuestionDefaultToAdvanced) {
    SetSetting("AdvancedTerminalTypes", REG_SZ, winsim::test::RegSz("xterm-* linux"));
    for (const char* type : {"xterm-256color", "screen-256color"}) {
        SimLogin::Options options;
        options.terminal = type;
        SimLogin login(options);
        EXPECT_EQ(login.NewOutput(), Question(type[0] == 'x' ? "y" : "n")) << type;
        login.CloseInput();
        login.Wait();
    }
}

TEST_F(LoginTest, SettingsSelectTheModeAndTheExitPause) {
    SetSetting("modeselection", REG_SZ, winsim::test::RegSz("SIMPLE"));
    SetSetting("ExitDetectionTimeout", REG_DWORD, winsim::test::RegDword(250));
    SimLogin login;
    EXPECT_EQ(login.NewOutput(), "C:\\>");  // no question
    DWORD before = winsim::test::Now();
    login.Send("exit\r");
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_TRUE(login.OutputEnded());
    EXPECT_EQ(Lines(), std::vector<std::string>{"exit"});
    // The pause after the line "exit" lets the watcher end the login before the next read.
    auto sleeps = winsim::test::SleepLog();
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0].milliseconds, 250u);
    EXPECT_GE(sleeps[0].at, before);
}

TEST_F(LoginTest, AUtf8ClientTypesAndReadsCharactersBeyondTheCodePages) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SetSetting("Utf8Client", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login;
    login.NewOutput();
    // "café ─│┌", a sequence cut short by a space and a lone continuation byte.
    const std::string text = "caf\xc3\xa9 \xe2\x94\x80\xe2\x94\x82\xe2\x94\x8c";
    login.Send("echo " + text + " \xe2\x94 \x80\r");
    const std::string shown = text + " \xef\xbf\xbd \xef\xbf\xbd";
    // The echo as typed, then the command's output from the console's 437 as UTF-8 (437 has
    // no U+FFFD: the command read "?").
    EXPECT_EQ(login.NewOutput(), "echo " + shown + "\r\n" + text + " ? ?\r\nC:\\>");
    EXPECT_EQ(Lines(), std::vector<std::string>{"echo caf\x82 \xc4\xb3\xda ? ?"});
    // Characters the layout has no key for arrive as VK_PACKET with the character.
    std::vector<WCHAR> packets;
    for (const INPUT_RECORD& record : InputLog(login.translator())) {
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (key.bKeyDown && key.wVirtualKeyCode == VK_PACKET)
            packets.push_back(key.uChar.UnicodeChar);
    }
    EXPECT_EQ(packets, (std::vector<WCHAR>{0xE9, 0x2500, 0x2502, 0x250C, 0xFFFD, 0xFFFD}));
    // A program that switches the console to UTF-8 reads and writes every character; the relay
    // follows the output code page after any pause in the output, here one of 1 ms.
    login.Send("chcp 65001\r");
    login.NewOutput();
    winsim::test::Advance(1);
    login.Send("echo " + text + " \xe6\x97\xa5\r");
    EXPECT_EQ(login.NewOutput(),
              "echo " + text + " \xe6\x97\xa5\r\n" + text + " \xe6\x97\xa5\r\nC:\\>");
    login.Send("exit\r");
    EXPECT_EQ(login.Wait().code, 0u);
}

TEST_F(LoginTest, TheCommandProcessorsLastWordsReachTheClientBeforeTheLoginEnds) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SimLogin login;
    login.NewOutput();
    // More than the output pipe holds and more than one chunk: the command processor has
    // written all of it, and ended, before the relay has passed it on.
    const std::string words = "exit " + std::string(70, 'w') + " bye";
    NoteModes(kModeBracketedPaste, true);  // reset after them
    login.Send(words + "\r");
    EXPECT_EQ(login.Wait().code, 0u);
    const std::string expected_end =
        words + "\r\n" + words.substr(5) + "\r\n" + TerminalModeReset(kModeBracketedPaste);
    const std::string output = login.Output();
    ASSERT_GE(output.size(), expected_end.size());
    EXPECT_EQ(output.substr(output.size() - expected_end.size()), expected_end);
    EXPECT_TRUE(Reports().empty()) << Reports()[0];
}

TEST_F(LoginTest, ARelayThatCannotFinishHoldsTheEndOfTheLoginForOneSecond) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SimLogin::Options options;
    options.output_capacity = 100;
    options.hold_output = true;  // the client reads nothing: the relay waits in a write
    SimLogin login(options);
    const DWORD before = winsim::test::Now();
    login.Send("exit " + std::string(60, 'w') + "\r");
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(winsim::test::Now() - before, 1000u);
}

// The client goes while the relay waits in a write to it.  The relay must be done with the
// output gate before the static objects are destroyed; the harness destroys them after the
// entry routine's return, as the exit list does, and lets the relay go on during the exit.  A
// relay that does not finish in time is given 1 s, then the process ends without tearing down.
TEST_F(LoginTest, TheClientLeavingStopsTheRelayBeforeTheStaticObjectsGo) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    for (bool release : {true, false}) {
        SimLogin::Options options;
        options.output_capacity = 100;
        options.hold_output = true;
        options.at_exit = [] { Sleep(10); };
        SimLogin login(options);
        login.Send("echo " + std::string(60, 'w') + "\r");  // the echo and one chunk fill it
        const DWORD before = winsim::test::Now();
        login.CloseInput();
        winsim::test::RunUntilIdle();
        if (release) login.ReleaseOutput();
        winsim::ExitStatus status = login.Wait();
        EXPECT_FALSE(status.crashed) << release;
        EXPECT_EQ(status.code, 0u) << release;
        EXPECT_EQ(winsim::test::Now() - before, release ? 10u : 1000u);
        EXPECT_TRUE(Reports().empty()) << Reports().at(0);
        // Nothing of the command processor's output after the chunk in hand.
        EXPECT_EQ(login.Output().find("\r\n" + std::string(60, 'w')), std::string::npos);
    }
}

TEST_F(LoginTest, SettingsOfAnotherTypeCountAsAbsent) {
    SetSetting("ModeSelection", REG_EXPAND_SZ, winsim::test::RegSz("simple"));
    SetSetting("ExitDetectionTimeout", REG_SZ, winsim::test::RegSz("250"));
    SetSetting("CommandProcessor", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login;
    EXPECT_EQ(login.NewOutput(), Question("y"));  // no mode: the question is asked
    login.Send("n");
    login.Send("exit\r");
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(winsim::test::CreatedProcesses().at(0).command_line,
              "\"C:\\windows\\system32\\cmd.exe\"");
    EXPECT_EQ(winsim::test::Sleeps(), std::vector<DWORD>{400});  // the default pause
}

TEST_F(LoginTest, LinesAreEchoedAndEditedHereAndPassedOnAtEnter) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SimLogin login;
    login.NewOutput();
    login.Send("dor\b\bir");
    EXPECT_EQ(login.NewOutput(), "dor\b \b\b \bir");
    EXPECT_EQ(KeysTyped(login.translator()), "");  // nothing reaches the console before Enter
    login.Send("\r");
    EXPECT_EQ(login.NewOutput(), "\r\nunknown: dir\r\nC:\\>");
    EXPECT_EQ(KeysTyped(login.translator()), "dir\r");
    login.Send("echo one\ntwo\r");  // a line feed in line input is ignored
    EXPECT_EQ(login.NewOutput(), "echo onetwo\r\nonetwo\r\nC:\\>");
    login.Send("exit\r");
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"dir", "echo onetwo", "exit"}));
    EXPECT_TRUE(Reports().empty());
}

TEST_F(LoginTest, CtrlCRaisesAConsoleEventAndDropsThePendingLine) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SimLogin login;
    login.NewOutput();
    login.Send("abc\x03");
    DWORD sent = winsim::test::Now();
    EXPECT_EQ(login.NewOutput(), "abc");
    winsim::test::Advance(199);
    EXPECT_EQ(login.NewOutput(), "");
    winsim::test::Advance(1);
    EXPECT_EQ(login.NewOutput(), "\r\n\n>");
    EXPECT_EQ(winsim::test::Now() - sent, 200u);
    EXPECT_EQ(log_->ctrl_c_events.load(), 1);
    EXPECT_EQ(winsim::test::CtrlEvents(login.translator()),
              std::vector<DWORD>{static_cast<DWORD>(CTRL_C_EVENT)});
    login.Send("echo after\r");
    EXPECT_EQ(login.NewOutput(), "echo after\r\nafter\r\nC:\\>");
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(Lines(), std::vector<std::string>{"echo after"});
}

TEST_F(LoginTest, CharacterAndRawInputPassEveryByteAtOnce) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    {
        SimLogin login;
        login.Send("char\r");
        size_t typed = InputLog(login.translator()).size();
        login.Send("\x01U");  // Ctrl-A U: the Up key
        auto records = InputLog(login.translator());
        ASSERT_EQ(records.size(), typed + 2);
        EXPECT_EQ(records[typed].Event.KeyEvent.wVirtualKeyCode, VK_UP);
        login.CloseInput();
        EXPECT_EQ(login.Wait().code, 0u);
    }
    SimLogin login;
    login.Send("raw\r");
    std::string before = KeysTyped(login.translator());
    login.Send("\x13x\x03");  // raw input: Ctrl-S and Ctrl-C are keys like any other
    EXPECT_EQ(KeysTyped(login.translator()), before + "\x13x\x03");
    EXPECT_EQ(log_->ctrl_c_events.load(), 0);
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
}

TEST_F(LoginTest, KeySequencesAreKeysForSingleCharactersAndNeverTextAtALinePrompt) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SetSetting("KeySequences", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login;
    login.NewOutput();
    // At the line prompt a recognised key is dropped: nothing echoed, nothing in the line.
    login.Send("\033[Ax\033[3~\r");
    EXPECT_EQ(login.NewOutput(), "x\r\nunknown: x\r\nC:\\>");
    login.Send("char\r");
    size_t typed = InputLog(login.translator()).size();
    login.Send("\033[A");
    auto records = InputLog(login.translator());
    ASSERT_EQ(records.size(), typed + 2);
    EXPECT_EQ(records[typed].Event.KeyEvent.wVirtualKeyCode, VK_UP);
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"x", "char"}));
}

// Bracketed paste at the line prompt: characters and tabs are typed, a line end is Enter, other
// controls (Ctrl-A, Ctrl-S, DEL, Ctrl-C) are dropped, and a line beyond the bound is cut with one
// bell.  Asked for at the start, as the terminal sends sequences.
TEST_F(LoginTest, APasteAtTheLinePromptIsTextAndLines) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SetSetting("KeySequences", REG_DWORD, winsim::test::RegDword(1));
    SetSetting("BracketedPaste", REG_DWORD, winsim::test::RegDword(1));
    SetSetting("InputBatching", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login;
    EXPECT_NE(login.NewOutput().find("\033[?2004h"), std::string::npos);
    const std::string long_line = "echo " + std::string(300, 'x');
    login.Send("\033[200~echo a\x01\x13\x7f\tb\x03\r\n" + long_line + "\n\033[201~");
    const std::string output = login.NewOutput();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\a'), 1);
    // A line's echo reaches the client before what the line made the command print.
    EXPECT_LT(output.find("echo a^Ib\r\n"), output.find("\na\tb"));
    EXPECT_NE(output.find("\na\tb"), std::string::npos) << output;
    EXPECT_EQ(log_->ctrl_c_events.load(), 0);
    login.Send("exit\r");
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"echo a\tb", long_line.substr(0, kLineSize), "exit"}));
    // The end of the login turned it off again.
    EXPECT_NE(login.Output().find("\033[?2004l"), std::string::npos);
    EXPECT_EQ(Reports(), std::vector<std::string>{});
}

// With batching the lines of a paste that came together go into the console with one write (a
// second one would fail here), after the echo of them all.
TEST_F(LoginTest, WithBatchingAPastesLinesAreOneWrite) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SetSetting("KeySequences", REG_DWORD, winsim::test::RegDword(1));
    SetSetting("BracketedPaste", REG_DWORD, winsim::test::RegDword(1));
    SetSetting("InputBatching", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login;
    login.NewOutput();
    winsim::test::FailCall("WriteConsoleInputA", ERROR_INVALID_HANDLE, 1);
    login.Send("\033[200~echo one\r\necho two\r\n\033[201~");
    const std::string output = login.NewOutput();
    EXPECT_EQ(output.find("echo one\r\necho two\r\n"), 0u) << output;
    EXPECT_NE(output.find(">two"), std::string::npos) << output;
    EXPECT_TRUE(Reports().empty());
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"echo one", "echo two"}));
}

TEST_F(LoginTest, RloginSendsItsControlBytesAndFollowsTheWindowSize) {
    SimLogin::Options options;
    options.protocol = "rlogin";
    SimLogin login(options);
    EXPECT_EQ(login.Control(), "");  // only after the question
    login.Send("n");
    EXPECT_EQ(login.Control(), "\x10\x80");
    login.Send(RloginSizeMessage(30, 100));
    auto info = winsim::test::ScreenInfo(login.translator());
    EXPECT_EQ(info.dwSize.X, 100);
    EXPECT_EQ(info.dwSize.Y, 30);
    EXPECT_EQ(info.srWindow.Right, 99);
    EXPECT_EQ(info.srWindow.Bottom, 29);
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_NE(winsim::test::EnvironmentOf(login.translator(), "TERM"), nullptr);
}

TEST_F(LoginTest, ATelnetStateMessageWhileAskedResizesAndTheQuestionWaits) {
    SimLogin login;
    login.NewOutput();
    login.Send(TelnetStateMessage(40, 120));
    EXPECT_EQ(login.NewOutput(), "");
    EXPECT_EQ(winsim::test::ScreenInfo(login.translator()).dwSize.X, 120);
    login.Send("n");
    EXPECT_NE(login.NewOutput().find("C:\\>"), std::string::npos);
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
}

TEST_F(LoginTest, TheServerClosingTheInputEndsTheCommandProcessorToo) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    SimLogin login;
    login.Send("echo hi\r");
    EXPECT_NE(login.Output().find("hi\r\n"), std::string::npos);
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    // The command processor never read "exit": it was ended with the login.
    EXPECT_EQ(Lines(), std::vector<std::string>{"echo hi"});
    EXPECT_TRUE(Reports().empty());
}

TEST_F(LoginTest, TwoLoginsInARowEachStartFresh) {
    SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("simple"));
    for (int i = 0; i < 2; ++i) {
        SimLogin login;
        login.Send("abc\x13");  // Ctrl-S leaves the output gate reset
        login.CloseInput();
        EXPECT_EQ(login.Wait().code, 0u);
    }
    SimLogin login;
    login.Send("echo fresh\r");
    EXPECT_NE(login.Output().find("fresh\r\nC:\\>"), std::string::npos);
    login.Send("exit\r");
    EXPECT_EQ(login.Wait().code, 0u);
}

}  // namespace
