// Whole advanced-mode logins: the translator mirrors the simulated console, with a fake command
// processor in it, to the client, and turns the client's bytes into console input, in virtual
// time.  What the client receives is also rendered by a small ANSI terminal and compared with the
// console's screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "KeySequences.h"
#include "TerminalModes.h"
#include "login_harness.h"
#include "vterm_terminal.h"

namespace {

using winsim::test::Advance;
using winsim::test::InputLog;
using winsim::test::Now;
using winsim::test::ScreenInfo;
using winsim::test::ScreenRow;

// A console of `columns` x `rows` whose window is the whole buffer, as window sizing leaves it.
SimLogin::Options Console(SHORT columns, SHORT rows) {
    SimLogin::Options options;
    options.console.buffer = COORD{columns, rows};
    options.console.window =
        SMALL_RECT{0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
    return options;
}

// Another console program writes `text` at the console's cursor, at this moment of virtual time.
void WriteOnScreen(SimLogin& login, const std::string& text) {
    winsim::SimProcess program;
    winsim::test::ShareConsole(program, login.translator());
    program.Start([text] {
        HANDLE screen =
            CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD written;
        WriteFile(screen, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(screen);
        return 0;
    });
    program.Wait();
}

// The translator's sleeps since the start of the login, as {when, how long}, in order of time.
// Sleeps that begin at one moment on two threads (the mirror's and the input loop's after a
// carriage return) are in no set order, so they are put shortest first.
std::vector<std::pair<DWORD, DWORD>> TranslatorSleeps(SimLogin& login) {
    std::vector<std::pair<DWORD, DWORD>> sleeps;
    DWORD id = winsim::test::ProcessIdOf(login.translator());
    for (const auto& record : winsim::test::SleepLog()) {
        if (record.process_id == id) sleeps.emplace_back(record.at, record.milliseconds);
    }
    std::sort(sleeps.begin(), sleeps.end());
    return sleeps;
}

// The key-down records written into the console since record `from`, without the modifier keys
// pressed around them.
std::vector<KEY_EVENT_RECORD> KeysDown(SimLogin& login, size_t from = 0) {
    std::vector<KEY_EVENT_RECORD> keys;
    auto records = InputLog(login.translator());
    for (size_t i = from; i < records.size(); ++i) {
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        if (records[i].EventType != KEY_EVENT || !key.bKeyDown) continue;
        if (key.wVirtualKeyCode == VK_SHIFT || key.wVirtualKeyCode == VK_CONTROL ||
            key.wVirtualKeyCode == VK_MENU)
            continue;
        keys.push_back(key);
    }
    return keys;
}

// The client types `text` one byte every 50 ms, so that each byte has a pass of its own.  (Bytes
// that arrive together are handled while the mirror may or may not have begun the pass for the
// first, as threads at one moment of virtual time run in no set order.)
void TypeSlowly(SimLogin& login, const std::string& text) {
    for (char c : text) {
        login.Send(std::string(1, c));
        Advance(50);
    }
}

// The first pass on a console of `rows` rows showing the prompt in its first row: the terminal
// cleared, the prompt row, every blank row as one space and an erase, the cursor after the
// prompt.
std::string FirstPass(int rows) {
    std::string pass = "\033[2J\033[1;1fC:\\>\033[0K";
    for (int row = 2; row <= rows; ++row) pass += "\033[" + std::to_string(row) + ";1f \033[0K";
    return pass + "\033[1;5f";
}

class AdvancedLoginTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        log_ = RegisterFakeCommandProcessor();
        SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("advanced"));
    }
    void TearDown() override { winsim::test::Reset(); }

    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(log_->lock);
        return log_->lines;
    }

    // Feeds the new output to the client's screen and checks that it shows what the console
    // holds, row by row, and the cursor where the console has it.
    void ExpectClientShowsConsole(SimLogin& login, VtermTerminal& client) {
        client.Feed(login.NewOutput());
        CONSOLE_SCREEN_BUFFER_INFO info = ScreenInfo(login.translator());
        for (int row = 0; row < info.dwSize.Y; ++row)
            EXPECT_EQ(client.Row(row), ScreenRow(login.translator(), row)) << "row " << row;
        EXPECT_EQ(client.Cursor().row, info.dwCursorPosition.Y);
        EXPECT_EQ(client.Cursor().col, info.dwCursorPosition.X);
        EXPECT_EQ(client.strays(), 0);
    }

    std::shared_ptr<FakeCommandProcessorLog> log_;
};

// ---- Passes over the console --------------------------------------------------------------

TEST_F(AdvancedLoginTest, FirstPassClearsAndSendsEveryRowThenOnlyWhatChanges) {
    SimLogin login(Console(20, 4));
    VtermTerminal client(4, 20);
    Advance(300);
    EXPECT_EQ(login.NewOutput(), FirstPass(4));  // no question: the setting chose the mode

    // An unchanged screen writes nothing.
    Advance(1000);
    EXPECT_EQ(login.NewOutput(), "");

    // A typed key: its position, the character, the cursor.
    login.Send("d");
    Advance(30);
    EXPECT_EQ(login.NewOutput(), "\033[1;5fd\033[1;6f");
    EXPECT_EQ(ScreenRow(login.translator(), 0), "C:\\>d");

    // Only the cursor moves (another program puts it elsewhere): only its position is sent.
    WriteOnScreen(login, "\r");
    Advance(300);
    EXPECT_EQ(login.NewOutput(), "\033[1;1f");

    // A command's output, the new prompt; the client shows what the console shows.
    login.Send("\b\becho hi\r");
    Advance(1000);
    EXPECT_EQ(Lines(), std::vector<std::string>{"echo hi"});
    client.Feed(FirstPass(4));
    ExpectClientShowsConsole(login, client);
    EXPECT_EQ(client.Row(1), "hi");
    EXPECT_EQ(client.Row(2), "C:\\>");
    EXPECT_TRUE(Reports().empty());
}

TEST_F(AdvancedLoginTest, ColorModeSixteenSendsTheConsolesColoursItsOwnAsTheTerminals) {
    for (DWORD mode : {8u, 16u}) {
        winsim::test::Reset();
        log_ = RegisterFakeCommandProcessor();
        SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("advanced"));
        SetSetting("ColorMode", REG_DWORD, winsim::test::RegDword(mode));
        SimLogin::Options options = Console(20, 4);
        options.console.attributes = 0x2E;  // yellow on green: reverse video when simulated
        SimLogin login(options);
        Advance(1000);
        if (mode != 16) {
            EXPECT_NE(login.Output().find("\033[7mC\033[0m"), std::string::npos);
            continue;
        }
        // The default attributes are the terminal's own colours, and a cleared terminal shows
        // its blank rows already.
        EXPECT_EQ(login.Output(), "\033[0m\033[2J\033[1;1f\033[0mC:\\>\033[1;5f");
        CHAR_INFO cell{};
        cell.Char.AsciiChar = 'x';
        cell.Attributes = 0x1E;
        SMALL_RECT region{5, 2, 5, 2};
        HANDLE output = nullptr;
        winsim::SimProcess program;
        winsim::test::ShareConsole(program, login.translator());
        program.Start([&] {
            output =
                CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            WriteConsoleOutputA(output, &cell, COORD{1, 1}, COORD{0, 0}, &region);
            return 0;
        });
        program.Wait();
        login.NewOutput();
        Advance(400);
        // Blue background, and the default's yellow foreground as the terminal's.
        EXPECT_EQ(login.NewOutput(), "\033[3;6f\033[0;44mx\033[1;5f");
        EXPECT_TRUE(Reports().empty());
    }
}

