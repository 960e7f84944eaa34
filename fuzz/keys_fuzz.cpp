// Key composition and the Ctrl-A table over every input: a keystroke is its modifiers pressed,
// the key pressed and released, and the modifiers released in the opposite order, each event
// carrying the modifiers held at that moment.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>

#include "KeyEvents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const BYTE character = input.ConsumeIntegral<BYTE>();
    const WORD virtual_key = input.ConsumeBool() ? 0 : input.ConsumeIntegral<WORD>();
    const SHORT key_scan = input.ConsumeIntegral<SHORT>();
    const DWORD modifiers =
        StickyModifierBits(input.ConsumeBool(), input.ConsumeBool(), input.ConsumeBool());
    const WORD scan_code = input.ConsumeIntegral<WORD>();

    KeyPlan plan = ComposeKey(character, virtual_key, key_scan, modifiers);
    if (plan.count < 2 || plan.count > 8 || plan.count % 2 != 0) abort();
    // Presses and releases mirror each other around the key.
    for (int i = 0; i < plan.count / 2; ++i) {
        const PlannedKeyEvent& down = plan.events[i];
        const PlannedKeyEvent& up = plan.events[plan.count - 1 - i];
        if (!down.key_down || up.key_down) abort();
        if (down.virtual_key != up.virtual_key || down.control_state != up.control_state) abort();
        if (static_cast<int>(down.kind) + static_cast<int>(up.kind) != 7) abort();
        if (KeyEventFailureMessage(down.kind) == nullptr) abort();
        INPUT_RECORD record = MakeKeyRecord(down, scan_code);
        if (record.EventType != KEY_EVENT || record.Event.KeyEvent.wRepeatCount != 1 ||
            record.Event.KeyEvent.wVirtualScanCode != scan_code)
            abort();
    }
    const PlannedKeyEvent& key = plan.events[plan.count / 2 - 1];
    if (key.kind != KeyEventKind::kKeyDown || key.character != static_cast<CHAR>(character))
        abort();
    // Only the three left-hand modifier bits are ever set.
    for (int i = 0; i < plan.count; ++i) {
        if (plan.events[i].control_state & ~(kShiftBit | kCtrlBit | kAltBit)) abort();
    }

    const BYTE command = input.ConsumeIntegral<BYTE>();
    KeyCommand looked_up = LookUpKeyCommand(command);
    if ((looked_up.action == KeyCommand::Action::kInjectKey) != (looked_up.virtual_key != 0))
        abort();
    return 0;
}
