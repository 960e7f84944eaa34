// The translator's main module: start-up, the handle plumbing of each mode, and the end of a
// login.
#include <cstring>

#include "Banner.h"
#include "ColorEncoding.h"
#include "OutputRelay.h"
#include "Reporter.h"
#include "ScreenMirror.h"
#include "SessionRecording.h"
#include "transcmd.h"
#include "Text.h"
#include "WindowSizing.h"
#include "ZEVENT.h"
#include "ZREGENT.h"
#include "translator.h"

TranslatorState g_translator;

namespace {

// The exit status after a start-up failure that stops the login.
constexpr int kStopped = 1;
// How long the end of a login waits for the screen mirror to finish its pass.
constexpr DWORD kMirrorStopTimeout = 5000;
// How long the end of a login waits for the simple mode relay to finish its chunk: as long as
// the child watcher gives it to pass on the command processor's last output.
constexpr DWORD kRelayStopTimeout = 1000;
// How long the end of a login waits for the recording's writer to write what is queued.
constexpr DWORD kRecordingFinishTimeout = 5000;

SECURITY_ATTRIBUTES Inheritable() {
    return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
}

HANDLE OpenConsole(const char* name) {
    SECURITY_ATTRIBUTES attributes = Inheritable();
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &attributes, OPEN_EXISTING, 0, nullptr);
}

// The console's attributes at start-up, which the terminal's own colours stand for when the
// console's colours are sent; asked for only then.
WORD DefaultAttributes(const Settings& settings) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (settings.color_mode == kColorModeSixteen &&
        GetConsoleScreenBufferInfo(g_translator.console_output, &info))
        return info.wAttributes & 0xFF;
    return 0x07;
}

// Asks the client which mode to use until an answer decides; false after a failure.
bool AskStartupQuestion(const char* terminal_type, const char* further_types) {
    bool default_advanced = DefaultsToAdvanced(terminal_type, further_types);
    char question[1024];
    int length = wsprintfA(question, kStartupQuestion, default_advanced ? "y" : "n");
    while (g_translator.mode == TranslatorMode::kUndecided) {
        if (!WriteToClient(question, static_cast<DWORD>(length))) {
            ReportError("Error (WF) asking about ANSI escape sequences: %lu", GetLastError());
            return false;
        }
        BYTE answer;
        if (!ReadSocketByte(&answer)) {
            ReportError("Error (RF) asking about ANSI escape sequences: %lu", GetLastError());
            return false;
        }
        if (!WriteToClient("\r\n", 2)) {
            ReportError("Error (WF) writing CRLF: %lu", GetLastError());
            return false;
        }
        g_translator.mode = ModeFromAnswer(answer, default_advanced);
    }
    return true;
}

// The command processor's standard output, and a second handle to it as its standard error.
bool PlumbOutput(HANDLE output, const char* output_failure, const char* error_failure) {
    if (!SetStdHandle(STD_OUTPUT_HANDLE, output)) {
        ReportError(output_failure, GetLastError());
        return false;
    }
    if (!DuplicateHandle(GetCurrentProcess(), output, GetCurrentProcess(),
                         &g_translator.error_duplicate, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        ReportError("Can't duplicate handle for standard error: %lu", GetLastError());
        return false;
    }
    if (!SetStdHandle(STD_ERROR_HANDLE, g_translator.error_duplicate)) {
        ReportError(error_failure, GetLastError());
        return false;
    }
    return true;
}

// Simple mode: the command processor writes into the output translation pipe; advanced mode:
// onto the console screen.
bool PlumbMode(bool simple) {
    if (!simple) {
        return PlumbOutput(g_translator.console_output,
                           "Can't set standard output to console output: %lu",
                           "Can't set standard error to console output: %lu");
    }
    SECURITY_ATTRIBUTES attributes = Inheritable();
    if (!CreatePipe(&g_translator.translation_read, &g_translator.translation_write, &attributes,
                    32)) {
        ReportError("Can't create output translation pipe: %lu", GetLastError());
        return false;
    }
    return PlumbOutput(g_translator.translation_write,
                       "Can't set standard output to translate pipe socket output: %lu",
                       "Can't set standard error to translate pipe socket output: %lu");
}

bool SetIgnoreCtrlC(BOOL ignore) {
    if (SetConsoleCtrlHandler(nullptr, ignore)) return true;
    ReportError("Failed to set ignoring of Ctrl-C events: %lu", GetLastError());
    return false;
}

// Asks the screen mirror to stop without another pass: the end of the login comes, and the
// client may be gone.  Made before the command processor is ended, so that the child watcher
// does not ask for a last pass for such a client.
void RequestMirrorStop() {
    g_translator.mirror_stop.store(kMirrorStopNow);
    g_mirror_wake_up.Set();
}

// Waits for the screen mirror to stop between two passes, so that nothing it uses is torn down
// under it.  False when it did not stop in time (a write to the client that never returns, say).
// The screen lock is not taken here: such a mirror holds it for good.  A wake-up that a pass
// under way resets is not missed for long: the mirror sees the request at its next timed pass.
// A command processor that ended by itself has had the child watcher give the mirror its time
// for a last pass, so the mirror is not waited for again.
bool StopScreenMirror(bool ended_by_itself) {
    if (g_translator.mirror_stopped == nullptr) return false;
    return WaitForSingleObject(g_translator.mirror_stopped,
                               ended_by_itself ? 0 : kMirrorStopTimeout) == WAIT_OBJECT_0;
}

// Stops the simple mode relay before the objects it uses are torn down: it ends at its next pass
// through the output gate, which is set so that a relay paused by Ctrl-S gets there as well.
// False when it did not end in time (a read of a pipe that a program the command processor left
// running still holds, or a write to the client that never returns).  A command processor that
// ended by itself has had the child watcher give the relay its time to pass on the last output,
// so the relay is not waited for again.  Without a command processor there is no child watcher
// to close the translator's own ends of the output pipe: that is done here, so that the relay
// finds the end of the pipe.
bool StopOutputRelay(HANDLE command_processor, bool ended_by_itself) {
    if (g_translator.relay_ended == nullptr) return false;
    g_translator.relay_stop.store(1);
    g_output_gate.Set();
    if (command_processor == nullptr) {
        CloseHandle(g_translator.translation_write);
        CloseHandle(g_translator.error_duplicate);
    }
    return WaitForSingleObject(g_translator.relay_ended, ended_by_itself ? 0 : kRelayStopTimeout) ==
           WAIT_OBJECT_0;
}

// A login that fails once the command processor runs ends it too: nobody would read its console.
void EndCommandProcessor(HANDLE command_processor) {
    if (command_processor != nullptr) TerminateProcess(command_processor, 1);
}

}  // namespace