TEST_F(AdvancedLoginTest, SuppressColorSimulationSendsNoReverseVideo) {
    SetSetting("SuppressColorSimulation", REG_DWORD, winsim::test::RegDword(1));
    SimLogin::Options options = Console(20, 4);
    options.console.attributes = 0x2E;  // reverse video when simulated
    SimLogin login(options);
    Advance(1000);
    EXPECT_NE(login.Output().find("\033[1;1fC:\\>"), std::string::npos);
    EXPECT_EQ(login.Output().find("\033[7m"), std::string::npos);
}

TEST_F(AdvancedLoginTest, RedrawAtThePromptAndByKeyCommandResendsEveryRow) {
    SimLogin login(Console(20, 4));
    VtermTerminal client(4, 20);
    login.Send("echo one\r");
    Advance(1000);
    ExpectClientShowsConsole(login, client);
    const std::string repaint =
        "\033[2J\033[1;1fC:\\>echo one\033[0K\033[2;1fone\033[0K"
        "\033[3;1fC:\\>\033[0K\033[4;1f \033[0K\033[3;5f";

    size_t typed = InputLog(login.translator()).size();
    login.Send("\x12");  // Ctrl-R at the prompt
    Advance(30);
    EXPECT_EQ(login.NewOutput(), repaint);
    login.Send("\x01\x12");  // Ctrl-A Ctrl-R
    Advance(30);
    EXPECT_EQ(login.NewOutput(), repaint);
    EXPECT_EQ(InputLog(login.translator()).size(), typed);  // neither injected anything

    // A client whose screen was garbled gets it back.
    VtermTerminal garbled(4, 20);
    garbled.Feed("\033[2;3fnoise");
    login.Send("\x12");
    Advance(30);
    ExpectClientShowsConsole(login, garbled);
}

TEST_F(AdvancedLoginTest, ATelnetWindowSizeRepaintsAtTheNewSize) {
    SimLogin login(Console(20, 4));
    VtermTerminal client(4, 20);
    Advance(300);
    ExpectClientShowsConsole(login, client);

    // The size message wakes nothing: the next timed pass finds the new size.
    login.Send(TelnetStateMessage(6, 30));
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.X, 30);
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.Y, 6);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(300);
    std::string pass = login.NewOutput();
    EXPECT_EQ(pass, FirstPass(6));
    client.Resize(6, 30);
    client.Feed(pass);
    ExpectClientShowsConsole(login, client);
}

TEST_F(AdvancedLoginTest, ScrollingResendsTheRowsThatMoved) {
    SimLogin login(Console(20, 4));
    VtermTerminal client(4, 20);
    login.Send("echo a\r");
    Advance(1000);
    ExpectClientShowsConsole(login, client);

    // The second command's output reaches the last row and the new prompt scrolls the buffer.
    login.Send("echo b\r");
    Advance(1000);
    EXPECT_EQ(ScreenRow(login.translator(), 0), "a");
    EXPECT_EQ(ScreenRow(login.translator(), 3), "C:\\>");
    std::string output = login.NewOutput();
    for (const char* row : {"\033[1;1f", "\033[2;1f", "\033[3;1f", "\033[4;1f"})
        EXPECT_NE(output.rfind(row), std::string::npos) << row + 1;
    client.Feed(output);
    ExpectClientShowsConsole(login, client);
}

TEST_F(AdvancedLoginTest, AVeryLargeBufferIsReadInPiecesAndSentWhole) {
    SimLogin::Options options = Console(80, 25);
    options.console.read_limit = 16384;  // a console that reads at most 64 KB at a time
    SimLogin login(options);
    login.Send("size 300 9999\r");
    Advance(500);
    login.Send("row 9990\r");
    Advance(1000);
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.X, 300);
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.Y, 9999);
    EXPECT_EQ(ScreenRow(login.translator(), 9990), "C:\\>");
    std::string output = login.Output();
    EXPECT_NE(output.find("\033[9991;1fC:\\>"), std::string::npos);
    EXPECT_NE(output.find("\033[9999;1f \033[0K"), std::string::npos);
    EXPECT_NE(output.find("\033[9991;5f"), std::string::npos);  // the cursor
    login.Send("exit\r");
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_TRUE(Reports().empty());
}

// ---- Cadence -------------------------------------------------------------------------------

TEST_F(AdvancedLoginTest, PassesComeEvery300MsIdle100MsAfterSending30MsAfterInput) {
    SimLogin login(Console(20, 4));
    EXPECT_EQ(login.NewOutput(), "");
    Advance(299);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_EQ(login.NewOutput(), FirstPass(4));  // at 300

    // The pass at 300 sent rows: the next one is at 400.
    Advance(50);
    WriteOnScreen(login, "x");
    Advance(49);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_EQ(login.NewOutput(), "\033[1;5fx\033[1;6f");
    EXPECT_EQ(Now(), 400u);

    // That one sent too; the pass at 500 finds nothing, so the next is at 800.
    Advance(150);
    WriteOnScreen(login, "y");
    Advance(249);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_EQ(login.NewOutput(), "\033[1;6fy\033[1;7f");
    EXPECT_EQ(Now(), 800u);

    // A key wakes the mirror at once, which gives it 30 ms to show before reading the screen.
    Advance(10);
    login.Send("d");
    Advance(29);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_EQ(login.NewOutput(), "\033[1;7fd\033[1;8f");
    EXPECT_EQ(TranslatorSleeps(login), (std::vector<std::pair<DWORD, DWORD>>{{810, 30}}));
}

TEST_F(AdvancedLoginTest, AKeyHandledDuringAPassIsFollowedByAPassAtOnce) {
    SimLogin login(Console(20, 4));
    Advance(1000);
    login.NewOutput();
    login.Send("a");  // at 1000: the pass holds the screen lock for its 30 ms
    Advance(10);
    login.Send("b");  // reaches the console now; its wake-up waits for the lock
    EXPECT_EQ(ScreenRow(login.translator(), 0), "C:\\>ab");
    Advance(20);
    EXPECT_EQ(login.NewOutput(), "\033[1;5fab\033[1;7f");
    // The wake-up for "b" was not lost: the next pass starts at once, with poll delay 0.
    Advance(10);
    WriteOnScreen(login, "c");
    Advance(19);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_EQ(login.NewOutput(), "\033[1;7fc\033[1;8f");
    EXPECT_EQ(TranslatorSleeps(login),
              (std::vector<std::pair<DWORD, DWORD>>{{1000, 30}, {1030, 30}}));
}

