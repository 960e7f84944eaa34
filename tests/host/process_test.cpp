// The simulated process model: how programs end, blocked threads, pipes and last errors.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "Reporter.h"
#include "ZEVENT.h"
#include "winsim/control.h"

namespace {

class ProcessTest : public testing::Test {
  protected:
    void SetUp() override { winsim::test::Reset(); }
};

void __cdecl FatalOnThread(void*) {
    ReportFatal("Could not create thread: %d\n", 3);
}

TEST_F(ProcessTest, FatalErrorOnASecondaryThreadEndsTheWholeProcess) {
    std::atomic<bool> main_went_on{false};
    auto status = winsim::RunProcess([&] {
        StartThread(FatalOnThread, nullptr, 0);
        Sleep(INFINITE);  // unwound when the process ends
        main_went_on = true;
        return 0;
    });
    EXPECT_EQ(status.code, 1u);
    EXPECT_FALSE(status.crashed);
    EXPECT_FALSE(main_went_on);
}

TEST_F(ProcessTest, ReturningFromTheEntryEndsThreadsBlockedInTheSimulation) {
    auto status = winsim::RunProcess([] {
        StartThread([](void*) { Sleep(INFINITE); }, nullptr, 0);
        StartThread(
            [](void*) {
                EventObject never;
                never.Wait();
            },
            nullptr, 0);
        return 3;
    });
    EXPECT_EQ(status.code, 3u);
}

TEST_F(ProcessTest, ExitProcessEndsOnlyTheSimulatedProgram) {
    auto status = winsim::RunProcess([] {
        ExitProcess(9);
        return 0;
    });
    EXPECT_EQ(status.code, 9u);
    EXPECT_FALSE(status.crashed);
}

TEST_F(ProcessTest, PipeCarriesBytesExactlyAndReportsTheEndOfItsWriters) {
    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 4));
    const char data[] = {'a', 0, '\xff', '\r', '\n', 'z'};
    BOOL wrote = FALSE;
    DWORD written = 0;
    winsim::test::StartRunnerThread([&] {
        wrote = WriteFile(writer, data, sizeof data, &written, nullptr);  // waits for room
        CloseHandle(writer);
    });
    std::string got;
    char buffer[3];
    DWORD read;
    while (ReadFile(reader, buffer, sizeof buffer, &read, nullptr)) got.append(buffer, read);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    winsim::test::RunUntilIdle();
    EXPECT_TRUE(wrote);
    EXPECT_EQ(written, sizeof data);
    EXPECT_EQ(got, std::string(data, sizeof data));
    CloseHandle(reader);
}

