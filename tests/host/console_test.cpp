// The simulated console: opening it, its screen buffer and sizes, its input queue and Ctrl-C.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "winsim/console_control.h"
#include "winsim/control.h"

namespace {

using winsim::SimProcess;
using winsim::test::ConsoleSettings;

class ConsoleTest : public testing::Test {
  protected:
    void SetUp() override { winsim::test::Reset(); }
};

HANDLE Open(const char* name, BOOL inherit = TRUE) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, inherit};
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &attributes, OPEN_EXISTING, 0, nullptr);
}

// Runs body in the process, which gets a console with the settings first, and waits for its end.
winsim::ExitStatus RunInConsole(SimProcess& process, std::function<int()> body,
                                const ConsoleSettings& settings = {}) {
    winsim::test::NewConsole(process, settings);
    process.Start(std::move(body));
    return process.Wait();
}

ConsoleSettings Small(SHORT columns, SHORT rows) {
    ConsoleSettings settings;
    settings.buffer = {columns, rows};
    settings.window = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
    return settings;
}

// Writes the text to the screen of a new console and returns the process to read it back.
std::unique_ptr<SimProcess> Shown(const std::string& text, ConsoleSettings settings = Small(10, 4),
                                  WORD attributes = 0x07) {
    auto process = std::make_unique<SimProcess>();
    RunInConsole(
        *process,
        [&] {
            HANDLE output = Open("CONOUT$");
            SetConsoleTextAttribute(output, attributes);
            DWORD written = 0;
            EXPECT_TRUE(
                WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
            EXPECT_EQ(written, text.size());
            return 0;
        },
        settings);
    return process;
}

COORD Cursor(SimProcess& process) {
    return winsim::test::ScreenInfo(process).dwCursorPosition;
}

INPUT_RECORD Key(char character, bool down = true) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.uChar.AsciiChar = character;
    return record;
}

// ---- Opening the console -------------------------------------------------------------------

