// Handles, last error, processes and threads, events, critical sections, the clock, pipes and
// the console query of the simulated Win32.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "internal.h"

namespace winsim {
namespace {

using detail::Deadline;
using detail::kNoDeadline;

thread_local DWORD t_last_error = 0;
thread_local Process* t_process = nullptr;
// Whether the calling thread takes part in virtual time: every thread the simulation starts, and
// the test runner's main thread.
thread_local bool t_participant = false;

struct Event : Object {
    bool manual_reset = true;
    bool signalled = false;
    bool Waitable() const override { return true; }
    bool Signalled() const override { return signalled; }
    void Satisfy() override {
        if (!manual_reset) signalled = false;
    }
};

struct SinkObject : Object {
    std::shared_ptr<std::string> bytes = std::make_shared<std::string>();
    BOOL Write(std::unique_lock<std::mutex>&, const void* data, DWORD length,
               DWORD* done) override {
        bytes->append(static_cast<const char*>(data), length);
        *done = length;
        return TRUE;
    }
};

struct ConsoleObject : Object {
    DWORD mode = 0;
    DWORD error = 0;
    std::shared_ptr<std::string> screen;  // where written text goes, if anywhere
    BOOL Write(std::unique_lock<std::mutex>&, const void* data, DWORD length,
               DWORD* done) override {
        if (screen) screen->append(static_cast<const char*>(data), length);
        *done = length;
        return TRUE;
    }
};

// An anonymous pipe: bytes in order, a capacity that makes writers wait, and the two ends.
struct Pipe {
    std::deque<char> bytes;
    // Writes of no bytes into an empty pipe: each completes one read, with no bytes.
    size_t empty_writes = 0;
    size_t capacity = 4096;
    bool reader_open = true;
    bool writer_open = true;
};

struct PipeEnd : Object {
    std::shared_ptr<Pipe> pipe;
    bool read_end = false;
    void LastHandleClosed() override { (read_end ? pipe->reader_open : pipe->writer_open) = false; }

    BOOL Read(std::unique_lock<std::mutex>& lock, void* buffer, DWORD length,
              DWORD* done) override {
        if (!read_end) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        // A read waits for data; it ends with ERROR_BROKEN_PIPE when every writer has gone, and
        // also when the reading handle is closed under it by another thread.
        detail::Block(
            lock,
            [&] {
                return !pipe->bytes.empty() || pipe->empty_writes > 0 || !pipe->writer_open ||
                       handle_count == 0;
            },
            kNoDeadline, "ReadFile on a pipe");
        if (pipe->empty_writes > 0) {
            --pipe->empty_writes;
            *done = 0;
            detail::KernelChanged().notify_all();
            return TRUE;
        }
        if (pipe->bytes.empty()) {
            SetLastError(ERROR_BROKEN_PIPE);
            return FALSE;
        }
        DWORD count = std::min<DWORD>(length, static_cast<DWORD>(pipe->bytes.size()));
        std::copy_n(pipe->bytes.begin(), count, static_cast<char*>(buffer));
        pipe->bytes.erase(pipe->bytes.begin(), pipe->bytes.begin() + count);
        *done = count;
        detail::KernelChanged().notify_all();
        return TRUE;
    }

