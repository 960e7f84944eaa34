// Console window sizing: validation, the lowering sequence and the client notices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WindowSizing.h"
#include "login_harness.h"

namespace {

std::string Text(WindowSize size) {
    return std::to_string(size.columns) + "x" + std::to_string(size.rows);
}

TEST(WindowSizingTest, ValidationReplacesAnySizeOutOfRangeBy80x24) {
    struct Case {
        WindowSize requested;
        const char* valid;
    } cases[] = {
        {{100, 30}, "100x30"}, {{128, 100}, "128x100"}, {{1, 1}, "1x1"},
        {{80, 0}, "80x24"},    {{80, 101}, "80x24"},    {{129, 30}, "80x24"},
        {{0, 30}, "80x24"},    {{-5, 30}, "80x24"},     {{100, -32768}, "80x24"},
    };
    for (const Case& c : cases) EXPECT_EQ(Text(ValidWindowSize(c.requested)), c.valid);
}

// The setting's text (the window_size fuzz target tries any other), the limit it raises, and the
// jump to the largest window after a refusal: never up, never to nothing.
TEST(WindowSizingTest, MaxWindowSizeRaisesTheLimitAndBringsLargerRequestsDownToIt) {
    auto setting = [](const char* text) {
        COORD size = WindowSizeFromSetting(text);
        return Text(WindowSize{size.X, size.Y});
    };
    EXPECT_EQ(setting("500x200") + setting("0128x100"), "500x200128x100");
    for (const char* bad : {"500X200", "500x200 ", "0x200", "500x32768", "500x", "500x200x1"})
        EXPECT_EQ(setting(bad), "0x0") << bad;
    EXPECT_EQ(setting(nullptr), "0x0");

    const COORD most{500, 200};
    EXPECT_EQ(Text(ValidWindowSize({200, 50}, most)), "200x50");
    EXPECT_EQ(Text(ValidWindowSize({501, 999}, most)), "500x200");
    EXPECT_EQ(Text(ValidWindowSize({600, 0}, most)), "80x24");
    // A setting below 128x100 in either part leaves the written rule.
    EXPECT_EQ(Text(ValidWindowSize({129, 30}, COORD{127, 200})), "80x24");
    EXPECT_EQ(Text(ValidWindowSize({129, 30}, COORD{128, 100})), "128x30");

    WindowSize size{200, 50};
    EXPECT_TRUE(FitLargestWindow(&size, COORD{160, 62}));
    EXPECT_EQ(Text(size), "160x50");
    EXPECT_FALSE(FitLargestWindow(&size, COORD{160, 62}));
    EXPECT_FALSE(FitLargestWindow(&size, COORD{0, 0}));
    EXPECT_EQ(Text(size), "160x50");
}

TEST(WindowSizingTest, LoweringBringsRowsTo24BeforeColumnsFall) {
    WindowSize size{128, 27};
    std::vector<std::string> tried;
    for (int i = 0; i < 5; ++i) {
        size = LowerWindowSize(size);
        tried.push_back(Text(size));
    }
    EXPECT_EQ(tried, (std::vector<std::string>{"128x26", "128x25", "128x24", "127x24", "126x24"}));
    // A request of fewer than 24 rows keeps them and lowers the columns only.
    EXPECT_EQ(Text(LowerWindowSize({100, 20})), "99x20");
    EXPECT_EQ(Text(LowerWindowSize({1, 20})), "0x20");

    // Once the columns cannot help, the rows fall too; with one cell left nothing is.
    struct Case {
        WindowSize requested;
        COORD largest;
        const char* next;
    } cases[] = {
        {{80, 30}, {160, 20}, "80x29"},   {{80, 24}, {160, 20}, "80x23"},
        {{170, 24}, {160, 20}, "169x24"}, {{80, 20}, {160, 20}, "79x20"},
        {{1, 20}, {160, 62}, "1x19"},     {{5, 3}, {0, 0}, "4x3"},
        {{80, 1}, {160, 0}, "79x1"},
    };
    for (const Case& c : cases) {
        WindowSize size = c.requested;
        EXPECT_TRUE(NextWindowSize(&size, c.largest));
        EXPECT_EQ(Text(size), c.next);
    }
    WindowSize last{1, 1};
    EXPECT_FALSE(NextWindowSize(&last, COORD{160, 62}));
}

TEST(WindowSizingTest, FullScreenOnlyWhenTheBufferDiffersFromTheRequest) {
    EXPECT_TRUE(IsFullScreenRefusal(ERROR_FULLSCREEN_MODE, COORD{80, 25}, WindowSize{100, 30}));
    EXPECT_TRUE(IsFullScreenRefusal(ERROR_FULLSCREEN_MODE, COORD{100, 25}, WindowSize{100, 30}));
    EXPECT_TRUE(IsFullScreenRefusal(ERROR_FULLSCREEN_MODE, COORD{80, 30}, WindowSize{100, 30}));
    // Already the requested size: the refusal goes to the retry step instead.
    EXPECT_FALSE(IsFullScreenRefusal(ERROR_FULLSCREEN_MODE, COORD{100, 30}, WindowSize{100, 30}));
    EXPECT_FALSE(IsFullScreenRefusal(ERROR_INVALID_PARAMETER, COORD{80, 25}, WindowSize{100, 30}));
}

TEST(WindowSizingTest, NoticesGiveRowsBeforeColumns) {
    char buffer[1024];
    int length = FormatRetryNotice(buffer, "SetConsoleScreenBufferSize", ERROR_INVALID_PARAMETER,
                                   COORD{80, 150}, WindowSize{128, 99});
    EXPECT_EQ(std::string(buffer, length),
              "\r\nSetConsoleScreenBufferSize failed: 87 [150,80]\r\nWindows NT refusing to "
              "create a remote window that large, trying: 99x128...");
    length = FormatRetryNotice(buffer, "SetConsoleWindowInfo[#1]", ERROR_FULLSCREEN_MODE,
                               COORD{100, 30}, WindowSize{99, 30});
    EXPECT_EQ(std::string(buffer, length),
              "\r\nSetConsoleWindowInfo[#1] failed: 1007 [30,100]\r\nWindows NT refusing to "
              "create a remote window that large, trying: 30x99...");
    length = FormatFullScreenNotice(buffer, WindowSize{80, 30});
    EXPECT_EQ(std::string(buffer, length),
              "\r\nWARNING: This system defaults console apps to Full Screen mode.\r\nThis limits "
              "automatic resize capabilities.\r\nYou need to reset your telnet client's window "
              "size to: 30x80.\r\n");
}

// ResizeConsole on a simulated console, in a process of its own, in virtual time.
class ResizeTest : public testing::Test {
  protected:
    struct Result {
        winsim::ExitStatus status;
        std::string client;  // what the client was told
        CONSOLE_SCREEN_BUFFER_INFO console;
        WindowSize requested;
        std::vector<winsim::test::SleepRecord> sleeps;
    };

