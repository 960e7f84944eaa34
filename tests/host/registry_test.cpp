// The registry settings store against the simulated registry, and the registry behaviour it
// relies on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Reporter.h"
#include "ZREGENT.h"
#include "winsim/control.h"

namespace {

namespace test = winsim::test;

constexpr char kCompany[] = "Orvane Software, Inc.";
constexpr char kProduct[] = "Orvane Telnetd Server";
constexpr char kPath[] = "Software\\Orvane Software, Inc.\\Orvane Telnetd Server\\CurrentVersion";

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(); }
    static void Set(const std::string& name, DWORD type, const std::string& data) {
        test::RegSetValue(HKEY_LOCAL_MACHINE, kPath, name, type, data);
    }
    // Builds a store in a process of its own, which the store may end; returns the one report.
    static std::string BuildFailing(winsim::ExitStatus expected, int root_selector = 0) {
        winsim::ExitStatus status = winsim::RunProcess([root_selector] {
            SetLastError(1234);  // stale: must not show up in a report
            RegistrySettingsStore store(root_selector, kCompany, kProduct, "1");
            return 0;
        });
        EXPECT_EQ(status.code, expected.code);
        EXPECT_EQ(status.crashed, expected.crashed);
        std::vector<test::EventRecord> log = test::EventLog();
        if (log.size() != 1 || log[0].strings.size() != 1) {
            ADD_FAILURE() << "expected one report, got " << log.size();
            return "";
        }
        EXPECT_EQ(log[0].source, kReporterName);
        EXPECT_EQ(log[0].type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(log[0].id, kReportEventId);
        return log[0].strings[0];
    }
};

constexpr winsim::ExitStatus kFatal{1, false};

