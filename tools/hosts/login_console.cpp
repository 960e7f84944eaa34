// login-console: the per-login helper of the loopback hosts.  It gives one login a console of
// its own and starts the translator in it, sharing it (no CREATE_NEW_CONSOLE: under Wine the
// console host of a new console would inherit the translator's pipes and keep them open after
// the translator has closed them).  The console is made first, while this process holds no pipe
// at all, so that its console host holds none either; then the translator's three pipe ends are
// taken out of the host process, and the host is told through its named event.  When the
// translator has ended, whatever is left in the console (a command the command processor had
// started, say) is ended too, so nothing of the login outlives it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tool_helpers.h"

namespace {

const char kUsage[] =
    "usage: login-console HOST-PID INPUT OUTPUT ERROR EVENT TRANSLATOR PROTOCOL TERMINAL-TYPE\n"
    "Started by the loopback hosts, one per login; not meant to be run by hand.\n";

// Exit statuses of its own, above any the translator uses.
const DWORD kUsageError = 2;
const DWORD kConsoleFailed = 10;
const DWORD kHandlesFailed = 11;
const DWORD kStartFailed = 12;

bool ParseHandle(const char* text, HANDLE* handle) {
    unsigned long long value = 0;
    if (!tools::ParseNumber(text, static_cast<unsigned long long>(UINTPTR_MAX), &value) ||
        value == 0) {
        return false;
    }
    *handle = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(value));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        // No console and no standard handles yet: the usage text shows only when run by hand.
        std::fputs(kUsage, stderr);
        return kUsageError;
    }
    HANDLE host_input = nullptr;
    HANDLE host_output = nullptr;
    HANDLE host_control = nullptr;
    unsigned long host_pid = 0;
    if (!tools::ParseNumber(argv[1], 0xFFFFFFFFul, &host_pid) ||
        !ParseHandle(argv[2], &host_input) || !ParseHandle(argv[3], &host_output) ||
        !ParseHandle(argv[4], &host_control)) {
        std::fputs(kUsage, stderr);
        return kUsageError;
    }

    // Ctrl-C events that the translator raises in the shared console reach this process too.
    if (!tools::MakeOwnConsole(true)) return kConsoleFailed;

    // Inheritable copies for the translator; the host closes its own once the event is set.
    HANDLE host = OpenProcess(PROCESS_DUP_HANDLE, FALSE, host_pid);
    HANDLE taken = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[5]);
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE control = nullptr;
    HANDLE self = GetCurrentProcess();
    if (host == nullptr || taken == nullptr ||
        !DuplicateHandle(host, host_input, self, &input, 0, TRUE, DUPLICATE_SAME_ACCESS) ||
        !DuplicateHandle(host, host_output, self, &output, 0, TRUE, DUPLICATE_SAME_ACCESS) ||
        !DuplicateHandle(host, host_control, self, &control, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return kHandlesFailed;
    }
    CloseHandle(host);

    std::string command_line = std::string("\"") + argv[6] + "\" " + argv[7] + " " + argv[8];
    PROCESS_INFORMATION process = {};
    bool started =
        tools::StartWithStdHandles(nullptr, command_line, input, output, control, &process);
    // From here on only the translator holds the pipes.
    CloseHandle(input);
    CloseHandle(output);
    CloseHandle(control);
    SetEvent(taken);
    CloseHandle(taken);
    if (!started) return kStartFailed;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    tools::EndConsoleLeftovers();
    return static_cast<int>(status);
}