    void SetUp() override { winsim::test::Reset(); }
    void TearDown() override {
        FreshTranslatorProcess();  // a failed check leaves the screen lock to an ended thread
        winsim::test::Reset();
    }

    Result Resize(const winsim::test::ConsoleSettings& settings, WindowSize request) {
        winsim::SimProcess process;
        winsim::test::NewConsole(process, settings);
        winsim::test::Sink client = winsim::test::MakeSink(&process);
        static WindowSize requested;
        static DWORD scrollback;
        static COORD most;
        requested = request;
        scrollback = scrollback_;
        most = max_window_size_;
        process.Start([&client] {
            FreshTranslatorProcess();
            g_translator.history_lines = scrollback;
            g_translator.max_window_size = most;
            g_translator.console_output =
                CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            g_translator.socket_output = client.handle();
            g_translator.requested_size = requested;
            ResizeConsole();
            requested = g_translator.requested_size;
            return 0;
        });
        Result result;
        result.status = process.Wait();
        result.client = client.Text();
        result.console = winsim::test::ScreenInfo(process);
        result.requested = requested;
        result.sleeps = winsim::test::SleepLog();
        return result;
    }

    DWORD scrollback_ = 0;         // ScrollbackLines of the login, in advanced mode
    COORD max_window_size_{0, 0};  // MaxWindowSize

    static std::string Retry(const char* step, DWORD error, COORD buffer, int rows, int columns) {
        char text[1024];
        int length =
            FormatRetryNotice(text, step, error, buffer,
                              WindowSize{static_cast<SHORT>(columns), static_cast<SHORT>(rows)});
        return std::string(text, length);
    }
};

TEST_F(ResizeTest, AnAcceptedSizeMakesBufferAndWindowExactlyThatAndSaysNothing) {
    Result result = Resize({}, WindowSize{100, 30});
    EXPECT_EQ(result.status.code, 0u);
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "100x30");
    EXPECT_EQ(result.console.srWindow.Left, 0);
    EXPECT_EQ(result.console.srWindow.Top, 0);
    EXPECT_EQ(result.console.srWindow.Right, 99);
    EXPECT_EQ(result.console.srWindow.Bottom, 29);
    EXPECT_EQ(result.client, "");
    EXPECT_TRUE(result.sleeps.empty());

