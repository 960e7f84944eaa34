// Event objects and thread start.
#include <gtest/gtest.h>

#include <atomic>

#include "ZEVENT.h"
#include "winsim/control.h"

namespace {

class EventTest : public testing::Test {
  protected:
    void SetUp() override { winsim::test::Reset(); }
};

TEST_F(EventTest, StartsClearAndMirrorsSetAndReset) {
    EventObject event;
    EXPECT_EQ(event.IsSet(), 0);
    event.Set();
    event.Set();
    EXPECT_EQ(event.IsSet(), 1);  // a flag, not a counter
    event.Reset();
    EXPECT_EQ(event.IsSet(), 0);
    event.Reset();
    EXPECT_EQ(event.IsSet(), 0);
}

TEST_F(EventTest, WaitOnASetEventReturnsEveryTimeUntilReset) {
    EventObject event;
    event.Set();
    // The flag answers: a platform wait, which would fail the check here, is not made.
    winsim::test::FailCall("WaitForSingleObject", ERROR_INVALID_HANDLE, 0, 0);
    for (int i = 0; i < 3; ++i) event.Wait();
    EXPECT_EQ(event.IsSet(), 1);
    EXPECT_TRUE(winsim::test::EventLog().empty());
    winsim::test::Reset();
}

TEST_F(EventTest, WaitTimeoutReturnsAfterTheTimeWhenClearAndAtOnceWhenSet) {
    EventObject event;
    event.WaitTimeout(2000);
    EXPECT_EQ(winsim::test::Now(), 2000u);
    event.Set();
    event.WaitTimeout(1000000);
    EXPECT_EQ(winsim::test::Now(), 2000u);
}

TEST_F(EventTest, SetReleasesAWaiterOnAnotherThread) {
    EventObject event;
    bool passed = false;
    winsim::test::StartRunnerThread([&] {
        event.Wait();
        passed = true;
    });
    winsim::test::Advance(5000);
    EXPECT_FALSE(passed);
    event.Set();
    winsim::test::RunUntilIdle();
    EXPECT_TRUE(passed);
}

TEST_F(EventTest, AResetEventHoldsWaitersUntilTheNextSet) {
    // The platform's event is reset, not only the flag: the output gate's pause depends on it.
    EventObject event;
    event.Set();
    event.Reset();
    event.WaitTimeout(300);
    EXPECT_EQ(winsim::test::Now(), 300u);
    bool passed = false;
    winsim::test::StartRunnerThread([&] {
        event.Wait();
        passed = true;
    });
    winsim::test::Advance(1000);
    EXPECT_FALSE(passed);
    event.Set();
    winsim::test::RunUntilIdle();
    EXPECT_TRUE(passed);
    EXPECT_EQ(winsim::test::Now(), 1300u);
}

TEST_F(EventTest, ConcurrentSetResetAndIsSetKeepFlagAndEventInStep) {
    EventObject event;
    EventObject setter_done;
    std::atomic<bool> stop{false};
    std::atomic<bool> odd_state{false};
    winsim::test::StartRunnerThread([&] {
        while (!stop) {
            int state = event.IsSet();
            if (state != 0 && state != 1) odd_state = true;
        }
    });
    winsim::test::StartRunnerThread([&] {
        for (int i = 0; i < 2000; ++i) event.Set();
        setter_done.Set();
    });
    for (int i = 0; i < 2000; ++i) event.Reset();
    setter_done.Wait();
    event.Set();
    stop = true;
    winsim::test::RunUntilIdle();  // both threads have ended
    event.Wait();                  // the flag says set, so the event must be signalled too
    EXPECT_FALSE(odd_state);
    EXPECT_EQ(event.IsSet(), 1);
}

TEST_F(EventTest, StaticObjectsExistBeforeTheTestsRun) {
    g_output_gate.Set();
    g_output_gate.Wait();
    g_output_gate.Reset();
    g_screen_lock.Enter();
    g_mirror_wake_up.Set();
    g_mirror_wake_up.Reset();
    g_screen_lock.Leave();
    EXPECT_EQ(g_output_gate.IsSet(), 0);
}

TEST_F(EventTest, FailedCreationIsFatal) {
    winsim::test::FailCall("CreateEventA", ERROR_NOT_ENOUGH_MEMORY);
    auto status = winsim::RunProcess([] {
        EventObject event;
        return 0;
    });
    EXPECT_EQ(status.code, 1u);
    EXPECT_FALSE(status.crashed);
    auto log = winsim::test::EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].strings[0], "Could not create Event, err=8.\n");
}

