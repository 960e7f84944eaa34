// Simple mode line editor: local echo and editing of the client's line, keys to the console.
#include "LineEditor.h"

#include <cstring>
#include <utility>

#include "KeyInput.h"
#include "Reporter.h"
#include "Utf8.h"
#include "ZEVENT.h"

namespace {

constexpr BYTE kBackspace = 0x08;
constexpr BYTE kLineFeed = 0x0A;
constexpr BYTE kCarriageReturn = 0x0D;
constexpr BYTE kCtrlU = 0x15;
constexpr BYTE kEscape = 0x1B;
constexpr BYTE kDelete = 0x7F;

// Erasing a column: back, blank, back.  A control byte was shown as two columns.
constexpr char kEraseColumns[] = "\b \b\b \b";

EditorAction Simple(EditorAction::Kind kind) {
    EditorAction action;
    action.kind = kind;
    return action;
}

EditorAction Inject(const ClientInput& input) {
    EditorAction action = Simple(EditorAction::Kind::kInject);
    action.input = input;
    return action;
}

EditorAction Write(const char* text, DWORD length, const char* failure) {
    EditorAction action = Simple(EditorAction::Kind::kWrite);
    std::memcpy(action.text, text, length);
    action.length = length;
    action.failure = failure;
    return action;
}

EditorAction Echo(std::string text, const char* failure) {
    EditorAction action = Simple(EditorAction::Kind::kEcho);
    action.echo = std::move(text);
    action.failure = failure;
    return action;
}

// Appends the echo of a UTF-8 line's character `c`, held in the `count` bytes at `bytes`: those
// bytes, or U+FFFD for a control that a UTF-8 terminal would act on (U+009B starts a sequence).
void AppendEcho(char32_t c, const BYTE* bytes, DWORD count, std::string* out) {
    char replacement[kMaxUtf8Length];
    if (IsC1Control(c)) {
        out->append(replacement, EncodeUtf8(kReplacementCharacter, replacement));
    } else {
        out->append(reinterpret_cast<const char*>(bytes), count);
    }
}

EditorAction SleepFor(DWORD milliseconds) {
    EditorAction action = Simple(EditorAction::Kind::kSleep);
    action.milliseconds = milliseconds;
    return action;
}

}  // namespace

std::vector<EditorAction> LineEditor::Take(const ClientInput& input, DWORD input_mode,
                                           bool gate_set) {
    using Kind = EditorAction::Kind;
    std::vector<EditorAction> actions;
    // A key that is not the editor's leaves the line, and the mode it was typed in, as they were.
    if (!input.is_key) NewMode(input_mode);
    const bool echo = (input_mode & ENABLE_ECHO_INPUT) != 0;

    switch (DecideInputRoute(InputLoop::kSimple, input, input_mode, gate_set)) {
        case InputRoute::kCtrlCEvent:
            actions.push_back(Simple(Kind::kCtrlCEvent));
            length_ = cursor_ = 0;
            recalled_ = history_.size();
            if (!gate_set) actions.push_back(Simple(Kind::kSetGate));
            if (echo) {
                actions.push_back(SleepFor(kCtrlCEchoDelayMs));
                actions.push_back(Write("\r\n\n>", 4, "Error echoing CRLF after ^C: %lu"));
            }
            break;
        case InputRoute::kResumeOutput:
            actions.push_back(Simple(Kind::kSetGate));
            break;
        case InputRoute::kPauseOutput:
            actions.push_back(Simple(Kind::kResetGate));
            break;
        case InputRoute::kKeyCommand:
            actions.push_back(Simple(Kind::kRunKeyCommand));
            break;
        case InputRoute::kLineEditor:
            if (input.is_key) return TakeKey(input.key, input_mode);
            if (input.character != 0) {
                TakeLineCharacter(input.character, echo, &actions);
            } else {
                TakeLineByte(input.byte, echo, &actions);
            }
            break;
        default:  // kInject; the advanced loop's own never come up here
            actions.push_back(Inject(input));
            break;
    }
    return actions;
}