    result = Resize({}, WindowSize{129, 30});  // out of range: the usual terminal instead
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "80x24");
}

TEST_F(ResizeTest, ARefusedSizeFallsRowByRowToWhatTheDisplayShowsOneSecondApart) {
    winsim::test::ConsoleSettings settings;
    settings.largest_window = COORD{128, 60};
    Result result = Resize(settings, WindowSize{128, 100});
    EXPECT_EQ(result.status.code, 0u);
    EXPECT_EQ(Text(result.requested), "128x60");
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "128x60");
    std::string told;
    for (int rows = 99; rows >= 60; --rows) {
        told +=
            Retry("SetConsoleWindowInfo[#1]", ERROR_INVALID_PARAMETER, COORD{80, 150}, rows, 128);
    }
    EXPECT_EQ(result.client, told);
    ASSERT_EQ(result.sleeps.size(), 40u);
    for (size_t i = 0; i < result.sleeps.size(); ++i) {
        EXPECT_EQ(result.sleeps[i].milliseconds, 1000u);
        EXPECT_EQ(result.sleeps[i].at, 1000u * i);
    }
}

TEST_F(ResizeTest, WithMaxWindowSizeARefusalGoesToTheLargestWindowWithOneNotice) {
    max_window_size_ = COORD{500, 200};
    winsim::test::ConsoleSettings settings;
    settings.largest_window = COORD{600, 300};
    Result result = Resize(settings, WindowSize{200, 50});  // taken as it is, silently
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "200x50");
    EXPECT_EQ(result.client, "");

    settings.largest_window = COORD{160, 62};
    result = Resize(settings, WindowSize{500, 200});
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "160x62");
    const std::string jump =
        Retry("SetConsoleWindowInfo[#1]", ERROR_INVALID_PARAMETER, COORD{80, 150}, 62, 160);
    EXPECT_EQ(result.client, jump);
    EXPECT_EQ(winsim::test::Sleeps(), (std::vector<DWORD>{1000}));

    // The largest window refused as well: the written steps go on from there.
    SetUp();
    winsim::test::FailCall("SetConsoleWindowInfo", ERROR_INVALID_PARAMETER, 1, 1);
    result = Resize(settings, WindowSize{500, 200});
    EXPECT_EQ(Text(result.requested), "160x61");
    EXPECT_EQ(result.client, jump + Retry("SetConsoleWindowInfo[#1]", ERROR_INVALID_PARAMETER,
                                          COORD{80, 150}, 61, 160));
}

TEST_F(ResizeTest, BelowTwentyFiveRowsOnlyTheColumnsFall) {
    winsim::test::ConsoleSettings settings;
    settings.largest_window = COORD{125, 62};
    Result result = Resize(settings, WindowSize{128, 20});
    EXPECT_EQ(Text(result.requested), "125x20");
    // The first attempt gets as far as the buffer; then the shrinking window is too wide.
    EXPECT_EQ(
        result.client,
        Retry("SetConsoleWindowInfo[#2]", ERROR_INVALID_PARAMETER, COORD{80, 150}, 20, 127) +
            Retry("SetConsoleWindowInfo[#1]", ERROR_INVALID_PARAMETER, COORD{128, 20}, 20, 126) +
            Retry("SetConsoleWindowInfo[#1]", ERROR_INVALID_PARAMETER, COORD{128, 20}, 20, 125));
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "125x20");
}

TEST_F(ResizeTest, ADisplayOfFewerThanTwentyFourRowsLowersTheRows) {
    winsim::test::ConsoleSettings settings;
    settings.largest_window = COORD{160, 20};
    settings.window = SMALL_RECT{0, 0, 79, 19};
    Result result = Resize(settings, WindowSize{80, 24});
    EXPECT_EQ(result.status.code, 0u);
    EXPECT_EQ(Text(result.requested), "80x20");
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "80x20");
    std::string told;
    for (int rows = 23; rows >= 20; --rows) {
        told +=
            Retry("SetConsoleWindowInfo[#1]", ERROR_INVALID_PARAMETER, COORD{80, 150}, rows, 80);
    }
    EXPECT_EQ(result.client, told);
    EXPECT_EQ(winsim::test::Sleeps(), (std::vector<DWORD>(4, 1000)));
}

