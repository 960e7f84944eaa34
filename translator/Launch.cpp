// Starts the command processor in the translator's console, and the child watcher that ends the
// login when it exits.
#include "Launch.h"

#include <memory>

#include "Reporter.h"
#include "ZEVENT.h"
#include "ZSID.h"
#include "ZUSER.h"
#include "translator.h"

namespace {

constexpr UINT kSystemDirectorySize = 4096;

// Waits for the command processor to end, then closes the socket pipes: the server sees its
// pipes close, and the main thread's next read of the socket input ends the login.
void __cdecl ChildWatcher(void* process) {
    WaitForSingleObject(static_cast<HANDLE>(process), INFINITE);
    CloseHandle(g_translator.socket_input);
    CloseHandle(g_translator.socket_output);
    CloseHandle(g_translator.control_channel);
}

// The command line of this login, or false after a report.
bool CommandLineForUser(SidHolder& sid, std::string* line) {
    if (g_translator.command_processor != nullptr) {
        *line = ComposeCommandProcessorLine(g_translator.command_processor.get(), "", "", false);
        return true;
    }
    UserAccount account(sid.QualifiedName());
    char system_directory[kSystemDirectorySize];
    UINT length = GetSystemDirectoryA(system_directory, kSystemDirectorySize);
    if (length == 0 || length >= kSystemDirectorySize) {
        if (length != 0) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        ReportError("Couldn't find system directory: %lu", GetLastError());
        return false;
    }
    std::string script = StartupScriptPath(account.HomeDirectory());
    HFILE file = _lopen(script.c_str(), OF_READ);
    if (file != HFILE_ERROR) _lclose(file);
    *line = ComposeCommandProcessorLine(nullptr, system_directory, script, file != HFILE_ERROR);
    return true;
}

}  // namespace

std::string StartupScriptPath(const char* home_directory) {
    return std::string(home_directory) + "\\remote.cmd";
}

std::string ComposeCommandProcessorLine(const char* setting, const char* system_directory,
                                        const std::string& script_path, bool script_exists) {
    if (setting != nullptr) return setting;
    std::string line = std::string(system_directory) + "\\cmd.exe";
    if (script_exists) line += " /K call " + script_path;
    return line;
}

HANDLE LaunchCommandProcessor() {
    TokenReader token;
    PSID user = token.UserSid();
    std::unique_ptr<SidHolder> sid;
    if (user != nullptr) sid = std::make_unique<SidHolder>(user);
    if (sid == nullptr || sid->Sid() == nullptr || !IsValidSid(sid->Sid())) {
        ReportError("Can't find the Sid for the current process.");
        return nullptr;
    }
    std::string line;
    if (!CommandLineForUser(*sid, &line)) return nullptr;
    if (line.size() + 1 > kCommandLineSize) {
        // A cut command line would start something other than what was asked for.
        ReportError("Command line too long: %lu characters, at most %lu can be started",
                    static_cast<DWORD>(line.size()), static_cast<DWORD>(kCommandLineSize - 1));
        return nullptr;
    }
    char command_line[kCommandLineSize];
    line.copy(command_line, line.size());
    command_line[line.size()] = '\0';

    // The process shares this console and inherits the standard handles start-up prepared.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ReportError("CreateProcess failed: %lu", GetLastError());
        ExitProcess(1);
    }
    CloseHandle(process.hThread);
    StartThread(ChildWatcher, process.hProcess, 0);
    return process.hProcess;
}
