// The command processor's launch: its command line, the roads that start nothing, and the child
// watcher that ends the login.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "login_harness.h"
#include "Launch.h"
#include "Text.h"
#include "translator.h"
#include "winsim/control.h"

namespace {

using winsim::test::CreatedProcesses;

TEST(CommandProcessorLine, SettingScriptOrPlainCmd) {
    EXPECT_EQ(ComposeCommandProcessorLine("sh.exe -i", "C:\\windows\\system32", "x", true),
              "sh.exe -i");
    EXPECT_EQ(ComposeCommandProcessorLine("", "C:\\windows\\system32", "", false), "");
    EXPECT_EQ(ComposeCommandProcessorLine(nullptr, "C:\\WINNT\\system32",
                                          StartupScriptPath("D:\\Home Dirs\\ann"), true),
              "\"C:\\WINNT\\system32\\cmd.exe\" /K call \"D:\\Home Dirs\\ann\\remote.cmd\"");
    EXPECT_EQ(ComposeCommandProcessorLine(nullptr, "C:\\Program Files\\sys", "ignored", false),
              "\"C:\\Program Files\\sys\\cmd.exe\"");
    EXPECT_EQ(StartupScriptPath(""), "\\remote.cmd");
}

class LaunchTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        winsim::test::RegisterProgram("cmd", [](const std::string&) { return 0; });
        winsim::test::RegisterProgram("sh", [](const std::string&) { return 0; });
    }
    void TearDown() override {
        setting_.reset();
        winsim::test::Reset();
    }

    // Launches in a simulated process; the handle it returned, or null.
    winsim::ExitStatus Launch(bool* started) {
        auto status = winsim::RunProcess([this, started] {
            HANDLE process = LaunchCommandProcessor(setting_.get());
            *started = process != nullptr;
            return 0;
        });
        winsim::test::WaitForCreatedProcesses();
        return status;
    }

    std::unique_ptr<char[]> setting_;  // the CommandProcessor setting
};

TEST_F(LaunchTest, SettingIsStartedAsItIsWithoutAskingForTheAccount) {
    winsim::test::AddFile("C:\\Users\\user\\remote.cmd");
    setting_ = CopyText("sh.exe -i -x");
    bool started = false;
    Launch(&started);
    EXPECT_TRUE(started);
    auto created = CreatedProcesses();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].command_line, "sh.exe -i -x");
    EXPECT_EQ(winsim::test::CallCount("NetUserGetInfo"), 0);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(LaunchTest, CmdRunsTheUsersScriptWhenThereIsOne) {
    bool started = false;
    Launch(&started);
    EXPECT_TRUE(started);
    auto created = CreatedProcesses();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].command_line, "\"C:\\windows\\system32\\cmd.exe\"");
    // Shares the console and inherits the standard handles: no flags, no handles named.
    EXPECT_TRUE(created[0].inherit_handles);
    EXPECT_EQ(created[0].flags, 0u);
    EXPECT_EQ(created[0].startup.cb, sizeof(STARTUPINFOA));
    EXPECT_EQ(created[0].startup.dwFlags, 0u);

    SetUp();
    winsim::test::AddFile("C:\\Users\\user\\remote.cmd");
    Launch(&started);
    EXPECT_EQ(CreatedProcesses().at(0).command_line,
              "\"C:\\windows\\system32\\cmd.exe\" /K call \"C:\\Users\\user\\remote.cmd\"");

    // A home directory with a space: the script is found and its path stays whole.
    SetUp();
    winsim::test::AddAccount(winsim::test::kLocalDomain, "ann", "S-1-5-21-1-2-3-1001",
                             "D:\\Home Dirs\\ann");
    winsim::test::SetProcessUser("S-1-5-21-1-2-3-1001");
    winsim::test::AddFile("D:\\Home Dirs\\ann\\remote.cmd");
    Launch(&started);
    EXPECT_EQ(CreatedProcesses().at(0).command_line,
              "\"C:\\windows\\system32\\cmd.exe\" /K call \"D:\\Home Dirs\\ann\\remote.cmd\"");
}