TEST_F(ResizeTest, FullScreenWarnsOnceWaitsFourSecondsAndKeepsTheConsole) {
    winsim::test::ConsoleSettings settings;
    settings.full_screen = true;
    Result result = Resize(settings, WindowSize{100, 30});
    EXPECT_EQ(result.status.code, 0u);
    char warning[1024];
    int length = FormatFullScreenNotice(warning, WindowSize{80, 30});
    EXPECT_EQ(result.client, std::string(warning, length));
    EXPECT_NE(result.client.find("window size to: 30x80."), std::string::npos);
    EXPECT_EQ(Text(result.requested), "80x30");
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "80x150");
    ASSERT_EQ(result.sleeps.size(), 1u);
    EXPECT_EQ(result.sleeps[0].milliseconds, 4000u);
}

TEST_F(ResizeTest, FullScreenWithTheBufferAlreadyRightRetriesOnceThenWarns) {
    winsim::test::ConsoleSettings settings;
    settings.full_screen = true;
    settings.buffer = COORD{80, 25};
    Result result = Resize(settings, WindowSize{80, 25});
    char warning[1024];
    int length = FormatFullScreenNotice(warning, WindowSize{80, 24});
    EXPECT_EQ(result.client,
              Retry("SetConsoleWindowInfo[#1]", ERROR_FULLSCREEN_MODE, COORD{80, 25}, 24, 80) +
                  std::string(warning, length));
    EXPECT_EQ(winsim::test::Sleeps(), (std::vector<DWORD>{1000, 4000}));
}

TEST_F(ResizeTest, InternalFailuresAreAssertionsOfTheMainModule) {
    winsim::test::FailCall("GetConsoleScreenBufferInfo", ERROR_INVALID_HANDLE);
    Result result = Resize({}, WindowSize{100, 30});
    EXPECT_TRUE(result.status.crashed);
    EXPECT_EQ(result.status.code, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(Reports(),
              std::vector<std::string>{
                  "Assertion failed in file: transcmd.cpp at line 1299, Last error= 6\n"});
}

TEST_F(ResizeTest, WhenNoSizeIsTakenTheConsoleStaysAsItWasAndTheLoginGoesOn) {
    // Every window refused: the columns fall to one, then the rows, a notice and a second each.
    winsim::test::FailCall("SetConsoleWindowInfo", ERROR_ACCESS_DENIED, 0, 0);
    Result result = Resize({}, WindowSize{3, 10});
    EXPECT_FALSE(result.status.crashed);
    EXPECT_EQ(result.status.code, 0u);
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(winsim::test::Sleeps(), (std::vector<DWORD>(11, 1000)));
    EXPECT_EQ(result.client.substr(result.client.rfind("trying: ")), "trying: 1x1...");
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "80x150");

    // The buffer taken but its window refused: the buffer and window are put back as well.
    SetUp();
    winsim::test::FailCall("SetConsoleWindowInfo", ERROR_ACCESS_DENIED, 1, 2);
    result = Resize({}, WindowSize{1, 2});
    EXPECT_EQ(result.status.code, 0u);
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "80x150");
    EXPECT_EQ(result.console.srWindow.Right, 79);
    EXPECT_EQ(result.console.srWindow.Bottom, 24);
}

}  // namespace

// With scrollback the buffer is that many rows taller than the window, which sits at its bottom;
// the notices and the step-down count the window's rows.
TEST_F(ResizeTest, ScrollbackKeepsTheBufferTallerAndTheWindowAtItsBottom) {
    scrollback_ = 100;
    Result result = Resize({}, WindowSize{100, 30});
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "100x130");
    EXPECT_EQ(result.console.srWindow.Top, 100);
    EXPECT_EQ(result.console.srWindow.Bottom, 129);
    EXPECT_EQ(result.client, "");

    winsim::test::ConsoleSettings settings;
    settings.largest_window = COORD{128, 28};
    result = Resize(settings, WindowSize{100, 30});
    EXPECT_EQ(Text(result.requested), "100x28");
    EXPECT_EQ(Text(WindowSize{result.console.dwSize.X, result.console.dwSize.Y}), "100x128");
    EXPECT_EQ(result.console.srWindow.Top, 100);
    EXPECT_EQ(result.client.find(Retry("SetConsoleWindowInfo[#1]", ERROR_INVALID_PARAMETER,
                                       COORD{80, 25}, 29, 100)),
              0u)
        << result.client;
}
