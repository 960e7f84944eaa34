// Console window sizing: validation, the lowering sequence and the client notices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WindowSizing.h"

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

}  // namespace
