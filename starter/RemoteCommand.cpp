// Starts the remote user's command.
#include "RemoteCommand.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Reporter.h"
#include "Text.h"
#include "ZREGENT.h"
#include "ZSID.h"
#include "ZUSER.h"

namespace {

constexpr DWORD kSystemDirectorySize = 4096;

// A handle value as the server wrote it: 32 significant bits, never sign-extended (which would
// turn 0xFFFFFFFF into the current-process pseudo handle).
HANDLE ServerHandle(uint32_t value) {
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
}

// Every failure ends the start the same way: the report, then a clean stop.
template <class... Arguments>
void Fail(const char* format, Arguments... arguments) {
    ReportError(format, arguments...);
    ReportStatus(SERVICE_STOPPED);
}

// The CommandProcessor setting of the rexec server, copied out of the store; null when absent.
std::unique_ptr<char[]> ReadCommandProcessorSetting() {
    RegistrySettingsStore store(0, "Orvane Software, Inc.", "Orvane Rexecd Server", "1");
    const char* text = nullptr;
    if (!store.GetString("CommandProcessor", &text)) return nullptr;
    return CopyText(text);
}

bool SetVariable(const char* name, const char* value, const char* failure) {
    if (SetEnvironmentVariableA(name, value)) return true;
    Fail(failure, GetLastError());
    return false;
}

// Moves the server's handles into this process as inheritable standard handles for the command.
bool TakeOverHandles(const RemoteCommandArguments& arguments, STARTUPINFOA* startup) {
    HandlePlan plan = PlanHandles(arguments.input, arguments.output, arguments.error);
    if (plan == HandlePlan::kNone) return true;
    if (plan == HandlePlan::kInvalid) {
        // A missing input or output beside a given handle has no sound meaning; handing the
        // value on would make the duplication act on whatever it happens to name.
        Fail("Bad standard handle values: hIn = %lu, hOut = %lu, hErr = %lu", arguments.input,
             arguments.output, arguments.error);
        return false;
    }
    HANDLE server = OpenProcess(PROCESS_DUP_HANDLE, FALSE, arguments.server_process_id);
    if (server == nullptr) {
        Fail("OpenProcess = %lu", GetLastError());
        return false;
    }
    const DWORD move = DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS;
    HANDLE self = GetCurrentProcess();
    bool ok = false;
    if (!DuplicateHandle(server, ServerHandle(arguments.input), self, &startup->hStdInput, 0, TRUE,
                         move)) {
        Fail("Duplicate hIn = %lu", GetLastError());
    } else if (!DuplicateHandle(server, ServerHandle(arguments.output), self, &startup->hStdOutput,
                                0, TRUE, move)) {
        Fail("Duplicate hOut = %lu", GetLastError());
    } else if (plan == HandlePlan::kAllThree) {
        ok = DuplicateHandle(server, ServerHandle(arguments.error), self, &startup->hStdError, 0,
                             TRUE, move);
        if (!ok) Fail("Duplicate hErr = %lu", GetLastError());
    } else {
        ok = DuplicateHandle(self, startup->hStdOutput, self, &startup->hStdError, 0, TRUE,
                             DUPLICATE_SAME_ACCESS);
        if (!ok) Fail("Duplicate hErr from StdOut = %lu", GetLastError());
    }
    CloseHandle(server);
    if (ok) startup->dwFlags |= STARTF_USESTDHANDLES;
    return ok;
}

}  // namespace

void StartRemoteCommand(const RemoteCommandArguments& arguments) {
    TokenReader token;
    PSID sid = token.UserSid();
    if (sid == nullptr) {
        Fail("Can't get Sid from the access token: %lu", GetLastError());
        return;
    }
    SidHolder user_sid(sid);
    if (user_sid.Sid() == nullptr || !IsValidSid(user_sid.Sid())) {
        Fail("Can't find the Sid for the current process.");
        return;
    }
    // A name the lookup could not give removes the variable.
    if (!SetVariable("USERDOMAIN", user_sid.DomainName(), "Could set USERDOMAIN: %lu") ||
        !SetVariable("USERNAME", user_sid.AccountName(), "Could set USERNAME: %lu")) {
        return;
    }
    UserAccount account(user_sid.QualifiedName());
    const char* home = account.HomeDirectory();

    CommandProcessorChoice choice;
    std::unique_ptr<char[]> command_processor;
    if (arguments.command[0] == kCommandProcessorFlag) {
        command_processor = ReadCommandProcessorSetting();
        choice.command_processor = command_processor.get();
        if (choice.command_processor == nullptr) {
            char system_directory[kSystemDirectorySize];
            UINT length = GetSystemDirectoryA(system_directory, kSystemDirectorySize);
            if (length == 0 || length >= kSystemDirectorySize) {
                Fail("Couldn't find system directory: %lu", GetLastError());
                return;
            }
            choice.system_directory = system_directory;
            choice.script_path = RemoteScriptPath(home);
            HFILE script = _lopen(choice.script_path.c_str(), OF_READ);
            if (script != HFILE_ERROR) {
                _lclose(script);
                choice.script_readable = true;
            }
        }
    }
    // A composed command line is started whole or not at all: a cut command could do something
    // else than the user asked for.  An unflagged command is the user's own complete command
    // line: process creation itself says when that is too long.
    std::string composed = ComposeCommandLine(arguments.command, choice);
    bool flagged = arguments.command[0] == kCommandProcessorFlag;
    if (flagged && composed.size() >= kCommandLineSize) {
        Fail("Command line too long: %lu characters, at most %lu can be started",
             static_cast<DWORD>(composed.size()), static_cast<DWORD>(kCommandLineSize - 1));
        return;
    }
    std::vector<char> command_line(composed.c_str(), composed.c_str() + composed.size() + 1);

    if (!SetVariable("HOMESHARE", "", "Could set HOMESHARE: %lu")) return;
    HomeLocation location = SplitHomeDirectory(home);
    if (!SetVariable("HOMEDRIVE", location.drive.c_str(), "Could set HOMEDRIVE: %lu") ||
        !SetVariable("HOMEPATH", location.path.c_str(), "Could set HOMEPATH: %lu")) {
        return;
    }
    if (!location.on_drive || !SetCurrentDirectoryA(home)) SetCurrentDirectoryA("C:\\");

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(arguments.show_window & 0xFFFF);
    if (!TakeOverHandles(arguments, &startup)) return;

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    PROCESS_INFORMATION created{};
    if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &created)) {
        Fail("CreateProcess = %lu", GetLastError());
        return;
    }
    ReportStatus(SERVICE_RUNNING);
    CloseHandle(created.hProcess);
    CloseHandle(created.hThread);
    ReportStatus(SERVICE_STOPPED);
}
