// command-translator: the process-wide state of a login and the operations that the translator's
// modules offer one another.
#pragma once

#include <atomic>
#include <memory>

#include "Settings.h"
#include "win32.h"

enum class LoginProtocol { kTelnet, kRlogin };

class SessionRecorder;

// The client's window size, columns and rows, as the client last asked for it (possibly lowered
// by window sizing).  Written by the main thread under the screen lock.
struct WindowSize {
    SHORT columns;
    SHORT rows;
};

// One copy of the console screen buffer, as the screen mirror reads it.
struct ScreenSnapshot {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    std::unique_ptr<CHAR_INFO[]> cells;  // allocated.X * allocated.Y cells, row-major
    COORD allocated{0, 0};
};

// Where the terminal shows the console: the buffer's cells from column `left` and row `top`, of
// `columns` by `rows`, on the terminal's rows from `rows_above` down.  Nothing before the mirror's
// first pass (0 by 0).
struct ShownArea {
    SHORT left = 0;
    SHORT top = 0;
    SHORT columns = 0;
    SHORT rows = 0;
    int rows_above = 0;
};

// The buttons a mouse has held and its last press, which a double click follows.
struct MouseClicks {
    DWORD held = 0;          // the button bits of a mouse event's button state
    DWORD press_button = 0;  // the button of the last single press; 0 when the next is single
    COORD press_cell{0, 0};
    DWORD press_tick = 0;
};

// The screen mirror's stop request (TranslatorState::mirror_stop).
constexpr LONG kMirrorRunning = 0;
constexpr LONG kMirrorStopNow = 1;   // the end of the login: no further pass
constexpr LONG kMirrorLastPass = 2;  // the command processor has ended: one pass more, then stop

// What a login shares between its threads until the process ends.  There is one instance,
// g_translator; a new process finds it exactly as the member initialisers below leave it.  The
// settings are not here: start-up reads them into a Settings value and hands each thread what
// it needs, and each thread's own state lives in an object that thread owns (the output relay,
// the screen mirror).
struct TranslatorState {
    // Start-up: the socket pipes (the standard handles at start) and the console handles.
    HANDLE socket_input = nullptr;
    HANDLE socket_output = nullptr;
    HANDLE control_channel = nullptr;
    HANDLE console_input = nullptr;
    HANDLE console_output = nullptr;
    LoginProtocol protocol = LoginProtocol::kTelnet;
    TranslatorMode mode = TranslatorMode::kUndecided;
    HANDLE translation_read = nullptr;  // the output translation pipe (simple mode)
    HANDLE translation_write = nullptr;
    HANDLE error_duplicate = nullptr;  // the command processor's standard error
    // Simple mode: set by the output relay when it ends (made by start-up before the command
    // processor starts).  When the command processor has ended, the child watcher closes the
    // translator's own ends of the output translation pipe, so that the relay passes on what is
    // left in it and then finds its end, and waits for this before it closes the socket output.
    HANDLE relay_ended = nullptr;
    // Set by the end of the login, before the process's objects are torn down: the relay ends
    // at its next pass through the output gate without reading or writing again.
    std::atomic<LONG> relay_stop{0};

    // Socket input and window sizing (main thread only).
    WindowSize requested_size{80, 24};
    BYTE telnet_state[92] = {};
    // The InputBatching setting (set by start-up): the socket input is read as many bytes as wait
    // at a time, up to the batch's size, and handed on from the batch.
    bool input_batching = false;
    BYTE socket_batch[4096] = {};
    DWORD batch_next = 0;  // the first byte of the batch not handed on yet
    DWORD batch_end = 0;
    // The rows of history window sizing keeps above the window, before ScrollbackRows caps them:
    // the ScrollbackLines setting in advanced mode, 0 otherwise.  Set by start-up.
    DWORD history_lines = 0;
    // The MaxWindowSize setting (0x0: none), which window sizing reads.  Set by start-up.
    COORD max_window_size{0, 0};
    // Key synthesis (main thread only): the sticky modifiers of the Ctrl-A key commands.
    DWORD sticky_modifiers = 0;  // the Shift, Ctrl and Alt bits of a key event's state
    MouseClicks mouse;           // the mouse events written so far (MouseInput)

