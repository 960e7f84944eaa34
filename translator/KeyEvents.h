// Key event synthesis: the key events for one client character, and the Ctrl-A key commands.
#pragma once

#include <vector>

#include "KeySequences.h"
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

// Composes the events for `character` (already in the OEM code page).  With `virtual_key` 0 the
// key is VkKeyScanA's answer `key_scan` (low byte: the key; high byte bits 1, 2, 4: Shift, Ctrl,
// Alt); otherwise `virtual_key` is the key and `key_scan` is not used.  `modifiers` holds the
// sticky modifier bits.
KeyPlan ComposeKey(BYTE character, WORD virtual_key, SHORT key_scan, DWORD modifiers);

// The message reported when the console refuses an event of this kind.
const char* KeyEventFailureMessage(KeyEventKind kind);

// One record of a unit's keystrokes, with the message reported when the console refuses it and
// whether the Alt key alone is held for a moment (kAltKeyPauseMs) after it.
struct KeyRecord {
    INPUT_RECORD record;
    const char* failure;
    bool pause_after;
};

// A unit's records in the order they are written, ANSI for a byte and wide for a character.  A
// character beyond the BMP takes the most: two presses, of up to eight events and of two.
struct KeyRecords {
    KeyRecord records[10];
    int count = 0;
    bool wide = false;
};

// The keyboard layout's answers that the records need: VkKeyScanA, VkKeyScanW and the scan code
// of a virtual key (MapVirtualKeyA).
struct KeyLookUps {
    SHORT (*key_scan)(CHAR character);
    SHORT (*wide_key_scan)(WCHAR unit);
    WORD (*scan_code)(BYTE virtual_key);
};

// The records of a byte `oem` (already in the OEM code page) as ComposeKey plans it, the key
// looked up by VkKeyScanA when `virtual_key` is 0; `modifiers` holds the sticky modifier bits.
KeyRecords ByteKeyRecords(BYTE oem, WORD virtual_key, DWORD modifiers, const KeyLookUps& look_ups);

// The wide records of a character beyond ASCII: the layout's key for it, or VK_PACKET (as the
// system gives typed Unicode text) when the layout has none.  A surrogate pair is two VK_PACKET
// presses, one per unit; the sticky modifiers go with the first.  The key and its release carry
// the unit, the modifier events none.
KeyRecords CharacterKeyRecords(char32_t character, DWORD modifiers, const KeyLookUps& look_ups);

// Puts a unit's records into the console, each record by itself and in order; the Alt key alone
// is held for its moment.  A refused record is fatal: a console that takes no keys leaves the
// login nothing to do.
void WriteKeyRecords(HANDLE console, const KeyRecords& keys);

// The mouse event a local console writes for `report` on the terminal showing `area`, at `tick`
// with a double-click time of `double_click_ms`, after the events `clicks` holds, which it
// updates.  The position is the report's cell in the buffer, clamped to the area; the button state
// holds every button held (and a wheel's delta of 120 in its high word, up and right positive);
// a press is a double click when it follows a single press of that button at that cell within the
// time.  False for a report that stands for no event (a button beyond the first three).
bool MouseRecord(const MouseReport& report, const ShownArea& area, DWORD tick,
                 DWORD double_click_ms, MouseClicks* clicks, MOUSE_EVENT_RECORD* record);

// Puts a mouse event into the console; a refused one is fatal, as a refused key.
void WriteMouseRecord(HANDLE console, const MOUSE_EVENT_RECORD& event);
// The records of many units gathered for one write, wide or ANSI as the batch is made (a UTF-8
// client's ANSI records are of ASCII characters, the same as wide ones).
class KeyBatch {
  public:
    explicit KeyBatch(bool wide) : wide_(wide) {}
    void Add(const KeyRecords& keys);
    bool empty() const { return records_.empty(); }
    // Puts the records into the console in order, with as few writes as it takes, and empties
    // the batch.  A record the console refuses fails as WriteKeyRecords says, with its message;
    // the Alt key alone is held for its moment after its press.
    void Write(HANDLE console);

  private:
    bool wide_;
    std::vector<INPUT_RECORD> records_;
    std::vector<const char*> failures_;
    std::vector<bool> pauses_;
};

// The records of the client's byte `character` (made OEM first, as InjectKey does) with the
// sticky modifiers, which it takes; false, with a report, when the byte cannot be translated.
// For a batch (`batch`) the code page's and the layout's answers are kept until
// ForgetLayoutAnswers.
bool ByteRecords(BYTE character, WORD virtual_key, KeyRecords* keys, bool batch = false);
// The wide records of a character beyond ASCII with the sticky modifiers, which it takes.
KeyRecords CharacterRecords(char32_t character, bool batch = false);
// The input loops forget the layout's answers kept for batches whenever the bytes read together
// run out, so that each read sees the layout as it is.
void ForgetLayoutAnswers();
// Asks the keyboard layout once, before a batching input loop's first read: under Wine its first
// answer loads the window system's driver, some 20 ms that the first keys read need not wait.
void WarmLayoutLookUps();

// What the byte after Ctrl-A asks for.
struct KeyCommand {
    enum class Action {
        kIgnore,        // nothing is injected, no modifier changes
        kInjectKey,     // the key `virtual_key`, with character 0
        kLiteralCtrlA,  // the character 0x01 reaches the console
        kRedraw,        // the screen mirror sends the whole screen again
        kSticky,        // the modifier `modifier` goes with the next key
    };
    Action action;
    WORD virtual_key;
    DWORD modifier = 0;
};
KeyCommand LookUpKeyCommand(BYTE command);
