// Key event synthesis: client characters and Ctrl-A key commands become console key events.
#include "KeyEvents.h"

#include <algorithm>

#include "InputRoute.h"
#include "Reporter.h"
#include "Utf8.h"
#include "ZEVENT.h"

KeyPlan ComposeKey(BYTE character, WORD virtual_key, SHORT key_scan, DWORD modifiers) {
    WORD key = virtual_key;
    if (key == 0) {
        WORD scan = static_cast<WORD>(key_scan);
        key = scan & 0xFF;
        BYTE shift_state = static_cast<BYTE>(scan >> 8);
        if (shift_state & 0x01) modifiers |= kShiftBit;
        if (shift_state & 0x02) modifiers |= kCtrlBit;
        if (shift_state & 0x04) modifiers |= kAltBit;
    }

    KeyPlan plan;
    auto add = [&plan](KeyEventKind kind, bool down, BYTE vk, CHAR ch, DWORD state) {
        plan.events[plan.count++] = PlannedKeyEvent{kind, down, vk, ch, state};
    };
    // Each modifier's state holds itself and the modifiers pressed before it.
    const DWORD shift_state = modifiers & kShiftBit;
    const DWORD ctrl_state = modifiers & (kShiftBit | kCtrlBit);
    const DWORD alt_state = modifiers & (kShiftBit | kCtrlBit | kAltBit);
    if (modifiers & kShiftBit) add(KeyEventKind::kShiftDown, true, VK_SHIFT, 0, shift_state);
    if (modifiers & kCtrlBit) add(KeyEventKind::kCtrlDown, true, VK_CONTROL, 0, ctrl_state);
    if (modifiers & kAltBit) add(KeyEventKind::kAltDown, true, VK_MENU, 0, alt_state);

    const bool alt_alone = key == VK_MENU;
    const DWORD key_state = alt_alone ? kAltBit : modifiers;
    const BYTE key_code = static_cast<BYTE>(key & 0xFF);
    const CHAR key_character = static_cast<CHAR>(character);
    add(KeyEventKind::kKeyDown, true, key_code, key_character, key_state);
    add(KeyEventKind::kKeyUp, false, key_code, key_character, key_state);
    plan.pause_after_press = alt_alone;

    if (modifiers & kAltBit) add(KeyEventKind::kAltUp, false, VK_MENU, 0, alt_state);
    if (modifiers & kCtrlBit) add(KeyEventKind::kCtrlUp, false, VK_CONTROL, 0, ctrl_state);
    if (modifiers & kShiftBit) add(KeyEventKind::kShiftUp, false, VK_SHIFT, 0, shift_state);
    return plan;
}

const char* KeyEventFailureMessage(KeyEventKind kind) {
    static const char* const kMessages[] = {
        "WriteConsoleInput for shift down failed: %lu",
        "WriteConsoleInput for ctrl down failed: %lu",
        "WriteConsoleInput for alt down failed: %lu",
        "WriteConsoleInput for key down failed: %lu",
        "WriteConsoleInput for key up failed: %lu",
        "WriteConsoleInput for alt up failed: %lu",
        "WriteConsoleInput for ctrl up failed: %lu",
        "WriteConsoleInput for shift up failed: %lu",
    };
    return kMessages[static_cast<int>(kind)];
}

namespace {

INPUT_RECORD MakeKeyRecord(const PlannedKeyEvent& event, WORD scan_code) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    key.bKeyDown = event.key_down ? TRUE : FALSE;
    key.wRepeatCount = 1;
    key.wVirtualKeyCode = event.virtual_key;
    key.wVirtualScanCode = scan_code;
    key.uChar.AsciiChar = event.character;
    key.dwControlKeyState = event.control_state;
    return record;
}

// Adds the records of a planned keystroke; a wide one's key and release carry `unit`.
void AddRecords(const KeyPlan& plan, const WCHAR* unit, const KeyLookUps& look_ups,
                KeyRecords* keys) {
    for (int i = 0; i < plan.count; ++i) {
        const PlannedKeyEvent& event = plan.events[i];
        KeyRecord& key = keys->records[keys->count++];
        key.record = MakeKeyRecord(event, look_ups.scan_code(event.virtual_key));
        const bool is_key =
            event.kind == KeyEventKind::kKeyDown || event.kind == KeyEventKind::kKeyUp;
        if (unit != nullptr && is_key) key.record.Event.KeyEvent.uChar.UnicodeChar = *unit;
        key.failure = KeyEventFailureMessage(event.kind);
        key.pause_after =
            unit == nullptr && event.kind == KeyEventKind::kKeyDown && plan.pause_after_press;
    }
}

}  // namespace

