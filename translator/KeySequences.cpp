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

// Every key's sequence: the final letter of "SS3 letter" and "CSI letter", the number of
// "CSI n ~", and the letter of the Linux console's "CSI [ letter".
enum class Form { kLetter, kTilde, kLinux };
struct KeyCode {
    Form form;
    DWORD code;
    WORD virtual_key;
};
constexpr KeyCode kKeyCodes[] = {
    {Form::kLetter, 'A', VK_UP},   {Form::kLetter, 'B', VK_DOWN}, {Form::kLetter, 'C', VK_RIGHT},
    {Form::kLetter, 'D', VK_LEFT}, {Form::kLetter, 'H', VK_HOME}, {Form::kLetter, 'F', VK_END},
    {Form::kLetter, 'P', VK_F1},   {Form::kLetter, 'Q', VK_F2},   {Form::kLetter, 'R', VK_F3},
    {Form::kLetter, 'S', VK_F4},   {Form::kTilde, 1, VK_HOME},    {Form::kTilde, 7, VK_HOME},
    {Form::kTilde, 2, VK_INSERT},  {Form::kTilde, 3, VK_DELETE},  {Form::kTilde, 4, VK_END},
    {Form::kTilde, 8, VK_END},     {Form::kTilde, 5, VK_PRIOR},   {Form::kTilde, 6, VK_NEXT},
    {Form::kTilde, 11, VK_F1},     {Form::kTilde, 12, VK_F2},     {Form::kTilde, 13, VK_F3},
    {Form::kTilde, 14, VK_F4},     {Form::kTilde, 15, VK_F5},     {Form::kTilde, 17, VK_F6},
    {Form::kTilde, 18, VK_F6 + 1}, {Form::kTilde, 19, VK_F6 + 2}, {Form::kTilde, 20, VK_F6 + 3},
    {Form::kTilde, 21, VK_F10},    {Form::kTilde, 23, VK_F11},    {Form::kTilde, 24, VK_F12},
    {Form::kLinux, 'A', VK_F1},    {Form::kLinux, 'B', VK_F2},    {Form::kLinux, 'C', VK_F3},
    {Form::kLinux, 'D', VK_F4},    {Form::kLinux, 'E', VK_F5},
};

// The key of a sequence's form and code: 0 when none.
WORD LookUpKey(Form form, DWORD code) {
    for (const KeyCode& key : kKeyCodes) {
        if (key.form == form && key.code == code) return key.virtual_key;
    }
    return 0;
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
        WORD key = LookUpKey(Form::kLinux, bytes[3]);
        return key != 0 ? Key(4, key, 0) : None();
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
            WORD key = given[0] ? LookUpKey(Form::kTilde, parameters[0]) : 0;
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
        WORD key = LookUpKey(Form::kLetter, byte);
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
        WORD key = LookUpKey(Form::kLetter, bytes[2]);
        return key != 0 ? Key(3, key, 0) : None();
    }
    if (second >= 0x20 && second <= 0x7E) {
        KeySequence alt = Key(2, 0, kAltBit);
        alt.character = second;
        return alt;
    }
    return None();
}

namespace {

constexpr DWORD kMaxMouseParameter = 9999;

MouseReport Report(MouseReport::Kind kind, DWORD length) {
    MouseReport report;
    report.kind = kind;
    report.length = length;
    return report;
}

// "ESC [ M" and its three bytes, from bytes[3].
MouseReport DecodeOlderReport(const BYTE* bytes, DWORD count) {
    for (DWORD i = 3; i < count && i < 6; ++i) {
        if (bytes[i] < 0x20) return Report(MouseReport::Kind::kCut, i);
    }
    if (count < 6) return Report(MouseReport::Kind::kIncomplete, count);
    MouseReport report = Report(MouseReport::Kind::kReport, 6);
    report.button = bytes[3] - 0x20u;
    report.column = bytes[4] - 0x20u;
    report.row = bytes[5] - 0x20u;
    return report;
}

// "ESC [ <" and its three parameters, from bytes[3].
MouseReport DecodeSgrReport(const BYTE* bytes, DWORD count) {
    DWORD values[3] = {};
    DWORD digits = 0, index = 0;
    for (DWORD i = 3; i < count; ++i) {
        if (i == kMaxMouseReport) return MouseReport{};
        const BYTE byte = bytes[i];
        if (byte >= '0' && byte <= '9') {
            values[index] = values[index] * 10 + (byte - '0');
            if (values[index] > kMaxMouseParameter) return MouseReport{};
            ++digits;
            continue;
        }
        if (digits == 0) return MouseReport{};
        if (byte == ';' && index < 2) {
            ++index;
            digits = 0;
            continue;
        }
        if ((byte != 'M' && byte != 'm') || index != 2) return MouseReport{};
        MouseReport report = Report(MouseReport::Kind::kReport, i + 1);
        report.button = values[0];
        report.release = byte == 'm';
        report.column = values[1];
        report.row = values[2];
        return report;
    }
    return count < kMaxMouseReport ? Report(MouseReport::Kind::kIncomplete, count) : MouseReport{};
}

}  // namespace

MouseReport DecodeMouseReport(const BYTE* bytes, DWORD count) {
    if (count == 0 || bytes[0] != kEscape) return MouseReport{};
    if (count == 1 || (count == 2 && bytes[1] == '['))
        return Report(MouseReport::Kind::kIncomplete, 0);
    if (bytes[1] != '[') return MouseReport{};
    if (bytes[2] == 'M') return DecodeOlderReport(bytes, count);
    if (bytes[2] == '<') return DecodeSgrReport(bytes, count);
    return MouseReport{};
}

PasteMarker DecodePasteMarker(const BYTE* bytes, DWORD count) {
    static const BYTE kStart[] = {0x1B, '[', '2', '0', '0', '~'};
    const DWORD compared = count < kPasteMarkerLength ? count : kPasteMarkerLength;
    for (DWORD i = 0; i < compared; ++i) {
        // The markers differ only in their fifth byte.
        if (bytes[i] != kStart[i] && !(i == 4 && bytes[i] == '1')) return PasteMarker::kNone;
    }
    if (count < kPasteMarkerLength) return PasteMarker::kIncomplete;
    return bytes[4] == '0' ? PasteMarker::kStart : PasteMarker::kEnd;
}

bool PastedLineEnd(BYTE* byte, bool* after_cr) {
    const bool line_feed = *byte == '\n';
    const bool dropped = line_feed && *after_cr;
    *after_cr = *byte == '\r';
    if (line_feed) *byte = '\r';
    return !dropped;
}