// Without InputBatching each byte takes the written steps: a one-byte read, a mode query and a
// write per record; with it, the bytes already waiting are one read and one write.
TEST_F(AdvancedLoginTest, InputBatchingAloneChangesTheCallsOfTheBytesRead) {
    for (DWORD batching : {0u, 1u}) {
        SCOPED_TRACE(batching);
        TearDown();
        SetUp();
        if (batching != 0) SetSetting("InputBatching", REG_DWORD, winsim::test::RegDword(1));
        SimLogin login(Console(20, 4));
        Advance(1000);
        winsim::test::LogCalls(true);
        login.Send("ab");  // "a" was being waited for
        std::vector<std::string> calls;
        for (const std::string& call : winsim::test::LoggedCalls(login.translator())) {
            if (call == "ReadFile" || call == "GetConsoleMode" || call == "SetEvent" ||
                call == "WriteConsoleInputA")
                calls.push_back(call);
        }
        winsim::test::LogCalls(false);
        // Up to the last record: the wake after it may wait for the pass that the first woke.
        while (!calls.empty() && calls.back() != "WriteConsoleInputA") calls.pop_back();
        const std::vector<std::string> per_byte = {"GetConsoleMode", "WriteConsoleInputA",
                                                   "WriteConsoleInputA"};
        std::vector<std::string> expected = {"WriteConsoleInputA"};
        if (batching == 0) {
            expected = per_byte;
            expected.insert(expected.end(), {"SetEvent", "ReadFile"});
            expected.insert(expected.end(), per_byte.begin(), per_byte.end());
        }
        EXPECT_EQ(calls, expected);
        EXPECT_EQ(ScreenRow(login.translator(), 0), "C:\\>ab");
    }
}

// With input batching the settle wait leaves the screen lock: typing goes on while the mirror
// waits, and the wake of a key typed then is kept for a pass of its own.
TEST_F(AdvancedLoginTest, WithBatchingTheSettleWaitHoldsNoInputUpAndLosesNoWake) {
    SetSetting("InputBatching", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login(Console(20, 4));
    Advance(1000);
    login.NewOutput();
    login.Send("a");  // at 1000: the mirror's settle wait to 1030
    Advance(10);
    login.Send("b");
    Advance(5);
    login.Send("c");  // not held up behind the wake of "b"
    EXPECT_EQ(ScreenRow(login.translator(), 0), "C:\\>abc");
    Advance(15);
    EXPECT_EQ(login.NewOutput(), "\033[1;5fabc\033[1;8f");
    Advance(10);
    WriteOnScreen(login, "d");
    Advance(19);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_EQ(login.NewOutput(), "\033[1;8fd\033[1;9f");
    EXPECT_EQ(TranslatorSleeps(login),
              (std::vector<std::pair<DWORD, DWORD>>{{1000, 30}, {1030, 30}}));
}

// A pass still holds the lock while it reads and sends: a key's wake and a window-size notice
// that come while a pass waits to write wait for its end, and neither is lost.
TEST_F(AdvancedLoginTest, WithBatchingAWakeAndANoticeDuringAPassComeAfterIt) {
    SetSetting("InputBatching", REG_DWORD, winsim::test::RegDword(1));
    SimLogin::Options options = Console(20, 4);
    options.output_capacity = 16;
    options.hold_output = true;
    SimLogin login(options);
    Advance(300);  // the first pass fills the socket output and waits in its write
    login.Send("x");
    EXPECT_EQ(ScreenRow(login.translator(), 0), "C:\\>x");
    winsim::test::FailCall("SetConsoleScreenBufferSize", ERROR_INVALID_PARAMETER);
    login.Send(TelnetStateMessage(4, 30));
    login.ReleaseOutput();
    Advance(2000);
    const std::string output = login.NewOutput();
    ASSERT_GE(output.size(), FirstPass(4).size());
    EXPECT_EQ(output.substr(0, FirstPass(4).size()), FirstPass(4));
    const std::string after = output.substr(FirstPass(4).size());
    const size_t notice = after.find("\r\n");
    ASSERT_NE(notice, std::string::npos) << after;
    // The key's pass, after the notice; the screen is repainted at its new size later on.
    EXPECT_NE(after.find("x", notice), std::string::npos) << after;
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.X, 29);
}

// With bracketed paste the first pass asks for it, and a paste is typed as characters: Ctrl-A,
// Escape, a key's sequence and Ctrl-C in raw mode; at the prompt a line end is one Enter with no
// exit pause after it, and a Ctrl-C is dropped.
TEST_F(AdvancedLoginTest, ABracketedPasteIsTypedAsItsCharacters) {
    SetSetting("InputBatching", REG_DWORD, winsim::test::RegDword(1));
    SetSetting("BracketedPaste", REG_DWORD, winsim::test::RegDword(1));
    SetSetting("KeySequences", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login(Console(40, 6));
    Advance(1000);
    EXPECT_EQ(login.NewOutput().rfind("\033[?2004h", 0), 0u);
    winsim::test::SetInputMode(login.translator(), 0);
    size_t from = InputLog(login.translator()).size();
    login.Send("\033[200~\x01\033\033[A\x03x\r\n\033[201~");
    Advance(1000);
    std::string chars;
    for (const KEY_EVENT_RECORD& key : KeysDown(login, from)) chars += key.uChar.AsciiChar;
    EXPECT_EQ(chars, "\x01\033\033[A\x03x\r");
    EXPECT_TRUE(winsim::test::CtrlEvents(login.translator()).empty());

    winsim::test::SetInputMode(login.translator(), 0x1f7);
    from = InputLog(login.translator()).size();
    const size_t sleeps = TranslatorSleeps(login).size();
    login.Send("\033[200~echo a\x03\r\necho b\n\033[201~");
    Advance(1000);
    chars.clear();
    for (const KEY_EVENT_RECORD& key : KeysDown(login, from)) chars += key.uChar.AsciiChar;
    EXPECT_EQ(chars, "echo a\recho b\r");
    EXPECT_TRUE(winsim::test::CtrlEvents(login.translator()).empty());
    for (size_t i = sleeps; i < TranslatorSleeps(login).size(); ++i)
        EXPECT_NE(TranslatorSleeps(login)[i].second, 400u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"\x01\033\033[A\x03x", "echo a", "echo b"}));
    EXPECT_TRUE(Reports().empty());
}

