// Key sequences: the bytes that xterm-compatible terminals, the Linux console and VT220
// terminals send for their cursor, editing and function keys, and what they stand for.
#pragma once

#include "win32.h"

// The longest sequence looked at; longer ones are not keys.
constexpr DWORD kMaxKeySequence = 16;
// How long an Escape waits for the rest of its sequence once the bytes already there are taken.
// A terminal sends a key's sequence in one write, so its bytes arrive together; a person does
// not type a second key this fast.
constexpr DWORD kKeySequenceWaitMs = 40;

struct KeySequence {
    enum class Kind {
        kNone,        // the bytes begin no sequence: the first is an ordinary character
        kIncomplete,  // the bytes may begin a sequence; more are needed to tell
        kKey,         // the first `length` bytes are the key below
    };
    Kind kind = Kind::kNone;
    DWORD length = 0;
    // The key as a Ctrl-A key command would inject it: the virtual key with its character (0),
    // or, for Alt and a character, virtual key 0 and that character.
    WORD virtual_key = 0;
    BYTE character = 0;
    DWORD modifiers = 0;  // Shift, Ctrl and Alt bits of a key event's control-key state
};

// What `count` bytes from the client, the first of them Escape, stand for.  Only 7-bit
// sequences count.  A sequence that cannot be completed or is not known is kNone: its bytes are
// ordinary characters.
KeySequence DecodeKeySequence(const BYTE* bytes, DWORD count);

// The longest mouse report looked at: the SGR form with positions of four digits.
constexpr DWORD kMaxMouseReport = 20;
// The reader's bytes hold the longer of a key's sequence and a mouse report.
constexpr DWORD kMaxInputSequence =
    kMaxMouseReport > kMaxKeySequence ? kMaxMouseReport : kMaxKeySequence;

// A mouse report, in the SGR form ("ESC [ < b ; x ; y" and "M" for a press or motion, "m" for a
// release) or the older one ("ESC [ M" and the three bytes b, x, y, each plus 32), as a terminal
// sends it once asked for reports.
struct MouseReport {
    enum class Kind {
        kNone,        // the bytes begin no report
        kIncomplete,  // the bytes may begin a report; more are needed to tell
        kReport,      // the first `length` bytes are the report below
        kCut,         // the first `length` bytes began a report that can no longer be finished
    };
    Kind kind = Kind::kNone;
    // For kIncomplete, the bytes that are dropped when no more come: those of a report begun
    // ("ESC [ M" or "ESC [ <" and what followed), 0 while the bytes are not yet a report's.
    DWORD length = 0;
    // The terminal's button code: 0 to 2 the left, middle and right button, 3 a release in the
    // older form (or motion with no button); plus 4 Shift, 8 Alt, 16 Ctrl, 32 motion, 64 a wheel
    // (0 up, 1 down, 2 left, 3 right), 128 the buttons beyond.
    DWORD button = 0;
    bool release = false;  // the SGR form's "m"
    DWORD column = 0;      // from 1
    DWORD row = 0;         // from 1
};

// What `count` bytes from the client, the first of them Escape, stand for as a mouse report.
// An older report's three bytes are each 0x20 or more: a byte below that ends the report as cut
// (the bytes before it are its), since an in-band message took one of its bytes.  A malformed SGR
// report is kNone: its bytes are ordinary characters.
MouseReport DecodeMouseReport(const BYTE* bytes, DWORD count);
// Bracketed paste: a terminal that was asked for it (DECSET 2004) sends pasted text between the
// markers ESC [ 200 ~ and ESC [ 201 ~.
enum class PasteMarker {
    kNone,        // the bytes begin no marker
    kIncomplete,  // the bytes may begin a marker; more are needed to tell
    kStart,       // the first kPasteMarkerLength bytes are the start marker
    kEnd,         // the first kPasteMarkerLength bytes are the end marker
};
constexpr DWORD kPasteMarkerLength = 6;
// A paste whose end marker never comes ends after this much text or this long without input.
constexpr DWORD kPasteLimitBytes = 1 << 20;
constexpr DWORD kPasteIdleMs = 1000;

// What `count` bytes from the client, the first of them Escape, are.
PasteMarker DecodePasteMarker(const BYTE* bytes, DWORD count);

// Pasted line ends: CR, LF and CR LF are each one carriage return.  Returns false for the byte
// that is dropped (the LF of a CR LF); `after_cr` carries the previous byte's state.
bool PastedLineEnd(BYTE* byte, bool* after_cr);
