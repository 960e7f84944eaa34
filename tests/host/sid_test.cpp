// The token reader and the SID holder against the simulated account database.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Reporter.h"
#include "ZSID.h"
#include "winsim/control.h"

namespace {

namespace test = winsim::test;

class SidTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(); }
};

std::string TextOf(const std::string& sid_text) {
    std::vector<BYTE> sid = test::MakeSid(sid_text);
    SidHolder holder(sid.data());
    return holder.SidText();
}

TEST_F(SidTest, TextFormOfWellKnownAndDomainSids) {
    EXPECT_EQ(TextOf("S-1-5-18"), "S-1-5-18");
    EXPECT_EQ(TextOf("S-1-5-21-1004336348-1177238915-682003330-1000"),
              "S-1-5-21-1004336348-1177238915-682003330-1000");
    EXPECT_EQ(TextOf("S-1-1-0"), "S-1-1-0");
    // The largest 32-bit authority and sub-authority, written unsigned.
    EXPECT_EQ(TextOf("S-1-4294967295-4294967295"), "S-1-4294967295-4294967295");
    EXPECT_EQ(TextOf("S-1-16"), "S-1-16");  // no sub-authorities at all

    // The same holder answers from its cache.
    std::vector<BYTE> sid = test::MakeSid("S-1-5-32-544");
    SidHolder holder(sid.data());
    const char* first = holder.SidText();
    EXPECT_EQ(first, holder.SidText());
}

TEST_F(SidTest, FormatSidTextTakesTheAuthorityMostSignificantByteFirst) {
    const BYTE authority[6] = {0, 0, 0x01, 0x02, 0x03, 0x04};
    const DWORD subs[] = {7, 0};
    char text[kSidTextSize];
    EXPECT_EQ(FormatSidText(authority, subs, 2, text), 16);
    EXPECT_STREQ(text, "S-1-16909060-7-0");

    // A SID with the largest numbers and the most sub-authorities its count can state fits.
    const BYTE largest[6] = {0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<DWORD> many(255, 4294967295u);
    std::vector<char> long_text(kSidTextSize);
    int length = FormatSidText(largest, many.data(), 255, long_text.data());
    EXPECT_EQ(length, 14 + 255 * 11);
    EXPECT_LT(length, kSidTextSize);
}

TEST_F(SidTest, AuthorityBeyondThirtyTwoBitsFailsTheAssertionCheck) {
    for (int byte = 0; byte < 2; ++byte) {
        test::Reset();
        winsim::ExitStatus status = winsim::RunProcess([byte] {
            BYTE authority[6] = {0, 0, 0, 0, 0, 5};
            authority[byte] = 1;
            char text[kSidTextSize];
            FormatSidText(authority, nullptr, 0, text);
            return 0;
        });
        EXPECT_TRUE(status.crashed);
        EXPECT_EQ(status.code, EXCEPTION_ACCESS_VIOLATION);
        auto log = test::EventLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].strings[0].rfind("Assertion failed in file: ZSID.cpp at line ", 0), 0u);
    }
}

TEST_F(SidTest, QualifiedNameFromTheAccountLookup) {
    test::AddAccount("CORP", "alice", "S-1-5-21-10-20-30-1105", "");
    test::AddAccount("", "orphan", "S-1-5-21-10-20-30-1106", "");

    std::vector<BYTE> domain_user = test::MakeSid("S-1-5-21-10-20-30-1105");
    SidHolder alice(domain_user.data());
    EXPECT_STREQ(alice.QualifiedName(), "CORP\\alice");
    EXPECT_STREQ(alice.AccountName(), "alice");
    EXPECT_STREQ(alice.DomainName(), "CORP");

    // A local account that comes back from the lookup without a domain.
    std::vector<BYTE> no_domain = test::MakeSid("S-1-5-21-10-20-30-1106");
    SidHolder orphan(no_domain.data());
    EXPECT_STREQ(orphan.QualifiedName(), ".\\orphan");

    // Nobody knows this SID: its text stands in for the name.
    std::vector<BYTE> unknown = test::MakeSid("S-1-5-21-10-20-30-9999");
    SidHolder stranger(unknown.data());
    EXPECT_EQ(stranger.AccountName(), nullptr);
    EXPECT_EQ(stranger.DomainName(), nullptr);
    EXPECT_STREQ(stranger.QualifiedName(), "S-1-5-21-10-20-30-9999");

    // One process-wide buffer: the next call overwrites the text of the last.
    const char* first = alice.QualifiedName();
    stranger.QualifiedName();
    EXPECT_STREQ(first, "S-1-5-21-10-20-30-9999");
}

