// The simple-mode line editor and the advanced-mode input decision over client bytes, with the
// console's input mode and the output gate changing between them.  The editor is checked against
// a model of the line: what a carriage return hands the console is exactly what was typed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "AdvancedInput.h"
#include "LineEditor.h"

namespace {

// The input modes that matter, in every combination, and now and then any value at all.
DWORD InputMode(FuzzedDataProvider& input) {
    if (input.ConsumeIntegralInRange(0, 7) == 0) return input.ConsumeIntegral<DWORD>();
    uint8_t bits = input.ConsumeIntegral<uint8_t>();
    return ((bits & 1) ? ENABLE_PROCESSED_INPUT : 0) | ((bits & 2) ? ENABLE_LINE_INPUT : 0) |
           ((bits & 4) ? ENABLE_ECHO_INPUT : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    LineEditor editor;
    std::vector<BYTE> line;  // the model
    DWORD previous_mode = 0;
    DWORD mode = InputMode(input);
    while (input.remaining_bytes() > 0) {
        if (input.ConsumeIntegralInRange(0, 15) == 0) mode = InputMode(input);
        const bool gate = input.ConsumeIntegralInRange(0, 15) != 0;
        const BYTE byte = input.ConsumeIntegral<BYTE>();

        // The advanced-mode decision is total: every byte in every mode gets one.
        if (static_cast<int>(DecideInputAction(byte, mode)) >
            static_cast<int>(InputAction::kKeyCommand))
            abort();

        std::vector<EditorAction> actions = editor.Take(byte, mode, gate);
        std::vector<BYTE> injected;
        for (const EditorAction& action : actions) {
            if (action.kind == EditorAction::Kind::kWrite &&
                (action.length == 0 || action.length > sizeof action.text))
                abort();
            if (action.kind == EditorAction::Kind::kInjectKey) injected.push_back(action.byte);
        }

        if (mode != previous_mode) line.clear();
        previous_mode = mode;
        const bool processed = (mode & ENABLE_PROCESSED_INPUT) != 0;
        const bool line_input = (mode & ENABLE_LINE_INPUT) != 0;
        if (!processed) {
            if (gate ? injected != std::vector<BYTE>{byte} : !injected.empty()) abort();
        } else if (byte == 0x03) {
            line.clear();
        } else if (!gate || byte == 0x13) {
            if (!injected.empty()) abort();
        } else if (!line_input) {
            if (byte != 0x01 && injected != std::vector<BYTE>{byte}) abort();
        } else if (byte == 0x0D) {
            line.push_back(0x0D);
            if (injected != line) abort();
            line.clear();
        } else if (byte == 0x08 || byte == 0x7F) {
            if (!line.empty()) line.pop_back();
        } else if (byte == 0x1B || byte == 0x15) {
            line.clear();
        } else if (byte != 0x0A && line.size() < kLineSize) {
            line.push_back(byte);
        }
        if (editor.length() != line.size() || editor.length() > kLineSize) abort();
        if (!line.empty() && std::memcmp(editor.line(), line.data(), line.size()) != 0) abort();
    }
    return 0;
}