KeyRecords ByteKeyRecords(BYTE oem, WORD virtual_key, DWORD modifiers, const KeyLookUps& look_ups) {
    const SHORT key_scan = virtual_key == 0 ? look_ups.key_scan(static_cast<CHAR>(oem)) : 0;
    KeyRecords keys;
    AddRecords(ComposeKey(oem, virtual_key, key_scan, modifiers), nullptr, look_ups, &keys);
    return keys;
}

KeyRecords CharacterKeyRecords(char32_t character, DWORD modifiers, const KeyLookUps& look_ups) {
    KeyRecords keys;
    keys.wide = true;
    WCHAR units[2];
    const int count = EncodeUtf16(character, units);
    for (int u = 0; u < count; ++u) {
        const SHORT key_scan = count == 1 ? look_ups.wide_key_scan(units[u]) : -1;
        AddRecords(key_scan == -1 ? ComposeKey(0, VK_PACKET, 0, u == 0 ? modifiers : 0)
                                  : ComposeKey(0, 0, key_scan, modifiers),
                   &units[u], look_ups, &keys);
    }
    return keys;
}

void WriteKeyRecords(HANDLE console, const KeyRecords& keys) {
    for (int i = 0; i < keys.count; ++i) {
        const KeyRecord& key = keys.records[i];
        DWORD written = 0;
        const BOOL done = keys.wide ? WriteConsoleInputW(console, &key.record, 1, &written)
                                    : WriteConsoleInputA(console, &key.record, 1, &written);
        if (!done) ReportFatal(key.failure, GetLastError());
        if (key.pause_after) Sleep(kAltKeyPauseMs);
    }
}

namespace {

constexpr DWORD kShiftCode = 4, kAltCode = 8, kCtrlCode = 16, kMotionCode = 32, kWheelCode = 64;
constexpr DWORD kBeyondCode = 128;
constexpr SHORT kWheelDelta = 120;

// The button of a code's low bits 0 to 2; 0 for 3 (none, or a release of the older form).
DWORD ButtonBit(DWORD code) {
    static const DWORD kBits[4] = {FROM_LEFT_1ST_BUTTON_PRESSED, FROM_LEFT_2ND_BUTTON_PRESSED,
                                   RIGHTMOST_BUTTON_PRESSED, 0};
    return kBits[code & 3];
}

// A report's cell, from 1, as a buffer cell within the area.
SHORT ShownCell(DWORD place, int before, SHORT origin, SHORT size) {
    long cell = static_cast<long>(place) - 1 - before;
    if (cell >= size) cell = size - 1;
    if (cell < 0) cell = 0;
    return static_cast<SHORT>(origin + cell);
}

// The code page's and the layout's answers for the bytes read together: a paste asks the same
// few again and again, and under Wine each layout answer is a search of the window system's
// keyboard map.  Main thread only.
struct LayoutAnswers {
    CHAR oem[256];  // CharToOemBuffA's, for each byte
    bool have_oem[256];
    SHORT key_scan[256];
    bool have_key_scan[256];
    WORD scan_code[256];
    bool have_scan_code[256];
};
LayoutAnswers g_answers;

const KeyLookUps kBatchLayout = {
    [](CHAR character) {
        const BYTE at = static_cast<BYTE>(character);
        if (!g_answers.have_key_scan[at]) {
            g_answers.key_scan[at] = VkKeyScanA(character);
            g_answers.have_key_scan[at] = true;
        }
        return g_answers.key_scan[at];
    },
    [](WCHAR unit) { return VkKeyScanW(unit); },
    [](BYTE virtual_key) {
        if (!g_answers.have_scan_code[virtual_key]) {
            g_answers.scan_code[virtual_key] =
                static_cast<WORD>(MapVirtualKeyA(virtual_key, MAPVK_VK_TO_VSC));
            g_answers.have_scan_code[virtual_key] = true;
        }
        return g_answers.scan_code[virtual_key];
    },
};

}  // namespace

void WarmLayoutLookUps() {
    VkKeyScanA(' ');
    MapVirtualKeyA(VK_SPACE, MAPVK_VK_TO_VSC);
}

void ForgetLayoutAnswers() {
    std::fill_n(g_answers.have_oem, 256, false);
    std::fill_n(g_answers.have_key_scan, 256, false);
    std::fill_n(g_answers.have_scan_code, 256, false);
}

