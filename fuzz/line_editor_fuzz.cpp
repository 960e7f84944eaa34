// The simple-mode line editor and the advanced-mode input decision over client bytes, with the
// console's input mode and the output gate changing between them, for a client in the ANSI code
// page and for a UTF-8 one (whose bytes are decoded first, as the input loops decode them).  The
// editor is checked against a model of the line: what a carriage return hands the console is
// exactly what was typed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AdvancedInput.h"
#include "LineEditor.h"
#include "Utf8.h"

namespace {

// The input modes that matter, in every combination, and now and then any value at all.
DWORD InputMode(FuzzedDataProvider& input) {
    if (input.ConsumeIntegralInRange(0, 7) == 0) return input.ConsumeIntegral<DWORD>();
    uint8_t bits = input.ConsumeIntegral<uint8_t>();
    return ((bits & 1) ? ENABLE_PROCESSED_INPUT : 0) | ((bits & 2) ? ENABLE_LINE_INPUT : 0) |
           ((bits & 4) ? ENABLE_ECHO_INPUT : 0);
}

// The characters of a line as the console gets them: bytes, or with utf8 its UTF-8 decoded.
std::u32string Keys(const std::string& line, bool utf8) {
    std::u32string keys;
    Utf8Decoder decoder;
    for (char byte : line) {
        char32_t decoded[2] = {static_cast<BYTE>(byte), 0};
        int count = utf8 ? decoder.Feed(static_cast<BYTE>(byte), decoded) : 1;
        keys.append(decoded, decoded + count);
    }
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool utf8 = input.ConsumeIntegralInRange(0, 3) == 0;
    LineEditor editor;
    editor.set_utf8(utf8);
    Utf8Decoder decoder;
    std::string line;  // the model, in bytes
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

        char32_t decoded[2] = {byte, 0};
        const int count = utf8 ? decoder.Feed(byte, decoded) : 1;
        for (int k = 0; k < count; ++k) {
            const char32_t c = decoded[k];
            const bool wide = utf8 && c >= 0x80;
            std::vector<EditorAction> actions = wide
                                                    ? editor.TakeCharacter(c, mode, gate)
                                                    : editor.Take(static_cast<BYTE>(c), mode, gate);
            std::u32string injected;
            for (const EditorAction& action : actions) {
                if (action.kind == EditorAction::Kind::kWrite &&
                    (action.length == 0 || action.length > sizeof action.text))
                    abort();
                if (action.kind == EditorAction::Kind::kInjectKey) injected += action.byte;
                if (action.kind == EditorAction::Kind::kInjectCharacter) {
                    if (!utf8 || action.character < 0x80) abort();
                    injected += action.character;
                }
            }

            if (mode != previous_mode) line.clear();
            previous_mode = mode;
            const bool processed = (mode & ENABLE_PROCESSED_INPUT) != 0;
            const bool line_input = (mode & ENABLE_LINE_INPUT) != 0;
            char bytes[kMaxUtf8Length] = {static_cast<char>(c)};
            const DWORD length = wide ? EncodeUtf8(c, bytes) : 1;
            if (!processed) {
                if (gate ? injected != std::u32string(1, c) : !injected.empty()) abort();
            } else if (!wide && c == 0x03) {
                line.clear();
            } else if (!gate || (!wide && c == 0x13)) {
                if (!injected.empty()) abort();
            } else if (!line_input) {
                if (c != 0x01 && injected != std::u32string(1, c)) abort();
            } else if (!wide && c == 0x0D) {
                if (injected != Keys(line, utf8) + U'\r') abort();
                line.clear();
            } else if (!wide && (c == 0x08 || c == 0x7F)) {
                // A UTF-8 line loses its whole last character.
                while (utf8 && !line.empty() && (static_cast<BYTE>(line.back()) & 0xC0) == 0x80)
                    line.pop_back();
                if (!line.empty()) line.pop_back();
            } else if (!wide && (c == 0x1B || c == 0x15)) {
                line.clear();
            } else if (c != 0x0A && line.size() + length <= kLineSize) {
                line.append(bytes, length);
            }
            if (editor.length() != line.size() || editor.length() > kLineSize) abort();
            if (!line.empty() && std::memcmp(editor.line(), line.data(), line.size()) != 0) abort();
        }
    }
    return 0;
}
