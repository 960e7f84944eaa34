// The advanced mode input loop.
#include "AdvancedInput.h"

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

}  // namespace

void RunAdvancedInput(const Settings& settings) {
    DWORD mode = kAssumedFirstInputMode;
    KeyReader reader(settings.key_sequences != 0, settings.utf8_client != 0,
                     settings.mouse_input != 0);
    ClientInput input;
    while (reader.Next(&input)) {
        RefreshInputMode(&mode);
        const InputRoute route = DecideInputRoute(InputLoop::kAdvanced, input, mode, true);
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
