// rexec-local: plays the rexec server's part on this machine, without the network, so that the
// command starter can be tried and tested.  It installs the starter as a service, starts it with
// the six start arguments a server gives (the command, the show-window value, this process's id
// and the values of three pipe handles that the starter moves out of this process), relays what
// the command writes, waits for the service to stop and removes it again.  With --by-hand it
// starts the starter as a plain program in a console of its own instead and prints that
// console's screen.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tool_helpers.h"
#include "win32.h"

namespace {

const char kUsage[] =
    "usage: rexec-local [options] -- COMMAND WORDS...\n"
    "       rexec-local --by-hand [--starter PATH] [--timeout SECONDS]\n"
    "\n"
    "Runs one command through the command starter service on this machine, as the rexec\n"
    "server would, and shows what the command writes.  This is a local test tool, not a\n"
    "server: it opens no network connection and authenticates nobody; the command runs under\n"
    "the account the service manager gives the service.\n"
    "\n"
    "  --starter PATH      the starter program (default: command-starter.exe beside this\n"
    "                      program, else ..\\..\\starter\\command-starter.exe from it)\n"
    "  --shell             flag the command to run through the command processor\n"
    "  --stderr-to-stdout  give no error handle: the command's errors join its output\n"
    "  --no-handles        give no handles at all: the command keeps its own console\n"
    "  --stdin             forward this program's standard input to the command (default:\n"
    "                      the command's input ends at once)\n"
    "  --show N            show-window value for the command's console (default 1)\n"
    "  --arg-count N       send N start arguments instead of six: fewer drops the last ones,\n"
    "                      more adds \"0\"s (to see how the starter treats a wrong count)\n"
    "  --timeout SECONDS   longest wait for the service and the output (default 30)\n"
    "  --verbose           show the service name, the arguments and the service states\n"
    "  --by-hand           start the starter as a plain program in a new console of this\n"
    "                      program's own and print that console's screen\n"
    "\n"
    "The command words are joined with single spaces.  Exit status: 0 when the service\n"
    "stopped and the command's output ended, 1 on any failure, 2 on a usage error.\n";

// Everything this program says itself goes to standard error with its name in front, written
// straight to the handle so that it never interleaves mid-line with the relayed streams.
HANDLE g_stdout;
HANDLE g_stderr;

void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    tools::WriteLineV(g_stderr, "rexec-local: ", format, arguments);
    va_end(arguments);
}

struct Options {
    std::string starter;
    std::string command;
    bool shell = false;
    bool stderr_to_stdout = false;
    bool no_handles = false;
    bool forward_stdin = false;
    bool verbose = false;
    bool by_hand = false;
    unsigned long show = 1;
    unsigned long arg_count = 6;
    unsigned long timeout_seconds = 30;
};

using tools::ParseNumber;

// Returns an empty text on success, else what is wrong with the command line.
std::string ParseOptions(int argc, char** argv, Options* options) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string word = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (word == "--") {
            ++i;
            break;
        } else if (word == "--starter") {
            if (next == nullptr) return "--starter needs a path";
            options->starter = next;
            ++i;
        } else if (word == "--show") {
            if (!ParseNumber(next, 0xFFFF, &options->show)) return "--show needs a number";
            ++i;
        } else if (word == "--arg-count") {
            if (!ParseNumber(next, 20, &options->arg_count)) return "--arg-count needs 0 to 20";
            ++i;
        } else if (word == "--timeout") {
            if (!ParseNumber(next, 3600, &options->timeout_seconds) ||
                options->timeout_seconds == 0) {
                return "--timeout needs 1 to 3600 seconds";
            }
            ++i;
        } else if (word == "--shell") {
            options->shell = true;
        } else if (word == "--stderr-to-stdout") {
            options->stderr_to_stdout = true;
        } else if (word == "--no-handles") {
            options->no_handles = true;
        } else if (word == "--stdin") {
            options->forward_stdin = true;
        } else if (word == "--verbose") {
            options->verbose = true;
        } else if (word == "--by-hand") {
            options->by_hand = true;
        } else {
            return "unknown option " + word;
        }
    }
    for (int first = i; i < argc; ++i) {
        if (i > first) options->command += ' ';
        options->command += argv[i];
    }
    if (!options->by_hand && options->command.empty()) return "no command given after --";
    if (options->by_hand && !options->command.empty()) return "--by-hand takes no command";
    return "";
}

