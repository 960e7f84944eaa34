// The command starter run as a service in the simulated Win32, with the test runner's own
// process standing in for the rexec server that owns the pipes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Service.h"
#include "winsim/control.h"

namespace {

using winsim::test::CreatedProcesses;

std::string Decimal(HANDLE handle) {
    return std::to_string(reinterpret_cast<uintptr_t>(handle));
}

void WriteText(DWORD which, const char* text) {
    DWORD written;
    WriteFile(GetStdHandle(which), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

// A command that says what it was started with on both of its output handles.
int EchoProgram(const std::string& command_line) {
    WriteText(STD_OUTPUT_HANDLE, ("out:" + command_line + "\n").c_str());
    WriteText(STD_ERROR_HANDLE, "err\n");
    return 0;
}

// The server's three pipes: the command's ends are moved out of this process by the starter.
struct ServerPipes {
    HANDLE input_read, input_write, output_read, output_write, error_read, error_write;
    ServerPipes() {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        CreatePipe(&input_read, &input_write, &inherit, 0);
        CreatePipe(&output_read, &output_write, &inherit, 0);
        CreatePipe(&error_read, &error_write, &inherit, 0);
    }
    ~ServerPipes() {
        for (HANDLE handle :
             {input_read, input_write, output_read, output_write, error_read, error_write}) {
            CloseHandle(handle);
        }
    }
    static std::string ReadAll(HANDLE pipe) {
        std::string text;
        char buffer[256];
        DWORD read;
        while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr)) text.append(buffer, read);
        return text;
    }
};

class StarterTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        winsim::test::RegisterProgram("prog", EchoProgram);
        winsim::test::RegisterProgram("cmd", EchoProgram);
        winsim::test::RegisterProgram("sh", EchoProgram);
        pipes_ = std::make_unique<ServerPipes>();  // fresh for every start
    }
    void TearDown() override { winsim::test::Reset(); }  // joins the commands' threads

    // The six start arguments for a command with the server's pipes.
    std::vector<std::string> WithPipes(const std::string& command, const char* error = nullptr) {
        return {command,
                "5",
                std::to_string(GetCurrentProcessId()),
                Decimal(pipes_->input_read),
                Decimal(pipes_->output_write),
                error ? error : Decimal(pipes_->error_write)};
    }

    winsim::ExitStatus Run(const std::vector<std::string>& arguments) {
        winsim::test::StartAsService(starter_, "rexec-7", arguments, [] { return StarterMain(); });
        auto status = starter_.Wait();
        winsim::test::WaitForCreatedProcesses();
        return status;
    }

    std::vector<DWORD> States() {
        std::vector<DWORD> states;
        for (auto& status : winsim::test::ServiceStatuses(starter_)) {
            states.push_back(status.dwCurrentState);
        }
        return states;
    }

    std::vector<std::string> Reports() {
        std::vector<std::string> texts;
        for (auto& record : winsim::test::EventLog()) texts.push_back(record.strings.at(0));
        return texts;
    }

    std::string Variable(const char* name) {
        auto value = winsim::test::EnvironmentOf(starter_, name);
        return value ? *value : "<unset>";
    }

    std::unique_ptr<ServerPipes> pipes_;
    winsim::SimProcess starter_;
};

const std::vector<DWORD> kStartedAndStopped{SERVICE_START_PENDING, SERVICE_RUNNING,
                                            SERVICE_STOPPED};
const std::vector<DWORD> kFailed{SERVICE_START_PENDING, SERVICE_STOPPED};

