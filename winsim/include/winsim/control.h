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

    Process* process() const { return process_.get(); }

  private:
    std::shared_ptr<Process> process_;
};

// Runs entry as a new simulated process without standard handles and waits for its end.
ExitStatus RunProcess(std::function<int()> entry);

namespace test {

// Puts the simulation back to its starting state: registry, event log records, faults, processes
// that CreateProcessA started (ended and waited for), the clock (back to 0) and its sleep log.
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

// Virtual time.  The simulation's clock stands still while any of its threads can run, and
// jumps to the earliest deadline (of a Sleep, a wait with a timeout, or one of the calls below)
// once every one of them is blocked inside the simulation.  Its threads are those of simulated
// processes (started by SimProcess, CreateProcessA, _beginthread or the service dispatcher),
// threads that _beginthread starts in the test runner's own process, and the test runner's main
// thread (the one that called EndStaticInitialisation), which counts as running whenever it is
// not blocked in the simulation: time never moves while test code runs.  Threads that can run at
// the same moment of virtual time run side by side, in no set order.  Other threads (a
// std::thread of a test) count neither way; a wait that only such a thread could end looks like
// a deadlock.  When every thread is blocked with no deadline and nothing can wake one, the
// simulation prints who waits where on stderr and aborts the test program.
//
// Milliseconds of virtual time since the start or the last Reset; GetTickCount answers the same.
DWORD Now();
// Returns once every thread of the simulation is blocked and none can go on; time does not move.
void RunUntilIdle();
// Lets exactly `milliseconds` of virtual time pass, the threads running at each deadline on the
// way, and returns at the end of it, idle.
void Advance(DWORD milliseconds);
// Runs until `condition` holds, checking it whenever the simulation is idle (first at once, then
// after each step of time), but for no longer than `limit` milliseconds of virtual time.  The
// condition runs on the test runner's thread and may call into the simulation.  Returns whether
// it held; time stands at the moment it did, or at the limit.
bool RunUntil(const std::function<bool()>& condition, DWORD limit);
// Starts body on a new thread of the test runner's own process, as _beginthread there does: it
// shares the runner's handles and takes part in virtual time.  Nothing joins it; a test lets it
// end (RunUntilIdle, say) before anything it uses goes away.
void StartRunnerThread(std::function<void()> body);
// Every Sleep since Reset, in order: when it began, its nominal length, who slept.
struct SleepRecord {
    DWORD at;
    DWORD milliseconds;
    DWORD process_id;
};
std::vector<SleepRecord> SleepLog();
std::vector<DWORD> Sleeps();  // the lengths alone

// Runs `hook` with the event on the calling thread right after each SetEvent, before it returns
// (for example to hold up a thread that signals while it still owns a lock); null removes it, and
// so does Reset.  A program that destroys a critical section another thread owns, enters or leaves
// a deleted one, or closes a handle another thread waits on ends with an access violation.
void AfterSetEvent(std::function<void(HANDLE)> hook);

// Fault injection.  The named API (for example "RegEnumValueA") fails with `error` on its
// (skip+1)th call from now on, `times` calls in a row (0: every call from then on).
void FailCall(const std::string& api, DWORD error, int skip = 0, int times = 1);
// Takes a fault that is due for api (the kernel lock not held); used by the simulation itself.
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

// Accounts.  After Reset the computer is "WORKSTATION"; its database knows the local account
// WORKSTATION\user (kDefaultUserSid, home directory "C:\Users\user"), which every process runs
// as, and NT AUTHORITY\SYSTEM (S-1-5-18); no domain has a domain controller.
constexpr char kDefaultUserSid[] = "S-1-5-21-1004336348-1177238915-682003330-1000";
// The binary form of a SID text "S-1-<authority>-<sub>-..."; the authority may take up to 48
// bits.  Empty when the text is no SID.
std::vector<BYTE> MakeSid(const std::string& text);
// Adds an account.  The domain kLocalDomain stands for the computer's own name, whatever it is
// when the account is asked for.  An empty home directory leaves usri3_home_dir empty.
constexpr char kLocalDomain[] = ".";
void AddAccount(const std::string& domain, const std::string& name, const std::string& sid_text,
                const std::string& home_dir);
// The user in every process's token.
void SetProcessUser(const std::string& sid_text);
void SetComputerName(const std::string& name);
// NetGetDCName for `domain` answers `dc_name` (for example "\\DC1"), or fails with `error`
// when that is non-zero.  Domains without an entry give NERR_DCNotFound.  A domain controller
// serves the accounts of its domain; a machine "\\X" that is none serves those of domain X.
void SetDomainController(const std::string& domain, const std::string& dc_name, DWORD error = 0);
// The requests made of the network API since Reset, in order and in 8-bit text:
// "NetGetDCName(<domain>)" and "NetUserGetInfo(<server>, <user>)", a null server shown empty.
std::vector<std::string> NetRequests();
// Network buffers handed out and not freed yet.
int OpenNetBuffers();

}  // namespace test
}  // namespace winsim