TEST_F(ProcessTest, ClosingTheReadHandleEndsABlockedRead) {
    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
    bool ended = false;
    DWORD error = 0;
    winsim::test::StartRunnerThread([&] {
        char byte;
        DWORD read;
        if (!ReadFile(reader, &byte, 1, &read, nullptr)) error = GetLastError();
        ended = true;
    });
    winsim::test::RunUntilIdle();
    EXPECT_FALSE(ended);
    CloseHandle(reader);
    winsim::test::RunUntilIdle();
    EXPECT_TRUE(ended);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
    DWORD written;
    EXPECT_FALSE(WriteFile(writer, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
    CloseHandle(writer);
}

TEST_F(ProcessTest, LastErrorIsPerThreadAndBadHandlesFail) {
    SetLastError(77);
    DWORD first = 1;
    DWORD after_failure = 0;
    winsim::test::StartRunnerThread([&] {
        first = GetLastError();
        CloseHandle(reinterpret_cast<HANDLE>(0x7777));
        after_failure = GetLastError();
    });
    winsim::test::RunUntilIdle();
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(after_failure, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetLastError(), 77u);
    DWORD mode;
    EXPECT_FALSE(GetConsoleMode(nullptr, &mode));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// An injected failure looks like the platform's own: the failure value, the error for
// GetLastError, nothing done; the next call works again.
TEST_F(ProcessTest, StandardHandleTerminationAndFileOpenCanBeMadeToFail) {
    winsim::SimProcess process;
    HANDLE output = winsim::test::MakeSink(&process).handle();
    process.SetStdHandle(STD_OUTPUT_HANDLE, output);
    HANDLE seen[2] = {nullptr, nullptr};
    DWORD error = 0;
    process.Start([&] {
        winsim::test::FailCall("GetStdHandle", ERROR_GEN_FAILURE);
        seen[0] = GetStdHandle(STD_OUTPUT_HANDLE);
        error = GetLastError();
        seen[1] = GetStdHandle(STD_OUTPUT_HANDLE);
        Sleep(INFINITE);
        return 0;
    });
    winsim::test::RunUntilIdle();
    EXPECT_EQ(seen[0], INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(seen[1], output);

    HANDLE handle = OpenProcess(PROCESS_TERMINATE, FALSE, winsim::test::ProcessIdOf(process));
    winsim::test::FailCall("TerminateProcess", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(TerminateProcess(handle, 5));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(handle, &code));
    EXPECT_EQ(code, 259u);  // still active
    EXPECT_TRUE(TerminateProcess(handle, 5));
    EXPECT_EQ(process.Wait().code, 5u);
    CloseHandle(handle);

    winsim::test::AddFile("C:\\data\\here.txt");
    winsim::test::FailCall("_lopen", 32 /* sharing violation */);
    EXPECT_EQ(_lopen("C:\\data\\here.txt", OF_READ), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), 32u);
    HFILE file = _lopen("C:\\data\\here.txt", OF_READ);
    EXPECT_NE(file, HFILE_ERROR);
    _lclose(file);
}

// Starts `command_line` with `flags`; returns the new process's id, or 0 with the error.
DWORD Start(const char* command_line, DWORD flags, DWORD* error = nullptr) {
    std::string line = command_line;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &information)) {
        if (error != nullptr) *error = GetLastError();
        return 0;
    }
    CloseHandle(information.hProcess);
    CloseHandle(information.hThread);
    return information.dwProcessId;
}

DWORD IdOf(const std::string& command_line) {
    for (const auto& created : winsim::test::CreatedProcesses()) {
        if (created.command_line == command_line) return created.process_id;
    }
    return 0;
}

TEST_F(ProcessTest, ChildrenShareTheCreatorsConsoleOrGetANewOneOrNoneAndInheritCtrlC) {
    winsim::test::RegisterProgram("hold", [](const std::string&) {
        Sleep(1000);
        return 0;
    });
    // Starts a child of its own, with no flags, and outlives it.
    winsim::test::RegisterProgram("spawn", [](const std::string&) {
        Start("hold grandchild", 0);
        Sleep(2000);
        return 0;
    });
    using winsim::test::ConsoleOf;
    using winsim::test::IgnoresCtrlC;
    DWORD group = Start("spawn", CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP);
    DWORD other = Start("hold other", CREATE_NEW_CONSOLE);
    DWORD detached = Start("hold detached", DETACHED_PROCESS);
    DWORD plain = Start("hold plain", 0);  // the test runner has no console to share
    DWORD error = 0;
    EXPECT_EQ(Start("hold both", CREATE_NEW_CONSOLE | DETACHED_PROCESS, &error), 0u);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    winsim::test::RunUntilIdle();
    DWORD grandchild = IdOf("hold grandchild");
    ASSERT_NE(grandchild, 0u);

    EXPECT_NE(ConsoleOf(group), nullptr);
    EXPECT_NE(ConsoleOf(other), nullptr);
    EXPECT_NE(ConsoleOf(other), ConsoleOf(group));
    EXPECT_EQ(ConsoleOf(grandchild), ConsoleOf(group));
    EXPECT_EQ(ConsoleOf(detached), nullptr);
    EXPECT_EQ(ConsoleOf(plain), nullptr);

    EXPECT_TRUE(IgnoresCtrlC(group));
    EXPECT_TRUE(IgnoresCtrlC(grandchild));
    EXPECT_FALSE(IgnoresCtrlC(other));
    EXPECT_FALSE(IgnoresCtrlC(plain));

    winsim::test::WaitForCreatedProcesses();
    EXPECT_EQ(winsim::test::Now(), 2000u);
}

}  // namespace
