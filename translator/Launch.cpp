// Starts the command processor in the translator's console, and the child watcher that ends the
// login when it exits.
#include "Launch.h"

#include <memory>

#include "Reporter.h"
#include "ScreenMirror.h"
#include "TerminalModes.h"
#include "ZEVENT.h"
#include "ZSID.h"
#include "ZUSER.h"
#include "translator.h"

namespace {

constexpr UINT kSystemDirectorySize = 4096;

// How long the child watcher gives the simple mode relay to pass on the command processor's last
// output.  It is done within milliseconds unless the output is paused (Ctrl-S) or a program the
// command processor left running still holds the pipe.
constexpr DWORD kRelayDrainTimeout = 1000;

// How long the child watcher gives the screen mirror's last pass.  It is done within
// milliseconds unless the client reads nothing, when the mirror stays in its write.
constexpr DWORD kLastPassTimeout = 5000;

// Simple mode: lets the relay pass on what the command processor wrote last.  Once the
// translator's own write ends are closed, the pipe ends when the command processor's copies are
// gone, and the relay ends after the last byte.  Then the terminal modes the login set are reset,
// unless the relay is still writing or the client has gone.
void DrainOutputRelay() {
    CloseHandle(g_translator.translation_write);
    CloseHandle(g_translator.error_duplicate);
    if (g_translator.relay_ended != nullptr &&
        WaitForSingleObject(g_translator.relay_ended, kRelayDrainTimeout) == WAIT_OBJECT_0 &&
        g_translator.relay_stop.load() == 0) {
        SendTerminalModeReset();
    }
}

// Waits for the command processor to end, lets the output thread pass on its last output, then
// closes the socket pipes: the server sees its pipes close, and the main thread's next read of
// the socket input ends the login.
void __cdecl ChildWatcher(void* process) {
    WaitForSingleObject(static_cast<HANDLE>(process), INFINITE);
    if (g_translator.mode == TranslatorMode::kSimple) {
        DrainOutputRelay();
    } else if (g_translator.mode == TranslatorMode::kAdvanced) {
        RunLastMirrorPass(kLastPassTimeout);
    }
    CloseHandle(g_translator.socket_input);
    CloseHandle(g_translator.socket_output);
    CloseHandle(g_translator.control_channel);
}

// The command line of this login, or false after a report.
bool CommandLineForUser(const char* setting, SidHolder& sid, std::string* line) {
    if (setting != nullptr) {
        *line = ComposeCommandProcessorLine(setting, "", "", false);
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
    // Both paths quoted: a home directory such as D:\Home Dirs\ann must not be cut at its
    // space (Windows paths hold no quotation marks).
    std::string line = "\"" + std::string(system_directory) + "\\cmd.exe\"";
    if (script_exists) line += " /K call \"" + script_path + "\"";
    return line;
}

HANDLE LaunchCommandProcessor(const char* setting) {
    TokenReader token;
    PSID user = token.UserSid();
    std::unique_ptr<SidHolder> sid;
    if (user != nullptr) sid = std::make_unique<SidHolder>(user);
    if (sid == nullptr || sid->Sid() == nullptr || !IsValidSid(sid->Sid())) {
        ReportError("Can't find the Sid for the current process.");
        return nullptr;
    }
    std::string line;
    if (!CommandLineForUser(setting, *sid, &line)) return nullptr;
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
    int error = 0;
    if (!TryStartThread(ChildWatcher, process.hProcess, 0, &error)) {
        // Nobody would watch or read this command processor: do not leave it behind.
        TerminateProcess(process.hProcess, 1);
        ReportThreadStartFailure(error);
    }
    return process.hProcess;
}