void LineEditor::TakeLineByte(BYTE byte, bool echo, std::vector<EditorAction>* actions) {
    using Kind = EditorAction::Kind;
    switch (byte) {
        case kCarriageReturn: {
            exit_flag_ = false;
            InjectLine(actions);
            Remember(echo);
            if (length_ == 4) {
                char word[5];
                std::memcpy(word, line_, 4);
                word[4] = '\0';
                exit_flag_ = lstrcmpiA(word, "exit") == 0;
            }
            length_ = cursor_ = 0;
            if (echo) actions->push_back(Write("\r\n", 2, "Error echoing CRLF: %lu"));
            actions->push_back(Inject(ClientInput::Byte(kCarriageReturn)));
            // The command processor may be ending: give the child watcher time to notice.
            if (exit_flag_) actions->push_back(Simple(Kind::kExitPause));
            return;
        }
        case kLineFeed:
            return;
        case kBackspace:
        case kDelete:
            if (cursor_ < length_) {
                if (cursor_ == 0) return;
                const DWORD end = cursor_;
                cursor_ = PreviousCharacter(end);
                std::string shown(Show(cursor_, end, nullptr), '\b');
                Remove(cursor_, end, &shown);
                if (echo)
                    actions->push_back(Echo(std::move(shown), "Error erasing a character: %lu"));
                return;
            }
            if (length_ > 0) Erase(echo, "Error erasing a character: %lu", actions);
            cursor_ = length_;
            return;
        case kEscape:
        case kCtrlU:
            if (cursor_ < length_) {
                // To the end of the line first, then erased from there as always.
                std::string shown;
                Show(cursor_, length_, &shown);
                if (echo)
                    actions->push_back(Echo(std::move(shown), "Error erasing characters: %lu"));
            }
            while (length_ > 0) Erase(echo, "Error erasing characters: %lu", actions);
            cursor_ = 0;
            return;
        default:
            break;
    }
    if (cursor_ < length_) {
        Insert(&byte, 1, echo, actions);
        return;
    }
    if (length_ == kLineSize) {
        actions->push_back(Write("\a", 1, nullptr));
        return;
    }
    line_[length_++] = byte;
    cursor_ = length_;
    if (!echo) return;
    if (byte >= 0x20) {
        char shown = static_cast<char>(byte);
        actions->push_back(Write(&shown, 1, "Error echoing input: %lu"));
    } else {
        char shown[2] = {'^', static_cast<char>(byte + 0x40)};
        actions->push_back(Write(shown, 2, "Error echoing input: %lu"));
    }
}

// Removes the last byte of the line, and its one or two columns on the client's screen.
void LineEditor::Erase(bool echo, const char* failure, std::vector<EditorAction>* actions) {
    if (utf8_ && line_[length_ - 1] >= 0x80) {
        EraseCharacter(echo, failure, actions);
        return;
    }
    BYTE removed = line_[--length_];
    if (echo) actions->push_back(Write(kEraseColumns, removed < 0x20 ? 6 : 3, failure));
}

std::vector<EditorAction> LineEditor::TakeKey(const KeySequence& key, DWORD input_mode) {
    std::vector<EditorAction> actions;
    NewMode(input_mode);
    std::string shown;
    // A key with Shift, Ctrl or Alt, and Alt with a character, have no use here.
    const WORD virtual_key = key.modifiers == 0 ? key.virtual_key : 0;
    switch (virtual_key) {
        case VK_LEFT:
            if (cursor_ > 0) {
                const DWORD start = PreviousCharacter(cursor_);
                shown.assign(Show(start, cursor_, nullptr), '\b');
                cursor_ = start;
            }
            break;
        case VK_RIGHT:
            if (cursor_ < length_) {
                const DWORD end = NextCharacter(cursor_);
                Show(cursor_, end, &shown);
                cursor_ = end;
            }
            break;
        case VK_HOME:
            shown.assign(Show(0, cursor_, nullptr), '\b');
            cursor_ = 0;
            break;
        case VK_END:
            Show(cursor_, length_, &shown);
            cursor_ = length_;
            break;
        case VK_DELETE:
            if (cursor_ < length_) Remove(cursor_, NextCharacter(cursor_), &shown);
            break;
        case VK_UP:
            if (recalled_ > 0) Replace(history_[--recalled_], &shown);
            break;
        case VK_DOWN:
            if (recalled_ + 1 < history_.size()) Replace(history_[++recalled_], &shown);
            break;
        default:
            break;
    }
    if ((input_mode & ENABLE_ECHO_INPUT) != 0 && !shown.empty())
        actions.push_back(Echo(std::move(shown), "Error echoing input: %lu"));
    return actions;
}

