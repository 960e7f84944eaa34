// The simulation's virtual clock: what sleeps and waits take, when threads run, and the calls
// that let a test move time.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "winsim/control.h"

namespace {

using winsim::test::Now;

class ClockTest : public testing::Test {
  protected:
    void SetUp() override { winsim::test::Reset(); }
};

// What the threads saw, and when.
using Log = std::vector<std::pair<DWORD, std::string>>;

TEST_F(ClockTest, SleepsTakeExactlyTheirTimeAndAreLogged) {
    DWORD id = 0;
    DWORD ticks = 0;
    winsim::RunProcess([&] {
        id = GetCurrentProcessId();
        Sleep(400);
        Sleep(0);
        Sleep(3000);
        ticks = GetTickCount();
        return 0;
    });
    EXPECT_EQ(ticks, 3400u);
    EXPECT_EQ(Now(), 3400u);
    EXPECT_EQ(winsim::test::Sleeps(), (std::vector<DWORD>{400, 0, 3000}));
    auto log = winsim::test::SleepLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2].at, 400u);
    EXPECT_EQ(log[2].milliseconds, 3000u);
    EXPECT_EQ(log[2].process_id, id);

    winsim::test::Reset();
    EXPECT_EQ(Now(), 0u);
    EXPECT_TRUE(winsim::test::SleepLog().empty());
}

// A second thread sleeps 250 ms four times while the main thread sleeps 300 ms three times; the
// main thread then waits for the other's end.
struct Sleepers {
    Log log;
    HANDLE done = nullptr;
};

void __cdecl QuarterSleeper(void* argument) {
    auto* sleepers = static_cast<Sleepers*>(argument);
    for (int i = 0; i < 4; ++i) {
        Sleep(250);
        sleepers->log.emplace_back(GetTickCount(), "b");
    }
    SetEvent(sleepers->done);
}

TEST_F(ClockTest, ThreadsWakeInTheOrderOfTheirDeadlines) {
    Sleepers sleepers;
    winsim::RunProcess([&] {
        sleepers.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        _beginthread(QuarterSleeper, 0, &sleepers);
        for (int i = 0; i < 3; ++i) {
            Sleep(300);
            sleepers.log.emplace_back(GetTickCount(), "a");
        }
        WaitForSingleObject(sleepers.done, INFINITE);
        return 0;
    });
    EXPECT_EQ(
        sleepers.log,
        (Log{{250, "b"}, {300, "a"}, {500, "b"}, {600, "a"}, {750, "b"}, {900, "a"}, {1000, "b"}}));
    EXPECT_EQ(Now(), 1000u);
}

struct Signaller {
    HANDLE event = nullptr;
};

void __cdecl SetAfter700(void* argument) {
    Sleep(700);
    SetEvent(static_cast<Signaller*>(argument)->event);
}

TEST_F(ClockTest, WaitsTimeOutOrEndWhenAnotherThreadSetsTheEvent) {
    Log log;
    winsim::RunProcess([&] {
        Signaller signaller{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        _beginthread(SetAfter700, 0, &signaller);
        DWORD first = WaitForSingleObject(signaller.event, 500);
        log.emplace_back(GetTickCount(), first == WAIT_TIMEOUT ? "timeout" : "set");
        DWORD second = WaitForSingleObject(signaller.event, 1000);
        log.emplace_back(GetTickCount(), second == WAIT_TIMEOUT ? "timeout" : "set");
        DWORD third = WaitForSingleObject(signaller.event, 0);
        log.emplace_back(GetTickCount(), third == WAIT_TIMEOUT ? "timeout" : "set");
        return 0;
    });
    EXPECT_EQ(log, (Log{{500, "timeout"}, {700, "set"}, {700, "set"}}));
}

TEST_F(ClockTest, PipeReadWaitsWhileTimeJumpsToTheWriter) {
    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
    winsim::test::StartRunnerThread([writer] {
        Sleep(1500);
        DWORD written;
        WriteFile(writer, "x", 1, &written, nullptr);
    });
    char byte = 0;
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(reader, &byte, 1, &read, nullptr));
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(Now(), 1500u);
    winsim::test::RunUntilIdle();
    CloseHandle(reader);
    CloseHandle(writer);
}

// Ticks every 100 ms until its process ends.
struct Ticker {
    std::vector<DWORD> ticks;
    winsim::SimProcess process;
    Ticker() {
        process.Start([this] {
            for (;;) {
                Sleep(100);
                ticks.push_back(GetTickCount());
            }
            return 0;
        });
    }
};

TEST_F(ClockTest, AdvanceRunsEveryDeadlineOnTheWayAndStopsExactly) {
    Ticker ticker;
    winsim::test::RunUntilIdle();  // a new thread runs at once, up to its first sleep
    EXPECT_EQ(winsim::test::Sleeps().size(), 1u);
    EXPECT_EQ(Now(), 0u);

    winsim::test::Advance(250);
    EXPECT_EQ(Now(), 250u);
    EXPECT_EQ(ticker.ticks, (std::vector<DWORD>{100, 200}));
    winsim::test::Advance(50);  // the tick due at the end has happened on return
    EXPECT_EQ(ticker.ticks, (std::vector<DWORD>{100, 200, 300}));
    winsim::test::RunUntilIdle();
    winsim::test::Advance(0);
    EXPECT_EQ(Now(), 300u);
}

TEST_F(ClockTest, RunUntilStopsWhenTheConditionHoldsOrAtTheLimit) {
    Ticker ticker;
    EXPECT_TRUE(winsim::test::RunUntil([&] { return ticker.ticks.size() == 5; }, 10000));
    EXPECT_EQ(Now(), 500u);
    EXPECT_TRUE(winsim::test::RunUntil([] { return true; }, 0));
    EXPECT_EQ(Now(), 500u);
    EXPECT_FALSE(winsim::test::RunUntil([] { return false; }, 250));
    EXPECT_EQ(Now(), 750u);
    EXPECT_EQ(ticker.ticks.size(), 7u);
}

TEST_F(ClockTest, RunUntilIdleReturnsWhereAWaitWouldDeadlock) {
    winsim::SimProcess process;
    process.Start([] {
        HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        WaitForSingleObject(never, INFINITE);
        return 0;
    });
    winsim::test::RunUntilIdle();
    EXPECT_EQ(Now(), 0u);
    // Ending the process unwinds the blocked thread.
}

using ClockDeathTest = ClockTest;

TEST_F(ClockDeathTest, AWaitNothingCanEndStopsTheProgramWithAReport) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(winsim::RunProcess([] {
                     HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
                     WaitForSingleObject(never, INFINITE);
                     return 0;
                 }),
                 "deadlock at 0 ms.*process [0-9]+: WaitForSingleObject");
}

}  // namespace