    BOOL Write(std::unique_lock<std::mutex>& lock, const void* data, DWORD length,
               DWORD* done) override {
        if (read_end) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        const char* bytes = static_cast<const char*>(data);
        if (length == 0 && pipe->reader_open && pipe->bytes.empty()) {
            ++pipe->empty_writes;
            detail::KernelChanged().notify_all();
        }
        while (*done < length) {
            detail::Block(
                lock, [&] { return !pipe->reader_open || pipe->bytes.size() < pipe->capacity; },
                kNoDeadline, "WriteFile on a full pipe");
            if (!pipe->reader_open) {
                SetLastError(ERROR_NO_DATA);
                return FALSE;
            }
            while (*done < length && pipe->bytes.size() < pipe->capacity)
                pipe->bytes.push_back(bytes[(*done)++]);
            detail::KernelChanged().notify_all();
        }
        return TRUE;
    }
};

// Identifies the calling thread for critical sections.
thread_local char t_thread_tag;
uintptr_t ThreadTag() {
    return reinterpret_cast<uintptr_t>(&t_thread_tag);
}

struct Fault {
    std::string api;
    DWORD error;
    int skip;
    int times;  // 0: for good
};

// A thread blocked in the simulation (detail::BlockUntil), for as long as it is blocked.
struct Waiter {
    detail::ReadyCheck ready;
    Deadline deadline;
    Process* process;
    bool participant;
    const char* what;
};

struct KernelState {
    std::mutex lock;
    std::condition_variable changed;
    Process runner;  // the test runner's own process
    std::vector<Fault> faults;
    std::map<std::string, int> calls;  // how often each API was called
    bool logging_calls = false;
    std::vector<std::pair<DWORD, std::string>> call_log;  // process id, API
    std::vector<test::SleepRecord> sleeps;
    bool statics_done = false;
    DWORD next_process_id = 0x100;
    std::map<DWORD, std::weak_ptr<Process>> processes;