TEST_F(EventTest, FailedSystemCallIsAnAssertionInItsModule) {
    auto status = winsim::RunProcess([] {
        EventObject event;
        winsim::test::FailCall("WaitForSingleObject", ERROR_INVALID_HANDLE);
        SetLastError(ERROR_INVALID_HANDLE);
        event.Wait();
        return 0;
    });
    EXPECT_TRUE(status.crashed);
    EXPECT_EQ(status.code, EXCEPTION_ACCESS_VIOLATION);
    auto log = winsim::test::EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].strings[0].rfind("Assertion failed in file: ZEVENT.cpp at line ", 0), 0u);
    EXPECT_NE(log[0].strings[0].find("Last error= 6\n"), std::string::npos);
}

struct ThreadProbe {
    EventObject done;
    int seen = 0;
};

void __cdecl Probe(void* argument) {
    auto* probe = static_cast<ThreadProbe*>(argument);
    probe->seen = 42;
    probe->done.Set();
}

TEST_F(EventTest, StartThreadRunsTheRoutineWithItsArgument) {
    auto status = winsim::RunProcess([] {
        ThreadProbe probe;  // its event belongs to the process that waits on it
        StartThread(Probe, &probe, 0);
        probe.done.Wait();
        return probe.seen;
    });
    EXPECT_EQ(status.code, 42u);
}

TEST_F(EventTest, FailedThreadStartIsFatalWithTheErrorNumber) {
    winsim::test::FailCall("_beginthread", 11 /* EAGAIN */);
    bool returned = false;
    auto status = winsim::RunProcess([&] {
        StartThread(Probe, nullptr, 0);
        returned = true;
        return 0;
    });
    EXPECT_FALSE(returned);
    EXPECT_EQ(status.code, 1u);
    auto log = winsim::test::EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].strings[0], "Could not create thread: 11\n");
}

// What the end of a process must not do to a thread that is still running: the simulation ends
// the process with an access violation, as the destroyed objects would on Windows.
struct Holder {
    CRITICAL_SECTION section;
    HANDLE event;
};

void HoldAndSleep(void* argument) {
    auto* holder = static_cast<Holder*>(argument);
    EnterCriticalSection(&holder->section);
    SetEvent(holder->event);
    Sleep(100);
    LeaveCriticalSection(&holder->section);
}

void WaitForEvent(void* argument) {
    WaitForSingleObject(static_cast<Holder*>(argument)->event, INFINITE);
}

TEST_F(EventTest, DestroyingWhatAnotherThreadUsesEndsTheProcess) {
    Holder holder;
    auto status = winsim::RunProcess([&holder] {
        InitializeCriticalSection(&holder.section);
        holder.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        _beginthread(HoldAndSleep, 0, &holder);
        WaitForSingleObject(holder.event, INFINITE);
        DeleteCriticalSection(&holder.section);  // owned by the sleeping thread
        Sleep(0);
        return 0;
    });
    EXPECT_TRUE(status.crashed);
    EXPECT_EQ(status.code, EXCEPTION_ACCESS_VIOLATION);

    status = winsim::RunProcess([&holder] {
        holder.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        _beginthread(WaitForEvent, 0, &holder);
        Sleep(10);
        CloseHandle(holder.event);  // waited on
        Sleep(0);
        return 0;
    });
    EXPECT_TRUE(status.crashed);

    status = winsim::RunProcess([&holder] {
        InitializeCriticalSection(&holder.section);
        DeleteCriticalSection(&holder.section);
        EnterCriticalSection(&holder.section);
        Sleep(0);
        return 0;
    });
    EXPECT_TRUE(status.crashed);
}

}  // namespace
