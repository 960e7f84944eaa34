// The simple-mode line editor and the advanced-mode input decision over client bytes, with the
// console's input mode and the output gate changing between them, for a client in the ANSI code
// page and for a UTF-8 one (whose bytes are decoded first, as the input loops decode them), and
// now and then a decoded key at a line prompt.  The editor is checked against a model of the
// line, its cursor and its history: what a carriage return hands the console is exactly what was
// typed.  While every change to the line was echoed, its echo rendered on a model of the client's
// row must show the line as it is, the cursor in its place.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "InputRoute.h"
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

constexpr char32_t kWideTail = 0xFFFFFFFF;  // the second column of a wide character

// The client's row: characters by column, and the column of its cursor.
struct Row {
    std::u32string cells;
    size_t column = 0;

    void Put(char32_t c, bool wide) {
        if (cells.size() < column + (wide ? 2 : 1)) cells.resize(column + (wide ? 2 : 1), U' ');
        cells[column++] = c;
        if (wide) cells[column++] = kWideTail;
    }
    // Echo bytes as a terminal without ANSI support takes them.
    void Render(const std::string& text, bool utf8) {
        Utf8Decoder decoder;
        for (char byte : text) {
            char32_t decoded[2] = {static_cast<BYTE>(byte), 0};
            const int count = utf8 ? decoder.Feed(static_cast<BYTE>(byte), decoded) : 1;
            for (int k = 0; k < count; ++k) {
                const char32_t c = decoded[k];
                if (c == U'\b') {
                    if (column == 0) abort();  // the echo never goes before the line
                    --column;
                } else if (c == U'\r') {
                    column = 0;
                } else if (c == U'\n') {
                    cells.clear();
                } else if (c == U'\a') {
                } else if (c < 0x20 || c == 0x7F || (utf8 && IsC1Control(c))) {
                    abort();  // nothing else, and never an escape sequence
                } else {
                    Put(c, utf8 && CharacterColumns(c) == 2);
                }
            }
        }
    }
};

// The line as the client should see it, and the columns before `cursor`.
Row Expected(const std::string& line, size_t cursor, bool utf8) {
    Row row;
    Utf8Decoder decoder;
    size_t cursor_column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (i == cursor) cursor_column = row.column;
        const BYTE byte = static_cast<BYTE>(line[i]);
        char32_t decoded[2] = {byte, 0};
        if (utf8 && byte >= 0x80) {
            if (decoder.Feed(byte, decoded) == 0) continue;
            // A control of U+0080 to U+009F is echoed as U+FFFD.
            if (IsC1Control(decoded[0])) decoded[0] = kReplacementCharacter;
            row.Put(decoded[0], CharacterColumns(decoded[0]) == 2);
        } else if (byte < 0x20) {
            row.Put(U'^', false);
            row.Put(byte + 0x40, false);
        } else {
            row.Put(byte, false);
        }
    }
    if (cursor < line.size()) row.column = cursor_column;
    return row;
}

std::u32string Trimmed(std::u32string cells) {
    while (!cells.empty() && cells.back() == U' ') cells.pop_back();
    return cells;
}

// Where the character before or after `at` begins or ends in the model line.
size_t Previous(const std::string& line, size_t at, bool utf8) {
    --at;
    while (utf8 && at > 0 && (static_cast<BYTE>(line[at]) & 0xC0) == 0x80) --at;
    return at;
}
size_t Next(const std::string& line, size_t at, bool utf8) {
    ++at;
    while (utf8 && at < line.size() && (static_cast<BYTE>(line[at]) & 0xC0) == 0x80) ++at;
    return at;
}

