// Event objects, the translator's static synchronisation objects, and thread start.
#include "ZEVENT.h"

#include <cerrno>

#include "Reporter.h"

EventObject::EventObject() : handle_(nullptr), state_(0) {
    // Whatever this constructor reports needs the global reporter, which must therefore exist
    // first (and so outlive this object).
    GlobalReporter();
    InitializeCriticalSection(&lock_);
    handle_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (handle_ == nullptr) ReportFatal("Could not create Event, err=%lu.\n", GetLastError());
}

EventObject::~EventObject() {
    EnterCriticalSection(&lock_);
    ZASSERT(handle_ != nullptr);
    ZASSERT(CloseHandle(handle_));
    handle_ = nullptr;
    LeaveCriticalSection(&lock_);
    DeleteCriticalSection(&lock_);
}

void EventObject::Set() {
    EnterCriticalSection(&lock_);
    ZASSERT(handle_ != nullptr);
    ZASSERT(SetEvent(handle_));
    state_.store(1);
    LeaveCriticalSection(&lock_);
}

void EventObject::Reset() {
    EnterCriticalSection(&lock_);
    ZASSERT(handle_ != nullptr);
    ZASSERT(ResetEvent(handle_));
    state_.store(0);
    LeaveCriticalSection(&lock_);
}

int EventObject::IsSet() const {
    ZASSERT(handle_ != nullptr);
    return static_cast<int>(state_.load());
}

void EventObject::Wait() {
    ZASSERT(handle_ != nullptr);
    // The flag turns 1 only once the event is signalled, so a set object spares the system call.
    // A clear flag may be one Set away from 1; the wait below then returns at once.
    if (state_.load() != 0) return;
    ZASSERT(WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0);
}

void EventObject::WaitTimeout(DWORD milliseconds) {
    ZASSERT(handle_ != nullptr);
    // Signalled or timed out: the callers treat both alike.
    WaitForSingleObject(handle_, milliseconds);
}

EventObject g_output_gate;
StaticLock g_screen_lock;
EventObject g_mirror_wake_up;

void StartThread(void(__cdecl* routine)(void*), void* argument, unsigned stack_size) {
    int error = 0;
    if (!TryStartThread(routine, argument, stack_size, &error)) ReportThreadStartFailure(error);
}

bool TryStartThread(void(__cdecl* routine)(void*), void* argument, unsigned stack_size,
                    int* error) {
    if (_beginthread(routine, stack_size, argument) != static_cast<uintptr_t>(-1)) return true;
    *error = errno;
    return false;
}

void ReportThreadStartFailure(int error) {
    ReportFatal("Could not create thread: %d\n", error);
}