namespace winsim {
namespace test {

// Processes, files and services.

// A program that CreateProcessA can start, found by the base name of the command line's first
// word without ".exe" (for example "cmd").  It runs as the new process's entry routine.
using Program = std::function<int(const std::string& command_line)>;
void RegisterProgram(const std::string& name, Program program);

// What CreateProcessA was given, in order of the calls that succeeded.
struct CreatedProcess {
    std::string command_line;
    bool inherit_handles;
    DWORD flags;
    STARTUPINFOA startup;  // the handles in it are values in the creating process
    std::vector<std::pair<std::string, std::string>> environment;
    std::string current_directory;
    UINT error_mode;
    DWORD process_id;
};
std::vector<CreatedProcess> CreatedProcesses();
// Waits until every process started by CreateProcessA has ended.
void WaitForCreatedProcesses();
// A living process's console as it was given by CreateProcessA (the creator's, a new one or
// none: null), to compare consoles of processes, and its Ctrl-C ignore flag.
const void* ConsoleOf(DWORD process_id);
bool IgnoresCtrlC(DWORD process_id);

// The simulated file system: directories that exist and files that can be opened.  "C:\",
// "C:\windows" and "C:\windows\system32" always exist.
void AddDirectory(const std::string& path);
void AddFile(const std::string& path);
// A directory in which CreateFileA may not make files (ERROR_ACCESS_DENIED).
void AddReadOnlyDirectory(const std::string& path);
// What a file made by CreateFileA holds; null when there is no such file.
std::unique_ptr<std::string> FileContents(const std::string& path);
// How often the named API has been called since Reset: the calls that a fault can be set for
// (see FailCall), which are all that go to the console host, the files, the pipes and the
// account database.
int CallCount(const std::string& api);
// From LogCalls(true) on, until LogCalls(false) or Reset, each such call is logged; LoggedCalls
// gives the APIs a process called, in order.
void LogCalls(bool on);
std::vector<std::string> LoggedCalls(SimProcess& process);

// Every file CreateFileA has made since Reset, in order.
std::vector<std::string> MadeFiles();
// The disk holds `bytes` more bytes of file data from now on: a write beyond writes what fits and
// fails with ERROR_DISK_FULL, as on a disk that fills up half way through it.
void LimitFileSpace(uint64_t bytes);

// The value of a simulated process's environment variable, or null when it has none.
std::unique_ptr<std::string> EnvironmentOf(SimProcess& process, const std::string& name);
std::string CurrentDirectoryOf(SimProcess& process);
DWORD ProcessIdOf(SimProcess& process);
bool HandleIsInheritable(SimProcess& process, HANDLE handle);

// Services.  Starts the process as the service control manager starts an own-process service:
// StartServiceCtrlDispatcherA then connects and runs the table's service entry on a thread of
// its own with argv[0] = service_name followed by the start arguments.
void StartAsService(SimProcess& process, const std::string& service_name,
                    const std::vector<std::string>& arguments, std::function<int()> entry);
std::vector<SERVICE_STATUS> ServiceStatuses(SimProcess& process);
std::string ServiceHandlerName(SimProcess& process);
// Sends a control to the service's handler, which runs on the dispatcher's thread; returns when
// the handler has returned.  False when no handler is registered.
bool SendControl(SimProcess& process, DWORD control);
// Called on the reporting thread right after each status report, before SetServiceStatus
// returns (for example to send a control while the service is starting).  Set it before
// StartAsService to see every report.
void OnServiceStatus(SimProcess& process, std::function<void(const SERVICE_STATUS&)> hook);

}  // namespace test
}  // namespace winsim
