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

}  // namespace
