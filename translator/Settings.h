// The translator's settings: every registry value it reads, with its default.  Start-up reads them
// once, before any thread starts, and hands each part to what needs it; nothing changes them.
#pragma once

#include <memory>

#include "win32.h"

enum class TranslatorMode { kUndecided, kSimple, kAdvanced };

struct Settings {
    std::unique_ptr<char[]> command_processor;  // CommandProcessor; null when none
    // ModeSelection: the mode it selects, undecided when absent or not understood.
    TranslatorMode mode = TranslatorMode::kUndecided;
    DWORD exit_detection_timeout = 400;  // ExitDetectionTimeout, ms
    DWORD suppress_color_simulation = 0;
    DWORD input_settle_delay = 30;  // ms the mirror gives a keystroke before it looks
    DWORD key_sequences = 0;        // non-zero: the terminal's key sequences are decoded
    DWORD color_mode = 0;           // ColorMode
    std::unique_ptr<char[]> advanced_terminal_types;  // AdvancedTerminalTypes; null if none
    DWORD scrollback_lines = 0;  // ScrollbackLines: history rows above the window (advanced mode)
    DWORD utf8_client = 0;       // non-zero: the client's bytes are UTF-8 both ways
    DWORD mouse_input = 0;       // MouseInput, non-zero: mouse reports become the console's events
    DWORD input_batching = 0;    // non-zero: the bytes waiting are read and injected together
    DWORD bracketed_paste = 0;   // non-zero: the terminal brackets pasted text
    // FullScreenPrograms, non-zero: advanced mode mirrors whichever screen buffer the console
    // shows (a program's own on the terminal's alternate screen), the cursor's visibility and
    // the title.
    DWORD full_screen_programs = 0;
    // SessionRecordingFolder: where each login writes its recording; null: nothing is recorded.
    std::unique_ptr<char[]> session_recording_folder;
    DWORD session_recording_input = 0;  // SessionRecordingInput: the client's typing recorded too
    // MaxWindowSize: the largest console window a client's size may ask for, columns by rows;
    // 0x0 when absent or not understood.
    COORD max_window_size{0, 0};
};

// The settings under the product key (`SettingsProduct`) of the login's protocol.
Settings ReadSettings(const char* product);

// The mode the ModeSelection setting selects (null: no setting): "simple" in any case, or exactly
// "advanced"; anything else leaves the mode undecided.
TranslatorMode ModeFromSetting(const char* setting);

// The size the MaxWindowSize setting gives (null: no setting): "COLUMNSxROWS", two decimal numbers
// from 1 to 32767 joined by a lower-case x and nothing else; anything else gives 0x0.
COORD WindowSizeFromSetting(const char* setting);