// A batch goes into the console with one write: a second write would fail here.
TEST_F(AdvancedLoginTest, WithBatchingTheBytesThatCameTogetherAreOneWrite) {
    SetSetting("InputBatching", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login(Console(40, 6));
    Advance(1000);
    const size_t from = InputLog(login.translator()).size();
    winsim::test::FailCall("WriteConsoleInputA", ERROR_INVALID_HANDLE, 1);
    login.Send("hello");
    Advance(100);
    EXPECT_EQ(KeysDown(login, from).size(), 5u);
    EXPECT_TRUE(Reports().empty());
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
}

// ---- A shorter settle delay ---------------------------------------------------------------

// The client types a key that nothing echoes (the console reads without echo); another program
// shows something `shows_after` ms later.  Returns how long after the key the mirror sent it.
DWORD KeyShownAfter(SimLogin& login, DWORD shows_after) {
    winsim::test::SetInputMode(login.translator(), 0);
    login.NewOutput();
    const DWORD at = Now();
    login.Send("k");
    Advance(shows_after);
    WriteOnScreen(login, "x");
    while (login.NewOutput().empty() && Now() - at < 1000) Advance(1);
    return Now() - at;
}

TEST_F(AdvancedLoginTest, ASettleDelayOf2SendsAKeyAtTheFirstPassAfterItShows) {
    SetSetting("InputSettleDelay", REG_DWORD, winsim::test::RegDword(2));
    SimLogin login(Console(40, 6));
    Advance(1000);
    std::vector<std::pair<DWORD, DWORD>> sleeps;
    for (DWORD shows_after : {1u, 5u, 25u}) {
        sleeps.emplace_back(Now(), 2);
        EXPECT_EQ(KeyShownAfter(login, shows_after), shows_after + 1);
        // The pass that sent it is followed by the next within the usual 100 ms.
        Advance(50);
        WriteOnScreen(login, "y");
        Advance(49);
        EXPECT_EQ(login.NewOutput(), "");
        Advance(1);
        EXPECT_NE(login.NewOutput(), "");
        Advance(1000);
    }
    EXPECT_EQ(TranslatorSleeps(login), sleeps);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(AdvancedLoginTest, AShortSettleDelayLooksFor30MsAfterTheLatestKeyAndNoLonger) {
    SetSetting("InputSettleDelay", REG_DWORD, winsim::test::RegDword(7));
    SimLogin login(Console(40, 6));
    Advance(1000);
    // Passes at 7, 14, 21, 28 and a last one at 30.
    EXPECT_EQ(KeyShownAfter(login, 29), 30u);
    Advance(1000);
    // Shown 31 ms after the key: the idle pass 300 ms after the one at 30 finds it.
    EXPECT_EQ(KeyShownAfter(login, 31), 330u);
    Advance(1000);

    // A second key at 11 (between the passes at 7 and 14) starts the 30 ms again: passes at 18,
    // 25, 32, 39, 41.
    winsim::test::SetInputMode(login.translator(), 0);
    login.NewOutput();
    const DWORD at = Now();
    login.Send("a");
    Advance(11);
    login.Send("b");
    Advance(25);
    WriteOnScreen(login, "x");  // at 36
    Advance(2);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_NE(login.NewOutput(), "");
    auto all = TranslatorSleeps(login);
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2], std::make_pair(at, 7u));
    EXPECT_EQ(all.back(), std::make_pair(at + 11, 7u));
}