void KeyBatch::Add(const KeyRecords& keys) {
    for (int i = 0; i < keys.count; ++i) {
        records_.push_back(keys.records[i].record);
        failures_.push_back(keys.records[i].failure);
        pauses_.push_back(keys.records[i].pause_after);
    }
}

void KeyBatch::Write(HANDLE console) {
    const DWORD count = static_cast<DWORD>(records_.size());
    DWORD done = 0;
    while (done < count) {
        // A write ends at a pause.
        DWORD end = done;
        while (end + 1 < count && !pauses_[end]) ++end;
        DWORD written = 0;
        const INPUT_RECORD* from = records_.data() + done;
        const BOOL ok = wide_ ? WriteConsoleInputW(console, from, end + 1 - done, &written)
                              : WriteConsoleInputA(console, from, end + 1 - done, &written);
        if (!ok) ReportFatal(failures_[done], GetLastError());
        // A console that takes none of them gets them one by one, as WriteKeyRecords puts them.
        if (written == 0) {
            KeyRecords one;
            one.records[0] = KeyRecord{*from, failures_[done], false};
            one.count = 1;
            one.wide = wide_;
            WriteKeyRecords(console, one);
            written = 1;
        }
        done += written;
        if (pauses_[done - 1]) Sleep(kAltKeyPauseMs);
    }
    records_.clear();
    failures_.clear();
    pauses_.clear();
}

bool MouseRecord(const MouseReport& report, const ShownArea& area, DWORD tick,
                 DWORD double_click_ms, MouseClicks* clicks, MOUSE_EVENT_RECORD* record) {
    const DWORD code = report.button;
    if ((code & kBeyondCode) != 0 || ((code & kWheelCode) != 0 && report.release)) return false;
    *record = MOUSE_EVENT_RECORD{};
    record->dwMousePosition.X = ShownCell(report.column, 0, area.left, area.columns);
    record->dwMousePosition.Y = ShownCell(report.row, area.rows_above, area.top, area.rows);
    record->dwControlKeyState = ((code & kShiftCode) ? kShiftBit : 0) |
                                ((code & kAltCode) ? kAltBit : 0) |
                                ((code & kCtrlCode) ? kCtrlBit : 0);
    const DWORD button = ButtonBit(code);
    if ((code & kWheelCode) != 0) {
        // Up and right are the positive deltas; the buttons held stay in the low word.
        const bool positive = (code & 3) == 0 || (code & 3) == 3;
        const SHORT delta = positive ? kWheelDelta : static_cast<SHORT>(-kWheelDelta);
        record->dwEventFlags = (code & 2) != 0 ? MOUSE_HWHEELED : MOUSE_WHEELED;
        record->dwButtonState = (static_cast<DWORD>(static_cast<WORD>(delta)) << 16) | clicks->held;
        return true;
    }
    if ((code & kMotionCode) != 0) {
        // A drag holds its button; motion with none says that nothing is held.
        clicks->held = button != 0 ? clicks->held | button : 0;
        record->dwEventFlags = MOUSE_MOVED;
    } else if (report.release || button == 0) {
        // The older form's release does not say which button: it stands for all of them.
        clicks->held = button != 0 ? clicks->held & ~button : 0;
    } else {
        clicks->held |= button;
        const COORD cell = record->dwMousePosition;
        const bool twice = clicks->press_button == button && clicks->press_cell.X == cell.X &&
                           clicks->press_cell.Y == cell.Y &&
                           tick - clicks->press_tick < double_click_ms;
        record->dwEventFlags = twice ? DOUBLE_CLICK : 0;
        // A third press begins again.
        clicks->press_button = twice ? 0 : button;
        clicks->press_cell = cell;
        clicks->press_tick = tick;
    }
    record->dwButtonState = clicks->held;
    return true;
}

void WriteMouseRecord(HANDLE console, const MOUSE_EVENT_RECORD& event) {
    INPUT_RECORD record{};
    record.EventType = MOUSE_EVENT;
    record.Event.MouseEvent = event;
    DWORD written = 0;
    if (!WriteConsoleInputW(console, &record, 1, &written))
        ReportFatal("WriteConsoleInput for a mouse event failed: %lu", GetLastError());
}

