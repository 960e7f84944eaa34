// The advanced mode input loop.
#include "AdvancedInput.h"

#include "KeyInput.h"
#include "Reporter.h"
#include "ZEVENT.h"
#include "translator.h"

void WakeScreenMirror() {
    g_screen_lock.Enter();
    g_translator.mirror_poll_delay.store(0);
    g_mirror_wake_up.Set();
    g_screen_lock.Leave();
}

void RunAdvancedInput(const Settings& settings) {
    DWORD mode = kAssumedFirstInputMode;
    KeyReader reader(settings.key_sequences != 0, settings.utf8_client != 0);
    ClientInput input;
    while (reader.Next(&input)) {
        RefreshInputMode(&mode);
        if (input.is_key) {
            InjectDecodedKey(input.key);
            WakeScreenMirror();
            continue;
        }
        if (input.character != 0) {
            // Beyond ASCII (a UTF-8 client): a key, with no meaning of its own in any mode.
            InjectCharacter(input.character);
            WakeScreenMirror();
            continue;
        }
        const BYTE byte = input.byte;

        bool exit_check = false;
        switch (DecideInputAction(byte, mode)) {
            case InputAction::kCtrlCEvent:
                if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
                    ReportError("GenerateConsoleCtrlEvent failed: %lu", GetLastError());
                }
                break;
            case InputAction::kEscapeKey:
                InjectKey(byte, VK_ESCAPE);
                break;
            case InputAction::kRedraw:
                g_screen_lock.Enter();
                g_translator.redraw_request = 1;
                g_screen_lock.Leave();
                break;
            case InputAction::kKeyThenExitCheck:
                exit_check = true;
                InjectKey(byte, 0);
                break;
            case InputAction::kKeyCommand: {
                BYTE command;
                // The client is gone in the middle of a key command: nothing more to do.
                if (!ReadSocketByte(&command)) return;
                RunKeyCommand(command);
                break;
            }
            case InputAction::kKey:
                InjectKey(byte, 0);
                break;
        }

        WakeScreenMirror();
        // A carriage return at a line-input prompt may end the command processor: give its end
        // the time to show before anything more is read.
        if (exit_check) Sleep(settings.exit_detection_timeout);
    }
}