    // Virtual time.  It moves only in Settle, when no participating thread can go on.
    Deadline now = 0;
    int running = 0;                 // participating threads that are not blocked
    bool runner_takes_part = false;  // from EndStaticInitialisation on
    std::vector<Waiter*> waiters;
    bool idle_wanted = false;   // the test runner waits in RunUntilIdle...
    bool idle_reached = false;  // ...and may return
    // Handles that threads wait on in WaitForSingleObject now, by process.
    std::multimap<const Process*, HANDLE> waited_handles;
    std::function<void(HANDLE)> after_set_event;  // test::AfterSetEvent
};

KernelState& State() {
    // Never destroyed: static objects of the programs may still use the simulation at exit.
    static KernelState* state = [] {
        auto* made = new KernelState;
        made->runner.id = 4;
        return made;
    }();
    return *state;
}

// Whether a blocked thread can go on (or is due to be unwound).
bool CanGoOn(const Waiter& waiter) {
    return waiter.process->ended || waiter.deadline <= State().now || waiter.ready();
}

[[noreturn]] void ReportDeadlock() {
    KernelState& state = State();
    std::fprintf(stderr,
                 "winsim: deadlock at %llu ms of simulated time: every simulated thread and the "
                 "test runner are blocked, with no deadline and nothing that could wake them:\n",
                 static_cast<unsigned long long>(state.now));
    for (const Waiter* waiter : state.waiters) {
        std::fprintf(stderr, "  %s %lu: %s%s\n",
                     waiter->process == &state.runner ? "test runner, process" : "process",
                     static_cast<unsigned long>(waiter->process->id), waiter->what,
                     waiter->participant ? "" : " (a thread the simulation does not know)");
    }
    std::fflush(stderr);
    std::abort();
}

// Called with the kernel lock held whenever a participating thread blocks or ends, and by
// blocked threads that wake to no avail.  When no participating thread runs and no blocked one
// can go on, the simulation is idle: the test runner's RunUntilIdle returns, or else time jumps
// to the earliest deadline; with none, nothing can ever change, and the simulation is stopped
// with a report rather than left hanging.  Returns whether it woke anyone.
bool Settle() {
    KernelState& state = State();
    if (state.running > 0) return false;
    Deadline earliest = kNoDeadline;
    for (const Waiter* waiter : state.waiters) {
        if (CanGoOn(*waiter)) return false;
        earliest = std::min(earliest, waiter->deadline);
    }
    if (state.idle_wanted) {
        state.idle_reached = true;
    } else if (earliest != kNoDeadline) {
        state.now = earliest;
    } else if (state.runner_takes_part) {
        ReportDeadlock();
    } else {
        return false;
    }
    state.changed.notify_all();
    return true;
}

// A participating thread has started (kernel lock held): it runs from now on.
void ThreadStartingLocked() {
    ++State().running;
}

// A participating thread is about to end (kernel lock held).
void ThreadEndingLocked() {
    --State().running;
    State().changed.notify_all();
    Settle();
}

// Threads of the test runner's own process share its handles; nothing joins them.
void StartRunnerThreadLocked(std::function<void()> body) {
    ThreadStartingLocked();
    std::thread([body = std::move(body)] {
        t_participant = true;
        body();
        std::lock_guard<std::mutex> guard(State().lock);
        ThreadEndingLocked();
    }).detach();
}

void CloseEntry(HandleEntry& entry) {
    if (--entry.object->handle_count == 0) entry.object->LastHandleClosed();
}

// Ends a process: the first end counts; its handles are closed and it leaves its console, as on
// Windows (a test can still look at the console it had).
void EndLocked(Process& process, DWORD code, bool crashed) {
    if (process.ended) return;
    process.ended = true;
    process.status = {code, crashed};
    for (auto& [value, entry] : process.handles) CloseEntry(entry);
    process.handles.clear();
    detail::LeaveConsoleLocked(process);
    State().changed.notify_all();
}

[[noreturn]] void EndCurrent(DWORD code, bool crashed) {
    {
        std::lock_guard<std::mutex> guard(State().lock);
        EndLocked(detail::CurrentProcess(), code, crashed);
    }
    throw ThreadExit{};
}

// An exception raised while a thread of an ended process is unwound goes nowhere.
void RaiseInCurrent(DWORD code) {
    if (detail::Unwinding(detail::CurrentProcess())) return;
    EndCurrent(code, true);
}

// Runs one thread of a simulated process; every way out of it is accounted for.
// The process outlives its threads: SimProcess waits for all of them before it lets go.
void RunThread(Process& process, const std::function<void()>& body) {
    t_process = &process;
    t_participant = true;
    bool crashed = false;
    try {
        body();
    } catch (const ThreadExit&) {
    } catch (...) {
        // A C++ exception that nothing caught ends the process, as on Windows.
        crashed = true;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    if (crashed) EndLocked(process, 0xE06D7363, true);
    --process.live_threads;
    ThreadEndingLocked();
}

}  // namespace

// A handle that cannot be read or written: a pipe's wrong end is refused, anything else is no
// file at all.
BOOL Object::Read(std::unique_lock<std::mutex>&, void*, DWORD, DWORD*) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL Object::Write(std::unique_lock<std::mutex>&, const void*, DWORD, DWORD*) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

namespace detail {

std::shared_ptr<Process> NewProcess() {
    auto process = std::make_shared<Process>();
    std::lock_guard<std::mutex> guard(State().lock);
    Process& runner = State().runner;
    for (auto& [value, entry] : runner.handles) {
        if (!entry.program_static) continue;
        ++entry.object->handle_count;
        process->handles[value] = entry;
    }
    process->next_handle = runner.next_handle;
    process->environment = runner.environment;
    process->id = State().next_process_id += 4;
    State().processes[process->id] = process;
    return process;
}

std::shared_ptr<Process> FindProcess(DWORD id) {
    if (id == State().runner.id) {
        return std::shared_ptr<Process>(std::shared_ptr<Process>(), &State().runner);
    }
    auto it = State().processes.find(id);
    if (it == State().processes.end()) return nullptr;
    auto process = it->second.lock();
    return process && !process->ended ? process : nullptr;
}

Process& RunnerProcess() {
    return State().runner;
}

void StartThreadLocked(Process& process, std::function<void()> body) {
    ++process.live_threads;
    ThreadStartingLocked();
    process.threads.emplace_back([&process, body = std::move(body)] { RunThread(process, body); });
}

void EndProcessLocked(Process& process, DWORD code, bool crashed) {
    EndLocked(process, code, crashed);
}

ExitStatus WaitProcess(Process& process) {
    std::vector<std::thread> threads;
    {
        std::unique_lock<std::mutex> lock(State().lock);
        Block(
            lock, [&] { return process.ended && process.live_threads == 0; }, kNoDeadline,
            "waiting for a simulated process to end");
        threads.swap(process.threads);
    }
    for (auto& thread : threads) thread.join();
    return process.status;
}

bool TakeFaultLocked(const std::string& api, DWORD* error) {
    ++State().calls[api];
    if (State().logging_calls) State().call_log.emplace_back(CurrentProcess().id, api);
    auto& faults = State().faults;
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->api != api) continue;
        if (it->skip > 0) {
            --it->skip;
            return false;
        }
        if (error != nullptr) {
            *error = it->error;
        } else {
            t_last_error = it->error;
        }
        if (it->times > 0 && --it->times == 0) faults.erase(it);
        return true;
    }
    return false;
}

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = std::tolower(static_cast<unsigned char>(*a));
        int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

std::mutex& KernelLock() {
    return State().lock;
}
std::condition_variable& KernelChanged() {
    return State().changed;
}

Process& CurrentProcess() {
    return t_process != nullptr ? *t_process : State().runner;
}

HANDLE AddHandle(Process& process, std::shared_ptr<Object> object, bool inherit) {
    uintptr_t value = process.next_handle;
    process.next_handle += 4;
    ++object->handle_count;
    bool program_static = &process == &State().runner && !State().statics_done;
    process.handles[value] = HandleEntry{std::move(object), inherit, program_static};
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> LookupHandle(Process& process, HANDLE handle) {
    auto it = process.handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == process.handles.end() ? nullptr : it->second.object;
}

bool Unwinding(Process& process) {
    return process.ended && std::uncaught_exceptions() > 0;
}

void ThrowIfEnded(Process& process) {
    if (process.ended) throw ThreadExit{};
}

Deadline DeadlineAfter(DWORD milliseconds) {
    return milliseconds == INFINITE ? kNoDeadline : State().now + milliseconds;
}

bool BlockUntil(std::unique_lock<std::mutex>& lock, ReadyCheck ready, Deadline deadline,
                const char* what) {
    KernelState& state = State();
    Process& self = CurrentProcess();
    if (ready()) return true;
    if (Unwinding(self)) return false;
    ThrowIfEnded(self);
    if (deadline <= state.now) return false;

    Waiter waiter{ready, deadline, &self, t_participant, what};
    state.waiters.push_back(&waiter);
    if (waiter.participant) --state.running;
    // However the wait ends (ThreadExit included), the thread runs again.
    struct Leave {
        Waiter& waiter;
        ~Leave() {
            auto& waiters = State().waiters;
            waiters.erase(std::find(waiters.begin(), waiters.end(), &waiter));
            if (waiter.participant) {
                ++State().running;
            } else {
                Settle();  // it may have been all that held time still
            }
        }
    } leave{waiter};

    for (;;) {
        if (ready()) return true;
        ThrowIfEnded(self);
        if (deadline <= state.now) return false;
        if (!Settle()) state.changed.wait(lock);
    }
}

}  // namespace detail

using detail::AddHandle;
using detail::Block;
using detail::BlockUntil;
using detail::CurrentProcess;
using detail::DeadlineAfter;
using detail::Lookup;

// ---- Simulated processes -------------------------------------------------------------------

SimProcess::SimProcess() : process_(detail::NewProcess()) {}

SimProcess::~SimProcess() {
    {
        std::lock_guard<std::mutex> guard(State().lock);
        EndLocked(*process_, 0, false);
    }
    if (process_->started) Wait();
}

void SimProcess::SetStdHandle(DWORD which, HANDLE handle) {
    std::lock_guard<std::mutex> guard(State().lock);
    process_->std_handles[STD_INPUT_HANDLE - which] = handle;
}

void SimProcess::Start(std::function<int()> entry) {
    std::lock_guard<std::mutex> guard(State().lock);
    process_->started = true;
    Process* process = process_.get();
    detail::StartThreadLocked(*process, [process, entry = std::move(entry)] {
        int code = entry();
        // Returning from the entry routine ends the process with its value.
        std::lock_guard<std::mutex> inner(State().lock);
        EndLocked(*process, static_cast<DWORD>(code), false);
    });
}

ExitStatus SimProcess::Wait() {
    return detail::WaitProcess(*process_);
}

ExitStatus RunProcess(std::function<int()> entry) {
    SimProcess process;
    process.Start(std::move(entry));
    return process.Wait();
}

// ---- Test control --------------------------------------------------------------------------

namespace test {

void Reset() {
    {
        std::lock_guard<std::mutex> guard(State().lock);
        State().faults.clear();
        State().calls.clear();
        State().logging_calls = false;
        State().call_log.clear();
    }
    detail::ResetProcesses();
    detail::ResetRegistry();
    detail::ResetEventLog();
    detail::ResetAccounts();
    std::lock_guard<std::mutex> guard(State().lock);
    State().now = 0;
    State().sleeps.clear();
    State().after_set_event = nullptr;
    detail::ResetConsoleHooks();
}

void AfterSetEvent(std::function<void(HANDLE)> hook) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().after_set_event = std::move(hook);
}

std::string Sink::Text() const {
    std::lock_guard<std::mutex> guard(State().lock);
    return *bytes_;
}

Sink MakeSink(SimProcess* in) {
    auto object = std::make_shared<SinkObject>();
    std::lock_guard<std::mutex> guard(State().lock);
    Sink sink;
    sink.bytes_ = object->bytes;
    sink.handle_ = AddHandle(in ? *in->process() : CurrentProcess(), object, true);
    return sink;
}

HANDLE MakeConsole(SimProcess* in, DWORD mode, DWORD error, HANDLE screen) {
    auto object = std::make_shared<ConsoleObject>();
    object->mode = mode;
    object->error = error;
    std::lock_guard<std::mutex> guard(State().lock);
    Process& process = in ? *in->process() : CurrentProcess();
    if (auto sink = std::dynamic_pointer_cast<SinkObject>(detail::LookupHandle(process, screen))) {
        object->screen = sink->bytes;
    }
    return AddHandle(process, object, true);
}

void EndStaticInitialisation() {
    std::lock_guard<std::mutex> guard(State().lock);
    State().statics_done = true;
    if (!t_participant) {
        t_participant = true;
        State().runner_takes_part = true;
        ThreadStartingLocked();
    }
}

DWORD Now() {
    std::lock_guard<std::mutex> guard(State().lock);
    return static_cast<DWORD>(State().now);
}

namespace {

void RunUntilIdleLocked(std::unique_lock<std::mutex>& lock) {
    KernelState& state = State();
    state.idle_wanted = true;
    state.idle_reached = false;
    BlockUntil(lock, detail::ReadyCheck([&] { return state.idle_reached; }), kNoDeadline,
               "RunUntilIdle");
    state.idle_wanted = false;
    state.idle_reached = false;
}

// Lets time run up to `until`, the runner being blocked meanwhile.
void RunUntilTimeLocked(std::unique_lock<std::mutex>& lock, Deadline until, const char* what) {
    auto never = [] { return false; };
    BlockUntil(lock, detail::ReadyCheck(never), until, what);
}

}  // namespace

void RunUntilIdle() {
    std::unique_lock<std::mutex> lock(State().lock);
    RunUntilIdleLocked(lock);
}

void Advance(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(State().lock);
    RunUntilTimeLocked(lock, State().now + milliseconds, "Advance");
    RunUntilIdleLocked(lock);
}

bool RunUntil(const std::function<bool()>& condition, DWORD limit) {
    std::unique_lock<std::mutex> lock(State().lock);
    Deadline end = State().now + limit;
    for (;;) {
        RunUntilIdleLocked(lock);
        // The condition may call into the simulation; while it runs, nothing else does.
        lock.unlock();
        bool met = condition();
        lock.lock();
        if (met) return true;
        if (State().now >= end) return false;
        Deadline next = end;
        for (const Waiter* waiter : State().waiters) next = std::min(next, waiter->deadline);
        RunUntilTimeLocked(lock, next, "RunUntil");
    }
}

void StartRunnerThread(std::function<void()> body) {
    std::lock_guard<std::mutex> guard(State().lock);
    StartRunnerThreadLocked(std::move(body));
}

std::vector<SleepRecord> SleepLog() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().sleeps;
}

