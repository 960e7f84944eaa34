// Where each unit of the client's input goes.
#include "InputRoute.h"

InputRoute DecideInputRoute(InputLoop loop, const ClientInput& input, DWORD input_mode,
                            bool gate_set) {
    const bool processed = (input_mode & ENABLE_PROCESSED_INPUT) != 0;
    const bool line = processed && (input_mode & ENABLE_LINE_INPUT) != 0;
    const int byte = input.is_key || input.character != 0 ? -1 : input.byte;
    if (input.is_mouse) return InputRoute::kMouseEvent;
    if (processed && byte == 0x03)
        return input.pasted ? InputRoute::kDrop : InputRoute::kCtrlCEvent;
    if (input.pasted && loop == InputLoop::kAdvanced) return InputRoute::kInject;
    if (loop == InputLoop::kAdvanced) {
        if (line && byte == 0x1B) return InputRoute::kEscapeKey;
        if (line && byte == 0x12) return InputRoute::kRedraw;
        if (line && byte == 0x0D) return InputRoute::kInjectThenExitCheck;
        return byte == 0x01 ? InputRoute::kKeyCommand : InputRoute::kInject;
    }
    if (!gate_set) return InputRoute::kResumeOutput;
    if (input.pasted) return line ? InputRoute::kLineEditor : InputRoute::kInject;
    if (processed && byte == 0x13) return InputRoute::kPauseOutput;
    if (line) return InputRoute::kLineEditor;
    return processed && byte == 0x01 ? InputRoute::kKeyCommand : InputRoute::kInject;
}

bool AsksForMouseInput(DWORD input_mode) {
    constexpr DWORD kQuickEdit = ENABLE_EXTENDED_FLAGS | ENABLE_QUICK_EDIT_MODE;
    return (input_mode & ENABLE_MOUSE_INPUT) != 0 && (input_mode & kQuickEdit) != kQuickEdit;
}
