// The advanced mode input loop.
#include "AdvancedInput.h"

#include "KeyEvents.h"
#include "KeyInput.h"
#include "Reporter.h"
#include "ZEVENT.h"
#include "translator.h"

namespace {

// Wakes the screen mirror for a pass at once: under the screen lock, poll delay 0 (the sign that
// input has just arrived) and the wake-up event set.
void WakeScreenMirror() {
    g_screen_lock.Enter();
    g_translator.mirror_poll_delay.store(0);
    g_mirror_wake_up.Set();
    g_screen_lock.Leave();
}

// The bytes whose meaning depends on the console's input mode.  With input batching the mode is
// read for these alone, and each of them (and Ctrl-A, which reads its command byte) ends the
// batch before it.
bool ModeMatters(BYTE byte) {
    return byte == 0x03 || byte == 0x1B || byte == 0x12 || byte == 0x0D;
}

bool EndsBatch(BYTE next) {
    return ModeMatters(next) || next == 0x01;
}

}  // namespace

void RunAdvancedInput(const Settings& settings) {
    const bool batching = settings.input_batching != 0;
    DWORD mode = kAssumedFirstInputMode;
    KeyReader reader(settings.key_sequences != 0, settings.utf8_client != 0,
                     settings.mouse_input != 0, settings.bracketed_paste != 0);
    KeyBatch batch(settings.utf8_client != 0);
    auto write_batch = [&batch] {
        if (batch.empty()) return;
        batch.Write(g_translator.console_input);
        WakeScreenMirror();
    };
    if (batching) {
        WarmLayoutLookUps();
        reader.set_before_wait([&write_batch] {
            write_batch();
            ForgetLayoutAnswers();
        });
    }
    ClientInput input;
    while (reader.Next(&input)) {
        const bool plain_byte = !input.is_key && input.character == 0;
        if (!batching || input.is_mouse || (plain_byte && ModeMatters(input.byte)))
            RefreshInputMode(&mode);
        const InputRoute route = DecideInputRoute(InputLoop::kAdvanced, input, mode, true);
        if (batching && route == InputRoute::kInject) {
            // Ordinary units gather until the bytes already read run out or a special one comes;
            // the batch then goes into the console with one write and wakes the mirror once.
            InjectInput(input, &batch);
            BYTE next = 0;
            if (!reader.Ready(&next) || EndsBatch(next)) write_batch();
            continue;
        }
        write_batch();
        switch (route) {
            case InputRoute::kCtrlCEvent:
                if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
                    ReportError("GenerateConsoleCtrlEvent failed: %lu", GetLastError());
                }
                break;
            case InputRoute::kEscapeKey:
                InjectKey(input.byte, VK_ESCAPE);
                break;
            case InputRoute::kRedraw:
                g_screen_lock.Enter();
                g_translator.redraw_request = 1;
                g_screen_lock.Leave();
                break;
            case InputRoute::kMouseEvent:
                InjectMouse(input.mouse, mode);
                break;
            case InputRoute::kKeyCommand: {
                BYTE command;
                // The client is gone in the middle of a key command: nothing more to do.
                if (!ReadSocketByte(&command)) return;
                RunKeyCommand(command);
                break;
            }
            case InputRoute::kDrop:
                continue;
            default:  // kInject, kInjectThenExitCheck; simple mode's own never come up here
                InjectInput(input);
                break;
        }

        WakeScreenMirror();
        // A carriage return at a line-input prompt may end the command processor: give its end
        // the time to show before anything more is read.
        if (route == InputRoute::kInjectThenExitCheck) Sleep(settings.exit_detection_timeout);
    }
}