TEST_F(StarterTest, UnflaggedCommandRunsAsGivenWithTheServersPipes) {
    auto status = Run(WithPipes("prog /x a"));
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(States(), kStartedAndStopped);
    EXPECT_EQ(winsim::test::ServiceHandlerName(starter_), "ZZZ Orvane Command Starter: %lu");
    EXPECT_TRUE(Reports().empty());

    auto created = CreatedProcesses();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].command_line, "prog /x a");
    EXPECT_TRUE(created[0].inherit_handles);
    EXPECT_EQ(created[0].flags, static_cast<DWORD>(CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP));
    EXPECT_EQ(created[0].startup.cb, sizeof(STARTUPINFOA));
    EXPECT_EQ(created[0].startup.dwFlags,
              static_cast<DWORD>(STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES));
    EXPECT_EQ(created[0].startup.wShowWindow, 5);
    EXPECT_EQ(created[0].error_mode,
              static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));

    // The server's handles were moved: closed here, and the command's output arrives.
    EXPECT_FALSE(CloseHandle(pipes_->output_write));
    EXPECT_EQ(ServerPipes::ReadAll(pipes_->output_read), "out:prog /x a\n");
    EXPECT_EQ(ServerPipes::ReadAll(pipes_->error_read), "err\n");
}

TEST_F(StarterTest, StatusRecordsCarryTypeControlsCheckPointAndHint) {
    Run(WithPipes("prog"));
    auto statuses = winsim::test::ServiceStatuses(starter_);
    ASSERT_EQ(statuses.size(), 3u);
    for (auto& status : statuses) {
        EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(status.dwWin32ExitCode, 0u);
        EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
        EXPECT_EQ(status.dwWaitHint, 500u);
    }
    EXPECT_EQ(statuses[0].dwControlsAccepted, 0u);
    EXPECT_EQ(statuses[0].dwCheckPoint, 1u);
    EXPECT_EQ(statuses[1].dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(statuses[1].dwCheckPoint, 0u);
    EXPECT_EQ(MakeServiceStatus(SERVICE_STOP_PENDING).dwCheckPoint, 1u);
}

TEST_F(StarterTest, MissingErrorHandleSendsStandardErrorToTheOutputPipe) {
    Run(WithPipes("prog", "4294967295"));
    EXPECT_EQ(States(), kStartedAndStopped);
    auto created = CreatedProcesses();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(ServerPipes::ReadAll(pipes_->output_read), "out:prog\nerr\n");
    // The server's error pipe was left alone.
    EXPECT_TRUE(CloseHandle(pipes_->error_write));
    pipes_->error_write = nullptr;
}

TEST_F(StarterTest, NoHandlesGivenMovesNothing) {
    Run({"prog", "1", "999999", "4294967295", "-1", "4294967295"});
    EXPECT_EQ(States(), kStartedAndStopped);
    auto created = CreatedProcesses();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].startup.dwFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_TRUE(CloseHandle(pipes_->input_read));  // still the server's
    pipes_->input_read = nullptr;
}

