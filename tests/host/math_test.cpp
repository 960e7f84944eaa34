// Strict decimal argument parsing.
#include <gtest/gtest.h>

#include "ZMATH.h"
#include "winsim/control.h"

namespace {

TEST(ParseUnsigned, AcceptsDecimalTextsAsThe32BitRunTimeLibraryDoes) {
    EXPECT_EQ(ParseUnsigned("0"), 0u);
    EXPECT_EQ(ParseUnsigned("17"), 17u);
    EXPECT_EQ(ParseUnsigned("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseUnsigned("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseUnsigned("-4294967295"), 1u);
    EXPECT_EQ(ParseUnsigned("+42"), 42u);
    EXPECT_EQ(ParseUnsigned(" \t 8"), 8u);
    EXPECT_EQ(ParseUnsigned("000123"), 123u);
    EXPECT_EQ(ParseUnsigned(""), 0u);  // no number and nothing after it
}

TEST(ParseUnsigned, RejectsMalformedAndOutOfRangeTexts) {
    for (const char* text : {"8 ", "+", "-", " ", "\t", "0x10", "12a", "4294967296", "-4294967296",
                             "99999999999999999999999", "1.5"}) {
        uint32_t value;
        EXPECT_FALSE(TryParseUnsigned(text, &value)) << '"' << text << '"';
    }
}

TEST(ParseUnsigned, MalformedTextFailsTheAssertionCheckInItsModule) {
    winsim::test::Reset();
    bool returned = false;
    auto status = winsim::RunProcess([&] {
        ParseUnsigned("0x10");
        returned = true;
        return 0;
    });
    EXPECT_FALSE(returned);
    EXPECT_TRUE(status.crashed);
    EXPECT_EQ(status.code, EXCEPTION_ACCESS_VIOLATION);
    auto log = winsim::test::EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].strings[0].rfind("Assertion failed in file: ZMATH.cpp at line ", 0), 0u);
}

}  // namespace