// The starter's full path: the service manager starts it from its own current directory.
std::string FindStarter(const std::string& given) {
    std::string path =
        given.empty() ? tools::SiblingProgram("command-starter.exe", "starter") : given;
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full || !tools::FileExists(full)) {
        Say("no starter program at %s", path.c_str());
        return "";
    }
    return full;
}

std::string Decimal(unsigned long value) {
    return std::to_string(value);
}

// The value a server passes for a handle: its number in decimal, 4294967295 for none.
std::string HandleValue(HANDLE handle) {
    if (handle == nullptr) return "4294967295";
    return Decimal(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(handle)));
}

const char* StateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return "SERVICE_STOPPED";
        case SERVICE_START_PENDING:
            return "SERVICE_START_PENDING";
        case SERVICE_STOP_PENDING:
            return "SERVICE_STOP_PENDING";
        case SERVICE_RUNNING:
            return "SERVICE_RUNNING";
        case SERVICE_CONTINUE_PENDING:
            return "SERVICE_CONTINUE_PENDING";
        case SERVICE_PAUSE_PENDING:
            return "SERVICE_PAUSE_PENDING";
        case SERVICE_PAUSED:
            return "SERVICE_PAUSED";
        default:
            return "unknown state";
    }
}

// Copies one pipe to one of this program's standard handles until the pipe ends.  When the
// destination fails (its reader went away), the pipe is still drained so the command never
// blocks on a full pipe.
struct Relay {
    HANDLE from;
    HANDLE to;
};

DWORD WINAPI RelayThread(void* parameter) {
    Relay* relay = static_cast<Relay*>(parameter);
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(relay->from, buffer, sizeof buffer, &got, nullptr)) break;
        tools::WriteAll(relay->to, buffer, got);
    }
    return 0;
}

// Forwards this program's standard input into the command's input pipe, then closes it.  The
// thread may stay blocked on a read when the command ends first; the process ends it.
DWORD WINAPI InputThread(void* parameter) {
    HANDLE to = static_cast<HANDLE>(parameter);
    HANDLE from = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        DWORD written = 0;
        if (!WriteFile(to, buffer, got, &written, nullptr)) break;
    }
    CloseHandle(to);
    return 0;
}

// The pipes between this program and the command.  The command's ends stay in this process
// only until the starter moves them into itself.
struct Pipes {
    HANDLE command_input = nullptr;  // read end, the command's standard input
    HANDLE our_input = nullptr;
    HANDLE command_output = nullptr;
    HANDLE our_output = nullptr;
    HANDLE command_error = nullptr;
    HANDLE our_error = nullptr;
};

bool MakePipes(const Options& options, Pipes* pipes) {
    if (!CreatePipe(&pipes->command_input, &pipes->our_input, nullptr, 0) ||
        !CreatePipe(&pipes->our_output, &pipes->command_output, nullptr, 0)) {
        Say("CreatePipe failed: %lu", GetLastError());
        return false;
    }
    if (!options.stderr_to_stdout &&
        !CreatePipe(&pipes->our_error, &pipes->command_error, nullptr, 0)) {
        Say("CreatePipe failed: %lu", GetLastError());
        return false;
    }
    return true;
}

std::vector<std::string> StartArguments(const Options& options, const Pipes& pipes) {
    std::vector<std::string> arguments;
    arguments.push_back(options.shell ? "\x01" + options.command : options.command);
    arguments.push_back(Decimal(options.show));
    arguments.push_back(Decimal(GetCurrentProcessId()));
    arguments.push_back(HandleValue(pipes.command_input));
    arguments.push_back(HandleValue(pipes.command_output));
    arguments.push_back(HandleValue(pipes.command_error));
    arguments.resize(options.arg_count, "0");
    return arguments;
}

std::string Shown(const std::string& argument) {
    std::string shown = "\"";
    for (char c : argument) {
        if (c == '\x01') {
            shown += "\\x01";
        } else {
            shown += c;
        }
    }
    return shown + "\"";
}

DWORD Elapsed(DWORD since) {
    return GetTickCount() - since;
}

