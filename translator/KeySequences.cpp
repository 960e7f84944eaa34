// Key sequences: decoding the terminal's key sequences.
#include "KeySequences.h"

#include "KeyEvents.h"

namespace {

constexpr BYTE kEscape = 0x1B;
constexpr DWORD kMaxParameters = 2;
constexpr DWORD kMaxParameterValue = 999;

KeySequence Key(DWORD length, WORD virtual_key, DWORD modifiers) {
    KeySequence key;
    key.kind = KeySequence::Kind::kKey;
    key.length = length;
    key.virtual_key = virtual_key;
    key.modifiers = modifiers;
    return key;
}

KeySequence Incomplete() {
    KeySequence key;
    key.kind = KeySequence::Kind::kIncomplete;
    return key;
}

KeySequence None() {
    return KeySequence{};
}

// The key of an SS3 final byte, or of a CSI final letter: 0 when none.
WORD LetterKey(BYTE final) {
    switch (final) {
        case 'A':
            return VK_UP;
        case 'B':
            return VK_DOWN;
        case 'C':
            return VK_RIGHT;
        case 'D':
            return VK_LEFT;
        case 'H':
            return VK_HOME;
        case 'F':
            return VK_END;
        case 'P':
            return VK_F1;
        case 'Q':
            return VK_F2;
        case 'R':
            return VK_F3;
        case 'S':
            return VK_F4;
        default:
            return 0;
    }
}

// The key of "CSI n ~": 0 when none.
WORD TildeKey(DWORD n) {
    switch (n) {
        case 1:
        case 7:
            return VK_HOME;
        case 2:
            return VK_INSERT;
        case 3:
            return VK_DELETE;
        case 4:
        case 8:
            return VK_END;
        case 5:
            return VK_PRIOR;
        case 6:
            return VK_NEXT;
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
            return static_cast<WORD>(VK_F1 + (n - 11));
        case 17:
        case 18:
        case 19:
        case 20:
        case 21:
            return static_cast<WORD>(VK_F6 + (n - 17));
        case 23:
            return VK_F11;
        case 24:
            return VK_F12;
        default:
            return 0;
    }
}

// xterm's modifier parameter: 1 plus Shift 1, Alt 2, Ctrl 4.  False for values beyond those.
bool ModifierBits(DWORD parameter, DWORD* bits) {
    if (parameter < 1 || parameter > 8) return false;
    DWORD sum = parameter - 1;
    *bits = ((sum & 1) ? kShiftBit : 0) | ((sum & 2) ? kAltBit : 0) | ((sum & 4) ? kCtrlBit : 0);
    return true;
}

// "ESC [" and what follows, from bytes[2].
KeySequence DecodeCsi(const BYTE* bytes, DWORD count) {
    if (count == 2) return Incomplete();
    if (bytes[2] == '[') {
        // The Linux console's F1 to F5.
        if (count == 3) return Incomplete();
        if (bytes[3] >= 'A' && bytes[3] <= 'E')
            return Key(4, static_cast<WORD>(VK_F1 + (bytes[3] - 'A')), 0);
        return None();
    }
    DWORD parameters[kMaxParameters] = {};
    bool given[kMaxParameters] = {};
    DWORD parameter_count = 1;
    for (DWORD i = 2; i < count; ++i) {
        if (i == kMaxKeySequence) return None();
        const BYTE byte = bytes[i];
        if (byte >= '0' && byte <= '9') {
            DWORD& value = parameters[parameter_count - 1];
            value = value * 10 + (byte - '0');
            if (value > kMaxParameterValue) return None();
            given[parameter_count - 1] = true;
            continue;
        }
        if (byte == ';') {
            if (parameter_count == kMaxParameters) return None();
            ++parameter_count;
            continue;
        }
        if (byte < 0x40 || byte > 0x7E) return None();  // other parameters, intermediates
        const DWORD length = i + 1;
        DWORD modifiers = 0;
        if (parameter_count == 2 && (!given[1] || !ModifierBits(parameters[1], &modifiers)))
            return None();
        if (byte == '~') {
            WORD key = given[0] ? TildeKey(parameters[0]) : 0;
            return key != 0 ? Key(length, key, modifiers) : None();
        }
        // A letter takes no parameter but the modifier one, after a first parameter of 1.
        if (given[0] && parameters[0] != 1) return None();
        if (given[0] && parameter_count == 1) return None();
        if (byte == 'Z') {
            if (parameter_count != 1) return None();
            KeySequence back_tab = Key(length, VK_TAB, kShiftBit);
            back_tab.character = 0x09;
            return back_tab;
        }
        WORD key = LetterKey(byte);
        return key != 0 ? Key(length, key, modifiers) : None();
    }
    return count < kMaxKeySequence ? Incomplete() : None();
}

}  // namespace

KeySequence DecodeKeySequence(const BYTE* bytes, DWORD count) {
    if (count == 0 || bytes[0] != kEscape) return None();
    if (count == 1) return Incomplete();
    const BYTE second = bytes[1];
    if (second == '[') return DecodeCsi(bytes, count);
    if (second == 'O') {
        if (count == 2) return Incomplete();
        WORD key = LetterKey(bytes[2]);
        return key != 0 ? Key(3, key, 0) : None();
    }
    if (second >= 0x20 && second <= 0x7E) {
        KeySequence alt = Key(2, 0, kAltBit);
        alt.character = second;
        return alt;
    }
    return None();
}

KeyRoute DecideKeyRoute(DWORD input_mode, bool gate_set) {
    const bool processed = (input_mode & ENABLE_PROCESSED_INPUT) != 0;
    const bool line_input = (input_mode & ENABLE_LINE_INPUT) != 0;
    if (!gate_set) return KeyRoute::kResumeOutput;
    if (processed && line_input) return KeyRoute::kLineEditor;
    return KeyRoute::kInject;
}