    // Screen mirror, shared with the input side under the screen lock.  The poll delay is also
    // read without the lock to choose the mirror's wait, hence atomic.
    std::atomic<DWORD> mirror_poll_delay{300};
    LONG redraw_request = 0;
    // The size of the client's terminal: its last window-size report as it came, before the size
    // rule replaced or window sizing lowered it; 0x0 until one came.  Written by the main thread.
    WindowSize terminal_size{0, 0};
    // The end of a login stops the mirror before the objects it uses are torn down: start-up sets
    // the stop request and wakes the mirror, which sees the request when it next takes the screen
    // lock, sets the stopped event (made by start-up before the command processor starts) and
    // ends its thread.  When the command processor has ended, the child watcher asks for a last
    // pass instead, unless a stop came first, and waits for the stopped event before it closes
    // the socket output.  Requests are set without the lock, which a mirror blocked in a write to
    // the client holds for as long as the write lasts.
    std::atomic<LONG> mirror_stop{kMirrorRunning};
    // Where the terminal showed the console at the last pass, which mouse reports map back.
    ShownArea shown_area;
    HANDLE mirror_stopped = nullptr;

    // FullScreenPrograms, under the screen lock: the screen buffer of a program that the console
    // showed at the mirror's last pass (null: the start-up buffer), which window sizing then
    // sizes instead, and whether the start-up buffer is to take the requested size when it is
    // shown again.
    HANDLE program_output = nullptr;
    bool startup_resize_due = false;

    // The terminal modes the login has turned on (TerminalModes.h), which the end of the login
    // turns off again when the command processor ends.
    std::atomic<DWORD> terminal_modes{0};

    // The login's recording (SessionRecording.h), null when none runs.
    std::atomic<SessionRecorder*> recorder{nullptr};
};

extern TranslatorState g_translator;

// Start-up (transcmd): the program's entry routine; returns the exit status.
int TranslatorMain(int argc, char** argv);

// Command processor launch: starts the command processor (`setting`: the CommandProcessor
// setting, null when none) and the child watcher.  Returns the process handle, or null when the
// user's identity or the system directory cannot be found.
HANDLE LaunchCommandProcessor(const char* setting);

// Everything the client sees leaves through here: the start-up question, the window-size notices,
// the simple mode relay and echo, and the ANSI terminal writer's flushes.  One WriteFile of the
// bytes to the socket output; each caller keeps its own write sizes and reports its own failures
// (the last error is the write's).
bool WriteToClient(const void* bytes, DWORD count);

// The input loops of the two modes, on the main thread until the end of the input.
void RunSimpleInput(const Settings& settings);
void RunAdvancedInput(const Settings& settings);

// Socket input and the server control channel.
bool ReadSocketByte(BYTE* byte);  // false at the end of input
// The same, but when no byte of the client's waits, one is waited for `wait_ms` at most; false
// with *timed_out set when none came.  A window-size message begun is read to its end.
bool ReadSocketByteWithin(BYTE* byte, DWORD wait_ms, bool* timed_out);
// With input batching: true, with the byte, when the next byte of the socket input is a client's
// byte already read (never a 0xFF, which opens a message).  Takes nothing.
bool PeekSocketBatch(BYTE* byte);
// The input loops read the console input mode before each byte; a failed query is reported and
// leaves *mode as it was.
void RefreshInputMode(DWORD* mode);
void SendRloginControlBytes();

// Console window sizing, from the requested window size, of the screen buffer the console shows
// (FullScreenPrograms: a program's own, without history rows).
void ResizeConsole();

// Key event synthesis.
void InjectKey(BYTE character, WORD virtual_key);  // virtual key 0: derived from the character
void RunKeyCommand(BYTE command);                  // the byte after Ctrl-A
// A character beyond ASCII from a UTF-8 client, as wide key records: the layout's key for it, or
// VK_PACKET (as the system gives typed Unicode text) when the layout has none.
void InjectCharacter(char32_t character);
struct MouseReport;
// A mouse report as the mouse event a local console writes, while the console input mode
// `input_mode` asks for mouse input; dropped otherwise.
void InjectMouse(const MouseReport& report, DWORD input_mode);