TEST_F(ConsoleTest, WithoutAConsoleTheConsoleNamesAreInvalidHandles) {
    winsim::RunProcess([] {
        EXPECT_EQ(Open("CONIN$"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(Open("CONOUT$"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        return 0;
    });
}

TEST_F(ConsoleTest, ConsoleHandlesAnswerTheirModesAndInheritAsAsked) {
    SimProcess process;
    RunInConsole(process, [&] {
        HANDLE input = Open("conin$");
        HANDLE output = Open("CONOUT$");
        EXPECT_TRUE(winsim::test::HandleIsInheritable(process, input));
        EXPECT_TRUE(winsim::test::HandleIsInheritable(process, output));
        EXPECT_FALSE(winsim::test::HandleIsInheritable(process, Open("Conout$", FALSE)));
        DWORD mode = 0;
        EXPECT_TRUE(GetConsoleMode(input, &mode));
        EXPECT_EQ(mode, 0x1f7u);
        EXPECT_TRUE(GetConsoleMode(output, &mode));
        EXPECT_EQ(mode, static_cast<DWORD>(ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT));

        EXPECT_TRUE(SetConsoleMode(input, ENABLE_PROCESSED_INPUT));
        EXPECT_TRUE(GetConsoleMode(input, &mode));
        EXPECT_EQ(mode, static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
        EXPECT_FALSE(SetConsoleMode(output, 0x100));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

        // The two ends are not interchangeable.
        CONSOLE_SCREEN_BUFFER_INFO info;
        EXPECT_FALSE(GetConsoleScreenBufferInfo(input, &info));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(WriteConsoleInputA(output, nullptr, 0, &mode));

        EXPECT_EQ(Open("C:\\autoexec.bat"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        return 0;
    });
    EXPECT_EQ(winsim::test::InputMode(process), static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
}

TEST_F(ConsoleTest, AllocConsoleGivesStandardHandlesAndFreeConsoleLeaves) {
    SimProcess process;
    process.Start([] {
        EXPECT_TRUE(AllocConsole());
        EXPECT_FALSE(AllocConsole());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        DWORD mode = 0;
        EXPECT_TRUE(GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode));
        EXPECT_EQ(mode, 0x1f7u);
        EXPECT_TRUE(WriteFile(GetStdHandle(STD_ERROR_HANDLE), "err", 3, &mode, nullptr));
        EXPECT_TRUE(FreeConsole());
        EXPECT_EQ(Open("CONOUT$"), INVALID_HANDLE_VALUE);
        EXPECT_TRUE(AllocConsole());
        EXPECT_TRUE(WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "out", 3, &mode, nullptr));
        return 0;
    });
    process.Wait();
    EXPECT_EQ(winsim::test::ScreenRow(process, 0), "out");
}

TEST_F(ConsoleTest, FaultsCanBeInjectedIntoConsoleCalls) {
    SimProcess process;
    winsim::test::FailCall("CreateFileA", ERROR_ACCESS_DENIED);
    winsim::test::FailCall("ReadConsoleOutputA", ERROR_GEN_FAILURE);
    RunInConsole(process, [] {
        EXPECT_EQ(Open("CONOUT$"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        HANDLE output = Open("CONOUT$");
        CHAR_INFO cell;
        SMALL_RECT region{0, 0, 0, 0};
        EXPECT_FALSE(ReadConsoleOutputA(output, &cell, {1, 1}, {0, 0}, &region));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
        EXPECT_TRUE(ReadConsoleOutputA(output, &cell, {1, 1}, {0, 0}, &region));
        return 0;
    });
}

// ---- Processed output ----------------------------------------------------------------------

TEST_F(ConsoleTest, CarriageReturnAndLineFeedMoveTheCursorAsTheClassicConsole) {
    auto crlf = Shown("ab\r\ncd");
    EXPECT_EQ(winsim::test::ScreenRow(*crlf, 0), "ab");
    EXPECT_EQ(winsim::test::ScreenRow(*crlf, 1), "cd");
    EXPECT_EQ(Cursor(*crlf).X, 2);
    EXPECT_EQ(Cursor(*crlf).Y, 1);

    auto lf = Shown("ab\ncd\rX");
    EXPECT_EQ(winsim::test::ScreenRow(*lf, 1), "Xd");
}

TEST_F(ConsoleTest, BackspaceTabAndBellMoveWithoutErasing) {
    auto shown = Shown("abc\b\bX\r\b\bY\r\nq\tt\tu\a!");
    EXPECT_EQ(winsim::test::ScreenRow(*shown, 0), "YXc");
    // Tab stops every 8 columns; the second one reaches the right edge and wraps.
    EXPECT_EQ(winsim::test::ScreenRow(*shown, 1), "q       t");
    EXPECT_EQ(winsim::test::ScreenRow(*shown, 2), "u!");
}

TEST_F(ConsoleTest, LongLinesWrapOnlyWhenWrappingIsOn) {
    auto wrapped = Shown("0123456789AB");
    EXPECT_EQ(winsim::test::ScreenRow(*wrapped, 0), "0123456789");
    EXPECT_EQ(winsim::test::ScreenRow(*wrapped, 1), "AB");

    // A full row moves the cursor on at once, so a line feed after it leaves an empty row.
    auto exact = Shown("0123456789\r\nx");
    EXPECT_EQ(winsim::test::ScreenRow(*exact, 1), "");
    EXPECT_EQ(winsim::test::ScreenRow(*exact, 2), "x");

    ConsoleSettings no_wrap = Small(10, 4);
    no_wrap.output_mode = ENABLE_PROCESSED_OUTPUT;
    auto clipped = Shown("0123456789AB", no_wrap);
    EXPECT_EQ(winsim::test::ScreenRow(*clipped, 0), "012345678B");
    EXPECT_EQ(winsim::test::ScreenRow(*clipped, 1), "");
    EXPECT_EQ(Cursor(*clipped).X, 9);
}

TEST_F(ConsoleTest, OutputBelowTheLastRowScrollsTheWholeBuffer) {
    auto shown = Shown("1\n2\n3\n4\n5", Small(10, 4), 0x1E);
    EXPECT_EQ(winsim::test::ScreenRow(*shown, 0), "2");
    EXPECT_EQ(winsim::test::ScreenRow(*shown, 3), "5");
    EXPECT_EQ(Cursor(*shown).Y, 3);
    // The row that came in is blank in the current attributes.
    CHAR_INFO blank = winsim::test::ScreenCell(*shown, 4, 3);
    EXPECT_EQ(blank.Char.AsciiChar, ' ');
    EXPECT_EQ(blank.Attributes, 0x1E);
    EXPECT_EQ(winsim::test::ScreenCell(*shown, 0, 3).Attributes, 0x1E);
}

TEST_F(ConsoleTest, WithoutProcessedOutputControlBytesAreGlyphs) {
    ConsoleSettings raw = Small(10, 4);
    raw.output_mode = ENABLE_WRAP_AT_EOL_OUTPUT;
    auto shown = Shown("a\r\n\tb", raw);
    EXPECT_EQ(winsim::test::ScreenRow(*shown, 0), "a\r\n\tb");
}

TEST_F(ConsoleTest, TheWindowFollowsTheCursor) {
    ConsoleSettings tall = Small(10, 20);
    tall.window = {0, 0, 9, 4};
    auto shown = Shown("1\n2\n3\n4\n5\n6\n7", tall);
    CONSOLE_SCREEN_BUFFER_INFO info = winsim::test::ScreenInfo(*shown);
    EXPECT_EQ(info.srWindow.Top, 2);
    EXPECT_EQ(info.srWindow.Bottom, 6);
}

// ---- Rectangles ----------------------------------------------------------------------------

CHAR_INFO Glyph(char c, WORD attributes = 0x07) {
    CHAR_INFO cell{};
    cell.Char.AsciiChar = c;
    cell.Attributes = attributes;
    return cell;
}

TEST_F(ConsoleTest, OutputRectanglesRoundTripAndAreClippedToBufferAndArray) {
    SimProcess process;
    RunInConsole(
        process,
        [] {
            HANDLE output = Open("CONOUT$");
            // A 3x2 block at (8, 3) of a 10x5 buffer: only its first two columns fit.
            CHAR_INFO block[6] = {Glyph('a', 1), Glyph('b', 2), Glyph('c', 3),
                                  Glyph('d', 4), Glyph('e', 5), Glyph('f', 6)};
            SMALL_RECT region{8, 3, 10, 4};
            EXPECT_TRUE(WriteConsoleOutputA(output, block, {3, 2}, {0, 0}, &region));
            EXPECT_EQ(region.Left, 8);
            EXPECT_EQ(region.Right, 9);
            EXPECT_EQ(region.Bottom, 4);

            // Reading from left of the buffer: array cells without a buffer cell stay as they were.
            CHAR_INFO row[4] = {Glyph('#'), Glyph('#'), Glyph('#'), Glyph('#')};
            region = {6, 3, 11, 3};
            EXPECT_TRUE(ReadConsoleOutputA(output, row, {4, 1}, {0, 0}, &region));
            EXPECT_EQ(region.Left, 6);
            EXPECT_EQ(region.Right, 9);  // the array holds four cells
            EXPECT_EQ(row[0].Char.AsciiChar, ' ');
            EXPECT_EQ(row[2].Char.AsciiChar, 'a');
            EXPECT_EQ(row[3].Attributes, 2);

            CHAR_INFO left[3] = {Glyph('#'), Glyph('#'), Glyph('#')};
            region = {-1, 4, 1, 4};
            EXPECT_TRUE(ReadConsoleOutputA(output, left, {3, 1}, {0, 0}, &region));
            EXPECT_EQ(region.Left, 0);
            EXPECT_EQ(region.Right, 1);
            EXPECT_EQ(left[0].Char.AsciiChar, '#');
            EXPECT_EQ(left[1].Char.AsciiChar, ' ');

            // The array origin offsets the destination; what does not fit is not read.
            CHAR_INFO offset[4] = {Glyph('#'), Glyph('#'), Glyph('#'), Glyph('#')};
            region = {8, 4, 9, 4};
            EXPECT_TRUE(ReadConsoleOutputA(output, offset, {2, 2}, {1, 1}, &region));
            EXPECT_EQ(region.Right, 8);
            EXPECT_EQ(offset[3].Char.AsciiChar, 'd');
            EXPECT_EQ(offset[2].Char.AsciiChar, '#');

            // Nothing in common: success, nothing copied, an empty rectangle back.
            region = {20, 20, 25, 25};
            EXPECT_TRUE(ReadConsoleOutputA(output, offset, {2, 2}, {0, 0}, &region));
            EXPECT_LT(region.Right, region.Left);
            EXPECT_LT(region.Bottom, region.Top);
            region = {0, 0, 1, 1};
            EXPECT_TRUE(WriteConsoleOutputA(output, block, {3, 2}, {3, 0}, &region));
            EXPECT_LT(region.Right, region.Left);
            return 0;
        },
        Small(10, 5));
    EXPECT_EQ(winsim::test::ScreenRow(process, 3), "        ab");
    EXPECT_EQ(winsim::test::ScreenRow(process, 4), "        de");
}

TEST_F(ConsoleTest, ReadsLargerThanTheReadLimitFail) {
    SimProcess process;
    ConsoleSettings settings;
    settings.buffer = {128, 200};
    settings.read_limit = 16384;
    RunInConsole(
        process,
        [] {
            HANDLE output = Open("CONOUT$");
            std::vector<CHAR_INFO> cells(128 * 200);
            SMALL_RECT region{0, 0, 127, 199};
            EXPECT_FALSE(ReadConsoleOutputA(output, cells.data(), {128, 200}, {0, 0}, &region));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
            region = {0, 0, 127, 127};
            EXPECT_TRUE(ReadConsoleOutputA(output, cells.data(), {128, 128}, {0, 0}, &region));
            EXPECT_EQ(region.Bottom, 127);
            return 0;
        },
        settings);
}

// ---- Sizes ---------------------------------------------------------------------------------

TEST_F(ConsoleTest, ANewConsoleHasWinesSizesAndTheLargestWindowThatFits) {
    SimProcess process;
    RunInConsole(process, [] {
        CONSOLE_SCREEN_BUFFER_INFO info;
        EXPECT_TRUE(GetConsoleScreenBufferInfo(Open("CONOUT$"), &info));
        EXPECT_EQ(info.dwSize.X, 80);
        EXPECT_EQ(info.dwSize.Y, 150);
        EXPECT_EQ(info.srWindow.Right, 79);
        EXPECT_EQ(info.srWindow.Bottom, 24);
        EXPECT_EQ(info.wAttributes, 0x07);
        EXPECT_EQ(info.dwMaximumWindowSize.X, 80);
        EXPECT_EQ(info.dwMaximumWindowSize.Y, 62);
        return 0;
    });
}

DWORD Error(BOOL ok) {
    return ok ? 0 : GetLastError();
}

TEST_F(ConsoleTest, BufferAndWindowSizesFollowWindowsRules) {
    SimProcess process;
    RunInConsole(process, [] {
        HANDLE output = Open("CONOUT$");
        SMALL_RECT window;
        // The buffer never gets smaller than the window: shrink the window first.
        EXPECT_EQ(Error(SetConsoleScreenBufferSize(output, {60, 20})), 87u);
        window = {0, 0, 59, 19};
        EXPECT_EQ(Error(SetConsoleWindowInfo(output, TRUE, &window)), 0u);
        EXPECT_EQ(Error(SetConsoleScreenBufferSize(output, {60, 20})), 0u);
        EXPECT_EQ(Error(SetConsoleScreenBufferSize(output, {0, 0})), 87u);

        // The window stays inside the buffer and within the largest window.
        window = {0, 0, 60, 19};
        EXPECT_EQ(Error(SetConsoleWindowInfo(output, TRUE, &window)), 87u);
        window = {-1, 0, 58, 19};
        EXPECT_EQ(Error(SetConsoleWindowInfo(output, TRUE, &window)), 87u);
        window = {5, 0, 4, 19};
        EXPECT_EQ(Error(SetConsoleWindowInfo(output, TRUE, &window)), 87u);
        EXPECT_EQ(Error(SetConsoleScreenBufferSize(output, {200, 100})), 0u);
        window = {0, 0, 160, 60};
        EXPECT_EQ(Error(SetConsoleWindowInfo(output, TRUE, &window)), 87u);
        window = {0, 0, 159, 61};
        EXPECT_EQ(Error(SetConsoleWindowInfo(output, TRUE, &window)), 0u);

        // A relative rectangle moves each edge by its amount.
        window = {1, 2, -1, 0};
        EXPECT_EQ(Error(SetConsoleWindowInfo(output, FALSE, &window)), 0u);
        CONSOLE_SCREEN_BUFFER_INFO info;
        GetConsoleScreenBufferInfo(output, &info);
        EXPECT_EQ(info.srWindow.Left, 1);
        EXPECT_EQ(info.srWindow.Top, 2);
        EXPECT_EQ(info.srWindow.Right, 158);
        EXPECT_EQ(info.srWindow.Bottom, 61);
        EXPECT_EQ(info.dwMaximumWindowSize.X, 160);
        return 0;
    });
}

TEST_F(ConsoleTest, ShrinkingKeepsTheTopLeftAndTheCursorInside) {
    SimProcess process;
    ConsoleSettings settings = Small(10, 6);
    settings.window = {4, 3, 7, 5};
    RunInConsole(
        process,
        [] {
            HANDLE output = Open("CONOUT$");
            DWORD written;
            WriteConsoleA(output, "abcdefghij\r\n\r\n\r\n\r\n     z", 25, &written, nullptr);
            EXPECT_EQ(Error(SetConsoleScreenBufferSize(output, {5, 4})), 0u);
            return 0;
        },
        settings);
    CONSOLE_SCREEN_BUFFER_INFO info = winsim::test::ScreenInfo(process);
    EXPECT_EQ(winsim::test::ScreenRow(process, 0), "abcde");
    EXPECT_EQ(info.dwCursorPosition.X, 4);
    EXPECT_EQ(info.dwCursorPosition.Y, 3);
    // The window moved back inside: 4 columns by 3 rows at the bottom right.
    EXPECT_EQ(info.srWindow.Left, 1);
    EXPECT_EQ(info.srWindow.Top, 1);
    EXPECT_EQ(info.srWindow.Right, 4);
    EXPECT_EQ(info.srWindow.Bottom, 3);
}

TEST_F(ConsoleTest, FullScreenRefusesWindowChangesUntilSwitchedBack) {
    SimProcess process;
    ConsoleSettings settings;
    settings.full_screen = true;
    RunInConsole(
        process,
        [&process] {
            HANDLE output = Open("CONOUT$");
            SMALL_RECT window{0, 0, 79, 24};
            EXPECT_EQ(Error(SetConsoleWindowInfo(output, TRUE, &window)),
                      static_cast<DWORD>(ERROR_FULLSCREEN_MODE));
            // Growing the buffer is still possible.
            EXPECT_EQ(Error(SetConsoleScreenBufferSize(output, {100, 150})), 0u);
            // The user switches the console to a window while the program runs.
            winsim::test::SetFullScreen(process, false);
            window = {0, 0, 99, 29};
            EXPECT_EQ(Error(SetConsoleWindowInfo(output, TRUE, &window)), 0u);
            return 0;
        },
        settings);
    EXPECT_EQ(winsim::test::ScreenInfo(process).srWindow.Bottom, 29);
}

// ---- Input ---------------------------------------------------------------------------------

void __cdecl TypeKeys(void* input) {
    INPUT_RECORD keys[3] = {Key('a'), Key('a', false), Key('b')};
    DWORD written = 0;
    WriteConsoleInputA(input, keys, 3, &written);
}

TEST_F(ConsoleTest, ABlockedReadIsReleasedByAWriteFromAnotherThread) {
    SimProcess process;
    RunInConsole(process, [] {
        HANDLE input = Open("CONIN$");
        _beginthread(TypeKeys, 0, input);
        INPUT_RECORD records[8];
        DWORD read = 0, pending = 0;
        EXPECT_TRUE(ReadConsoleInputA(input, records, 1, &read));
        EXPECT_EQ(read, 1u);
        EXPECT_EQ(records[0].Event.KeyEvent.uChar.AsciiChar, 'a');
        // The thread writes all three records at once.
        EXPECT_TRUE(PeekConsoleInputA(input, records, 8, &read));
        EXPECT_EQ(read, 2u);
        EXPECT_TRUE(GetNumberOfConsoleInputEvents(input, &pending));
        EXPECT_EQ(pending, 2u);
        EXPECT_TRUE(ReadConsoleInputA(input, records, 8, &read));
        EXPECT_EQ(read, 2u);
        EXPECT_EQ(records[1].Event.KeyEvent.uChar.AsciiChar, 'b');
        EXPECT_TRUE(GetNumberOfConsoleInputEvents(input, &pending));
        EXPECT_EQ(pending, 0u);
        return 0;
    });
    EXPECT_EQ(winsim::test::InputLog(process).size(), 3u);
    EXPECT_EQ(winsim::test::PendingInput(process), 0u);
}

TEST_F(ConsoleTest, ReadFileReturnsEditedLinesWithEchoOrSingleKeysInRawMode) {
    SimProcess process;
    RunInConsole(process, [] {
        HANDLE input = Open("CONIN$");
        INPUT_RECORD keys[] = {Key('d'), Key('d', false), Key('x'),  Key('\b'),
                               Key('i'), Key('r'),        Key('\r'), Key('n')};
        DWORD count = 0;
        WriteConsoleInputA(input, keys, 8, &count);
        char line[16] = {};
        EXPECT_TRUE(ReadFile(input, line, sizeof line, &count, nullptr));
        EXPECT_EQ(std::string(line, count), "dir\r\n");

        SetConsoleMode(input, 0);
        EXPECT_TRUE(ReadFile(input, line, sizeof line, &count, nullptr));
        EXPECT_EQ(std::string(line, count), "n");
        return 0;
    });
    // The echo shows the line as edited.
    EXPECT_EQ(winsim::test::ScreenRow(process, 0), "dir");
    EXPECT_EQ(winsim::test::ScreenInfo(process).dwCursorPosition.Y, 1);
}

TEST_F(ConsoleTest, CellsAndKeysHoldUtf16AndTheAFunctionsConvertThroughTheCodePages) {
    SimProcess process;
    RunInConsole(process, [] {
        HANDLE output = Open("CONOUT$");
        HANDLE input = Open("CONIN$");
        EXPECT_EQ(GetConsoleOutputCP(), 437u);
        DWORD count = 0;
        WriteFile(output, "caf\x82 \xc4", 6, &count, nullptr);  // "café ─" in 437
        CHAR_INFO cells[6];
        SMALL_RECT region{0, 0, 5, 0};
        EXPECT_TRUE(ReadConsoleOutputW(output, cells, COORD{6, 1}, COORD{0, 0}, &region));
        EXPECT_EQ(cells[3].Char.UnicodeChar, 0xE9);
        EXPECT_EQ(cells[5].Char.UnicodeChar, 0x2500);
        EXPECT_TRUE(ReadConsoleOutputA(output, cells, COORD{6, 1}, COORD{0, 0}, &region));
        EXPECT_EQ(cells[3].Char.UnicodeChar, 0x82);

        // After a switch to UTF-8 the bytes written are UTF-8; a character the A read cannot
        // give in one byte reads as '?'.
        EXPECT_FALSE(SetConsoleOutputCP(850));
        EXPECT_TRUE(SetConsoleOutputCP(CP_UTF8));
        WriteFile(output, "\r\n\xe6\x97\xa5\xff", 6, &count, nullptr);
        region = SMALL_RECT{0, 1, 1, 1};
        EXPECT_TRUE(ReadConsoleOutputA(output, cells, COORD{2, 1}, COORD{0, 0}, &region));
        EXPECT_EQ(cells[0].Char.UnicodeChar, '?');

        // A wide key record reads back whole with the W function and converted with the A one.
        INPUT_RECORD keys[] = {Key(0), Key(0)};
        keys[0].Event.KeyEvent.uChar.UnicodeChar = 0x250C;
        keys[1].Event.KeyEvent.uChar.UnicodeChar = 0xE9;
        WriteConsoleInputW(input, keys, 2, &count);
        INPUT_RECORD got{};
        EXPECT_TRUE(ReadConsoleInputW(input, &got, 1, &count));
        EXPECT_EQ(got.Event.KeyEvent.uChar.UnicodeChar, 0x250C);
        EXPECT_TRUE(ReadConsoleInputA(input, &got, 1, &count));
        EXPECT_EQ(got.Event.KeyEvent.uChar.UnicodeChar, 0x82);
        return 0;
    });
    EXPECT_EQ(winsim::test::ScreenRowUtf8(process, 0), "caf\xc3\xa9 \xe2\x94\x80");
    EXPECT_EQ(winsim::test::ScreenRowUtf8(process, 1), "\xe6\x97\xa5\xef\xbf\xbd");
}

// ---- Ctrl-C --------------------------------------------------------------------------------

std::atomic<int> g_calls{0};
std::vector<int> g_order;  // written by handlers on the one control thread of a process
HANDLE g_handled = nullptr;

BOOL WINAPI Handles(DWORD event) {
    g_order.push_back(1);
    g_calls = static_cast<int>(event) + 100;
    SetEvent(g_handled);
    return TRUE;
}

BOOL WINAPI PassesOn(DWORD) {
    g_order.push_back(2);
    return FALSE;
}

TEST_F(ConsoleTest, CtrlCCallsTheHandlersNewestFirstUntilOneHandlesIt) {
    g_order.clear();
    g_calls = 0;
    SimProcess process;
    auto status = RunInConsole(process, [] {
        g_handled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        EXPECT_TRUE(SetConsoleCtrlHandler(Handles, TRUE));
        EXPECT_TRUE(SetConsoleCtrlHandler(PassesOn, TRUE));
        EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        WaitForSingleObject(g_handled, INFINITE);
        return 5;
    });
    EXPECT_EQ(status.code, 5u);
    EXPECT_EQ(g_calls, 100 + CTRL_C_EVENT);
    EXPECT_EQ(g_order, (std::vector<int>{2, 1}));
    EXPECT_EQ(winsim::test::CtrlEvents(process), std::vector<DWORD>{CTRL_C_EVENT});
}

TEST_F(ConsoleTest, CtrlCEndsAProcessWithoutHandlerAndSparesOneThatIgnoresIt) {
    SimProcess reader;
    winsim::test::NewConsole(reader);
    reader.Start([] {
        // Removing the handler again leaves the default action.
        EXPECT_TRUE(SetConsoleCtrlHandler(PassesOn, TRUE));
        EXPECT_TRUE(SetConsoleCtrlHandler(PassesOn, FALSE));
        EXPECT_FALSE(SetConsoleCtrlHandler(PassesOn, FALSE));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        INPUT_RECORD record;
        DWORD read;
        ReadConsoleInputA(Open("CONIN$"), &record, 1, &read);  // nothing ever comes
        return 0;
    });
    SimProcess translator;
    winsim::test::ShareConsole(translator, reader);
    DWORD reader_id = winsim::test::ProcessIdOf(reader);
    translator.Start([reader_id] {
        EXPECT_TRUE(SetConsoleCtrlHandler(nullptr, TRUE));
        HANDLE other = OpenProcess(PROCESS_ALL_ACCESS, FALSE, reader_id);
        EXPECT_FALSE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 7));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        WaitForSingleObject(other, INFINITE);
        return 7;  // still here after the reader has gone
    });
    EXPECT_EQ(reader.Wait().code, STATUS_CONTROL_C_EXIT);
    EXPECT_EQ(translator.Wait().code, 7u);
    EXPECT_TRUE(winsim::test::IgnoresCtrlC(translator));
    EXPECT_FALSE(winsim::test::IgnoresCtrlC(reader));
    EXPECT_EQ(winsim::test::CtrlEvents(translator), std::vector<DWORD>{CTRL_C_EVENT});
}

TEST_F(ConsoleTest, CtrlBreakIsNotIgnoredByTheCtrlCFlag) {
    SimProcess process;
    auto status = RunInConsole(process, [] {
        SetConsoleCtrlHandler(nullptr, TRUE);
        GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
        Sleep(INFINITE);
        return 0;
    });
    EXPECT_EQ(status.code, STATUS_CONTROL_C_EXIT);
}

TEST_F(ConsoleTest, ACtrlCKeyRaisesTheEventOnlyWhileInputIsProcessed) {
    SimProcess process;
    RunInConsole(process, [] {
        SetConsoleCtrlHandler(nullptr, TRUE);
        HANDLE input = Open("CONIN$");
        INPUT_RECORD keys[2] = {Key(0x03), Key(0x03, false)};
        DWORD count = 0;
        EXPECT_TRUE(WriteConsoleInputA(input, keys, 2, &count));
        EXPECT_EQ(count, 2u);
        GetNumberOfConsoleInputEvents(input, &count);
        EXPECT_EQ(count, 0u);
        SetConsoleMode(input, ENABLE_LINE_INPUT);
        WriteConsoleInputA(input, keys, 2, &count);
        GetNumberOfConsoleInputEvents(input, &count);
        EXPECT_EQ(count, 2u);
        return 0;
    });
    EXPECT_EQ(winsim::test::CtrlEvents(process), std::vector<DWORD>{CTRL_C_EVENT});
    EXPECT_EQ(winsim::test::InputLog(process).size(), 4u);
}

}  // namespace