// With every setting a modern terminal gets, a keystroke's echo takes one key write on the input
// side and, on the mirror's, the reads of the screen alone (its geometry, the scrollback mark's
// cell, the window); which buffer is shown, the cursor, the title and the mouse mode follow in a
// full pass one step later, which keeps the cadence of a pass that sent.  Keys that keep coming
// still get a full pass every 30 ms.
TEST_F(AdvancedLoginTest, AnEchoPassReadsTheScreenAloneAndAFullPassFollowsAStepLater) {
    for (const char* name : {"FullScreenPrograms", "MouseInput", "InputBatching", "Utf8Client"})
        SetSetting(name, REG_DWORD, winsim::test::RegDword(1));
    SetSetting("ScrollbackLines", REG_DWORD, winsim::test::RegDword(200));
    SetSetting("InputSettleDelay", REG_DWORD, winsim::test::RegDword(2));
    SimLogin login(Console(40, 6));
    Advance(1000);
    login.NewOutput();
    auto set_title = [&login](const wchar_t* title) {
        winsim::SimProcess program;
        winsim::test::ShareConsole(program, login.translator());
        program.Start([title] { return SetConsoleTitleW(title) ? 0 : 1; });
        program.Wait();
    };

    winsim::test::LogCalls(true);
    login.Send("a");  // the console echoes it at once
    set_title(L"typed");
    Advance(2);
    EXPECT_EQ(login.NewOutput(), "\033[1;5fa\033[1;6f");
    std::vector<std::string> console_calls;
    for (const std::string& call : winsim::test::LoggedCalls(login.translator())) {
        if (call == "WriteFile") break;  // the echo's
        if (call.find("Console") != std::string::npos || call == "CreateFileA" ||
            call == "CloseHandle")
            console_calls.push_back(call);
    }
    EXPECT_EQ(console_calls,
              (std::vector<std::string>{"WriteConsoleInputW", "GetConsoleScreenBufferInfo",
                                        "ReadConsoleOutputW", "ReadConsoleOutputW"}));
    winsim::test::LogCalls(false);
    Advance(1);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_EQ(login.NewOutput(), "\033]2;typed\a");
    WriteOnScreen(login, "y");
    Advance(99);
    EXPECT_EQ(login.NewOutput(), "");
    Advance(1);
    EXPECT_NE(login.NewOutput().find('y'), std::string::npos);

    Advance(1000);
    set_title(L"pasted");
    std::string output;
    for (int i = 0; i < 40; ++i) {
        login.Send("b");
        Advance(1);
        output += login.NewOutput();
        if (i == 31) {
            EXPECT_NE(output.find("\033]2;pasted\a"), std::string::npos);
        }
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(AdvancedLoginTest, ASettleDelayOf30OrMoreSleepsAsWithout) {
    for (DWORD setting : {30u, 31u, 0xFFFFFFFFu}) {
        TearDown();
        SetUp();
        SetSetting("InputSettleDelay", REG_DWORD, winsim::test::RegDword(setting));
        SimLogin login(Console(40, 6));
        Advance(1000);
        TypeSlowly(login, "dir\r");
        Advance(1000);
        EXPECT_EQ(TranslatorSleeps(login),
                  (std::vector<std::pair<DWORD, DWORD>>{
                      {1000, 30}, {1050, 30}, {1100, 30}, {1150, 30}, {1150, 400}}))
            << setting;
        EXPECT_EQ(KeyShownAfter(login, 31), 330u) << setting;
    }
}

// ---- Input by console mode -----------------------------------------------------------------

// Each special byte at the prompt (processed and line input), with processed input only, and
// with processed input off; what reaches the console, what is raised, what the mirror does.
TEST_F(AdvancedLoginTest, SpecialBytesFollowTheConsoleInputMode) {
    SetSetting("ExitDetectionTimeout", REG_DWORD, winsim::test::RegDword(250));
    SimLogin login(Console(40, 6));
    Advance(1000);
    login.NewOutput();
    const DWORD kPrompt = 0x1f7;
    const DWORD kProcessedOnly = ENABLE_PROCESSED_INPUT;
    const DWORD kRaw = 0;

    struct Outcome {
        std::vector<KEY_EVENT_RECORD> keys;
        size_t ctrl_events;
        std::vector<std::pair<DWORD, DWORD>> sleeps;  // relative to the byte's arrival
        bool cleared;
    };
    auto type = [&](DWORD mode, const std::string& bytes) {
        winsim::test::SetInputMode(login.translator(), mode);
        size_t records = InputLog(login.translator()).size();
        size_t events = winsim::test::CtrlEvents(login.translator()).size();
        size_t sleeps = TranslatorSleeps(login).size();
        DWORD at = Now();
        login.Send(bytes);
        Advance(1000);
        Outcome outcome{KeysDown(login, records),
                        winsim::test::CtrlEvents(login.translator()).size() - events,
                        {},
                        login.NewOutput().find("\033[2J") != std::string::npos};
        auto all = TranslatorSleeps(login);
        for (size_t i = sleeps; i < all.size(); ++i)
            outcome.sleeps.emplace_back(all[i].first - at, all[i].second);
        return outcome;
    };
    using Sleeps = std::vector<std::pair<DWORD, DWORD>>;
    const Sleeps woken{{0, 30}};

    // Ctrl-C: an event while input is processed (the command processor counts it), else a key.
    for (DWORD mode : {kPrompt, kProcessedOnly}) {
        int before = log_->ctrl_c_events.load();
        Outcome ctrl_c = type(mode, "\x03");
        EXPECT_TRUE(ctrl_c.keys.empty()) << mode;
        EXPECT_EQ(ctrl_c.ctrl_events, 1u) << mode;
        EXPECT_EQ(log_->ctrl_c_events.load(), before + 1) << mode;
        EXPECT_EQ(ctrl_c.sleeps, woken) << mode;
    }
    Outcome ctrl_c = type(kRaw, "\x03");
    ASSERT_EQ(ctrl_c.keys.size(), 1u);
    EXPECT_EQ(ctrl_c.keys[0].uChar.AsciiChar, 0x03);
    EXPECT_EQ(ctrl_c.ctrl_events, 0u);

    // Escape: VK_ESCAPE at a line prompt; otherwise the key the keyboard has for the character
    // (on this US layout the same key).
    const WORD derived_escape = static_cast<WORD>(VkKeyScanA(0x1B) & 0xFF);
    for (DWORD mode : {kPrompt, kProcessedOnly, kRaw}) {
        Outcome escape = type(mode, "\x1b");
        ASSERT_EQ(escape.keys.size(), 1u) << mode;
        EXPECT_EQ(escape.keys[0].uChar.AsciiChar, 0x1B);
        EXPECT_EQ(escape.keys[0].wVirtualKeyCode, mode == kPrompt ? VK_ESCAPE : derived_escape)
            << mode;
        EXPECT_EQ(escape.sleeps, woken) << mode;
    }
    type(kPrompt, "\b");  // the Escape left in the prompt's line

    // Ctrl-R: a redraw at a line prompt, nothing injected; otherwise the key Ctrl+R.
    Outcome redraw = type(kPrompt, "\x12");
    EXPECT_TRUE(redraw.keys.empty());
    EXPECT_TRUE(redraw.cleared);
    EXPECT_EQ(redraw.sleeps, woken);
    for (DWORD mode : {kProcessedOnly, kRaw}) {
        Outcome key = type(mode, "\x12");
        ASSERT_EQ(key.keys.size(), 1u) << mode;
        EXPECT_EQ(key.keys[0].uChar.AsciiChar, 0x12);
        EXPECT_FALSE(key.cleared) << mode;
    }

    // Carriage return: the exit detection pause follows it only at a line prompt, after the
    // mirror has been woken.
    Outcome line_end = type(kPrompt, "\r");
    EXPECT_EQ(line_end.keys.size(), 1u);
    EXPECT_EQ(line_end.sleeps, (Sleeps{{0, 30}, {0, 250}}));
    for (DWORD mode : {kProcessedOnly, kRaw}) {
        Outcome key = type(mode, "\r");
        EXPECT_EQ(key.keys.size(), 1u) << mode;
        EXPECT_EQ(key.sleeps, woken) << mode;
    }

    // Ctrl-A is a key command in every mode, and wakes the mirror like a key.
    for (DWORD mode : {kPrompt, kProcessedOnly, kRaw}) {
        Outcome up = type(mode, "\x01U");
        ASSERT_EQ(up.keys.size(), 1u) << mode;
        EXPECT_EQ(up.keys[0].wVirtualKeyCode, VK_UP) << mode;
        EXPECT_EQ(up.sleeps, woken) << mode;
    }
    EXPECT_TRUE(Reports().empty());
}

// The records a keystroke writes into the console, as "+vk/char/state" for a press and
// "-vk/char/state" for a release, in hex.
std::vector<std::string> RecordsSince(SimLogin& login, size_t from) {
    std::vector<std::string> shown;
    auto records = InputLog(login.translator());
    for (size_t i = from; i < records.size(); ++i) {
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        char text[32];
        std::snprintf(text, sizeof text, "%c%02x/%02x/%02x", key.bKeyDown ? '+' : '-',
                      key.wVirtualKeyCode, static_cast<BYTE>(key.uChar.AsciiChar),
                      static_cast<unsigned>(key.dwControlKeyState));
        shown.push_back(text);
    }
    return shown;
}

TEST_F(AdvancedLoginTest, KeyCommandsAndCharactersReachTheConsoleAsWritten) {
    using Records = std::vector<std::string>;
    SimLogin login(Console(40, 6));
    Advance(1000);
    // The console programs see the terminal through the mirror, not through TERM.
    EXPECT_EQ(winsim::test::EnvironmentOf(login.translator(), "TERM"), nullptr);
    // A sticky Shift goes with the next key alone.
    size_t from = InputLog(login.translator()).size();
    TypeSlowly(login, "\x01Sab");
    EXPECT_EQ(RecordsSince(login, from), (Records{"+10/00/10", "+41/61/10", "-41/61/10",
                                                  "-10/00/10", "+42/62/00", "-42/62/00"}));
    // Alt alone: the press, 100 ms, then the release, which still tells Alt.
    from = InputLog(login.translator()).size();
    login.Send("\x01Z");
    EXPECT_EQ(RecordsSince(login, from), Records{"+12/00/02"});
    Advance(99);
    EXPECT_EQ(RecordsSince(login, from).size(), 1u);
    Advance(1);
    EXPECT_EQ(RecordsSince(login, from), (Records{"+12/00/02", "-12/00/02"}));
    Advance(1000);
    // A character of the ANSI upper half reaches the console as its OEM character.
    from = InputLog(login.translator()).size();
    login.Send("\xe9");
    std::vector<KEY_EVENT_RECORD> keys = KeysDown(login, from);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(static_cast<BYTE>(keys[0].uChar.AsciiChar), 0x82);  // e acute in code page 437
    EXPECT_TRUE(Reports().empty());
}

TEST_F(AdvancedLoginTest, KeySequencesBecomeKeysAndALoneEscapeWaitsForNoMore) {
    SetSetting("KeySequences", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login(Console(40, 6));
    Advance(1000);
    auto type = [&](const std::string& bytes) {
        size_t records = InputLog(login.translator()).size();
        login.Send(bytes);
        Advance(1000);
        std::vector<std::string> keys;
        auto log = InputLog(login.translator());
        for (size_t i = records; i < log.size(); ++i) {
            const KEY_EVENT_RECORD& key = log[i].Event.KeyEvent;
            if (!key.bKeyDown) continue;
            char text[24];
            std::snprintf(text, sizeof text, "%02x/%02x/%02x", key.wVirtualKeyCode,
                          static_cast<BYTE>(key.uChar.AsciiChar),
                          static_cast<unsigned>(key.dwControlKeyState));
            keys.push_back(text);
        }
        return keys;
    };
    using Keys = std::vector<std::string>;
    const DWORD kSingle = ENABLE_PROCESSED_INPUT;
    for (DWORD mode : {DWORD{0x1f7}, kSingle, DWORD{0}}) {
        winsim::test::SetInputMode(login.translator(), mode);
        EXPECT_EQ(type("\033[A"), Keys{"26/00/00"}) << mode;
        // Ctrl+Left: the Ctrl key around it, as the Ctrl-A commands press it.
        EXPECT_EQ(type("\033[1;5D"), (Keys{"11/00/08", "25/00/08"})) << mode;
        EXPECT_EQ(type("\033[Z"), (Keys{"10/00/10", "09/09/10"})) << mode;
        EXPECT_EQ(type("\033OQ"), Keys{"71/00/00"}) << mode;
    }
    winsim::test::SetInputMode(login.translator(), kSingle);
    // A sticky modifier of the Ctrl-A commands applies to a decoded key too.
    EXPECT_EQ(type("\001S\033[6~"), (Keys{"10/00/10", "22/00/10"}));
    // Escape and a character: Alt and that character.
    EXPECT_EQ(type("\033x"), (Keys{"12/00/02", "58/78/02"}));
    // Sequences that are no key pass on as their characters, as without the setting.
    size_t before = InputLog(login.translator()).size();
    type("\033[9~");
    EXPECT_EQ(KeysDown(login, before).size(), 4u);
    // Keys that arrive together are each decoded.
    EXPECT_EQ(type("\033[B\033[C").size(), 2u);

    // A lone Escape at the prompt is the Escape key, once the wait for more has passed.
    winsim::test::SetInputMode(login.translator(), 0x1f7);
    size_t records = InputLog(login.translator()).size();
    DWORD at = Now();
    login.Send("\033");
    Advance(kKeySequenceWaitMs - 1);
    EXPECT_EQ(InputLog(login.translator()).size(), records);
    Advance(1);
    auto keys = KeysDown(login, records);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].wVirtualKeyCode, VK_ESCAPE);
    EXPECT_EQ(Now() - at, kKeySequenceWaitMs);
    // Its sequence cut short by the wait: Escape, then the rest as characters.
    records = InputLog(login.translator()).size();
    login.Send("\033[");
    Advance(100);
    login.Send("A");
    Advance(1000);
    keys = KeysDown(login, records);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].wVirtualKeyCode, VK_ESCAPE);
    EXPECT_EQ(keys[1].uChar.AsciiChar, '[');
    EXPECT_EQ(keys[2].uChar.AsciiChar, 'A');
    // The rest of a sequence that arrives within the wait completes it.
    records = InputLog(login.translator()).size();
    login.Send("\033[1;");
    Advance(20);
    login.Send("2B");
    Advance(1000);
    keys = KeysDown(login, records);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].wVirtualKeyCode, VK_DOWN);
    // The end of input in the middle of a sequence: its bytes still reach the console.
    records = InputLog(login.translator()).size();
    login.Send("\033[1");
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(KeysDown(login, records).size(), 3u);
    EXPECT_TRUE(Reports().empty());
}

