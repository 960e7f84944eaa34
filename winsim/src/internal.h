// The simulation's kernel: objects, handle tables and the one lock that guards them.  Not for
// product code or tests.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "winsim/control.h"

namespace winsim {

// A kernel object.  Handles keep a count; when the last handle in any process is closed the
// object hears of it (under the kernel lock), so pipes can tell their other end.  Each kind of
// object answers ReadFile, WriteFile and waits for itself; every member runs with the kernel lock
// held (`lock`), and one that blocks does so through detail::Block.  A failure returns FALSE with
// the last error set.
struct Object {
    virtual ~Object() = default;
    virtual void LastHandleClosed() {}
    virtual BOOL Read(std::unique_lock<std::mutex>& lock, void* buffer, DWORD length, DWORD* done);
    virtual BOOL Write(std::unique_lock<std::mutex>& lock, const void* bytes, DWORD length,
                       DWORD* done);
    // WaitForSingleObject: whether the object can be waited on, whether a wait would be satisfied
    // now, and what satisfying one does to it (an auto-reset event clears).
    virtual bool Waitable() const { return false; }
    virtual bool Signalled() const { return false; }
    virtual void Satisfy() {}
    int handle_count = 0;
};

struct HandleEntry {
    std::shared_ptr<Object> object;
    bool inherit = false;
    // Made by the program's static initialisation in the test runner: every simulated process
    // starts with these, as if that initialisation had run in it as well.
    bool program_static = false;
};

struct ServiceState;
struct Console;

struct Process {
    DWORD id = 0;
    std::map<uintptr_t, HandleEntry> handles;
    uintptr_t next_handle = 4;
    HANDLE std_handles[3] = {nullptr, nullptr, nullptr};
    bool started = false;
    bool ended = false;
    ExitStatus status;
    int live_threads = 0;
    std::vector<std::thread> threads;
    // Environment block (names compared without regard to case), directory and error mode.
    std::vector<std::pair<std::string, std::string>> environment;
    std::string current_directory = "C:\\windows";
    UINT error_mode = 0;
    // Set when the process runs as a service (test::StartAsService).
    std::shared_ptr<ServiceState> service;
    // The console the process is attached to, if any, and its Ctrl-C state: the ignore flag of
    // SetConsoleCtrlHandler(NULL, TRUE) and the handler routines, newest last.
    std::shared_ptr<Console> console;
    bool ignore_ctrl_c = false;
    std::vector<PHANDLER_ROUTINE> ctrl_handlers;
};

// Thrown to unwind a thread of a process that has ended.
struct ThreadExit {};

// A handle to a process: signalled once the process has ended.
struct ProcessObject : Object {
    std::shared_ptr<Process> process;
    bool Waitable() const override { return true; }
    bool Signalled() const override { return process->ended; }
};

namespace detail {

// The kernel lock guards all of the simulation's state; the condition is notified on every
// change a blocked call may wait for.
std::mutex& KernelLock();
std::condition_variable& KernelChanged();

// The calling thread's process: a simulated one, or the test runner's own.
Process& CurrentProcess();

// With the kernel lock held:
HANDLE AddHandle(Process& process, std::shared_ptr<Object> object, bool inherit);
std::shared_ptr<Object> LookupHandle(Process& process, HANDLE handle);
template <class T>
std::shared_ptr<T> Lookup(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(CurrentProcess(), handle));
}

// Virtual time: milliseconds since the simulation's start (test::Now).  A deadline is such a
// time, or none.
using Deadline = uint64_t;
constexpr Deadline kNoDeadline = UINT64_MAX;
// With the kernel lock held: the time `milliseconds` from now; INFINITE gives no deadline.
Deadline DeadlineAfter(DWORD milliseconds);

// What a blocked thread waits for, without owning it.  Other threads evaluate it too (under the
// kernel lock), to judge whether the simulation can go on without moving time.
class ReadyCheck {
  public:
    template <class Ready>
    explicit ReadyCheck(const Ready& ready)
        : callable_(&ready),
          call_([](const void* callable) { return (*static_cast<const Ready*>(callable))(); }) {}
    bool operator()() const { return call_(callable_); }

