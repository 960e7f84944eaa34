// Key composition, the records built from it and the Ctrl-A table over every input: a keystroke
// is its modifiers pressed, the key pressed and released, and the modifiers released in the
// opposite order, each event carrying the modifiers held at that moment.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const BYTE character = input.ConsumeIntegral<BYTE>();
    const WORD virtual_key = input.ConsumeBool() ? 0 : input.ConsumeIntegral<WORD>();
    const SHORT key_scan = input.ConsumeIntegral<SHORT>();
    const DWORD modifiers =
        StickyModifierBits(input.ConsumeBool(), input.ConsumeBool(), input.ConsumeBool());
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
    return 0;
}
