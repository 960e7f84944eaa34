// Key composition, the records built from it and the Ctrl-A table over every input: a keystroke
// is its modifiers pressed, the key pressed and released, and the modifiers released in the
// opposite order, each event carrying the modifiers held at that moment.  The rest of the input
// is a mouse report, decoded and made into its event.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "KeyEvents.h"
#include "Utf8.h"

namespace {

// A layout whose every answer the input chooses.
SHORT g_key_scan;
WORD g_scan_code;
const KeyLookUps kLayout = {
    [](CHAR) { return g_key_scan; },
    [](WCHAR) { return g_key_scan; },
    [](BYTE) { return g_scan_code; },
};

// A character's wide records: one keystroke per UTF-16 unit, a unit on its key events only, the
// sticky modifiers with the first keystroke, and no pause.
void CheckCharacter(char32_t character, DWORD modifiers) {
    const KeyRecords keys = CharacterKeyRecords(character, modifiers, kLayout);
    WCHAR units[2];
    const int unit_count = EncodeUtf16(character, units);
    // A surrogate pair's second keystroke is the last two records.
    const int first = unit_count == 2 ? keys.count - 2 : keys.count;
    if (!keys.wide || first < 2 || first % 2 != 0) abort();
    for (int i = 0; i < keys.count; ++i) {
        const KEY_EVENT_RECORD& e = keys.records[i].record.Event.KeyEvent;
        const bool second = i >= first;
        const int size = second ? 2 : first, at = second ? i - first : i;
        const bool is_key = at == size / 2 - 1 || at == size / 2;
        if (keys.records[i].pause_after) abort();
        if (e.uChar.UnicodeChar != (is_key ? units[second ? 1 : 0] : 0)) abort();
        if (is_key && unit_count == 2 && e.wVirtualKeyCode != VK_PACKET) abort();
        if (second && e.dwControlKeyState != 0) abort();
    }
}

// Mouse reports, over the rest of the input after an Escape: a decision once made stands whatever
// bytes follow, and only a report begun is ever dropped.  A report's event lies within the area,
// holds no button beyond the three and carries a wheel's delta of 120 with the wheel's flag alone.
void CheckMouse(FuzzedDataProvider& input) {
    ShownArea area;
    area.left = input.ConsumeIntegralInRange<SHORT>(0, 300);
    area.top = input.ConsumeIntegralInRange<SHORT>(0, 300);
    area.columns = input.ConsumeIntegralInRange<SHORT>(0, 300);
    area.rows = input.ConsumeIntegralInRange<SHORT>(0, 300);
    area.rows_above = input.ConsumeIntegralInRange<int>(0, 100);
    MouseClicks clicks;
    clicks.held = input.ConsumeIntegral<BYTE>() & 7;
    clicks.press_button = input.ConsumeIntegral<BYTE>() & 7;
    const DWORD tick = input.ConsumeIntegral<DWORD>();
    // The report's bytes are the front of the input, which the values above leave.
    const std::vector<BYTE> rest = input.ConsumeRemainingBytes<BYTE>();
    BYTE bytes[kMaxInputSequence + 4];
    bytes[0] = 0x1B;
    DWORD count = 1;
    for (size_t i = 0; i < rest.size() && count < sizeof bytes; ++i) bytes[count++] = rest[i];

    MouseReport decided;
    DWORD decided_at = 0;
    for (DWORD n = 1; n <= count; ++n) {
        const MouseReport report = DecodeMouseReport(bytes, n);
        if (decided_at == 0) {
            if (report.kind == MouseReport::Kind::kIncomplete) {
                if (n >= kMaxMouseReport || (report.length != 0 && report.length != n)) abort();
                if ((report.length != 0) != (n >= 3)) abort();
                continue;
            }
            decided = report;
            decided_at = n;
            if (report.kind == MouseReport::Kind::kReport && report.length != n) abort();
            if (report.kind == MouseReport::Kind::kCut && (report.length < 3 || report.length >= n))
                abort();
            continue;
        }
        if (report.kind != decided.kind || report.length != decided.length ||
            report.button != decided.button || report.column != decided.column ||
            report.row != decided.row || report.release != decided.release)
            abort();
    }
    if (decided.kind != MouseReport::Kind::kReport) return;
    MOUSE_EVENT_RECORD e;
    const DWORD held_before = clicks.held;
    if (!MouseRecord(decided, area, tick, 500, &clicks, &e)) return;
    const COORD at = e.dwMousePosition;
    const SHORT columns = area.columns > 0 ? area.columns : 1;
    const SHORT rows = area.rows > 0 ? area.rows : 1;
    if (at.X < area.left || at.X >= area.left + columns || at.Y < area.top ||
        at.Y >= area.top + rows)
        abort();
    if (e.dwControlKeyState & ~(kShiftBit | kCtrlBit | kAltBit)) abort();
    const bool wheel = (e.dwEventFlags & (MOUSE_WHEELED | MOUSE_HWHEELED)) != 0;
    const WORD delta = static_cast<WORD>(e.dwButtonState >> 16);
    if (wheel ? (delta != 120 && delta != static_cast<WORD>(-120)) || e.dwEventFlags > 8 ||
                    (e.dwButtonState & 0xFFFF) != held_before
              : delta != 0 || (e.dwButtonState & ~7u) != 0 || e.dwButtonState != clicks.held)
        abort();
    if (!wheel && e.dwEventFlags != 0 && e.dwEventFlags != MOUSE_MOVED &&
        e.dwEventFlags != DOUBLE_CLICK)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const BYTE character = input.ConsumeIntegral<BYTE>();
    const WORD virtual_key = input.ConsumeBool() ? 0 : input.ConsumeIntegral<WORD>();
    const SHORT key_scan = input.ConsumeIntegral<SHORT>();
    const DWORD modifiers = (input.ConsumeBool() ? kAltBit : 0) |
                            (input.ConsumeBool() ? kCtrlBit : 0) |
                            (input.ConsumeBool() ? kShiftBit : 0);
    const WORD scan_code = input.ConsumeIntegral<WORD>();
    g_key_scan = key_scan;
    g_scan_code = scan_code;

    KeyPlan plan = ComposeKey(character, virtual_key, key_scan, modifiers);
    if (plan.count < 2 || plan.count > 8 || plan.count % 2 != 0) abort();
    // The byte's records are the plan's events, each with its failure message; only the press of
    // the Alt key alone is followed by the pause.
    const KeyRecords keys = ByteKeyRecords(character, virtual_key, modifiers, kLayout);
    if (keys.wide || keys.count != plan.count) abort();
    for (int i = 0; i < plan.count; ++i) {
        const PlannedKeyEvent& event = plan.events[i];
        const KeyRecord& key = keys.records[i];
        const KEY_EVENT_RECORD& e = key.record.Event.KeyEvent;
        if (key.record.EventType != KEY_EVENT || e.wRepeatCount != 1 ||
            e.wVirtualScanCode != scan_code || e.wVirtualKeyCode != event.virtual_key ||
            e.uChar.AsciiChar != event.character || e.dwControlKeyState != event.control_state ||
            (e.bKeyDown != FALSE) != event.key_down ||
            key.failure != KeyEventFailureMessage(event.kind))
            abort();
        if (key.pause_after != (event.kind == KeyEventKind::kKeyDown && plan.pause_after_press))
            abort();
    }
    // Presses and releases mirror each other around the key.
    for (int i = 0; i < plan.count / 2; ++i) {
        const PlannedKeyEvent& down = plan.events[i];
        const PlannedKeyEvent& up = plan.events[plan.count - 1 - i];
        if (!down.key_down || up.key_down) abort();
        if (down.virtual_key != up.virtual_key || down.control_state != up.control_state) abort();
        if (static_cast<int>(down.kind) + static_cast<int>(up.kind) != 7) abort();
        if (KeyEventFailureMessage(down.kind) == nullptr) abort();
    }
    const PlannedKeyEvent& key = plan.events[plan.count / 2 - 1];
    if (key.kind != KeyEventKind::kKeyDown || key.character != static_cast<CHAR>(character))
        abort();
    // Only the three left-hand modifier bits are ever set.
    for (int i = 0; i < plan.count; ++i) {
        if (plan.events[i].control_state & ~(kShiftBit | kCtrlBit | kAltBit)) abort();
    }

    CheckCharacter(input.ConsumeIntegral<char32_t>(), modifiers);

    const BYTE command = input.ConsumeIntegral<BYTE>();
    KeyCommand looked_up = LookUpKeyCommand(command);
    if ((looked_up.action == KeyCommand::Action::kInjectKey) != (looked_up.virtual_key != 0))
        abort();
    CheckMouse(input);
    return 0;
}