  private:
    const void* callable_;
    bool (*call_)(const void*);
};

// The one way a simulated call blocks: waits, kernel lock held, until ready() or the deadline
// and returns ready().  ready() must read only what the kernel lock guards.  `what` names the
// wait in the report of a deadlock.  While the thread waits, time may move on: it jumps to the
// earliest deadline once every simulated thread (and the test runner) is blocked here and no
// ready() holds.  A thread of an ended process is unwound instead (ThreadExit); while such a
// thread is already being unwound (destructors of its frames run, which on Windows never would),
// nothing waits: the call gives up at once.
bool BlockUntil(std::unique_lock<std::mutex>& lock, ReadyCheck ready, Deadline deadline,
                const char* what);
template <class Ready>
bool Block(std::unique_lock<std::mutex>& lock, Ready ready, Deadline deadline = kNoDeadline,
           const char* what = "a blocking call") {
    return BlockUntil(lock, ReadyCheck(ready), deadline, what);
}
void ThrowIfEnded(Process& process);
// With the kernel lock held: takes a fault that is due for api (see test::FailCall) and says
// whether the call is to fail.  The fault's error goes to *error when given (calls that return
// their status, or set errno), otherwise to the thread's last-error value.
bool TakeFaultLocked(const std::string& api, DWORD* error = nullptr);
// True for a thread of an ended process that is being unwound.
bool Unwinding(Process& process);

// Processes.  A new process gets an id and the program's static handles (see
// test::EndStaticInitialisation); processes are found by id while they live.
std::shared_ptr<Process> NewProcess();
std::shared_ptr<Process> FindProcess(DWORD id);
Process& RunnerProcess();
// Runs body on a new thread of the process (kernel lock held by the caller).
void StartThreadLocked(Process& process, std::function<void()> body);
void EndProcessLocked(Process& process, DWORD code, bool crashed);
// Waits for the process's end and joins its threads (kernel lock not held).
ExitStatus WaitProcess(Process& process);

// Files (process.cpp), with the kernel lock held: CreateFileA for a name that is no console's.
HANDLE CreateFileLocked(Process& process, const char* name, DWORD disposition, bool inherit);

// Consoles (console.cpp), with the kernel lock held.  A new console with its screen buffer and
// input queue; attaching a process to one (or to none) detaches it from its old one.
std::shared_ptr<Console> NewConsoleLocked();
void AttachConsoleLocked(Process& process, std::shared_ptr<Console> console);
// An ended process leaves its console's list of processes but keeps its reference to it.
void LeaveConsoleLocked(Process& process);
// A handle to the process's console input or screen buffer; null without a console.
HANDLE OpenConsoleHandleLocked(Process& process, bool input, bool inherit);
// The mode of a console handle's input or screen buffer; false for any other object.
bool ConsoleModeLocked(Object& object, DWORD* mode);

// Names (of files, programs, variables, registry keys and values, accounts) compare without
// regard to ASCII case, as lstrcmpiA does: less than, equal to or greater than zero.
int CompareNoCase(const char* a, const char* b);
inline bool SameText(const std::string& a, const std::string& b) {
    return CompareNoCase(a.c_str(), b.c_str()) == 0;
}
// Orders the keys of maps and sets of such names.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return CompareNoCase(a.c_str(), b.c_str()) < 0;
    }
};

// Text in the code pages 437, 1252, 932 and 65001 (keyboard.cpp), as MultiByteToWideChar and
// WideCharToMultiByte convert it; KnownCodePage tells which code pages these take.
bool KnownCodePage(UINT code_page);
std::wstring ToWide(UINT code_page, const char* bytes, size_t length);
std::string FromWide(UINT code_page, const WCHAR* units, size_t length);

void ResetRegistry();
void ResetProcesses();
void ResetEventLog();
void ResetAccounts();
void ResetConsoleHooks();  // the kernel lock held

}  // namespace detail
}  // namespace winsim