// A new console program: what was typed for the previous one is of no use to it.
void LineEditor::NewMode(DWORD input_mode) {
    if (input_mode != previous_mode_) {
        length_ = cursor_ = 0;
        recalled_ = history_.size();
    }
    previous_mode_ = input_mode;
}

DWORD LineEditor::NextCharacter(DWORD at) const {
    DWORD next = at + 1;
    if (utf8_) {
        while (next < length_ && (line_[next] & 0xC0) == 0x80) ++next;
    }
    return next;
}

DWORD LineEditor::PreviousCharacter(DWORD at) const {
    return utf8_ ? LastCharacterStart(line_, at) : at - 1;
}

// Appends to `out` (if given) how the characters between the two offsets show on the client's
// screen, and returns the columns they take.
DWORD LineEditor::Show(DWORD from, DWORD to, std::string* out) const {
    DWORD columns = 0;
    for (DWORD i = from; i < to;) {
        const DWORD next = NextCharacter(i);
        const BYTE byte = line_[i];
        if (byte < 0x20) {
            if (out != nullptr) {
                out->push_back('^');
                out->push_back(static_cast<char>(byte + 0x40));
            }
            columns += 2;
        } else if (utf8_ && byte >= 0x80) {
            Utf8Decoder decoder;
            char32_t decoded[2] = {kReplacementCharacter, 0};
            for (DWORD k = i; k < next; ++k) decoder.Feed(line_[k], decoded);
            if (out != nullptr) AppendEcho(decoded[0], line_ + i, next - i, out);
            columns += CharacterColumns(decoded[0]);
        } else {
            if (out != nullptr) out->push_back(static_cast<char>(byte));
            columns += 1;
        }
        i = next;
    }
    return columns;
}

// Inserts a character at the cursor, redrawing the rest of the line after it.
void LineEditor::Insert(const BYTE* bytes, DWORD count, bool echo,
                        std::vector<EditorAction>* actions) {
    if (length_ + count > kLineSize) {
        actions->push_back(Write("\a", 1, nullptr));
        return;
    }
    std::memmove(line_ + cursor_ + count, line_ + cursor_, length_ - cursor_);
    std::memcpy(line_ + cursor_, bytes, count);
    const DWORD start = cursor_;
    cursor_ += count;
    length_ += count;
    if (!echo) return;
    std::string shown;
    Show(start, cursor_, &shown);
    shown.append(Show(cursor_, length_, &shown), '\b');
    actions->push_back(Echo(std::move(shown), "Error echoing input: %lu"));
}

// Removes the bytes between the two offsets, the cursor and the client's at the first: the rest
// of the line moves left over them and blanks cover the columns it leaves.
void LineEditor::Remove(DWORD from, DWORD to, std::string* echo) {
    const DWORD removed = Show(from, to, nullptr);
    std::memmove(line_ + from, line_ + to, length_ - to);
    length_ -= to - from;
    cursor_ = from;
    const DWORD rest = Show(cursor_, length_, echo);
    echo->append(removed, ' ');
    echo->append(rest + removed, '\b');
}

// Shows `text` in place of the line, the cursor at its end.
void LineEditor::Replace(const std::string& text, std::string* echo) {
    echo->append(Show(0, cursor_, nullptr), '\b');
    const DWORD before = Show(0, length_, nullptr);
    std::memcpy(line_, text.data(), text.size());
    length_ = cursor_ = static_cast<DWORD>(text.size());
    const DWORD now = Show(0, length_, echo);
    if (before > now) {
        echo->append(before - now, ' ');
        echo->append(before - now, '\b');
    }
}

// A line passed on with echo becomes the newest of the history; one typed without echo, as a
// password is, never does.
void LineEditor::Remember(bool echo) {
    if (echo && length_ > 0) {
        std::string line(reinterpret_cast<const char*>(line_), length_);
        if (history_.empty() || history_.back() != line) history_.push_back(std::move(line));
        if (history_.size() > kHistorySize) history_.erase(history_.begin());
    }
    recalled_ = history_.size();
}

