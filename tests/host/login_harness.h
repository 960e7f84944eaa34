// Whole logins in the simulated Win32: the translator in a simulated process with a console of
// its own, a fake command processor in that console, and the server's ends of the socket pipes
// in the test.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "translator.h"
#include "winsim/console_control.h"
#include "winsim/control.h"

// Puts the translator's process-wide state back to what a new process starts with: the login
// state and the static event objects and lock as their constructors leave them.  All simulated
// processes share the test program's memory, so each simulated translator calls this first;
// the previous login's threads must all be gone (its process waited for).
void FreshTranslatorProcess();

// The telnet login's settings key, and one of its values written as the registry holds it.
constexpr char kTelnetKey[] =
    "Software\\Orvane Software, Inc.\\Orvane Telnetd Server\\CurrentVersion";
void SetSetting(const char* name, DWORD type, const std::string& data);

// What the fake command processor saw.
struct FakeCommandProcessorLog {
    std::mutex lock;
    std::vector<std::string> lines;  // every line it read, without the line end
    std::atomic<int> ctrl_c_events{0};
};

// Registers "cmd" as a small command processor: it reads lines from its standard input (the
// console), answers "echo TEXT" with TEXT and a line feed, "raw" and "char" by switching the
// console input mode, "size COLUMNS ROWS" by setting the size of the screen buffer of its standard
// output, "chcp N" by setting both console code pages, "row N" by moving the cursor to the start of
// row N, "program" by running a full-screen program (RunFullScreenProgram in the harness: its own
// buffer, no cursor, the title "program", until a line "q"), "program exit" by showing that
// program's buffer and ending, "exit" by ending, "exit TEXT" by writing TEXT and a line feed and
// ending at once, anything else with "unknown: LINE"; it prints "C:\>" before each line and counts
// Ctrl-C events, which it survives.
std::shared_ptr<FakeCommandProcessorLog> RegisterFakeCommandProcessor();

class SimLogin {
  public:
    struct Options {
        std::string protocol = "telnet";
        std::string terminal = "vt100";
        winsim::test::ConsoleSettings console;
        size_t input_capacity = 0;   // of the socket input pipe; 0: the default
        size_t output_capacity = 0;  // of the socket output pipe; 0: the default
        // The server reads nothing of the socket output until ReleaseOutput (or Wait).
        bool hold_output = false;
        // After the entry routine returns, the static objects are destroyed as the run-time
        // library's exit does (mirror wake-up event, screen lock, output gate), so that a thread
        // still using them ends the translator with an access violation.
        bool run_exit_list = false;
        // When set, the exit list runs as with run_exit_list, and then this runs on the same
        // thread (the rest of the exit's work, a Sleep say) while the process's other threads
        // still run.
        std::function<void()> at_exit;
    };
    explicit SimLogin(const Options& options);
    SimLogin() : SimLogin(Options()) {}
    ~SimLogin();  // ends the login if it still runs
    SimLogin(const SimLogin&) = delete;
    SimLogin& operator=(const SimLogin&) = delete;

    // Writes the bytes into the socket input, as the server does with the client's, and lets
    // the simulation run until everything waits again (time does not move).
    void Send(const std::string& bytes);
    // The server closes its end of the socket input.
    void CloseInput();
    // Everything written to the socket output and the control channel so far.
    std::string Output();
    std::string Control();
    // Output written since the last call.
    std::string NewOutput();
    // The server starts (or goes on) reading the socket output.
    void ReleaseOutput();
    // Waits for the end of the login; the socket output and the control channel have ended then.
    winsim::ExitStatus Wait();
    bool OutputEnded();

    winsim::SimProcess& translator() { return translator_; }

  private:
    struct Collected {
        std::mutex lock;
        std::string bytes;
        bool ended = false;
    };
    static void Collect(HANDLE pipe, Collected* into);

    winsim::SimProcess translator_;
    winsim::SimProcess output_reader_;
    winsim::SimProcess control_reader_;
    Collected output_;
    Collected control_;
    size_t seen_ = 0;
    HANDLE input_write_ = nullptr;
    HANDLE output_release_ = nullptr;  // set while the server reads the socket output
    std::vector<std::string> arguments_;
    std::function<void()> at_exit_;
    bool waited_ = false;
};

// The 93-byte telnet state message and the 12-byte rlogin window-size message.
std::string TelnetStateMessage(int rows, int columns);
std::string RloginSizeMessage(int rows, int columns);

// Every report in the event log since the last reset, in order.
std::vector<std::string> Reports();