// The mouse events written into the console since record `from`, as "x,y buttons/flags/state".
std::vector<std::string> MouseEvents(SimLogin& login, size_t from) {
    std::vector<std::string> events;
    auto records = InputLog(login.translator());
    for (size_t i = from; i < records.size(); ++i) {
        if (records[i].EventType != MOUSE_EVENT) continue;
        const MOUSE_EVENT_RECORD& e = records[i].Event.MouseEvent;
        char text[48];
        std::snprintf(text, sizeof text, "%d,%d %x/%x/%x", e.dwMousePosition.X, e.dwMousePosition.Y,
                      static_cast<unsigned>(e.dwButtonState), static_cast<unsigned>(e.dwEventFlags),
                      static_cast<unsigned>(e.dwControlKeyState));
        events.push_back(text);
    }
    return events;
}

TEST_F(AdvancedLoginTest, MouseReportsFollowTheConsoleModeAndBecomeMouseEvents) {
    SetSetting("MouseInput", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login(Console(40, 6));
    Advance(1000);
    const std::string on = MouseReportsSwitch(true), off = MouseReportsSwitch(false);
    // The prompt's mode (quick edit) asks for nothing, and a report is dropped whole.
    EXPECT_EQ(login.NewOutput().find("\033[?1000"), std::string::npos);
    size_t records = InputLog(login.translator()).size();
    login.Send("\033[<0;3;2M\033[M !!");
    Advance(1000);
    EXPECT_EQ(InputLog(login.translator()).size(), records);

    // A program asks for mouse input: the next pass asks the terminal for reports.
    const DWORD kMouse = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                         ENABLE_MOUSE_INPUT | ENABLE_EXTENDED_FLAGS;
    winsim::test::SetInputMode(login.translator(), kMouse);
    Advance(400);
    EXPECT_EQ(login.NewOutput(), on);
    // A click and a double click, a drag, a wheel step; an older report, one split within the
    // wait, and one cut short by the wait, which is dropped.
    login.Send("\033[<0;3;2M\033[<0;3;2m\033[<0;3;2M\033[<32;4;2M\033[<0;4;2m\033[<65;4;2M");
    Advance(100);
    login.Send("\033[M\"!!\033[M#!!\033[<16;40");
    Advance(20);
    login.Send(";6M\033[M !");
    Advance(1000);
    EXPECT_EQ(
        MouseEvents(login, records),
        (std::vector<std::string>{"2,1 1/0/0", "2,1 0/0/0", "2,1 1/2/0", "3,1 1/1/0", "3,1 0/0/0",
                                  "3,1 ff880000/4/0", "0,0 2/0/0", "0,0 0/0/0", "39,5 1/0/8"}));
    EXPECT_EQ(InputLog(login.translator()).size(), records + 9);
    // Without KeySequences every other sequence still goes through as its characters.
    login.Send("\033[A");
    Advance(1000);
    EXPECT_EQ(KeysDown(login, records).size(), 3u);
    login.Send("\r");
    Advance(1000);
    login.NewOutput();

    // The mode stops asking: the terminal is told to stop, and a late report is dropped.
    winsim::test::SetInputMode(login.translator(), 0x1f7);
    Advance(400);
    EXPECT_EQ(login.NewOutput(), off);
    records = InputLog(login.translator()).size();
    login.Send("\033[<0;3;2M");
    Advance(1000);
    EXPECT_EQ(InputLog(login.translator()).size(), records);

    // Asked again, the reports are turned off at the end of the login.
    winsim::test::SetInputMode(login.translator(), kMouse);
    Advance(400);
    EXPECT_EQ(login.NewOutput(), on);
    login.Send("exit\r");
    EXPECT_EQ(login.Wait().code, 0u);
    const std::string last = login.NewOutput();
    EXPECT_EQ(last.substr(last.size() - off.size()), off);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(AdvancedLoginTest, TypingACommandPausesOnlyAfterItsCarriageReturn) {
    SimLogin login(Console(40, 6));
    Advance(1000);
    TypeSlowly(login, "dir\r");
    Advance(1000);
    EXPECT_EQ(TranslatorSleeps(login),
              (std::vector<std::pair<DWORD, DWORD>>{
                  {1000, 30}, {1050, 30}, {1100, 30}, {1150, 30}, {1150, 400}}));
    EXPECT_EQ(Lines(), std::vector<std::string>{"dir"});
}

// ---- The end of a login --------------------------------------------------------------------

TEST_F(AdvancedLoginTest, ExitEndsTheLoginAndStopsTheMirror) {
    SimLogin login(Console(20, 4));
    Advance(1000);
    TypeSlowly(login, "exit");
    login.Send("\r");  // at 1200
    winsim::ExitStatus status = login.Wait();
    EXPECT_EQ(status.code, 0u);
    EXPECT_FALSE(status.crashed);
    // The end comes after the exit detection pause, not after the 5 s the mirror is given.
    EXPECT_EQ(Now(), 1200u + 400);
    EXPECT_EQ(g_translator.mirror_stop.load(), 1);
    EXPECT_TRUE(login.OutputEnded());
    EXPECT_EQ(Lines(), std::vector<std::string>{"exit"});
    EXPECT_TRUE(Reports().empty());
}

// What the command processor writes as it ends reaches the client before the connection closes:
// the mirror makes a last pass at once (no settle wait), with and without scrollback, and the
// client then shows the console.
TEST_F(AdvancedLoginTest, TheLastScreenReachesTheClientBeforeTheEnd) {
    for (DWORD scrollback : {0u, 20u}) {
        SCOPED_TRACE(scrollback);
        winsim::test::Reset();
        log_ = RegisterFakeCommandProcessor();
        SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("advanced"));
        if (scrollback != 0)
            SetSetting("ScrollbackLines", REG_DWORD, winsim::test::RegDword(scrollback));
        SimLogin login(Console(40, 4));
        VtermTerminal client(4, 40);
        Advance(1000);
        client.Feed(login.NewOutput());
        TypeSlowly(login, "exit LAST-WORDS-BEFORE-EXIT");
        NoteModes(kModeBracketedPaste | kModeCursorHidden, true);
        const DWORD enter = Now();
        login.Send("\r");
        EXPECT_EQ(login.Wait().code, 0u);
        EXPECT_EQ(Now(), enter + 400);  // the exit detection pause: the last pass costs nothing
        EXPECT_TRUE(login.OutputEnded());
        // The client shows the console's window (the whole buffer without scrollback), and the
        // modes the login set are reset after it.
        const std::string last = login.NewOutput();
        EXPECT_EQ(last.substr(last.size() - 14), "\x1b[?2004l\x1b[?25h");
        client.Feed(last);
        CONSOLE_SCREEN_BUFFER_INFO info = ScreenInfo(login.translator());
        for (int row = 0; row < 4; ++row)
            EXPECT_EQ(client.Row(row), ScreenRow(login.translator(), info.srWindow.Top + row));
        EXPECT_EQ(client.Cursor().row, info.dwCursorPosition.Y - info.srWindow.Top);
        EXPECT_EQ(client.Row(1), "LAST-WORDS-BEFORE-EXIT");
        EXPECT_TRUE(Reports().empty());
    }
}

// The command processor ends while the client is idle (ended from outside, say).
void EndCommandProcessor() {
    HANDLE process =
        OpenProcess(PROCESS_TERMINATE, FALSE, winsim::test::CreatedProcesses().at(0).process_id);
    TerminateProcess(process, 0);
    CloseHandle(process);
}

// The client is gone when the command processor ends: the last pass's failed write is no error.
TEST_F(AdvancedLoginTest, ALastPassThatCannotWriteEndsQuietly) {
    SimLogin login(Console(20, 4));
    Advance(1000);
    WriteOnScreen(login, "unsent");
    winsim::test::FailCall("WriteFile", ERROR_NO_DATA, 0, 0);
    EndCommandProcessor();
    winsim::ExitStatus status = login.Wait();
    EXPECT_EQ(status.code, 0u);
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(Now(), 1000u);
    EXPECT_EQ(login.Output().find("unsent"), std::string::npos);
    EXPECT_TRUE(Reports().empty());
}

// A mirror held in a write by a client that reads nothing holds the end of the login no longer
// than the child watcher's wait for the last pass.
TEST_F(AdvancedLoginTest, ALastPassHeldInAWriteDelaysTheEndFiveSecondsAtMost) {
    SimLogin::Options options = Console(20, 4);
    options.output_capacity = 16;
    options.hold_output = true;
    SimLogin login(options);
    Advance(300);  // the first pass fills the socket output and waits in its write
    EndCommandProcessor();
    winsim::ExitStatus status = login.Wait();
    EXPECT_EQ(status.code, 0u);
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(Now(), 300u + 5000);
    EXPECT_TRUE(Reports().empty());
}

// The static objects go right after the end of a login: the mirror must own none of them by
// then, even when it is held up right after it said it stopped.
TEST_F(AdvancedLoginTest, TheEndOfALoginTearsNothingDownUnderTheMirror) {
    SimLogin::Options options = Console(20, 4);
    options.run_exit_list = true;
    SimLogin login(options);
    Advance(1000);
    winsim::test::AfterSetEvent([](HANDLE event) {
        if (event == g_translator.mirror_stopped) Sleep(50);
    });
    login.CloseInput();
    winsim::ExitStatus status = login.Wait();
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(status.code, 0u);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(AdvancedLoginTest, TheServerClosingTheInputEndsTheLoginAtOnce) {
    SimLogin login(Console(20, 4));
    Advance(1000);
    WriteOnScreen(login, "unsent");  // the client has gone: no last pass for it, nor a reset
    NoteModes(kModeMouseReports, true);
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(Now(), 1000u);
    EXPECT_EQ(g_translator.mirror_stop.load(), 1);
    EXPECT_EQ(login.Output().find("unsent"), std::string::npos);
    EXPECT_EQ(login.Output().find("\x1b[?1000l"), std::string::npos);
    EXPECT_TRUE(Lines().empty());
    EXPECT_TRUE(Reports().empty());
}

// The stop request comes while a pass holds the screen lock; the pass's own reset of the wake-up
// event must not make the mirror sleep through it until its next timed pass.
TEST_F(AdvancedLoginTest, AnEndDuringAPassStopsTheMirrorWhenThePassEnds) {
    SimLogin login(Console(20, 4));
    Advance(1000);
    login.Send("d");  // the pass for it holds the screen lock until 1030
    Advance(10);
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_EQ(Now(), 1030u);
    EXPECT_EQ(g_translator.mirror_stop.load(), 1);
}

TEST_F(AdvancedLoginTest, CtrlAAsTheLastByteEndsTheLoopWithoutInjecting) {
    SimLogin login(Console(20, 4));
    Advance(1000);
    login.Send("\x01");
    login.CloseInput();
    EXPECT_EQ(login.Wait().code, 0u);
    EXPECT_TRUE(InputLog(login.translator()).empty());
    EXPECT_TRUE(Reports().empty());
}

TEST_F(AdvancedLoginTest, AMirrorBlockedOnTheClientIsGivenFiveSecondsThenTheProcessEnds) {
    SimLogin::Options options = Console(20, 4);
    options.output_capacity = 16;
    options.hold_output = true;  // the client reads nothing
    SimLogin login(options);
    Advance(300);  // the first pass fills the socket output and waits in its write
    login.CloseInput();
    winsim::ExitStatus status = login.Wait();
    EXPECT_EQ(status.code, 0u);
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(Now(), 300u + 5000);
    EXPECT_EQ(login.Output(), FirstPass(4).substr(0, 16));
    EXPECT_TRUE(Reports().empty());
}

}  // namespace

// ---- Full-screen programs -------------------------------------------------------------------

// A program's own buffer reaches the client on the alternate screen, without a cursor and with
// its title; when the program shows the start-up buffer again, the terminal's main screen comes
// back as it was, and only what changed since is sent (no clear).  A client resize goes to the
// program's buffer, and the start-up buffer takes that size on its return.
TEST_F(AdvancedLoginTest, AProgramsOwnBufferShowsOnTheAlternateScreenAndTheMainScreenComesBack) {
    SetSetting("FullScreenPrograms", REG_DWORD, winsim::test::RegDword(1));
    SimLogin login(Console(20, 4));
    VtermTerminal client(4, 20);
    Advance(300);
    login.Send("echo before\r");
    Advance(1000);
    ExpectClientShowsConsole(login, client);
    EXPECT_TRUE(client.cursor_visible());

    // The command line's echo reaches the client before the program starts.
    login.Send("program");
    Advance(1000);
    login.Send("\r");
    Advance(1000);
    client.Feed(login.NewOutput());
    EXPECT_TRUE(client.alternate_screen());
    EXPECT_FALSE(client.cursor_visible());
    EXPECT_EQ(client.title(), "program");
    EXPECT_EQ(client.Row(0), "full screen");
    EXPECT_EQ(client.Row(1), "");
    EXPECT_EQ(ScreenRow(login.translator(), 0), "full screen");  // the shown buffer

    login.Send("q\r");
    Advance(1000);
    std::string back = login.NewOutput();
    // The new prompt's row, the cursor (its visibility unknown after the switch) and the title.
    EXPECT_EQ(back, "\033[?1049l\033[4;1fC:\\>\033[4;5f\033[?25h\033]2;\a");
    client.Feed(back);
    EXPECT_FALSE(client.alternate_screen());
    EXPECT_TRUE(client.cursor_visible());
    EXPECT_EQ(client.title(), "");
    ExpectClientShowsConsole(login, client);

    login.Send("program\r");
    Advance(1000);
    client.Feed(login.NewOutput());
    login.Send(TelnetStateMessage(6, 30));
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.X, 30);
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.Y, 6);
    client.Resize(6, 30);
    login.Send("typed\r");
    Advance(1000);
    client.Feed(login.NewOutput());
    EXPECT_EQ(client.Row(1), "typed");
    EXPECT_EQ(client.Row(2), "typed");  // the echo, then the program's own copy

    login.Send("q\r");
    Advance(1000);
    client.Feed(login.NewOutput());
    EXPECT_FALSE(client.alternate_screen());
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.X, 30);
    EXPECT_EQ(ScreenInfo(login.translator()).dwSize.Y, 6);
    ExpectClientShowsConsole(login, client);

    // Nothing was left on for the end to turn off.
    login.Send("exit\r");
    login.Wait();
    EXPECT_EQ(login.NewOutput().find("\033[?"), std::string::npos);
    EXPECT_TRUE(Reports().empty());
}

// The command processor ends while a program's buffer is shown: the end of the login brings the
// main screen and the cursor back.  Without the setting no such sequence is ever sent.
TEST_F(AdvancedLoginTest, AnEndOnAProgramsBufferResetsTheScreenAndTheCursor) {
    for (DWORD setting : {1u, 0u}) {
        SCOPED_TRACE(setting);
        winsim::test::Reset();
        log_ = RegisterFakeCommandProcessor();
        SetSetting("ModeSelection", REG_SZ, winsim::test::RegSz("advanced"));
        if (setting != 0) SetSetting("FullScreenPrograms", REG_DWORD, winsim::test::RegDword(1));
        SimLogin login(Console(20, 4));
        Advance(300);
        login.Send("program exit\r");
        login.Wait();
        const std::string output = login.Output();
        if (setting == 0) {
            EXPECT_EQ(output.find("\033[?"), std::string::npos);
            EXPECT_EQ(output.find("\033]"), std::string::npos);
            continue;
        }
        VtermTerminal client(4, 20);
        client.Feed(output);
        EXPECT_FALSE(client.alternate_screen());
        EXPECT_TRUE(client.cursor_visible());
        EXPECT_EQ(output.substr(output.size() - 14), "\033[?1049l\033[?25h");
    }
}
