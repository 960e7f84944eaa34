// Event objects, the translator's static synchronisation objects, and thread start.
#pragma once

#include <atomic>

#include "win32.h"

// A manual-reset event with a mirrored state flag that can be read without a system call.
class EventObject {
  public:
    EventObject();  // created clear; a failure to create it is fatal
    ~EventObject();
    EventObject(const EventObject&) = delete;
    EventObject& operator=(const EventObject&) = delete;

    void Set();
    void Reset();
    int IsSet() const;  // 1 after Set, 0 after Reset and at first; read without the lock
    void Wait();        // returns at once while set (without a system call); the event stays set
    void WaitTimeout(DWORD milliseconds);  // returns when set or when the time has run out

  private:
    HANDLE handle_;
    std::atomic<LONG> state_;
    CRITICAL_SECTION lock_;
};

// A critical section that lives as long as the program.
class StaticLock {
  public:
    StaticLock() { InitializeCriticalSection(&section_); }
    ~StaticLock() { DeleteCriticalSection(&section_); }
    StaticLock(const StaticLock&) = delete;
    StaticLock& operator=(const StaticLock&) = delete;
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

// The translator's static objects, built in this order after the global reporter and destroyed
// in reverse order at normal exit.
extern EventObject g_output_gate;     // simple mode: output may flow while set
extern StaticLock g_screen_lock;      // advanced mode: the console screen and mirror state
extern EventObject g_mirror_wake_up;  // advanced mode: wakes the screen mirror

// Starts a thread through the run-time library, so that its per-thread state is set up.  The
// thread is never joined; it ends with the process.  A failure to start it is fatal.
void StartThread(void(__cdecl* routine)(void*), void* argument, unsigned stack_size);
// The same, for a caller that has to clean up before it ends: false when the thread did not
// start, and then ReportThreadStartFailure (fatal) with the run-time library's error number.
bool TryStartThread(void(__cdecl* routine)(void*), void* argument, unsigned stack_size, int* error);
void ReportThreadStartFailure(int error);
