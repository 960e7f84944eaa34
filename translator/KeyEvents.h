// Key event synthesis: the key events for one client character, and the Ctrl-A key commands.
#pragma once

#include "translator.h"

// Modifier bits of a key event's control-key state; only the left-hand keys are produced.
constexpr DWORD kShiftBit = SHIFT_PRESSED;
constexpr DWORD kCtrlBit = LEFT_CTRL_PRESSED;
constexpr DWORD kAltBit = LEFT_ALT_PRESSED;

// The events of one keystroke, in the order they are written.  Each kind has its own failure
// message.
enum class KeyEventKind {
    kShiftDown,
    kCtrlDown,
    kAltDown,
    kKeyDown,
    kKeyUp,
    kAltUp,
    kCtrlUp,
    kShiftUp
};

struct PlannedKeyEvent {
    KeyEventKind kind;
    bool key_down;
    BYTE virtual_key;
    CHAR character;
    DWORD control_state;
};

struct KeyPlan {
    PlannedKeyEvent events[8];
    int count = 0;
    // The Alt key by itself is held for a moment (100 ms) between its press and its release.
    bool pause_after_press = false;
};

constexpr DWORD kAltKeyPauseMs = 100;

// The modifier bits that the sticky flags stand for.
DWORD StickyModifierBits(bool alt, bool ctrl, bool shift);

// Composes the events for `character` (already in the OEM code page).  With `virtual_key` 0 the
// key is VkKeyScanA's answer `key_scan` (low byte: the key; high byte bits 1, 2, 4: Shift, Ctrl,
// Alt); otherwise `virtual_key` is the key and `key_scan` is not used.  `modifiers` holds the
// sticky modifier bits.
KeyPlan ComposeKey(BYTE character, WORD virtual_key, SHORT key_scan, DWORD modifiers);

// The message reported when the console refuses an event of this kind.
const char* KeyEventFailureMessage(KeyEventKind kind);

// The console input record of a planned event, with the key's scan code.
INPUT_RECORD MakeKeyRecord(const PlannedKeyEvent& event, WORD scan_code);

// The wide record of a planned event for a UTF-16 unit: the key press and release carry the
// unit, the modifier events none.
INPUT_RECORD MakeCharacterRecord(const PlannedKeyEvent& event, WORD scan_code, WCHAR unit);

// What the byte after Ctrl-A asks for.
struct KeyCommand {
    enum class Action {
        kIgnore,        // nothing is injected, no modifier changes
        kInjectKey,     // the key `virtual_key`, with character 0
        kLiteralCtrlA,  // the character 0x01 reaches the console
        kRedraw,        // the screen mirror sends the whole screen again
        kStickyAlt,
        kStickyCtrl,
        kStickyShift,
    };
    Action action;
    WORD virtual_key;
};
KeyCommand LookUpKeyCommand(BYTE command);
