// The simple-mode line editor and the advanced-mode input decision over client bytes, with the
// console's input mode and the output gate changing between them, for a client in the ANSI code
// page and for a UTF-8 one (whose bytes are decoded first, as the input loops decode them), and
// now and then a decoded key at a line prompt.  The editor is checked against a model of the
// line, its cursor and its history: what a carriage return hands the console is exactly what was
// typed.  While every change to the line was echoed, its echo rendered on a model of the client's
// terminal (a few columns wide, rows that wrap, or one row without end when neither key sequences
// nor UTF-8 are on; after a prompt of any length) must show the line as it is, at least up to its
// cursor, the cursor in its place.  A UTF-8 client also types characters of no width and of two
// columns.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "InputRoute.h"
#include "LineEditor.h"
#include "OutputRelay.h"
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

constexpr char32_t kWideTail = 0xFFFFFFFF;  // the second column of a wide character

// The client's terminal: rows of cells (a character and the marks of no width joined to it),
// `width` columns wide (0: rows without end) with the deferred wrap of common terminals: after
// the last column the cursor stays there until the next character, and a backspace from there
// lands one column short.
struct Screen {
    size_t width = 0;
    bool utf8 = false;
    std::vector<std::vector<std::u32string>> rows{1};
    size_t row = 0, column = 0;
    bool pending_wrap = false;

    std::u32string& Cell(size_t r, size_t c) {
        if (rows.size() <= r) rows.resize(r + 1);
        if (rows[r].size() <= c) rows[r].resize(c + 1);
        return rows[r][c];
    }
    void Put(char32_t c) {
        const int columns = utf8 && c >= 0x80 ? CharacterColumns(c) : 1;
        if (columns == 0) {
            // Joins the character before the cursor, if there is one in the row.
            size_t at = pending_wrap ? column : column - 1;
            if (!pending_wrap && column == 0) return;
            if (Cell(row, at) == std::u32string(1, kWideTail) && at > 0) --at;
            Cell(row, at) += c;
            return;
        }
        if (pending_wrap) {
            ++row;
            column = 0;
            pending_wrap = false;
        }
        if (width > 0 && columns == 2 && column + 1 >= width) abort();  // left to the terminal
        Cell(row, column) = std::u32string(1, c);
        if (columns == 2) Cell(row, column + 1) = std::u32string(1, kWideTail);
        column += static_cast<size_t>(columns);
        if (width > 0 && column >= width) {
            column = width - 1;
            pending_wrap = true;
        }
    }
    // Bytes as a terminal without ANSI support takes them.
    void Render(const std::string& text, size_t* display_row, size_t* display_start) {
        Utf8Decoder decoder;
        for (char byte : text) {
            char32_t decoded[2] = {static_cast<BYTE>(byte), 0};
            const int count = utf8 ? decoder.Feed(static_cast<BYTE>(byte), decoded) : 1;
            for (int k = 0; k < count; ++k) {
                const char32_t c = decoded[k];
                if (c == U'\b') {
                    if (column > 0) --column;
                    pending_wrap = false;
                } else if (c == U'\r') {
                    column = 0;
                    pending_wrap = false;
                } else if (c == U'\n') {
                    ++row;
                    pending_wrap = false;
                    // The echo's new row: the line is shown again from its start.
                    *display_row = row;
                    *display_start = 0;
                } else if (c == U'\a') {
                } else if (c < 0x20 || c == 0x7F || (utf8 && IsC1Control(c))) {
                    abort();  // nothing else, and never an escape sequence
                } else {
                    Put(c);
                }
            }
        }
    }
    // A new program: what the line showed after the cursor is gone (blanks in the model).
    void ClearAfterCursor() {
        for (size_t r = row; r < rows.size(); ++r) {
            for (size_t c = r == row ? column + (pending_wrap ? 1 : 0) : 0; c < rows[r].size(); ++c)
                rows[r][c].clear();
        }
    }
    // The cursor as a count of columns from the start of row `from`.
    size_t Linear(size_t from) const {
        const size_t w = width > 0 ? width : 1000000;
        return (row - from) * w + column + (pending_wrap ? 1 : 0);
    }
};