const WORD kKeys[] = {VK_LEFT, VK_RIGHT, VK_HOME, VK_END,    VK_DELETE,
                      VK_UP,   VK_DOWN,  VK_F5,   VK_INSERT, VK_PRIOR};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool utf8 = input.ConsumeIntegralInRange(0, 3) == 0;
    LineEditor editor;
    editor.set_utf8(utf8);
    Utf8Decoder decoder;
    std::string line;  // the model, in bytes
    size_t cursor = 0;
    std::vector<std::string> history;
    size_t recalled = 0;
    Row row;
    bool row_valid = true;  // every change to the line since the row was cleared was echoed
    DWORD previous_mode = 0;
    DWORD mode = InputMode(input);
    while (input.remaining_bytes() > 0) {
        if (input.ConsumeIntegralInRange(0, 15) == 0) mode = InputMode(input);
        const bool gate = input.ConsumeIntegralInRange(0, 15) != 0;
        const bool echo = (mode & ENABLE_ECHO_INPUT) != 0;

        if (input.ConsumeIntegralInRange(0, 3) == 0) {
            // A key, as the input loop hands one to the editor.
            ClientInput unit;
            unit.is_key = true;
            KeySequence& key = unit.key;
            key.kind = KeySequence::Kind::kKey;
            key.virtual_key = input.PickValueInArray(kKeys);
            key.modifiers = input.ConsumeIntegralInRange(0, 7) == 0 ? 0x10 : 0;
            std::vector<EditorAction> actions = editor.Take(unit, mode, gate);
            if (DecideInputRoute(InputLoop::kSimple, unit, mode, gate) != InputRoute::kLineEditor) {
                // Not the editor's: it resumes paused output or goes to the console as the key,
                // and the line, its cursor and the mode it was typed in stay as they were.
                if (actions.size() != 1) abort();
                if (gate ? actions[0].kind != EditorAction::Kind::kInject ||
                               !actions[0].input.is_key ||
                               actions[0].input.key.virtual_key != key.virtual_key
                         : actions[0].kind != EditorAction::Kind::kSetGate)
                    abort();
                if (editor.length() != line.size() || editor.cursor() != cursor) abort();
                continue;
            }
            if (mode != previous_mode) {
                line.clear();
                cursor = 0;
                recalled = history.size();
                row = Row();
                row_valid = true;
            }
            previous_mode = mode;
            for (const EditorAction& action : actions) {
                if (action.kind != EditorAction::Kind::kEcho || !echo || action.echo.empty())
                    abort();
                row.Render(action.echo, utf8);
            }
            const std::string before = line;
            const size_t cursor_before = cursor;
            if (key.modifiers != 0) {
            } else if (key.virtual_key == VK_LEFT && cursor > 0) {
                cursor = Previous(line, cursor, utf8);
            } else if (key.virtual_key == VK_RIGHT && cursor < line.size()) {
                cursor = Next(line, cursor, utf8);
            } else if (key.virtual_key == VK_HOME) {
                cursor = 0;
            } else if (key.virtual_key == VK_END) {
                cursor = line.size();
            } else if (key.virtual_key == VK_DELETE && cursor < line.size()) {
                line.erase(cursor, Next(line, cursor, utf8) - cursor);
            } else if (key.virtual_key == VK_UP && recalled > 0) {
                line = history[--recalled];
                cursor = line.size();
            } else if (key.virtual_key == VK_DOWN && recalled + 1 < history.size()) {
                line = history[++recalled];
                cursor = line.size();
            }
            if (!echo && (line != before || cursor != cursor_before)) row_valid = false;
        } else {
            const BYTE byte = input.ConsumeIntegral<BYTE>();

            // The advanced-mode decision is total: every byte in every mode gets one of its routes,
            // never one of simple mode's own, whatever the gate.
            if (static_cast<int>(
                    DecideInputRoute(InputLoop::kAdvanced, ClientInput::Byte(byte), mode, gate)) >
                static_cast<int>(InputRoute::kKeyCommand))
                abort();

            char32_t decoded[2] = {byte, 0};
            const int count = utf8 ? decoder.Feed(byte, decoded) : 1;
            for (int k = 0; k < count; ++k) {
                const char32_t c = decoded[k];
                const bool wide = utf8 && c >= 0x80;
                // A new program has the line cleared and a fresh row.
                if (mode != previous_mode) {
                    row = Row();
                    row_valid = true;
                }
                std::vector<EditorAction> actions = editor.Take(
                    wide ? ClientInput::Character(c) : ClientInput::Byte(static_cast<BYTE>(c)),
                    mode, gate);
                std::u32string injected;
                for (const EditorAction& action : actions) {
                    if (action.kind == EditorAction::Kind::kWrite &&
                        (action.length == 0 || action.length > sizeof action.text))
                        abort();
                    if (action.kind == EditorAction::Kind::kWrite)
                        row.Render(std::string(action.text, action.length), utf8);
                    if (action.kind == EditorAction::Kind::kEcho) {
                        if (action.echo.empty()) abort();
                        row.Render(action.echo, utf8);
                    }
                    if (action.kind != EditorAction::Kind::kInject) continue;
                    const ClientInput& key = action.input;
                    if (key.is_key || (key.character != 0 && (!utf8 || key.character < 0x80)))
                        abort();
                    injected += key.character != 0 ? key.character : key.byte;
                }

                if (mode != previous_mode) {
                    line.clear();
                    cursor = 0;
                    recalled = history.size();
                }
                const std::string before = line;
                previous_mode = mode;
                const bool processed = (mode & ENABLE_PROCESSED_INPUT) != 0;
                const bool line_input = (mode & ENABLE_LINE_INPUT) != 0;
                char bytes[kMaxUtf8Length] = {static_cast<char>(c)};
                const DWORD length = wide ? EncodeUtf8(c, bytes) : 1;
                if (!processed) {
                    if (gate ? injected != std::u32string(1, c) : !injected.empty()) abort();
                } else if (!wide && c == 0x03) {
                    line.clear();
                    recalled = history.size();
                } else if (!gate || (!wide && c == 0x13)) {
                    if (!injected.empty()) abort();
                } else if (!line_input) {
                    if (c != 0x01 && injected != std::u32string(1, c)) abort();
                } else if (!wide && c == 0x0D) {
                    if (injected != Keys(line, utf8) + U'\r') abort();
                    if (echo && !line.empty() && (history.empty() || history.back() != line))
                        history.push_back(line);
                    if (history.size() > kHistorySize) history.erase(history.begin());
                    recalled = history.size();
                    line.clear();
                } else if (!wide && (c == 0x08 || c == 0x7F)) {
                    // A UTF-8 line loses the whole character before the cursor.
                    if (cursor > 0) {
                        const size_t start = Previous(line, cursor, utf8);
                        line.erase(start, cursor - start);
                        cursor = start;
                    }
                } else if (!wide && (c == 0x1B || c == 0x15)) {
                    line.clear();
                } else if (c != 0x0A && line.size() + length <= kLineSize) {
                    line.insert(cursor, bytes, length);
                    cursor += length;
                }
                if (line.empty()) cursor = 0;
                // Enter and Ctrl-C end the row: the next line starts a fresh one.
                if (!wide && processed && (c == 0x03 || (c == 0x0D && gate && line_input))) {
                    row = Row();
                    row_valid = true;
                } else if (line != before && !echo) {
                    row_valid = false;
                }
                if (editor.length() != line.size() || editor.length() > kLineSize) abort();
                if (!line.empty() && std::memcmp(editor.line(), line.data(), line.size()) != 0)
                    abort();
            }
        }
        if (editor.length() != line.size() || editor.cursor() != cursor) abort();
        if (!line.empty() && std::memcmp(editor.line(), line.data(), line.size()) != 0) abort();
        if (row_valid && (mode & ENABLE_LINE_INPUT) && (mode & ENABLE_PROCESSED_INPUT)) {
            const Row expected = Expected(line, cursor, utf8);
            if (Trimmed(row.cells) != Trimmed(expected.cells) || row.column != expected.column)
                abort();
        }
    }
    return 0;
}