class ServiceRun {
  public:
    explicit ServiceRun(const Options& options) : options_(options) {}
    ~ServiceRun() {
        if (service_ != nullptr) {
            if (!DeleteService(service_)) Say("DeleteService failed: %lu", GetLastError());
            CloseServiceHandle(service_);
        }
        if (manager_ != nullptr) CloseServiceHandle(manager_);
    }

    int Run(const std::string& starter) {
        if (!options_.no_handles && !MakePipes(options_, &pipes_)) return 1;
        // Reserved up front: the threads keep pointers into it.
        std::vector<Relay> relays;
        relays.reserve(2);
        if (!options_.no_handles) {
            relays.push_back({pipes_.our_output, g_stdout});
            if (pipes_.our_error != nullptr) relays.push_back({pipes_.our_error, g_stderr});
        }
        std::vector<HANDLE> threads;
        for (Relay& relay : relays) {
            HANDLE thread = CreateThread(nullptr, 0, RelayThread, &relay, 0, nullptr);
            if (thread == nullptr) {
                Say("CreateThread failed: %lu", GetLastError());
                return 1;
            }
            threads.push_back(thread);
        }

        if (!Install(starter)) return 1;
        std::vector<std::string> arguments = StartArguments(options_, pipes_);
        std::vector<const char*> pointers;
        for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
        if (options_.verbose) {
            std::string shown;
            for (const std::string& argument : arguments) shown += " " + Shown(argument);
            Say("starting service %s with %u arguments:%s", name_.c_str(),
                static_cast<unsigned>(arguments.size()), shown.c_str());
        }
        DWORD started = GetTickCount();
        if (!StartServiceA(service_, static_cast<DWORD>(pointers.size()),
                           pointers.empty() ? nullptr : pointers.data())) {
            DWORD error = GetLastError();
            Say("StartService failed: %lu%s", error,
                error == ERROR_SERVICE_REQUEST_TIMEOUT
                    ? " (the service reported no status: see the event log)"
                    : "");
            return 1;
        }
        if (options_.verbose) Say("StartService returned after %lu ms", Elapsed(started));
        if (!options_.no_handles) StartInput();
        return Wait(threads, started);
    }

  private:
    bool Install(const std::string& starter) {
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
        if (manager_ == nullptr) {
            Say("OpenSCManager failed: %lu", GetLastError());
            return false;
        }
        // One service per run, so that runs side by side or leftovers of a killed run never
        // meet.
        name_ = "RexecLocal-" + Decimal(GetCurrentProcessId()) + "-" + Decimal(GetTickCount());
        std::string binary = "\"" + starter + "\"";
        service_ = CreateServiceA(
            manager_, name_.c_str(), name_.c_str(), SERVICE_START | SERVICE_QUERY_STATUS | DELETE,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(),
            nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service_ == nullptr) {
            Say("CreateService failed: %lu", GetLastError());
            return false;
        }
        return true;
    }

    // The command's input either ends at once or carries this program's standard input.
    void StartInput() {
        if (options_.forward_stdin) {
            HANDLE thread = CreateThread(nullptr, 0, InputThread, pipes_.our_input, 0, nullptr);
            if (thread != nullptr) {
                CloseHandle(thread);
                return;
            }
            Say("CreateThread failed: %lu; the command gets no input", GetLastError());
        }
        CloseHandle(pipes_.our_input);
    }