// The line as the client should see it from (row 0, `start`) on a screen like `screen`, and where
// its cursor should be: a blank before a wide character that would begin in a row's last column.
Screen Expected(const std::string& line, size_t cursor, size_t start, const Screen& like,
                size_t* cursor_at) {
    Screen expected;
    expected.width = like.width;
    expected.utf8 = like.utf8;
    expected.column = start;
    Utf8Decoder decoder;
    *cursor_at = std::string::npos;
    for (size_t i = 0; i < line.size(); ++i) {
        const BYTE byte = static_cast<BYTE>(line[i]);
        char32_t decoded[2] = {byte, 0};
        if (like.utf8 && byte >= 0x80 && decoder.Feed(byte, decoded) == 0) continue;
        const size_t begin = like.utf8 && byte >= 0x80 ? Previous(line, i + 1, true) : i;
        // A control of U+0080 to U+009F is echoed as U+FFFD.
        const char32_t c =
            like.utf8 && IsC1Control(decoded[0]) ? kReplacementCharacter : decoded[0];
        const bool wide = like.utf8 && c >= 0x80 && CharacterColumns(c) == 2;
        if (wide && like.width >= 2 && !expected.pending_wrap && expected.column == like.width - 1)
            expected.Put(U' ');
        if (begin == cursor) *cursor_at = expected.Linear(0);
        if (byte < 0x20) {
            expected.Put(U'^');
            expected.Put(byte + 0x40);
        } else {
            expected.Put(c);
        }
    }
    if (*cursor_at == std::string::npos) *cursor_at = expected.Linear(0);
    return expected;
}

// The rows from `display_row` on show the line from (`display_row`, `start`), as far as at least
// its cursor, with nothing after what they show of it; the cursor is the line's.
bool ShowsTheLine(const Screen& screen, size_t display_row, size_t start, const std::string& line,
                  size_t cursor) {
    size_t cursor_at = 0;
    const Screen expected = Expected(line, cursor, start, screen, &cursor_at);
    if (screen.Linear(display_row) != cursor_at) return false;
    const size_t w = screen.width > 0 ? screen.width : 1000000;
    bool shown_all = false;  // past the part shown: blanks only from here
    for (size_t r = display_row; r < screen.rows.size() || r - display_row < expected.rows.size();
         ++r) {
        const auto empty = std::vector<std::u32string>();
        const auto& got = r < screen.rows.size() ? screen.rows[r] : empty;
        const auto& want =
            r - display_row < expected.rows.size() ? expected.rows[r - display_row] : empty;
        for (size_t c = r == display_row ? start : 0; c < std::max(got.size(), want.size()); ++c) {
            const std::u32string g = c < got.size() ? got[c] : U"";
            const std::u32string e = c < want.size() ? want[c] : U"";
            const bool blank = g.empty() || g == U" ";
            if (!shown_all && g == e) continue;
            if (!shown_all && (e.empty() || e == U" ") && blank) continue;
            if (!blank || (r - display_row) * w + c < cursor_at) return false;
            shown_all = true;
        }
    }
    return true;
}

// Whether the character at `at` takes no column; the cursor keys and Delete take a character with
// those after it.
bool ZeroWidth(const std::string& line, size_t at, bool utf8) {
    if (!utf8 || at >= line.size() || static_cast<BYTE>(line[at]) < 0x80) return false;
    Utf8Decoder decoder;
    char32_t decoded[2] = {0, 0};
    for (size_t i = at; i < Next(line, at, true); ++i)
        decoder.Feed(static_cast<BYTE>(line[i]), decoded);
    return CharacterColumns(decoded[0]) == 0;
}
size_t PreviousCell(const std::string& line, size_t at, bool utf8) {
    at = Previous(line, at, utf8);
    while (at > 0 && ZeroWidth(line, at, utf8)) at = Previous(line, at, utf8);
    return at;
}
size_t NextCell(const std::string& line, size_t at, bool utf8) {
    at = Next(line, at, utf8);
    while (at < line.size() && ZeroWidth(line, at, utf8)) at = Next(line, at, utf8);
    return at;
}

// Characters of no width, of two columns and of one beyond ASCII, for a UTF-8 client.
const char32_t kCharacters[] = {0x0301,  0x200D,  0xFE0F, 0x65E5, 0xFF21,
                                0x1F680, 0x1F600, 0xE9,   0x2500};