std::vector<DWORD> Sleeps() {
    std::lock_guard<std::mutex> guard(State().lock);
    std::vector<DWORD> lengths;
    for (const SleepRecord& record : State().sleeps) lengths.push_back(record.milliseconds);
    return lengths;
}

void FailCall(const std::string& api, DWORD error, int skip, int times) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().faults.push_back(Fault{api, error, skip, times});
}

int CallCount(const std::string& api) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto found = State().calls.find(api);
    return found == State().calls.end() ? 0 : found->second;
}

void LogCalls(bool on) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().logging_calls = on;
    if (on) State().call_log.clear();
}

std::vector<std::string> LoggedCalls(SimProcess& process) {
    const DWORD id = ProcessIdOf(process);
    std::lock_guard<std::mutex> guard(State().lock);
    std::vector<std::string> calls;
    for (const auto& call : State().call_log) {
        if (call.first == id) calls.push_back(call.second);
    }
    return calls;
}

bool TakeFault(const std::string& api, DWORD* error) {
    std::lock_guard<std::mutex> guard(State().lock);
    return detail::TakeFaultLocked(api, error);
}

}  // namespace test
}  // namespace winsim

using namespace winsim;

// ---- Handles and errors --------------------------------------------------------------------

DWORD GetLastError() {
    return t_last_error;
}
void SetLastError(DWORD error) {
    t_last_error = error;
}

HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

// A program that destroys what another of its threads still uses: Windows leaves the outcome
// undefined; the simulation ends the process with an access violation and says why.  It does
// not unwind the calling thread here, which may be inside a destructor: the thread ends at its
// next blocking call, as every thread of an ended process does.
static void Misuse(const char* what) {
    std::fprintf(stderr, "winsim: %s\n", what);
    std::lock_guard<std::mutex> guard(State().lock);
    EndLocked(CurrentProcess(), EXCEPTION_ACCESS_VIOLATION, true);
}

static bool WaitedOnLocked(const Process& process, HANDLE handle) {
    auto [first, last] = State().waited_handles.equal_range(&process);
    for (auto it = first; it != last; ++it) {
        if (it->second == handle) return true;
    }
    return false;
}

BOOL CloseHandle(HANDLE handle) {
    {
        std::lock_guard<std::mutex> guard(State().lock);
        if (detail::TakeFaultLocked("CloseHandle")) return FALSE;
        auto& handles = CurrentProcess().handles;
        auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it == handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (!WaitedOnLocked(CurrentProcess(), handle)) {
            CloseEntry(it->second);
            handles.erase(it);
            State().changed.notify_all();
            return TRUE;
        }
    }
    // Closing a handle while a wait on it is pending is undefined on Windows.  The process is
    // ended, and with it the handle.
    Misuse("CloseHandle of a handle that another thread waits on");
    return TRUE;
}