bool ParseLoginProtocol(const char* argument, LoginProtocol* protocol) {
    if (lstrcmpiA(argument, "rlogin") == 0) {
        *protocol = LoginProtocol::kRlogin;
    } else if (lstrcmpiA(argument, "telnet") == 0) {
        *protocol = LoginProtocol::kTelnet;
    } else {
        return false;
    }
    return true;
}

const char* SettingsProduct(LoginProtocol protocol) {
    return protocol == LoginProtocol::kRlogin ? "Orvane Rlogind Server" : "Orvane Telnetd Server";
}

bool DefaultsToAdvanced(const char* terminal_type, const char* further_types) {
    static const char* const kAnsiTerminals[] = {"vt100", "dec-vt100", "dec-vt220", "vt220",
                                                 "ansi",  "xterm",     "xterms"};
    for (const char* name : kAnsiTerminals) {
        if (lstrcmpiA(terminal_type, name) == 0) return true;
    }
    return further_types != nullptr && TerminalTypeListed(further_types, terminal_type);
}

bool TerminalTypeListed(const char* list, const char* terminal_type) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const char* name = list;
    for (;;) {
        while (blank(*name)) ++name;
        if (*name == '\0') return false;
        const char* end = name;
        while (*end != '\0' && !blank(*end)) ++end;
        const bool prefix = end[-1] == '*';
        const char* pattern_end = prefix ? end - 1 : end;
        const char* p = name;
        const char* t = terminal_type;
        while (p < pattern_end && *t != '\0' && lower(*p) == lower(*t)) ++p, ++t;
        if (p == pattern_end && (prefix || *t == '\0')) return true;
        name = end;
    }
}

TranslatorMode ModeFromAnswer(BYTE answer, bool default_advanced) {
    switch (answer) {
        case 'y':
        case 'Y':
            return TranslatorMode::kAdvanced;
        case 'n':
        case 'N':
            return TranslatorMode::kSimple;
        case '\r':
        case '\n':
            return default_advanced ? TranslatorMode::kAdvanced : TranslatorMode::kSimple;
        default:
            return TranslatorMode::kUndecided;
    }
}