TEST_F(RegistryTest, MissingKeyIsCreatedEmptyUnderTheSelectedRoot) {
    {
        RegistrySettingsStore store(1, kCompany, kProduct, "1");
        EXPECT_TRUE(test::RegKeyExists(HKEY_CURRENT_USER, kPath));
        EXPECT_FALSE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kPath));
    }
    RegistrySettingsStore store(0, kCompany, kProduct, "1");
    ASSERT_TRUE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kPath));
    const char* text = "untouched";
    EXPECT_FALSE(store.GetString("CommandProcessor", &text));
    EXPECT_STREQ(text, "untouched");
    DWORD number = 0;
    EXPECT_FALSE(store.GetNumber("ExitDetectionTimeout", &number, 400));
    EXPECT_EQ(number, 400u);
    // The default now stands in the store, but never in the registry.
    EXPECT_TRUE(store.GetNumber("exitdetectiontimeout", &number, 7));
    EXPECT_EQ(number, 400u);
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kPath, &key), ERROR_SUCCESS);
    char name[16];
    DWORD name_length = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &name_length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, LookupsIgnoreCaseAndSeeOnlyTheirOwnType) {
    Set("commandPROCESSOR", REG_SZ, test::RegSz("cmd.exe /q"));
    Set("Expand", REG_EXPAND_SZ, test::RegSz("%SystemRoot%"));
    Set("Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    Set("Binary", REG_BINARY, std::string("\x01\x02\x03\x04", 4));
    Set("Number", REG_DWORD, test::RegDword(0x12345678));
    RegistrySettingsStore store(0, kCompany, kProduct, "1");

    const char* text = nullptr;
    ASSERT_TRUE(store.GetString("CommandProcessor", &text));
    EXPECT_STREQ(text, "cmd.exe /q");
    for (const char* name : {"Expand", "Multi", "Binary", "Number"}) {
        EXPECT_FALSE(store.GetString(name, &text)) << name;
    }
    DWORD number = 0;
    EXPECT_TRUE(store.GetNumber("NUMBER", &number, 9));
    EXPECT_EQ(number, 0x12345678u);
    EXPECT_FALSE(store.GetNumber("Binary", &number, 9));
    EXPECT_EQ(number, 9u);
}

TEST_F(RegistryTest, NumberDefaultReplacesStringOfTheSameName) {
    Set("SuppressColorSimulation", REG_SZ, test::RegSz("1"));
    RegistrySettingsStore store(0, kCompany, kProduct, "1");
    DWORD number = 5;
    EXPECT_FALSE(store.GetNumber("SuppressColorSimulation", &number, 0));
    EXPECT_EQ(number, 0u);
    const char* text = nullptr;
    EXPECT_FALSE(store.GetString("suppresscolorsimulation", &text));
}

TEST_F(RegistryTest, ShortDataReadsSafely) {
    Set("Unterminated", REG_SZ, "abc");
    Set("Empty", REG_SZ, "");
    Set("Short", REG_DWORD, std::string("\x05\x00", 2));
    RegistrySettingsStore store(0, kCompany, kProduct, "1");
    const char* text = nullptr;
    ASSERT_TRUE(store.GetString("Unterminated", &text));
    EXPECT_STREQ(text, "abc");
    ASSERT_TRUE(store.GetString("Empty", &text));
    EXPECT_STREQ(text, "");
    DWORD number = 0;
    EXPECT_FALSE(store.GetNumber("Short", &number, 400));
    EXPECT_EQ(number, 400u);
}

TEST_F(RegistryTest, UnopenableKeyIsFatal) {
    test::FailCall("RegCreateKeyA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(BuildFailing(kFatal),
              std::string("Couldn't create/open key: HKEY_LOCAL_MACHINE\\") + kPath);
    test::Reset();
    test::FailCall("RegCreateKeyA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(BuildFailing(kFatal, 1),
              std::string("Couldn't create/open key: HKEY_CURRENT_USER\\") + kPath);
}

TEST_F(RegistryTest, EnumerationFailureIsFatalWithTheReturnedCode) {
    Set("A", REG_SZ, test::RegSz("a"));
    test::FailCall("RegEnumValueA", ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(BuildFailing(kFatal), "Error enumerating registry values: 5\n");
}

TEST_F(RegistryTest, ValuesBeyondTheEnumerationBuffersAreFatal) {
    Set(std::string(1023, 'n'), REG_SZ, test::RegSz("fits"));
    Set("Big", REG_BINARY, std::string(32768, 'd'));
    {
        RegistrySettingsStore store(0, kCompany, kProduct, "1");
        const char* text = nullptr;
        EXPECT_TRUE(store.GetString(std::string(1023, 'N').c_str(), &text));
    }
    Set(std::string(1024, 'n'), REG_SZ, test::RegSz("too long"));
    EXPECT_EQ(BuildFailing(kFatal), "Error enumerating registry values: 234\n");
    test::Reset();
    Set("Bigger", REG_BINARY, std::string(32769, 'd'));
    EXPECT_EQ(BuildFailing(kFatal), "Error enumerating registry values: 234\n");
}

TEST_F(RegistryTest, CloseFailureIsAnAssertion) {
    test::FailCall("RegCloseKey", ERROR_INVALID_HANDLE);
    std::string report = BuildFailing({EXCEPTION_ACCESS_VIOLATION, true});
    EXPECT_EQ(report.rfind("Assertion failed in file: ZREGENT.cpp at line ", 0), 0u) << report;
}

TEST_F(RegistryTest, KeysOpenCaseInsensitivelyAndHandlesAreChecked) {
    HKEY created, opened, root;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\A\\B", &created), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "software\\a\\b", &opened), ERROR_SUCCESS);
    EXPECT_NE(created, opened);
    test::RegSetValue(HKEY_CURRENT_USER, "SOFTWARE\\A\\B", "V", REG_SZ, test::RegSz("x"));
    char name[8];
    DWORD name_length = sizeof name;
    EXPECT_EQ(RegEnumValueA(opened, 0, name, &name_length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, nullptr, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    test::RegDeleteTree(HKEY_CURRENT_USER, "Software\\A");
    name_length = sizeof name;
    SetLastError(77);
    EXPECT_EQ(RegEnumValueA(opened, 0, name, &name_length, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(GetLastError(), 77u);  // registry calls leave the last error alone
    EXPECT_EQ(RegCloseKey(created), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(opened), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, EnumerationFollowsCreationOrderAndReportsSizes) {
    Set("b", REG_SZ, test::RegSz("old"));
    Set("A", REG_DWORD, test::RegDword(1));
    Set("B", REG_BINARY, "xy");  // same name: replaced in place
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kPath, &key), ERROR_SUCCESS);
    char name[2];
    BYTE data[4];
    DWORD name_length = 2, type = 0, data_length = 1;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &name_length, nullptr, &type, data, &data_length),
              ERROR_MORE_DATA);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(data_length, 2u);  // the size needed
    name_length = 2;
    data_length = sizeof data;
    ASSERT_EQ(RegEnumValueA(key, 1, name, &name_length, nullptr, &type, data, &data_length),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "A");
    EXPECT_EQ(name_length, 1u);
    EXPECT_EQ(data_length, 4u);
    name_length = 1;  // no room for the zero
    EXPECT_EQ(RegEnumValueA(key, 1, name, &name_length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    name_length = 2;
    EXPECT_EQ(RegEnumValueA(key, 2, name, &name_length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

}  // namespace