HANDLE GetStdHandle(DWORD which) {
    if (which != STD_INPUT_HANDLE && which != STD_OUTPUT_HANDLE && which != STD_ERROR_HANDLE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    if (detail::TakeFaultLocked("GetStdHandle")) return INVALID_HANDLE_VALUE;
    return CurrentProcess().std_handles[STD_INPUT_HANDLE - which];
}

BOOL SetStdHandle(DWORD which, HANDLE handle) {
    if (which != STD_INPUT_HANDLE && which != STD_OUTPUT_HANDLE && which != STD_ERROR_HANDLE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    if (detail::TakeFaultLocked("SetStdHandle")) return FALSE;
    CurrentProcess().std_handles[STD_INPUT_HANDLE - which] = handle;
    return TRUE;
}

// ---- Files, pipes, console -----------------------------------------------------------------

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED) {
    std::unique_lock<std::mutex> lock(State().lock);
    DWORD done = 0;
    if (written != nullptr) *written = 0;
    if (detail::TakeFaultLocked("WriteFile")) return FALSE;
    auto object = detail::LookupHandle(CurrentProcess(), file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    BOOL ok = object->Write(lock, buffer, length, &done);
    if (written != nullptr) *written = done;
    return ok;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED) {
    std::unique_lock<std::mutex> lock(State().lock);
    DWORD done = 0;
    if (read != nullptr) *read = 0;
    if (detail::TakeFaultLocked("ReadFile")) return FALSE;
    auto object = detail::LookupHandle(CurrentProcess(), file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    BOOL ok = object->Read(lock, buffer, length, &done);
    if (read != nullptr) *read = done;
    return ok;
}

BOOL CreatePipe(PHANDLE read_end, PHANDLE write_end, LPSECURITY_ATTRIBUTES attributes, DWORD size) {
    std::lock_guard<std::mutex> guard(State().lock);
    if (detail::TakeFaultLocked("CreatePipe")) return FALSE;
    auto pipe = std::make_shared<Pipe>();
    if (size != 0) pipe->capacity = size;
    bool inherit = attributes != nullptr && attributes->bInheritHandle;
    auto reader = std::make_shared<PipeEnd>();
    reader->pipe = pipe;
    reader->read_end = true;
    auto writer = std::make_shared<PipeEnd>();
    writer->pipe = pipe;
    *read_end = AddHandle(CurrentProcess(), reader, inherit);
    *write_end = AddHandle(CurrentProcess(), writer, inherit);
    return TRUE;
}

BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD size, LPDWORD read, LPDWORD available,
                   LPDWORD left_of_message) {
    std::lock_guard<std::mutex> guard(State().lock);
    if (read != nullptr) *read = 0;
    if (available != nullptr) *available = 0;
    if (left_of_message != nullptr) *left_of_message = 0;
    if (detail::TakeFaultLocked("PeekNamedPipe")) return FALSE;
    auto object = detail::LookupHandle(CurrentProcess(), pipe);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* end = dynamic_cast<PipeEnd*>(object.get());
    if (end == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    const std::deque<char>& bytes = end->pipe->bytes;
    if (bytes.empty() && !end->pipe->writer_open) {
        SetLastError(ERROR_BROKEN_PIPE);
        return FALSE;
    }
    DWORD count = std::min<DWORD>(size, static_cast<DWORD>(bytes.size()));
    if (buffer != nullptr) std::copy_n(bytes.begin(), count, static_cast<char*>(buffer));
    if (read != nullptr) *read = buffer != nullptr ? count : 0;
    if (available != nullptr) *available = static_cast<DWORD>(bytes.size());
    return TRUE;
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
    std::lock_guard<std::mutex> guard(State().lock);
    if (detail::TakeFaultLocked("GetConsoleMode")) return FALSE;
    auto object = Lookup<ConsoleObject>(console);
    if (!object) {
        auto other = detail::LookupHandle(CurrentProcess(), console);
        if (other && detail::ConsoleModeLocked(*other, mode)) return TRUE;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->error != 0) {
        SetLastError(object->error);
        return FALSE;
    }
    *mode = object->mode;
    return TRUE;
}

// ---- Events, waits, critical sections, clock, threads --------------------------------------

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state,
                    LPCSTR) {
    std::lock_guard<std::mutex> guard(State().lock);
    if (detail::TakeFaultLocked("CreateEventA")) return nullptr;
    auto event = std::make_shared<Event>();
    event->manual_reset = manual_reset != FALSE;
    event->signalled = initial_state != FALSE;
    return AddHandle(CurrentProcess(), event, attributes != nullptr && attributes->bInheritHandle);
}

static BOOL SetEventState(HANDLE handle, bool signalled, const char* api) {
    std::lock_guard<std::mutex> guard(State().lock);
    if (detail::TakeFaultLocked(api)) return FALSE;
    auto event = Lookup<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->signalled = signalled;
    State().changed.notify_all();
    return TRUE;
}

BOOL SetEvent(HANDLE event) {
    BOOL done = SetEventState(event, true, "SetEvent");
    std::function<void(HANDLE)> hook;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        hook = State().after_set_event;
    }
    if (hook) hook(event);
    return done;
}
BOOL ResetEvent(HANDLE event) {
    return SetEventState(event, false, "ResetEvent");
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(State().lock);
    if (detail::TakeFaultLocked("WaitForSingleObject")) return WAIT_FAILED;
    auto object = detail::LookupHandle(CurrentProcess(), handle);
    if (!object || !object->Waitable()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // Known for as long as the wait lasts, so that closing the handle meanwhile is seen.
    auto& waited = State().waited_handles;
    struct Waiting {
        std::multimap<const Process*, HANDLE>& waited;
        std::multimap<const Process*, HANDLE>::iterator entry;
        ~Waiting() { waited.erase(entry); }
    } waiting{waited, waited.emplace(&CurrentProcess(), handle)};
    if (!Block(
            lock, [&] { return object->Signalled(); }, DeadlineAfter(milliseconds),
            "WaitForSingleObject"))
        return WAIT_TIMEOUT;
    object->Satisfy();
    return WAIT_OBJECT_0;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    std::lock_guard<std::mutex> guard(State().lock);
    section->owner = 0;
    section->depth = 0;
}

// The owner value of a deleted section, until it is initialised again.
constexpr uintptr_t kDeletedSection = ~static_cast<uintptr_t>(0);

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    {
        std::lock_guard<std::mutex> guard(State().lock);
        bool owned_elsewhere = section->depth > 0 && section->owner != ThreadTag() &&
                               section->owner != kDeletedSection;
        if (!owned_elsewhere) {
            section->owner = kDeletedSection;
            section->depth = 0;
            return;
        }
    }
    Misuse("DeleteCriticalSection of a section that another thread owns");
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    uintptr_t self = ThreadTag();
    std::unique_lock<std::mutex> lock(State().lock);
    if (section->owner == kDeletedSection) {
        lock.unlock();
        Misuse("EnterCriticalSection of a deleted section");
        return;
    }
    if (!Block(
            lock, [&] { return section->depth == 0 || section->owner == self; }, kNoDeadline,
            "EnterCriticalSection"))
        return;
    section->owner = self;
    ++section->depth;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    {
        std::lock_guard<std::mutex> guard(State().lock);
        if (section->owner != kDeletedSection) {
            if (section->owner == ThreadTag() && section->depth > 0 && --section->depth == 0) {
                section->owner = 0;
                State().changed.notify_all();
            }
            return;
        }
    }
    Misuse("LeaveCriticalSection of a deleted section");
}

void Sleep(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(State().lock);
    State().sleeps.push_back(
        test::SleepRecord{static_cast<DWORD>(State().now), milliseconds, CurrentProcess().id});
    Block(
        lock, [] { return false; }, DeadlineAfter(milliseconds), "Sleep");
}

DWORD GetTickCount() {
    std::lock_guard<std::mutex> guard(State().lock);
    return static_cast<DWORD>(State().now);
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    std::lock_guard<std::mutex> guard(State().lock);
    count->QuadPart = static_cast<int64_t>(State().now) * 1000;
    return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME time) {
    // 2026-12-09 15:30:12 UTC in 100 ns units since 1601, then virtual time.
    constexpr uint64_t kStart = 134413038120000000ull;
    std::lock_guard<std::mutex> guard(State().lock);
    const uint64_t now = kStart + static_cast<uint64_t>(State().now) * 10000;
    time->dwLowDateTime = static_cast<DWORD>(now);
    time->dwHighDateTime = static_cast<DWORD>(now >> 32);
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 1000000;
    return TRUE;
}

uintptr_t _beginthread(void(__cdecl* start)(void*), unsigned, void* argument) {
    std::lock_guard<std::mutex> guard(State().lock);
    DWORD error;
    if (detail::TakeFaultLocked("_beginthread", &error)) {
        errno = static_cast<int>(error);
        return static_cast<uintptr_t>(-1);
    }
    Process& current = CurrentProcess();
    if (&current == &State().runner) {
        StartRunnerThreadLocked([start, argument] { start(argument); });
        return 1;
    }
    detail::ThrowIfEnded(current);
    detail::StartThreadLocked(current, [start, argument] { start(argument); });
    return 1;
}

// ---- Ending a program ----------------------------------------------------------------------

void ExitProcess(UINT exit_code) {
    EndCurrent(exit_code, false);
}

void RaiseException(DWORD code, DWORD, DWORD, const ULONG_PTR*) {
    RaiseInCurrent(code);
}

void DebugBreak() {
    RaiseInCurrent(EXCEPTION_BREAKPOINT);
}

// ---- Strings -------------------------------------------------------------------------------

int lstrcmpiA(LPCSTR a, LPCSTR b) {
    return detail::CompareNoCase(a, b);
}

int lstrlenA(LPCSTR text) {
    return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}