TEST_F(LaunchTest, RoadsThatStartNothing) {
    struct Case {
        const char* api;
        DWORD error;
        const char* report;
    };
    const Case cases[] = {
        {"OpenProcessToken", 5, "Can't find the Sid for the current process."},
        {"CopySid", 122, "Can't find the Sid for the current process."},
        {"GetSystemDirectoryA", 5, "Couldn't find system directory: 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.api);
        SetUp();
        winsim::test::FailCall(c.api, c.error);
        bool started = true;
        auto status = Launch(&started);
        EXPECT_FALSE(started);
        EXPECT_EQ(status.code, 0u);
        EXPECT_EQ(Reports(), std::vector<std::string>{c.report});
        EXPECT_TRUE(CreatedProcesses().empty());
    }
}

TEST_F(LaunchTest, ALineThatDoesNotFitIsNeverStartedCut) {
    setting_ = CopyText(("sh " + std::string(8189, 'x')).c_str());
    bool started = true;
    Launch(&started);
    EXPECT_FALSE(started);
    EXPECT_TRUE(CreatedProcesses().empty());
    EXPECT_EQ(Reports(),
              std::vector<std::string>{
                  "Command line too long: 8192 characters, at most 8191 can be started"});

    SetUp();  // the longest line that fits is started whole
    std::string longest = "sh " + std::string(8188, 'y');
    setting_ = CopyText(longest.c_str());
    Launch(&started);
    EXPECT_TRUE(started);
    EXPECT_EQ(CreatedProcesses().at(0).command_line, longest);
}

TEST_F(LaunchTest, FailedCreationEndsTheProgram) {
    winsim::test::FailCall("CreateProcessA", 2);
    bool started = false;
    auto status = Launch(&started);
    EXPECT_EQ(status.code, 1u);
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(Reports(), std::vector<std::string>{"CreateProcess failed: 2"});
}

TEST_F(LaunchTest, WatcherClosesTheSocketPipesWhenTheCommandProcessorEnds) {
    // The server's ends stay here; the translator reads its input until the watcher closes it.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE input_read, input_write, output_read, output_write, control_read, control_write;
    CreatePipe(&input_read, &input_write, &inherit, 0);
    CreatePipe(&output_read, &output_write, &inherit, 0);
    CreatePipe(&control_read, &control_write, &inherit, 0);
    DWORD read_error = 0;
    winsim::SimProcess translator;
    HANDLE self = GetCurrentProcess();
    HANDLE target = OpenProcess(PROCESS_DUP_HANDLE, FALSE, winsim::test::ProcessIdOf(translator));
    const DWORD move = DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE;
    HANDLE in, out, control;
    DuplicateHandle(self, input_read, target, &in, 0, FALSE, move);
    DuplicateHandle(self, output_write, target, &out, 0, FALSE, move);
    DuplicateHandle(self, control_write, target, &control, 0, FALSE, move);
    CloseHandle(target);
    translator.Start([&] {
        g_translator.socket_input = in;
        g_translator.socket_output = out;
        g_translator.control_channel = control;
        LaunchCommandProcessor(nullptr);
        char byte;
        DWORD count;
        if (!ReadFile(in, &byte, 1, &count, nullptr)) read_error = GetLastError();
        return 0;
    });
    EXPECT_EQ(translator.Wait().code, 0u);
    EXPECT_TRUE(read_error == ERROR_BROKEN_PIPE || read_error == ERROR_INVALID_HANDLE);
    char byte;
    DWORD count;
    EXPECT_FALSE(ReadFile(output_read, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_FALSE(ReadFile(control_read, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_TRUE(Reports().empty());
    for (HANDLE handle : {input_write, output_read, control_read}) CloseHandle(handle);
}

}  // namespace
