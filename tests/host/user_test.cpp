// The user account record against the simulated account database and network: which machine
// is asked, and what comes back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Reporter.h"
#include "ZUSER.h"
#include "winsim/control.h"

namespace {

namespace test = winsim::test;
using Requests = std::vector<std::string>;

class UserTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(); }
    void TearDown() override { EXPECT_EQ(test::OpenNetBuffers(), 0); }
};

TEST(ChooseServerTest, MachineNameDomainOrLocal) {
    EXPECT_EQ(ChooseServer("\\\\FILES", "WORKSTATION"), ServerChoice::kNamedMachine);
    EXPECT_EQ(ChooseServer("CORP", "WORKSTATION"), ServerChoice::kDomainController);
    EXPECT_EQ(ChooseServer("", "WORKSTATION"), ServerChoice::kDomainController);
    EXPECT_EQ(ChooseServer("workStation", "WORKSTATION"), ServerChoice::kLocalMachine);
    EXPECT_EQ(ChooseServer("\\", "WORKSTATION"), ServerChoice::kDomainController);
}

TEST_F(UserTest, LocalAccountAsksTheLocalMachine) {
    UserAccount account("workstation\\user");
    EXPECT_STREQ(account.HomeDirectory(), "C:\\Users\\user");
    EXPECT_EQ(test::NetRequests(), Requests{"NetUserGetInfo(, user)"});
}

TEST_F(UserTest, DomainAccountAsksTheDomainController) {
    test::AddAccount("CORP", "alice", "S-1-5-21-10-20-30-1105", "\\\\files\\home\\alice");
    test::SetDomainController("CORP", "\\\\DC1");
    UserAccount account("CORP\\alice");
    EXPECT_STREQ(account.HomeDirectory(), "\\\\files\\home\\alice");
    EXPECT_EQ(test::NetRequests(),
              (Requests{"NetGetDCName(CORP)", "NetUserGetInfo(\\\\DC1, alice)"}));
}

TEST_F(UserTest, DomainWithoutControllerIsAskedAsAMachine) {
    test::AddAccount("FILES", "carol", "S-1-5-21-40-50-60-1000", "D:\\carol");
    UserAccount account("FILES\\carol");
    EXPECT_STREQ(account.HomeDirectory(), "D:\\carol");
    EXPECT_EQ(test::NetRequests(),
              (Requests{"NetGetDCName(FILES)", "NetUserGetInfo(\\\\FILES, carol)"}));

    // A domain that names a machine outright goes there without asking for a controller.
    test::Reset();
    test::AddAccount("FILES", "carol", "S-1-5-21-40-50-60-1000", "D:\\carol");
    UserAccount direct("\\\\FILES\\carol");
    EXPECT_STREQ(direct.HomeDirectory(), "D:\\carol");
    EXPECT_EQ(test::NetRequests(), Requests{"NetUserGetInfo(\\\\FILES, carol)"});
}

TEST_F(UserTest, NameWithoutDomainTakesTheDomainOfItsAccount) {
    test::AddAccount("CORP", "dave", "S-1-5-21-10-20-30-1300", "H:\\");
    test::SetDomainController("CORP", "\\\\DC1");
    UserAccount domain_user("dave");
    EXPECT_STREQ(domain_user.HomeDirectory(), "H:\\");
    EXPECT_EQ(test::NetRequests(),
              (Requests{"NetGetDCName(CORP)", "NetUserGetInfo(\\\\DC1, dave)"}));

    test::Reset();
    UserAccount local_user("user");
    EXPECT_STREQ(local_user.HomeDirectory(), "C:\\Users\\user");
    EXPECT_EQ(test::NetRequests(), Requests{"NetUserGetInfo(, user)"});
}

TEST_F(UserTest, UnknownNameAsksForTheControllerOfAnEmptyDomain) {
    // What the SID holder gives for a SID no lookup names.
    UserAccount account("S-1-5-21-10-20-30-9999");
    EXPECT_STREQ(account.HomeDirectory(), "");
    EXPECT_EQ(test::NetRequests(),
              (Requests{"NetGetDCName()", "NetUserGetInfo(\\\\, S-1-5-21-10-20-30-9999)"}));
}

TEST_F(UserTest, FailuresLeaveTheHomeDirectoryEmpty) {
    test::AddAccount("CORP", "alice", "S-1-5-21-10-20-30-1105", "H:\\alice");
    // The domain controller cannot be found out for another reason: nobody is asked.
    test::SetDomainController("CORP", "", 1722);
    {
        UserAccount account("CORP\\alice");
        EXPECT_STREQ(account.HomeDirectory(), "");
        EXPECT_EQ(test::NetRequests(), Requests{"NetGetDCName(CORP)"});
    }
    {
        test::FailCall("GetComputerNameA", ERROR_NOT_ENOUGH_MEMORY);
        UserAccount account("WORKSTATION\\user");
        EXPECT_STREQ(account.HomeDirectory(), "");
    }
    {
        test::FailCall("NetUserGetInfo", 53);
        UserAccount account("WORKSTATION\\user");
        EXPECT_STREQ(account.HomeDirectory(), "");
    }
    {
        UserAccount account("WORKSTATION\\nobody");
        EXPECT_STREQ(account.HomeDirectory(), "");
    }
}

TEST_F(UserTest, UserWithoutHomeDirectory) {
    test::AddAccount(test::kLocalDomain, "guest", "S-1-5-21-1-2-3-501", "");
    UserAccount account("WORKSTATION\\guest");
    EXPECT_STREQ(account.HomeDirectory(), "");
    EXPECT_EQ(test::NetRequests(), Requests{"NetUserGetInfo(, guest)"});
}

TEST_F(UserTest, LongComputerNameIsNoLocalMachine) {
    // GetComputerNameA fails on a name longer than its 16-byte buffer holds.
    test::SetComputerName("AVERYLONGMACHINENAME");
    UserAccount account("AVERYLONGMACHINENAME\\user");
    EXPECT_STREQ(account.HomeDirectory(), "");
    EXPECT_TRUE(test::NetRequests().empty());
}

TEST_F(UserTest, FailedBufferReleaseFailsTheAssertionCheck) {
    test::AddAccount("CORP", "alice", "S-1-5-21-10-20-30-1105", "H:\\alice");
    test::SetDomainController("CORP", "\\\\DC1");
    for (int skip = 0; skip < 2; ++skip) {  // the controller's name, then the user information
        test::FailCall("NetApiBufferFree", ERROR_INVALID_PARAMETER, skip);
        winsim::ExitStatus status = winsim::RunProcess([] {
            UserAccount account("CORP\\alice");
            return 0;
        });
        EXPECT_TRUE(status.crashed);
        EXPECT_EQ(status.code, EXCEPTION_ACCESS_VIOLATION);
        auto log = test::EventLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].strings[0].rfind("Assertion failed in file: ZUSER.cpp at line ", 0), 0u);
        test::Reset();
        test::AddAccount("CORP", "alice", "S-1-5-21-10-20-30-1105", "H:\\alice");
        test::SetDomainController("CORP", "\\\\DC1");
    }
}

}  // namespace