TEST_F(SidTest, DomainAndAccountNameShareOneLookup) {
    std::vector<BYTE> sid = test::MakeSid(test::kDefaultUserSid);
    SidHolder holder(sid.data());
    EXPECT_STREQ(holder.DomainName(), "WORKSTATION");
    int after_first = test::CallCount("LookupAccountSidA");
    EXPECT_EQ(after_first, 2);  // the size query and the lookup
    EXPECT_STREQ(holder.AccountName(), "user");
    EXPECT_STREQ(holder.QualifiedName(), "WORKSTATION\\user");
    EXPECT_EQ(test::CallCount("LookupAccountSidA"), after_first);
}

TEST_F(SidTest, FailedLookupLeavesBothNamesAbsent) {
    std::vector<BYTE> sid = test::MakeSid(test::kDefaultUserSid);
    {
        // The size query fails for another reason than the size.
        test::FailCall("LookupAccountSidA", ERROR_ACCESS_DENIED);
        SidHolder holder(sid.data());
        EXPECT_EQ(holder.AccountName(), nullptr);
        EXPECT_EQ(test::CallCount("LookupAccountSidA"), 1);
    }
    {
        // Every call fails once the sizes were learnt.
        test::FailCall("LookupAccountSidA", ERROR_NOT_ENOUGH_MEMORY, 1, 0);
        SidHolder holder(sid.data());
        EXPECT_EQ(holder.DomainName(), nullptr);
        EXPECT_STREQ(holder.QualifiedName(), test::kDefaultUserSid);
    }
}

TEST_F(SidTest, TokenReaderGivesTheProcessUser) {
    test::AddAccount("CORP", "bob", "S-1-5-21-10-20-30-1200", "");
    test::SetProcessUser("S-1-5-21-10-20-30-1200");
    TokenReader reader;
    PSID sid = reader.UserSid();
    ASSERT_NE(sid, nullptr);
    EXPECT_EQ(sid, reader.UserSid());  // read once, cached
    EXPECT_EQ(test::CallCount("GetTokenInformation"), 2);
    SidHolder holder(sid);
    ASSERT_TRUE(IsValidSid(holder.Sid()));
    EXPECT_NE(holder.Sid(), sid);  // a copy of its own
    EXPECT_STREQ(holder.QualifiedName(), "CORP\\bob");
}

TEST_F(SidTest, TokenFailuresLeaveTheErrorForTheCaller) {
    {
        test::FailCall("OpenProcessToken", ERROR_ACCESS_DENIED);
        TokenReader reader;
        EXPECT_EQ(reader.UserSid(), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(test::CallCount("GetTokenInformation"), 0);
    }
    {
        // The size query fails for another reason than the size.
        test::FailCall("GetTokenInformation", ERROR_INVALID_HANDLE);
        TokenReader reader;
        EXPECT_EQ(reader.UserSid(), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    {
        test::FailCall("GetTokenInformation", ERROR_GEN_FAILURE, 1);
        TokenReader reader;
        EXPECT_EQ(reader.UserSid(), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
        // Nothing was cached: the next call asks the token again and succeeds.
        EXPECT_NE(reader.UserSid(), nullptr);
    }
}

TEST_F(SidTest, FailedCopyLeavesTheHolderWithoutSid) {
    std::vector<BYTE> sid = test::MakeSid("S-1-5-18");
    test::FailCall("CopySid", ERROR_INVALID_PARAMETER);
    SidHolder holder(sid.data());
    EXPECT_EQ(holder.Sid(), nullptr);
    EXPECT_FALSE(IsValidSid(holder.Sid()));
    EXPECT_STREQ(holder.SidText(), "");
    EXPECT_EQ(holder.AccountName(), nullptr);
}

}  // namespace
