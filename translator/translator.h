// command-translator: the process-wide state of a login and the operations that the translator's
// modules offer one another.
#pragma once

#include <atomic>
#include <memory>

#include "AnsiWriter.h"
#include "Scrollback.h"
#include "Utf8.h"
#include "Utf8Output.h"
#include "win32.h"

enum class LoginProtocol { kTelnet, kRlogin };
enum class TranslatorMode { kUndecided, kSimple, kAdvanced };

// The client's window size, columns and rows, as the client last asked for it (possibly lowered
// by window sizing).  Touched by the main thread alone.
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

// Everything a login keeps until the process ends.  There is one instance, g_translator; a new
// process finds it exactly as the member initialisers below leave it.
struct TranslatorState {
    // Start-up: the socket pipes (the standard handles at start), the console handles and the
    // settings.  The settings are written before any thread starts and only read afterwards.
    HANDLE socket_input = nullptr;
    HANDLE socket_output = nullptr;
    HANDLE control_channel = nullptr;
    HANDLE console_input = nullptr;
    HANDLE console_output = nullptr;
    LoginProtocol protocol = LoginProtocol::kTelnet;
    TranslatorMode mode = TranslatorMode::kUndecided;
    std::unique_ptr<char[]> command_processor;  // the CommandProcessor setting; null when none
    DWORD exit_detection_timeout = 400;
    DWORD suppress_color_simulation = 0;
    DWORD input_settle_delay = 30;  // ms the mirror gives a keystroke before it looks
    DWORD key_sequences = 0;        // the KeySequences setting
    DWORD color_mode = 0;           // the ColorMode setting
    std::unique_ptr<char[]> advanced_terminal_types;  // AdvancedTerminalTypes; null if none
    DWORD scrollback_lines = 0;  // ScrollbackLines: history rows above the window (advanced mode)
    // Non-zero: the client's bytes are UTF-8 both ways.
    DWORD utf8_client = 0;
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
    // A UTF-8 client's output (relay thread only).
    RelayUtf8Converter relay_converter;
    UINT relay_code_page = 437;
    bool relay_code_page_asked = false;    // whether relay_code_page came from the console
    int64_t relay_code_page_asked_at = 0;  // the performance counter when it was asked

    // Socket input and window sizing (main thread only).
    WindowSize requested_size{80, 24};
    BYTE telnet_state[92] = {};
    // Key synthesis (main thread only): the sticky modifiers of the Ctrl-A key commands.
    bool sticky_alt = false;
    bool sticky_ctrl = false;
    bool sticky_shift = false;

    // Screen mirror, shared with the input side under the screen lock.  The poll delay is also
    // read without the lock to choose the mirror's wait, hence atomic.
    std::atomic<DWORD> mirror_poll_delay{300};
    LONG redraw_request = 0;
    ScreenSnapshot snapshots[2];
    int shown_snapshot = 0;  // index of the shown snapshot; the other one is the current
    // The end of a login stops the mirror before the objects it uses are torn down: start-up sets
    // the stop request and wakes the mirror, which sees the request when it next takes the screen
    // lock, sets the stopped event (made by start-up before the mirror starts) and ends its
    // thread.  The request is set without the lock, which a mirror blocked in a write to the
    // client holds for as long as the write lasts.
    std::atomic<LONG> mirror_stop{0};
    HANDLE mirror_stopped = nullptr;
    // Set once a pass found no memory for a screen copy and said so; cleared by the next pass
    // that has its memory, so that a shortage is reported once and not at every pass.
    bool mirror_memory_reported = false;
    // The mirror thread's own: the tick count when input last woke it, and whether the passes
    // since then are still looking for that keystroke's effect.
    DWORD mirror_input_tick = 0;
    bool mirror_settling = false;
    // Scrollback (advanced mode with ScrollbackLines): where the mirror's mark is.
    ScrollTracker scroll;

    // ANSI terminal writer (screen mirror thread only): writes to the socket output; start-up
    // gives it the rendition of the settings.
    AnsiWriter writer{&WriteToSocketOutput, &socket_output, Rendition(&OemToAnsi)};
};

extern TranslatorState g_translator;

// Start-up (transcmd): the program's entry routine; returns the exit status.
int TranslatorMain(int argc, char** argv);

// Command processor launch: starts the command processor and the child watcher.  Returns the
// process handle, or null when the user's identity or the system directory cannot be found.
HANDLE LaunchCommandProcessor();

// Simple mode.
void __cdecl OutputRelayThread(void* unused);
void RunSimpleInput();

// Socket input and the server control channel.
bool ReadSocketByte(BYTE* byte);  // false at the end of input
// The same, but when no byte of the client's waits, one is waited for `wait_ms` at most; false
// with *timed_out set when none came.  A window-size message begun is read to its end.
bool ReadSocketByteWithin(BYTE* byte, DWORD wait_ms, bool* timed_out);
// The input loops read the console input mode before each byte; a failed query is reported and
// leaves *mode as it was.
void RefreshInputMode(DWORD* mode);
void SendRloginControlBytes();

// Console window sizing, from the requested window size.
void ResizeConsole();
// The history rows kept above the window: the capped setting in advanced mode, else 0.
SHORT ScrollbackRows(SHORT window_rows);
// Start-up with scrollback: sizes the console for the requested window, with the window at the
// bottom of the buffer and the cursor at its top left, before the command processor starts.
void SizeConsoleForScrollback();

// Key event synthesis.
void InjectKey(BYTE character, WORD virtual_key);  // virtual key 0: derived from the character
void RunKeyCommand(BYTE command);                  // the byte after Ctrl-A
// A character beyond ASCII from a UTF-8 client, as wide key records: the layout's key for it, or
// VK_PACKET (as the system gives typed Unicode text) when the layout has none.
void InjectCharacter(char32_t character);

// Advanced mode.
void RunAdvancedInput();
void __cdecl ScreenMirrorThread(void* unused);
