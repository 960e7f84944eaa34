// Test control of the simulated Win32: simulated processes, output sinks, the clock, fault
// injection, and read access to what the programs reported.  Product code never includes this.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "winsim/windows.h"

namespace winsim {

struct Process;

// How a simulated process ended.
struct ExitStatus {
    DWORD code = 0;        // exit code, or the exception code of a crash
    bool crashed = false;  // ended by an unhandled exception (access violation, breakpoint)
};

// A simulated process: its own handle table, standard handles and threads.  Its entry routine
// runs on a thread of its own; ExitProcess, an unhandled exception or DebugBreak on any of its
// threads end this process only, never the test runner.  Threads the process started end at
// their next blocking call into the simulation once the process has ended.
class SimProcess {
  public:
    SimProcess();
    ~SimProcess();  // ends the process if it still runs, and waits for its threads
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    void SetStdHandle(DWORD which, HANDLE handle);
    // Starts the entry routine on the process's main thread; its return value is the exit code.
    void Start(std::function<int()> entry);
    // Waits until the process has ended and all of its threads are gone.
    ExitStatus Wait();
    bool HasEnded() const;

    Process* process() const { return process_.get(); }

  private:
    std::shared_ptr<Process> process_;
};

// Runs entry as a new simulated process without standard handles and waits for its end.
ExitStatus RunProcess(std::function<int()> entry);

namespace test {

// Puts the simulation back to its starting state: registry, event log records, faults, clock.
// Handles and registered event sources stay as they are.
void Reset();

// Called by the test runner's main before the tests run.  Handles that the program's static
// objects made until then (the reporter's event source, static events) exist in every simulated
// process too, with the same values, as if static initialisation had run in each of them.
void EndStaticInitialisation();

// An output sink: a handle whose written bytes a test reads back.  Writes to it succeed.
class Sink {
  public:
    HANDLE handle() const { return handle_; }
    std::string Text() const;

  private:
    friend Sink MakeSink(SimProcess* in);
    HANDLE handle_ = nullptr;
    std::shared_ptr<std::string> bytes_;
};
// The objects below are made in `in`, or in the calling thread's process when it is null (the
// test runner's own process outside simulated processes).
Sink MakeSink(SimProcess* in = nullptr);
// A console handle: GetConsoleMode answers `mode`, or fails with `error` when that is non-zero
// (as for a console query that fails for another reason than a handle that is no console).
// Text written to it goes to the sink `screen` (a handle in the same process), if given.
HANDLE MakeConsole(SimProcess* in = nullptr, DWORD mode = 0x1f7, DWORD error = 0,
                   HANDLE screen = nullptr);

// Clock.  Waits and sleeps take their nominal time divided by the scale (1 by default); every
// Sleep is recorded with its nominal milliseconds.
void SetTimeScale(double scale);
std::vector<DWORD> Sleeps();

// Fault injection.  The named API (for example "RegEnumValueA") fails with `error` on its
// (skip+1)th call from now on, `times` calls in a row (0: every call from then on).
void FailCall(const std::string& api, DWORD error, int skip = 0, int times = 1);
// Takes a fault that is due for api; used by the simulation itself.
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
std::vector<std::string> RegisteredSources();  // sources with a handle open now

// Registry.
void RegSetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const std::string& data);
void RegDeleteTree(HKEY root, const std::string& path);
bool RegKeyExists(HKEY root, const std::string& path);
std::string RegSz(const std::string& text);  // the text and its terminating zero
std::string RegDword(DWORD value);           // four bytes, little-endian

}  // namespace test
}  // namespace winsim
