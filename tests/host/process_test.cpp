// The simulated process model: how programs end, blocked threads, pipes and the clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

TEST_F(ProcessTest, SleepsAreRecordedAndScaled) {
    winsim::test::SetTimeScale(1000);
    auto start = std::chrono::steady_clock::now();
    winsim::RunProcess([] {
        Sleep(400);
        Sleep(3000);
        return 0;
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(winsim::test::Sleeps(), (std::vector<DWORD>{400, 3000}));
}

TEST_F(ProcessTest, PipeCarriesBytesExactlyAndReportsTheEndOfItsWriters) {
    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 4));
    const char data[] = {'a', 0, '\xff', '\r', '\n', 'z'};
    std::thread producer([&] {
        DWORD written;
        EXPECT_TRUE(WriteFile(writer, data, sizeof data, &written, nullptr));  // waits for room
        EXPECT_EQ(written, sizeof data);
        CloseHandle(writer);
    });
    std::string got;
    char buffer[3];
    DWORD read;
    while (ReadFile(reader, buffer, sizeof buffer, &read, nullptr)) got.append(buffer, read);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    producer.join();
    EXPECT_EQ(got, std::string(data, sizeof data));
    CloseHandle(reader);
}

TEST_F(ProcessTest, ClosingTheReadHandleEndsABlockedRead) {
    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
    std::thread blocked([&] {
        char byte;
        DWORD read;
        EXPECT_FALSE(ReadFile(reader, &byte, 1, &read, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    CloseHandle(reader);
    blocked.join();
    DWORD written;
    EXPECT_FALSE(WriteFile(writer, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
    CloseHandle(writer);
}

TEST_F(ProcessTest, LastErrorIsPerThreadAndBadHandlesFail) {
    SetLastError(77);
    std::thread other([] {
        EXPECT_EQ(GetLastError(), 0u);
        EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x7777)));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    });
    other.join();
    EXPECT_EQ(GetLastError(), 77u);
    DWORD mode;
    EXPECT_FALSE(GetConsoleMode(nullptr, &mode));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