    // Waits until the service has stopped and the command's output has ended, each within the
    // time limit.
    int Wait(const std::vector<HANDLE>& threads, DWORD started) {
        const DWORD limit = options_.timeout_seconds * 1000;
        DWORD state = 0;
        DWORD exit_code = 0;
        DWORD stopped_at = 0;
        bool stopped = false;
        bool output_ended = threads.empty();
        for (;;) {
            if (!stopped) {
                SERVICE_STATUS status;
                if (!QueryServiceStatus(service_, &status)) {
                    Say("QueryServiceStatus failed: %lu", GetLastError());
                    return 1;
                }
                if (status.dwCurrentState != state && options_.verbose) {
                    Say("%s after %lu ms", StateName(status.dwCurrentState), Elapsed(started));
                }
                state = status.dwCurrentState;
                if (state == SERVICE_STOPPED) {
                    stopped = true;
                    stopped_at = GetTickCount();
                    exit_code = status.dwWin32ExitCode != ERROR_SERVICE_SPECIFIC_ERROR
                                    ? status.dwWin32ExitCode
                                    : status.dwServiceSpecificExitCode;
                }
            }
            if (!output_ended) {
                output_ended = WaitForMultipleObjects(static_cast<DWORD>(threads.size()),
                                                      threads.data(), TRUE, 50) != WAIT_TIMEOUT;
            } else if (!stopped) {
                Sleep(50);
            }
            if (stopped && output_ended) break;
            // A service that did not stop cleanly may never have taken the pipes: what the
            // command wrote has had a second to arrive.
            if (stopped && exit_code != 0 && Elapsed(stopped_at) > 1000) break;
            if (Elapsed(started) > limit) break;
        }
        if (!stopped) {
            Say("the service did not stop within %lu s (last state %s)", options_.timeout_seconds,
                StateName(state));
            return 1;
        }
        if (exit_code != 0) {
            Say("the service stopped with exit code %lu", exit_code);
            return 1;
        }
        if (!output_ended) {
            Say("the service stopped, but the command's output did not end within %lu s (the "
                "command still runs, or the starter did not take its handles)",
                options_.timeout_seconds);
            return 1;
        }
        if (options_.verbose) Say("done after %lu ms", Elapsed(started));
        return 0;
    }

    const Options& options_;
    Pipes pipes_;
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    std::string name_;
};

// Started by hand from a console, the starter shows its banner there.  This program makes a
// console of its own, runs the starter in it as a plain program and prints the console's rows.
int RunByHand(const Options& options, const std::string& starter) {
    // AllocConsole replaces the standard handles; this program still prints to the saved ones.
    if (!tools::MakeOwnConsole(false)) {
        Say("AllocConsole failed: %lu", GetLastError());
        return 1;
    }
    HANDLE screen = tools::OpenConsole("CONOUT$", true);
    HANDLE keyboard = tools::OpenConsole("CONIN$", true);
    if (screen == INVALID_HANDLE_VALUE || keyboard == INVALID_HANDLE_VALUE) {
        Say("opening the console failed: %lu", GetLastError());
        return 1;
    }

    PROCESS_INFORMATION process;
    if (!tools::StartWithStdHandles(starter.c_str(), "\"" + starter + "\"", keyboard, screen,
                                    screen, &process)) {
        Say("CreateProcess failed: %lu", GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    int result = 0;
    if (WaitForSingleObject(process.hProcess, options.timeout_seconds * 1000) != WAIT_OBJECT_0) {
        Say("the starter did not end within %lu s; ending it", options.timeout_seconds);
        TerminateProcess(process.hProcess, 1);
        result = 1;
    } else {
        DWORD exit_code = 0;
        GetExitCodeProcess(process.hProcess, &exit_code);
        Say("the starter ended with exit code %lu", exit_code);
    }
    CloseHandle(process.hProcess);

    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(screen, &info)) {
        Say("GetConsoleScreenBufferInfo failed: %lu", GetLastError());
        return 1;
    }
    // The rows up to the cursor's, without trailing blanks.
    std::string rows;
    bool read = tools::ReadScreenRows(
        screen, info.dwSize.X, static_cast<SHORT>(info.dwCursorPosition.Y + 1), &rows, nullptr);
    DWORD error = GetLastError();
    tools::WriteAll(g_stdout, rows);
    if (!read) {
        Say("ReadConsoleOutputA failed: %lu", error);
        return 1;
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
    g_stderr = GetStdHandle(STD_ERROR_HANDLE);
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (tools::AsksForHelp(argv[i])) {
            tools::WriteAll(g_stdout, kUsage);
            return 0;
        }
    }
    Options options;
    std::string problem = ParseOptions(argc, argv, &options);
    if (!problem.empty()) {
        Say("%s", problem.c_str());
        tools::WriteAll(g_stderr, kUsage);
        return 2;
    }
    std::string starter = FindStarter(options.starter);
    if (starter.empty()) return 1;
    if (options.by_hand) return RunByHand(options, starter);
    ServiceRun run(options);
    return run.Run(starter);
}
