// Test control of the simulated Win32: simulated processes, captured output, the clock, fault
// injection, and read access to what the programs reported.  Product code never includes this.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "winsim/windows.h"

namespace winsim {

class Process;

// How a simulated process ended.
struct ExitStatus {
    DWORD code = 0;        // exit code, or the exception code of a crash
    bool crashed = false;  // ended by an unhandled exception (access violation, breakpoint)
};

// A simulated process: its own handle table, standard handles and threads.  Its entry routine
// runs on a thread of its own; ExitProcess, an unhandled exception or DebugBreak in any of its
// threads end this process only, never the test runner.
class SimProcess {
public:
    SimProcess();
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Puts an object into this process's handle table; see the object makers below.
    HANDLE Adopt(const std::shared_ptr<void>& object_token);
    void SetStdHandle(DWORD which, HANDLE handle);
    HANDLE GetStdHandle(DWORD which) const;

    // Starts the entry routine on the process's main thread.  Its return value is the exit code.
    void Start(std::function<int()> entry);
    // Waits until the process has ended and all of its threads are gone.
    ExitStatus Wait();
    bool HasEnded() const;

    Process* Get() const { return process_.get(); }

private:
    std::shared_ptr<Process> process_;
};

// Runs entry as a new simulated process with the given standard handles (which must be handles
// of the calling process; each is duplicated into the new one) and waits for its end.
ExitStatus RunProcess(std::function<int()> entry);

namespace test {

// Puts the whole simulation back to its starting state: registry, event log, faults, clock.
void Reset();

// Output sink: a handle whose written bytes a test can read back.  Writes to it succeed.
struct Sink {
    HANDLE handle;  // valid in the process it was made for
    std::shared_ptr<std::string> bytes() const;
    std::string text() const;
    std::shared_ptr<void> object;
};
// Makes a sink in the calling thread's process (the test process outside simulated processes).
Sink MakeSink();
// A console handle: GetConsoleMode succeeds on it with the given mode.
HANDLE MakeConsoleHandle(DWORD mode = 0x1f7);
// An object that answers GetConsoleMode with the given error (for example 5), for the paths
// where a console query fails for some other reason than a handle that is no console.
HANDLE MakeConsoleHandleFailing(DWORD error);
// Same object in another simulated process's handle table.
HANDLE Share(HANDLE handle, SimProcess& into);

// Clock.  Waits and sleeps take their nominal time divided by the scale (1 by default); every
// Sleep is recorded with its nominal milliseconds.
void SetTimeScale(double scale);
std::vector<DWORD> Sleeps();

// Fault injection.  The named API (for example "RegEnumValueA") fails with `error` on its
// (skip+1)th call from now on, `times` times in a row; 0 times means from then on for good.
void FailCall(const std::string& api, DWORD error, int skip = 0, int times = 1);
// Takes a pending fault for api, if one is due; used by the simulation itself.
bool TakeFault(const std::string& api, DWORD* error);

// Event log.
struct EventRecord {
    std::string source;
    WORD type;
    WORD category;
    DWORD id;
    std::vector<std::string> strings;
};
std::vector<EventRecord> EventLog();
std::vector<std::string> RegisteredSources();  // sources currently registered
int DeregisteredCount();

// Registry.
void RegSetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const std::string& data);
void RegDeleteTree(HKEY root, const std::string& path);
bool RegKeyExists(HKEY root, const std::string& path);
std::string RegSz(const std::string& text);  // text plus its terminating zero
std::string RegDword(DWORD value);

}  // namespace test
}  // namespace winsim