KeyCommand LookUpKeyCommand(BYTE command) {
    using Action = KeyCommand::Action;
    if (command >= '1' && command <= '9')
        return KeyCommand{Action::kInjectKey, static_cast<WORD>(VK_F1 + (command - '1'))};
    if (command >= 'a' && command <= 'z') command = static_cast<BYTE>(command - 'a' + 'A');
    static const struct {
        BYTE command;
        KeyCommand what;
    } kCommands[] = {
        {0x01, {Action::kLiteralCtrlA, 0}},     {0x12, {Action::kRedraw, 0}},
        {'0', {Action::kInjectKey, VK_F10}},    {'-', {Action::kInjectKey, VK_F11}},
        {'_', {Action::kInjectKey, VK_F11}},    {'+', {Action::kInjectKey, VK_F12}},
        {'=', {Action::kInjectKey, VK_F12}},    {'A', {Action::kSticky, 0, kAltBit}},
        {'C', {Action::kSticky, 0, kCtrlBit}},  {'S', {Action::kSticky, 0, kShiftBit}},
        {'U', {Action::kInjectKey, VK_UP}},     {'D', {Action::kInjectKey, VK_DOWN}},
        {'L', {Action::kInjectKey, VK_LEFT}},   {'R', {Action::kInjectKey, VK_RIGHT}},
        {'H', {Action::kInjectKey, VK_HOME}},   {'E', {Action::kInjectKey, VK_END}},
        {'P', {Action::kInjectKey, VK_PRIOR}},  {'N', {Action::kInjectKey, VK_NEXT}},
        {'I', {Action::kInjectKey, VK_INSERT}}, {'X', {Action::kInjectKey, VK_DELETE}},
        {'Z', {Action::kInjectKey, VK_MENU}},
    };
    for (const auto& entry : kCommands) {
        if (entry.command == command) return entry.what;
    }
    return KeyCommand{Action::kIgnore, 0};
}

namespace {

const KeyLookUps kLayout = {
    [](CHAR character) { return VkKeyScanA(character); },
    [](WCHAR unit) { return VkKeyScanW(unit); },
    [](BYTE virtual_key) {
        return static_cast<WORD>(MapVirtualKeyA(virtual_key, MAPVK_VK_TO_VSC));
    },
};

// The sticky modifiers go with the next key only.
DWORD TakeStickyModifiers() {
    const DWORD modifiers = g_translator.sticky_modifiers;
    g_translator.sticky_modifiers = 0;
    return modifiers;
}

}  // namespace

bool ByteRecords(BYTE character, WORD virtual_key, KeyRecords* keys, bool batch) {
    CHAR oem = static_cast<CHAR>(character);
    if (batch && g_answers.have_oem[character]) {
        oem = g_answers.oem[character];
    } else if (!CharToOemBuffA(&oem, &oem, 1)) {
        // The character is dropped; the sticky modifiers wait for the next key.
        ReportError("Error translating input: %lu", GetLastError());
        return false;
    } else if (batch) {
        g_answers.oem[character] = oem;
        g_answers.have_oem[character] = true;
    }
    const DWORD modifiers = TakeStickyModifiers();
    *keys = ByteKeyRecords(static_cast<BYTE>(oem), virtual_key, modifiers,
                           batch ? kBatchLayout : kLayout);
    return true;
}

KeyRecords CharacterRecords(char32_t character, bool batch) {
    const DWORD modifiers = TakeStickyModifiers();
    return CharacterKeyRecords(character, modifiers, batch ? kBatchLayout : kLayout);
}

void InjectKey(BYTE character, WORD virtual_key) {
    KeyRecords keys;
    if (ByteRecords(character, virtual_key, &keys))
        WriteKeyRecords(g_translator.console_input, keys);
}

void InjectCharacter(char32_t character) {
    WriteKeyRecords(g_translator.console_input, CharacterRecords(character));
}

void RunKeyCommand(BYTE command) {
    KeyCommand what = LookUpKeyCommand(command);
    switch (what.action) {
        case KeyCommand::Action::kIgnore:
            break;
        case KeyCommand::Action::kInjectKey:
            InjectKey(0, what.virtual_key);
            break;
        case KeyCommand::Action::kLiteralCtrlA:
            InjectKey(0x01, 0);
            break;
        case KeyCommand::Action::kRedraw:
            g_screen_lock.Enter();
            g_translator.redraw_request = 1;
            g_screen_lock.Leave();
            break;
        case KeyCommand::Action::kSticky:
            g_translator.sticky_modifiers |= what.modifier;
            break;
    }
}

void InjectMouse(const MouseReport& report, DWORD input_mode) {
    if (!AsksForMouseInput(input_mode)) return;
    g_screen_lock.Enter();
    const ShownArea area = g_translator.shown_area;
    g_screen_lock.Leave();
    MOUSE_EVENT_RECORD event;
    if (MouseRecord(report, area, GetTickCount(), GetDoubleClickTime(), &g_translator.mouse,
                    &event))
        WriteMouseRecord(g_translator.console_input, event);
}
