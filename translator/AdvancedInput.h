// The advanced mode input loop: every client byte goes to the console at once, a few of them
// with a meaning of their own while the console reads a line.
#pragma once

#include "win32.h"

// What the loop does with one client byte.
enum class InputAction {
    kKey,               // inject it as a key, its virtual key derived from the character
    kKeyThenExitCheck,  // inject it, then pause so that an ending command processor is noticed
    kEscapeKey,         // inject it with the virtual key VK_ESCAPE
    kCtrlCEvent,        // raise a Ctrl-C event in the console instead of injecting anything
    kRedraw,            // ask the screen mirror to repaint the terminal; nothing is injected
    kKeyCommand,        // Ctrl-A: the next byte is a key command
};

// The decision for byte `byte` while the console's input mode is `input_mode`.  Processed input
// makes Ctrl-C an event; a line-input prompt besides gives Escape, Ctrl-R and carriage return
// their meanings.  Ctrl-A is a key command in every mode.
constexpr InputAction DecideInputAction(BYTE byte, DWORD input_mode) {
    const bool processed = (input_mode & ENABLE_PROCESSED_INPUT) != 0;
    const bool line = processed && (input_mode & ENABLE_LINE_INPUT) != 0;
    if (processed && byte == 0x03) return InputAction::kCtrlCEvent;
    if (line && byte == 0x1B) return InputAction::kEscapeKey;
    if (line && byte == 0x12) return InputAction::kRedraw;
    if (line && byte == 0x0D) return InputAction::kKeyThenExitCheck;
    if (byte == 0x01) return InputAction::kKeyCommand;
    return InputAction::kKey;
}

// The mode assumed when the console's input mode cannot be read before the first byte: the
// command processor's prompt, which is what the console shows when the loop starts.
constexpr DWORD kAssumedFirstInputMode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT;

// Wakes the screen mirror for a pass at once: under the screen lock, poll delay 0 (the sign that
// input has just arrived) and the wake-up event set.
void WakeScreenMirror();
