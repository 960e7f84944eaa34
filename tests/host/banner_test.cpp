// The start-up banner: shown only on a console.
#include <gtest/gtest.h>

#include "Banner.h"
#include "winsim/control.h"

namespace {

TEST(Banner, WritesNothingWhenStandardErrorIsNoConsole) {
    winsim::SimProcess process;
    auto sink = winsim::test::MakeSink(&process);
    process.SetStdHandle(STD_ERROR_HANDLE, sink.handle());
    process.Start([] {
        ShowBanner("P", "1", "L", "R", true);
        return 5;
    });
    auto status = process.Wait();
    EXPECT_EQ(status.code, 5u);
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(sink.Text(), "");
}

// Standard error is a console whose written text a sink collects.
class ConsoleBanner : public testing::Test {
  protected:
    std::string Run(bool pre_release) {
        winsim::SimProcess process;
        auto sink = winsim::test::MakeSink(&process);
        HANDLE console = winsim::test::MakeConsole(&process, 0x3, 0, sink.handle());
        process.SetStdHandle(STD_ERROR_HANDLE, console);
        process.Start([pre_release] {
            ShowBanner("Orvane Command Starter", "1.14", "Orvane Software, Inc.", kRightsLine,
                       pre_release);
            return 0;
        });
        status_ = process.Wait();
        return sink.Text();
    }
    winsim::ExitStatus status_;
};

TEST_F(ConsoleBanner, ShowsHeaderLicenceAndRightsLinesWithoutWarrantyWhenNotPreRelease) {
    std::string text = Run(false);
    EXPECT_EQ(text,
              "\r\nOrvane Command Starter Version 1.14\r\n"
              "Copyright (c) Orvane Software, Inc.\r\n"
              "All rights reserved.\r\n"
              "\r\nThis program is licensed, not sold.\r\n"
              "The terms of its use are in the file LICENSE.TXT.\r\n" +
                  std::string(kRightsLine) + "\r\n");
}

TEST_F(ConsoleBanner, PreReleaseAddsWarningAndWarranty) {
    std::string text = Run(true);
    EXPECT_NE(text.find("PRE-RELEASE"), std::string::npos);
    EXPECT_NE(text.find("first commercial shipment"), std::string::npos);
    EXPECT_NE(text.find("without warranty"), std::string::npos);
    EXPECT_LT(text.find("PRE-RELEASE"), text.find("LICENSE.TXT"));
    EXPECT_GT(text.find("without warranty"), text.find(kRightsLine));
    // Every line ends in CR LF and fits a console line.
    size_t start = 0;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        ASSERT_GT(at, 0u);
        EXPECT_EQ(text[at - 1], '\r');
        EXPECT_LT(at - start, 80u);
        start = at + 1;
    }
}

TEST(Banner, AnyOtherConsoleQueryFailureBreaksIntoTheDebugger) {
    winsim::SimProcess process;
    HANDLE odd = winsim::test::MakeConsole(&process, 0, ERROR_ACCESS_DENIED);
    process.SetStdHandle(STD_ERROR_HANDLE, odd);
    process.Start([] {
        ShowBanner("P", "1", "L", "R", false);
        return 0;
    });
    auto status = process.Wait();
    EXPECT_TRUE(status.crashed);
    EXPECT_EQ(status.code, EXCEPTION_BREAKPOINT);
}

}  // namespace