namespace {

// Takes the standard handles over as the socket pipes and opens the console; false after a report.
bool TakeOverHandles() {
    g_translator.socket_input = GetStdHandle(STD_INPUT_HANDLE);
    g_translator.socket_output = GetStdHandle(STD_OUTPUT_HANDLE);
    g_translator.control_channel = GetStdHandle(STD_ERROR_HANDLE);

    g_translator.console_input = OpenConsole("CONIN$");
    if (g_translator.console_input == INVALID_HANDLE_VALUE) {
        ReportError("Can't get handle to console input: %lu", GetLastError());
        return false;
    }
    g_translator.console_output = OpenConsole("CONOUT$");
    if (g_translator.console_output == INVALID_HANDLE_VALUE) {
        ReportError("Can't get handle to console output: %lu", GetLastError());
        return false;
    }
    if (!SetStdHandle(STD_INPUT_HANDLE, g_translator.console_input)) {
        ReportError("Can't set standard input to console input: %lu", GetLastError());
        return false;
    }
    return true;
}

// Launches the command processor and starts the output thread of the mode, with the thread's
// own state, which the thread takes over once it runs.  Returns the command processor (null when
// it could not be started); a thread that cannot start ends the login.
HANDLE StartLogin(const Settings& settings, WORD default_attributes, bool simple) {
    std::unique_ptr<OutputRelay> relay;
    std::unique_ptr<ScreenMirror> mirror;
    if (simple) {
        relay = std::make_unique<OutputRelay>(settings.utf8_client != 0);
        // Without the event the child watcher does not wait for the relay: a failure here costs
        // at most the command processor's last output.
        g_translator.relay_ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    } else {
        mirror = std::make_unique<ScreenMirror>(settings, default_attributes);
        g_translator.history_lines = settings.scrollback_lines;
        mirror->tracker().whole_reads = RaisedWindowLimit(settings.max_window_size);
        if (settings.scrollback_lines != 0)
            SizeConsoleForScrollback(mirror->console(), mirror->tracker());
        // Before the command processor starts: the child watcher waits for it after the last
        // pass.
        g_translator.mirror_stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    HANDLE command_processor = LaunchCommandProcessor(settings.command_processor.get());
    int thread_error = 0;
    bool started = false;
    if (simple) {
        started = TryStartThread(OutputRelayThread, relay.get(), 0, &thread_error);
        if (started) relay.release();
    } else {
        started = TryStartThread(ScreenMirrorThread, mirror.get(), 0, &thread_error);
        if (started) mirror.release();
    }
    if (!started) {
        EndCommandProcessor(command_processor);
        ReportThreadStartFailure(thread_error);
    }
    return command_processor;
}

// The end of the login, once the input loop has returned.  The global reporter is released
// through the run-time library's exit list after the static objects, so a check that fails while
// they are destroyed can still be reported.
int EndLogin(HANDLE command_processor, bool simple) {
    bool ended_by_itself =
        command_processor != nullptr && WaitForSingleObject(command_processor, 0) == WAIT_OBJECT_0;
    if (!simple) RequestMirrorStop();
    if (command_processor != nullptr) TerminateProcess(command_processor, 0);
    if (simple && !StopOutputRelay(command_processor, ended_by_itself)) {
        // The relay may still be inside a chunk: end without tearing anything down under it.
        FinishRecording(kRecordingFinishTimeout, false);
        ExitProcess(0);
    }
    if (!simple && !StopScreenMirror(ended_by_itself)) {
        // The mirror may still be inside a pass: end without tearing anything down under it.
        FinishRecording(kRecordingFinishTimeout, false);
        ExitProcess(0);
    }
    return 0;
}

// The login from the start-up question on; returns the exit status.
int RunLogin(const Settings& settings, const char* terminal_type) {
    g_translator.mode = settings.mode;
    g_translator.input_batching = settings.input_batching != 0;
    g_translator.max_window_size = settings.max_window_size;
    const WORD default_attributes = DefaultAttributes(settings);
    if (g_translator.mode == TranslatorMode::kUndecided &&
        !AskStartupQuestion(terminal_type, settings.advanced_terminal_types.get())) {
        return kStopped;
    }
    g_output_gate.Set();

    bool simple = g_translator.mode == TranslatorMode::kSimple;
    if (simple && !SetEnvironmentVariableA("TERM", terminal_type)) {
        ReportWarning("Unable to set terminal type: %lu", GetLastError());
    }
    if (!PlumbMode(simple)) return kStopped;
    if (!SetIgnoreCtrlC(FALSE)) return 1;
    if (g_translator.protocol == LoginProtocol::kRlogin) SendRloginControlBytes();

    HANDLE command_processor = StartLogin(settings, default_attributes, simple);
    if (!SetIgnoreCtrlC(TRUE)) {
        // The output thread runs: end without tearing down the static objects under it.
        EndCommandProcessor(command_processor);
        FinishRecording(kRecordingFinishTimeout, false);
        ExitProcess(1);
    }
    if (simple) {
        RunSimpleInput(settings);
    } else {
        RunAdvancedInput(settings);
    }
    return EndLogin(command_processor, simple);
}

}  // namespace

int TranslatorMain(int argc, char** argv) {
    if (argc < 3) {
        ShowBanner("Orvane Command Translator", "1.14", "Orvane Software, Inc.", kRightsLine,
                   false);
        return 1;
    }
    const char* terminal_type = argv[2];
    g_translator.requested_size = WindowSize{80, 24};
    if (!TakeOverHandles()) return kStopped;
    if (!ParseLoginProtocol(argv[1], &g_translator.protocol)) {
        ReportFatal("Bad protocol type specified: %s", argv[1]);
    }
    const Settings settings = ReadSettings(SettingsProduct(g_translator.protocol));
    StartRecording(settings, terminal_type);
    const int status = RunLogin(settings, terminal_type);
    FinishRecording(kRecordingFinishTimeout, true);
    return status;
}