const WORD kKeys[] = {VK_LEFT, VK_RIGHT, VK_HOME, VK_END,    VK_DELETE,
                      VK_UP,   VK_DOWN,  VK_F5,   VK_INSERT, VK_PRIOR};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool utf8 = input.ConsumeIntegralInRange(0, 3) == 0;
    LineEditor editor;
    editor.set_utf8(utf8);
    // With key sequences or UTF-8 the echo knows the terminal's width; without both it does not.
    Screen screen;
    screen.utf8 = utf8;
    screen.width = utf8 || input.ConsumeBool() ? input.ConsumeIntegralInRange<size_t>(2, 12) : 0;
    DWORD client_column = 0;  // as the input loop tracks it
    size_t display_row = 0, display_start = 0;
    auto send = [&](const std::string& bytes, bool from_relay) {
        size_t row = 0, start = 0;
        screen.Render(bytes, from_relay ? &row : &display_row,
                      from_relay ? &start : &display_start);
        client_column = AdvanceColumn(client_column, reinterpret_cast<const BYTE*>(bytes.data()),
                                      static_cast<DWORD>(bytes.size()), utf8);
    };
    // A prompt from the command processor: the line begins after it.
    auto prompt = [&] {
        send(std::string(input.ConsumeIntegralInRange<size_t>(0, screen.width + 2), 'P'), true);
    };
    prompt();
    Utf8Decoder decoder;
    std::string line;  // the model, in bytes
    size_t cursor = 0;
    std::vector<std::string> history;
    size_t recalled = 0;
    bool row_valid = true;  // every change to the line since it was empty was echoed
    DWORD previous_mode = 0;
    DWORD mode = InputMode(input);
    while (input.remaining_bytes() > 0) {
        if (input.ConsumeIntegralInRange(0, 15) == 0) mode = InputMode(input);
        editor.set_terminal(static_cast<DWORD>(screen.width), client_column);
        // Where an empty line begins: where the client's cursor is, as the editor takes it.
        auto rebase = [&] {
            row_valid = true;
            display_row = screen.row + (screen.pending_wrap ? 1 : 0);
            display_start = screen.pending_wrap ? 0 : screen.column;
            if (screen.width > 0 && client_column % screen.width != display_start) abort();
        };
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
            if (mode != previous_mode &&
                DecideInputRoute(InputLoop::kSimple, unit, mode, gate) == InputRoute::kLineEditor) {
                screen.ClearAfterCursor();
                rebase();
            }
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
            }
            previous_mode = mode;
            for (const EditorAction& action : actions) {
                if (action.kind != EditorAction::Kind::kEcho || !echo || action.echo.empty())
                    abort();
                send(action.echo, false);
            }
            const std::string before = line;
            const size_t cursor_before = cursor;
            if (key.modifiers != 0) {
            } else if (key.virtual_key == VK_LEFT && cursor > 0) {
                cursor = PreviousCell(line, cursor, utf8);
            } else if (key.virtual_key == VK_RIGHT && cursor < line.size()) {
                cursor = NextCell(line, cursor, utf8);
            } else if (key.virtual_key == VK_HOME) {
                cursor = 0;
            } else if (key.virtual_key == VK_END) {
                cursor = line.size();
            } else if (key.virtual_key == VK_DELETE && cursor < line.size()) {
                line.erase(cursor, NextCell(line, cursor, utf8) - cursor);
            } else if (key.virtual_key == VK_UP && recalled > 0) {
                line = history[--recalled];
                cursor = line.size();
            } else if (key.virtual_key == VK_DOWN && recalled + 1 < history.size()) {
                line = history[++recalled];
                cursor = line.size();
            }
            if (!echo && (line != before || cursor != cursor_before)) row_valid = false;
        } else {
            // A byte, or for a UTF-8 client now and then one of the characters above whole.
            const bool picked = utf8 && input.ConsumeIntegralInRange(0, 3) == 0;
            const BYTE byte = picked ? 0 : input.ConsumeIntegral<BYTE>();

            // The advanced-mode decision is total: every byte in every mode gets one of its routes,
            // never one of simple mode's own, whatever the gate.
            if (static_cast<int>(
                    DecideInputRoute(InputLoop::kAdvanced, ClientInput::Byte(byte), mode, gate)) >
                static_cast<int>(InputRoute::kKeyCommand))
                abort();

            char32_t decoded[2] = {byte, 0};
            if (picked) decoded[0] = input.PickValueInArray(kCharacters);
            const int count = picked ? 1 : utf8 ? decoder.Feed(byte, decoded) : 1;
            for (int k = 0; k < count; ++k) {
                const char32_t c = decoded[k];
                const bool wide = utf8 && c >= 0x80;
                if (mode != previous_mode) {
                    screen.ClearAfterCursor();
                    rebase();
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
                        send(std::string(action.text, action.length), false);
                    if (action.kind == EditorAction::Kind::kEcho) {
                        if (action.echo.empty()) abort();
                        send(action.echo, false);
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
                    // The cursor goes past what now joins the new character.
                    while (ZeroWidth(line, cursor, utf8)) cursor = Next(line, cursor, utf8);
                }
                if (line.empty()) cursor = 0;
                // After Enter and Ctrl-C the command processor prompts again.
                if (!wide && processed && (c == 0x03 || (c == 0x0D && gate && line_input)))
                    prompt();
                if (line != before && !echo) row_valid = false;
                if (editor.length() != line.size() || editor.length() > kLineSize) abort();
                if (!line.empty() && std::memcmp(editor.line(), line.data(), line.size()) != 0)
                    abort();
            }
        }
        if (editor.length() != line.size() || editor.cursor() != cursor) abort();
        if (!line.empty() && std::memcmp(editor.line(), line.data(), line.size()) != 0) abort();
        if (line.empty()) rebase();
        if (row_valid && (mode & ENABLE_LINE_INPUT) && (mode & ENABLE_PROCESSED_INPUT) &&
            !ShowsTheLine(screen, display_row, display_start, line, cursor))
            abort();
    }
    return 0;
}