TEST_F(StarterTest, MissingInputOrOutputBesideOtherHandlesIsRefused) {
    for (int missing = 0; missing < 2; ++missing) {
        SetUp();
        auto arguments = WithPipes("prog");
        arguments[3 + missing] = "4294967295";
        winsim::SimProcess starter;
        winsim::test::StartAsService(starter, "rexec", arguments, [] { return StarterMain(); });
        starter.Wait();
        auto statuses = winsim::test::ServiceStatuses(starter);
        ASSERT_EQ(statuses.size(), 2u);
        EXPECT_EQ(statuses[1].dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_TRUE(CreatedProcesses().empty());
        ASSERT_EQ(Reports().size(), 1u);
        EXPECT_EQ(Reports()[0].rfind("Bad standard handle values: ", 0), 0u);
    }
    // Nothing was taken from the server.
    EXPECT_TRUE(CloseHandle(pipes_->error_write));
    pipes_->error_write = nullptr;
}

TEST_F(StarterTest, EnvironmentAndCurrentDirectoryFollowTheUser) {
    winsim::test::AddDirectory("C:\\Users\\user");
    Run(WithPipes("prog"));
    EXPECT_EQ(Variable("USERDOMAIN"), "WORKSTATION");
    EXPECT_EQ(Variable("USERNAME"), "user");
    EXPECT_EQ(Variable("HOMESHARE"), "");
    EXPECT_EQ(Variable("HOMEDRIVE"), "C:");
    EXPECT_EQ(Variable("HOMEPATH"), "\\Users\\user");
    EXPECT_EQ(CreatedProcesses().at(0).current_directory, "C:\\Users\\user");
}

TEST_F(StarterTest, HomeThatCannotBeEnteredOrIsOnTheNetworkLeavesCDriveRoot) {
    Run(WithPipes("prog"));  // C:\Users\user does not exist here
    EXPECT_EQ(Variable("HOMEDRIVE"), "C:");
    EXPECT_EQ(CreatedProcesses().at(0).current_directory, "C:\\");

    SetUp();
    winsim::test::AddAccount(winsim::test::kLocalDomain, "ann", "S-1-5-21-1-2-3-1001",
                             "\\\\server\\homes\\ann");
    winsim::test::SetProcessUser("S-1-5-21-1-2-3-1001");
    winsim::SimProcess starter;
    winsim::test::StartAsService(starter, "rexec", WithPipes("prog"), [] { return StarterMain(); });
    starter.Wait();
    EXPECT_EQ(*winsim::test::EnvironmentOf(starter, "HOMEDRIVE"), "");
    EXPECT_EQ(*winsim::test::EnvironmentOf(starter, "HOMEPATH"), "\\\\server\\homes\\ann");
    EXPECT_EQ(*winsim::test::EnvironmentOf(starter, "USERNAME"), "ann");
    EXPECT_EQ(winsim::test::CurrentDirectoryOf(starter), "C:\\");
}

TEST_F(StarterTest, FlaggedCommandRunsThroughCmdAfterRemoteCmdWhenThereIsOne) {
    Run(
        WithPipes("\x01"
                  "echo hi"));
    EXPECT_EQ(CreatedProcesses().at(0).command_line,
              "\"C:\\windows\\system32\\cmd.exe\" /c echo hi");

    SetUp();
    winsim::test::AddFile("C:\\Users\\user\\remote.cmd");
    winsim::SimProcess starter;
    winsim::test::StartAsService(starter, "rexec",
                                 WithPipes("\x01"
                                           "echo hi"),
                                 [] { return StarterMain(); });
    starter.Wait();
    EXPECT_EQ(CreatedProcesses().at(0).command_line,
              "\"C:\\windows\\system32\\cmd.exe\" /c call \"C:\\Users\\user\\remote.cmd\"&echo hi");

    // A home directory with a space stays one path.
    SetUp();
    winsim::test::AddAccount(winsim::test::kLocalDomain, "ann", "S-1-5-21-1-2-3-1001",
                             "D:\\Home Dirs\\ann");
    winsim::test::SetProcessUser("S-1-5-21-1-2-3-1001");
    winsim::test::AddFile("D:\\Home Dirs\\ann\\remote.cmd");
    winsim::SimProcess spaced;
    winsim::test::StartAsService(spaced, "rexec",
                                 WithPipes("\x01"
                                           "echo hi"),
                                 [] { return StarterMain(); });
    spaced.Wait();
    EXPECT_EQ(
        CreatedProcesses().at(0).command_line,
        "\"C:\\windows\\system32\\cmd.exe\" /c call \"D:\\Home Dirs\\ann\\remote.cmd\"&echo hi");
}

TEST_F(StarterTest, FlaggedCommandUsesTheCommandProcessorSetting) {
    winsim::test::RegSetValue(
        HKEY_LOCAL_MACHINE, "Software\\Orvane Software, Inc.\\Orvane Rexecd Server\\CurrentVersion",
        "commandprocessor", REG_SZ, winsim::test::RegSz("sh.exe -c"));
    winsim::test::AddFile("C:\\Users\\user\\remote.cmd");
    Run(
        WithPipes("\x01"
                  "ls"));
    EXPECT_EQ(States(), kStartedAndStopped);
    EXPECT_EQ(CreatedProcesses().at(0).command_line, "sh.exe -c ls");
}

// A program that says nothing: a long command line would not fit the output pipe, which is
// read only after the start.
int Quiet(const std::string&) {
    return 0;
}

TEST_F(StarterTest, ComposedLineThatDoesNotFitIsNeverStartedCut) {
    // With neither setting nor script the flagged command runs through "<system>\cmd.exe" /c;
    // the quotation marks count.
    const std::string prefix = "\"C:\\windows\\system32\\cmd.exe\" /c ";
    std::string fits = "prog " + std::string(8191 - prefix.size() - 5, 'x');
    Run(WithPipes("\x01" + fits + "y"));  // 8192 characters
    EXPECT_EQ(States(), kFailed);
    EXPECT_TRUE(CreatedProcesses().empty());
    EXPECT_EQ(Reports(),
              std::vector<std::string>{
                  "Command line too long: 8192 characters, at most 8191 can be started"});

    SetUp();
    winsim::test::RegisterProgram("cmd", Quiet);
    winsim::SimProcess starter;  // 8191 characters are started whole
    winsim::test::StartAsService(starter, "rexec", WithPipes("\x01" + fits),
                                 [] { return StarterMain(); });
    starter.Wait();
    winsim::test::WaitForCreatedProcesses();
    EXPECT_EQ(CreatedProcesses().at(0).command_line, prefix + fits);
}

TEST_F(StarterTest, UnflaggedCommandIsHandedOnWhateverItsLength) {
    winsim::test::RegisterProgram("prog", Quiet);
    std::string command = "prog " + std::string(9000, 'y');
    Run(WithPipes(command));
    EXPECT_EQ(States(), kStartedAndStopped);
    EXPECT_EQ(CreatedProcesses().at(0).command_line, command);

    SetUp();  // process creation itself refuses what it cannot take
    winsim::SimProcess starter;
    winsim::test::StartAsService(starter, "rexec", WithPipes("prog " + std::string(40000, 'z')),
                                 [] { return StarterMain(); });
    starter.Wait();
    EXPECT_EQ(Reports(), std::vector<std::string>{"CreateProcess = 87"});
    EXPECT_TRUE(CreatedProcesses().empty());
}

TEST_F(StarterTest, ShowWindowValueTakesItsLow16Bits) {
    auto arguments = WithPipes("prog");
    arguments[1] = "65541";  // 0x10005
    Run(arguments);
    EXPECT_EQ(CreatedProcesses().at(0).startup.wShowWindow, 5);

    SetUp();
    arguments = WithPipes("prog");
    arguments[1] = "259";  // 0x0103
    winsim::SimProcess starter;
    winsim::test::StartAsService(starter, "rexec", arguments, [] { return StarterMain(); });
    starter.Wait();
    winsim::test::WaitForCreatedProcesses();
    EXPECT_EQ(CreatedProcesses().at(0).startup.wShowWindow, 0x0103);
}

TEST_F(StarterTest, NamesTheAccountLookupCouldNotGiveAreAbsentNotEmpty) {
    winsim::test::FailCall("LookupAccountSidA", ERROR_NONE_MAPPED, 0, 0);
    Run(WithPipes("prog"));
    EXPECT_EQ(States(), kStartedAndStopped);
    auto environment = CreatedProcesses().at(0).environment;
    for (const char* name : {"USERDOMAIN", "USERNAME"}) {
        bool present = false;
        for (auto& [variable, value] : environment) present = present || variable == name;
        EXPECT_FALSE(present) << name;
    }
}

TEST_F(StarterTest, EveryFailureIsReportedAndEndsInACleanStop) {
    struct Case {
        const char* api;
        DWORD error;
        const char* report;
        const char* command;
    };
    const Case cases[] = {
        {"OpenProcessToken", 5, "Can't get Sid from the access token: 5", "prog"},
        {"SetEnvironmentVariableA", 8, "Could set USERDOMAIN: 8", "prog"},
        {"GetSystemDirectoryA", 5, "Couldn't find system directory: 5",
         "\x01"
         "dir"},
        {"OpenProcess", 87, "OpenProcess = 87", "prog"},
        {"DuplicateHandle", 6, "Duplicate hIn = 6", "prog"},
        {"CreateProcessA", 2, "CreateProcess = 2", "prog"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.api);
        SetUp();
        winsim::test::FailCall(c.api, c.error);
        winsim::SimProcess starter;
        winsim::test::StartAsService(starter, "rexec", WithPipes(c.command),
                                     [] { return StarterMain(); });
        EXPECT_FALSE(starter.Wait().crashed);
        auto statuses = winsim::test::ServiceStatuses(starter);
        ASSERT_EQ(statuses.size(), 2u);
        EXPECT_EQ(statuses[1].dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(Reports(), std::vector<std::string>{c.report});
        EXPECT_TRUE(CreatedProcesses().empty());
    }
}

TEST_F(StarterTest, UnknownCommandFailsCreation) {
    Run(WithPipes("nosuchprogram.exe"));
    EXPECT_EQ(States(), kFailed);
    EXPECT_EQ(Reports(), std::vector<std::string>{"CreateProcess = 2"});
}

TEST_F(StarterTest, WrongArgumentCountStartsNothingAndSendsNoStatus) {
    for (int given : {5, 7}) {
        SCOPED_TRACE(given);
        SetUp();
        auto arguments = WithPipes("prog");
        if (given == 5) {
            arguments.pop_back();
        } else {
            arguments.push_back("0");
        }
        winsim::SimProcess starter;
        winsim::test::StartAsService(starter, "rexec", arguments, [] { return StarterMain(); });
        EXPECT_FALSE(starter.Wait().crashed);
        EXPECT_TRUE(winsim::test::ServiceStatuses(starter).empty());
        EXPECT_EQ(Reports(), std::vector<std::string>{"Argc = " + std::to_string(given + 1)});
        EXPECT_TRUE(CreatedProcesses().empty());
    }
}

TEST_F(StarterTest, MalformedNumberEndsThroughTheAssertionBeforeAnyStatus) {
    auto arguments = WithPipes("prog");
    arguments[3] = "12 ";
    auto status = Run(arguments);
    EXPECT_TRUE(status.crashed);
    EXPECT_EQ(status.code, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_TRUE(States().empty());
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].rfind("Assertion failed in file: ZMATH.cpp", 0), 0u);
}

TEST_F(StarterTest, FailedHandlerRegistrationIsReportedWithoutStatus) {
    winsim::test::FailCall("RegisterServiceCtrlHandlerA", 1063);
    Run(WithPipes("prog"));
    EXPECT_TRUE(States().empty());
    EXPECT_EQ(Reports(), std::vector<std::string>{"RegisterServiceCtrlHandler = 1063"});
}

TEST_F(StarterTest, ControlsWhileStartingAreAnsweredWithoutStoppingTheStart) {
    bool sent = false;
    // The hook runs on the service thread right after the start-pending report.
    winsim::test::OnServiceStatus(starter_, [this, &sent](const SERVICE_STATUS& status) {
        if (status.dwCurrentState != SERVICE_START_PENDING || sent) return;
        sent = true;
        winsim::test::SendControl(starter_, SERVICE_CONTROL_INTERROGATE);
        winsim::test::SendControl(starter_, SERVICE_CONTROL_STOP);
    });
    winsim::test::StartAsService(starter_, "rexec", WithPipes("prog"),
                                 [] { return StarterMain(); });
    starter_.Wait();
    winsim::test::WaitForCreatedProcesses();
    EXPECT_EQ(States(),
              (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING,
                                  SERVICE_RUNNING, SERVICE_STOPPED}));
    EXPECT_EQ(CreatedProcesses().size(), 1u);
}

TEST_F(StarterTest, StartedByHandTheDispatcherFailsAndIsReported) {
    auto status = winsim::RunProcess([] { return StarterMain(); });
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(Reports(), std::vector<std::string>{"StartServiceCtrlDispatcher = 1063"});
}

}  // namespace