// A character beyond ASCII at a line-input prompt.  The line's bound counts bytes: a character
// that does not fit whole is refused.
void LineEditor::TakeLineCharacter(char32_t character, bool echo,
                                   std::vector<EditorAction>* actions) {
    char bytes[kMaxUtf8Length];
    DWORD count = EncodeUtf8(character, bytes);
    if (cursor_ < length_) {
        Insert(reinterpret_cast<const BYTE*>(bytes), count, echo, actions);
        return;
    }
    if (length_ + count > kLineSize) {
        actions->push_back(Write("\a", 1, nullptr));
        return;
    }
    std::memcpy(line_ + length_, bytes, count);
    length_ += count;
    cursor_ = length_;
    if (!echo) return;
    std::string shown;
    AppendEcho(character, reinterpret_cast<const BYTE*>(bytes), count, &shown);
    actions->push_back(
        Write(shown.data(), static_cast<DWORD>(shown.size()), "Error echoing input: %lu"));
}

// Removes the last character of a UTF-8 line, and each column it took.
void LineEditor::EraseCharacter(bool echo, const char* failure,
                                std::vector<EditorAction>* actions) {
    DWORD start = LastCharacterStart(line_, length_);
    Utf8Decoder decoder;
    char32_t decoded[2] = {kReplacementCharacter, 0};
    for (DWORD i = start; i < length_; ++i) decoder.Feed(line_[i], decoded);
    length_ = start;
    if (echo) actions->push_back(Write(kEraseColumns, 3 * CharacterColumns(decoded[0]), failure));
}

// The keys of the line at Enter: a UTF-8 line character by character.
void LineEditor::InjectLine(std::vector<EditorAction>* actions) const {
    Utf8Decoder decoder;
    for (DWORD i = 0; i < length_; ++i) {
        if (!utf8_ || line_[i] < 0x80) {
            actions->push_back(Inject(ClientInput::Byte(line_[i])));
            continue;
        }
        char32_t decoded[2];
        if (decoder.Feed(line_[i], decoded) > 0)
            actions->push_back(Inject(ClientInput::Character(decoded[0])));
    }
}

void RunSimpleInput(const Settings& settings) {
    LineEditor editor;
    editor.set_utf8(settings.utf8_client != 0);
    // Until a query succeeds the console counts as raw input; later failures keep the last mode.
    DWORD input_mode = 0;
    KeyReader reader(settings.key_sequences != 0, settings.utf8_client != 0);
    ClientInput input;
    while (reader.Next(&input)) {
        RefreshInputMode(&input_mode);
        const bool gate_set = g_output_gate.IsSet() != 0;
        for (const EditorAction& action : editor.Take(input, input_mode, gate_set)) {
            switch (action.kind) {
                case EditorAction::Kind::kInject:
                    InjectInput(action.input);
                    break;
                case EditorAction::Kind::kWrite: {
                    if (!WriteToClient(action.text, action.length) && action.failure != nullptr) {
                        ReportError(action.failure, GetLastError());
                    }
                    break;
                }
                case EditorAction::Kind::kEcho: {
                    if (!WriteToClient(action.echo.data(), static_cast<DWORD>(action.echo.size())))
                        ReportError(action.failure, GetLastError());
                    break;
                }
                case EditorAction::Kind::kSetGate:
                    g_output_gate.Set();
                    break;
                case EditorAction::Kind::kResetGate:
                    g_output_gate.Reset();
                    break;
                case EditorAction::Kind::kCtrlCEvent:
                    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
                        ReportError("GenerateConsoleCtrlEvent failed: %lu", GetLastError());
                    break;
                case EditorAction::Kind::kSleep:
                    Sleep(action.milliseconds);
                    break;
                case EditorAction::Kind::kExitPause:
                    Sleep(settings.exit_detection_timeout);
                    break;
                case EditorAction::Kind::kRunKeyCommand: {
                    BYTE command = 0;
                    if (!ReadSocketByte(&command)) return;
                    RunKeyCommand(command);
                    break;
                }
            }
        }
    }
}
