// Simple mode line editor: local echo and editing of the client's line, keys to the console.
#include "LineEditor.h"

#include <cstring>
#include <utility>

#include "KeyEvents.h"
#include "KeyInput.h"
#include "OutputRelay.h"
#include "Reporter.h"
#include "TerminalModes.h"
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

// With echo on, the bytes redrawing the line, if any: an empty write might tell the client that
// the stream has ended.
void PushEcho(std::vector<EditorAction>* actions, bool echo, std::string text,
              const char* failure) {
    if (!echo || text.empty()) return;
    EditorAction action = Simple(EditorAction::Kind::kEcho);
    action.echo = std::move(text);
    action.failure = failure;
    actions->push_back(std::move(action));
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
    Rebase();
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
        case InputRoute::kDrop:
            break;
        case InputRoute::kLineEditor:
            if (input.is_key) return TakeKey(input.key, input_mode);
            pasting_ = input.pasted;
            // Pasted text keeps its characters, tabs and line ends; other controls are dropped.
            if (input.pasted && input.character == 0 && input.byte != '\t' && input.byte != '\r' &&
                (input.byte < 0x20 || input.byte == kDelete))
                break;
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
            if (cursor_ == 0) return;
            // Within the line, on rows, or a character of no width: the line is shown afresh
            // from there.  Otherwise the last character's columns are erased as always.
            if (cursor_ < length_ || columns_ > 0 ||
                CharacterColumnsAt(PreviousCharacter(cursor_)) == 0) {
                std::string shown;
                Remove(PreviousCharacter(cursor_), cursor_, &shown);
                PushEcho(actions, echo, std::move(shown), "Error erasing a character: %lu");
                return;
            }
            Erase(echo, "Error erasing a character: %lu", actions);
            cursor_ = length_;
            return;
        case kEscape:
        case kCtrlU:
            if (columns_ > 0) {
                if (length_ == 0) return;
                std::string shown;
                length_ = cursor_ = 0;
                Redraw(0, false, &shown);
                PushEcho(actions, echo, std::move(shown), "Error erasing characters: %lu");
                return;
            }
            if (cursor_ < length_) {
                // To the end of the line first, then erased from there as always.
                std::string shown;
                Print(cursor_, length_, &shown);
                PushEcho(actions, echo, std::move(shown), "Error erasing characters: %lu");
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
        Bell(actions);
        return;
    }
    line_[length_++] = byte;
    cursor_ = length_;
    std::string shown;
    Print(length_ - 1, length_, &shown);
    if (echo)
        actions->push_back(
            Write(shown.data(), static_cast<DWORD>(shown.size()), "Error echoing input: %lu"));
}

// Removes the last character of the line, and each column it took on the client's screen.
void LineEditor::Erase(bool echo, const char* failure, std::vector<EditorAction>* actions) {
    const DWORD start = PreviousCharacter(length_);
    const DWORD columns = CharacterColumnsAt(start);
    length_ = start;
    at_ = at_ > columns ? at_ - columns : 0;
    extent_ = at_;
    if (echo && columns > 0) actions->push_back(Write(kEraseColumns, 3 * columns, failure));
}

std::vector<EditorAction> LineEditor::TakeKey(const KeySequence& key, DWORD input_mode) {
    std::vector<EditorAction> actions;
    NewMode(input_mode);
    Rebase();
    std::string shown;
    // A key with Shift, Ctrl or Alt, and Alt with a character, have no use here.
    const WORD virtual_key = key.modifiers == 0 ? key.virtual_key : 0;
    switch (virtual_key) {
        case VK_LEFT:
            if (cursor_ > 0) {
                cursor_ = PreviousCell(cursor_);
                Land(&shown);
            }
            break;
        case VK_RIGHT:
            if (cursor_ < length_) {
                const DWORD end = NextCell(cursor_);
                Print(cursor_, end, &shown);
                cursor_ = end;
                Land(&shown);
            }
            break;
        case VK_HOME:
            cursor_ = 0;
            Land(&shown);
            break;
        case VK_END:
            Print(cursor_, length_, &shown);
            cursor_ = length_;
            Land(&shown);
            break;
        case VK_DELETE:
            if (cursor_ < length_) Remove(cursor_, NextCell(cursor_), &shown);
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
    PushEcho(&actions, (input_mode & ENABLE_ECHO_INPUT) != 0, std::move(shown),
             "Error echoing input: %lu");
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

// The cursor keys and Delete take a character with the characters of no width after it.
DWORD LineEditor::NextCell(DWORD at) const {
    DWORD next = NextCharacter(at);
    while (next < length_ && ZeroWidth(next)) next = NextCharacter(next);
    return next;
}

DWORD LineEditor::PreviousCell(DWORD at) const {
    DWORD previous = PreviousCharacter(at);
    while (previous > 0 && ZeroWidth(previous)) previous = PreviousCharacter(previous);
    return previous;
}

// The columns the character at `at` shows in: a control byte as a caret and a letter.
DWORD LineEditor::CharacterColumnsAt(DWORD at) const {
    if (line_[at] < 0x20) return 2;
    if (!utf8_ || line_[at] < 0x80) return 1;
    return static_cast<DWORD>(CharacterColumns(CharacterAt(at)));
}

// A UTF-8 line's character beyond ASCII that starts at `at`.
char32_t LineEditor::CharacterAt(DWORD at) const {
    Utf8Decoder decoder;
    char32_t decoded[2] = {kReplacementCharacter, 0};
    for (DWORD k = at; k < NextCharacter(at); ++k) decoder.Feed(line_[k], decoded);
    return decoded[0];
}

bool LineEditor::ZeroWidth(DWORD at) const {
    return utf8_ && at < length_ && line_[at] >= 0x80 && CharacterColumnsAt(at) == 0;
}

// A wide character that would begin in a row's last column begins the next row: the terminal
// leaves that column, and the echo puts a blank there.
DWORD LineEditor::Pad(DWORD offset, DWORD at) const {
    return columns_ >= 2 && offset % columns_ == columns_ - 1 && utf8_ && line_[at] >= 0x80 &&
                   CharacterColumnsAt(at) == 2
               ? 1
               : 0;
}

// Where the character at `index` begins on the client's rows (`start`), or where the one before
// it ends; the line's end for the length.
DWORD LineEditor::Offset(DWORD index, bool start) const {
    DWORD offset = origin_;
    for (DWORD i = 0; i < index; i = NextCharacter(i))
        offset += Pad(offset, i) + CharacterColumnsAt(i);
    return start && index < length_ ? offset + Pad(offset, index) : offset;
}

// How far the line can be shown with the cursor left in its row: the characters from the cursor
// on that end before the row's last column.
DWORD LineEditor::Fit() const {
    if (columns_ == 0) return length_;
    const DWORD row_end = (Offset(cursor_, true) / columns_ + 1) * columns_;
    DWORD offset = Offset(cursor_, false);
    DWORD end = cursor_;
    while (end < length_) {
        const DWORD next = offset + Pad(offset, end) + CharacterColumnsAt(end);
        if (next >= row_end) break;
        offset = next;
        end = NextCharacter(end);
    }
    return end;
}

// Prints the characters between the two offsets; the client's cursor is where the first goes.
void LineEditor::Print(DWORD from, DWORD to, std::string* out) {
    DWORD offset = Offset(from, false);
    for (DWORD i = from; i < to; i = NextCharacter(i)) {
        offset += Pad(offset, i);
        if (at_ < offset) out->append(offset - at_, ' ');
        if (line_[i] < 0x20) {
            out->push_back('^');
            out->push_back(static_cast<char>(line_[i] + 0x40));
        } else if (utf8_ && line_[i] >= 0x80 && IsC1Control(CharacterAt(i))) {
            // A control to a UTF-8 terminal (U+009B starts a sequence): shown as U+FFFD.
            char replacement[kMaxUtf8Length];
            out->append(replacement, EncodeUtf8(kReplacementCharacter, replacement));
        } else {
            out->append(reinterpret_cast<const char*>(line_ + i), NextCharacter(i) - i);
        }
        offset += CharacterColumnsAt(i);
        at_ = offset;
    }
    if (extent_ < at_) extent_ = at_;
}

// Backspaces to `target`, when it is in the cursor's row: not from a row's start, nor from past
// a row's last column, where terminals differ.
bool LineEditor::MoveBack(DWORD target, std::string* out) {
    if (target > at_ || (columns_ > 0 && at_ / columns_ != target / columns_)) return false;
    out->append(at_ - target, '\b');
    at_ = target;
    return true;
}

void LineEditor::NewRow(std::string* out) {
    out->append("\r\n");
    origin_ = at_ = extent_ = 0;
}

// Brings the client's cursor to the line's: back in its row, over the blank before a wide
// character, or on a new row that shows the line up to the cursor's row.
void LineEditor::Land(std::string* out) {
    const DWORD target = Offset(cursor_, true);
    if (at_ < target) {
        out->append(target - at_, ' ');
        at_ = target;
    } else if (!MoveBack(target, out)) {
        NewRow(out);
        Print(0, Fit(), out);
        Land(out);
    }
}

// Shows the line afresh from `from`, where it changed (with `base`, a character of no width
// there changed: from the character it joins), blanks over what is left of the old one, and
// brings the client's cursor to the line's.
void LineEditor::Redraw(DWORD from, bool base, std::string* out) {
    while (base && from > 0) {
        from = PreviousCharacter(from);
        base = ZeroWidth(from);
    }
    DWORD old_extent = extent_;
    if (!MoveBack(Offset(from, false), out)) {
        NewRow(out);
        Print(0, from, out);
        old_extent = at_;
    }
    if (columns_ > 0 && old_extent >= (Offset(cursor_, true) / columns_ + 1) * columns_) {
        // The old line reaches past the cursor's row: mended to its end, then a new row.
        Print(from, length_, out);
        if (old_extent > at_) out->append(old_extent - at_, ' ');
        at_ = old_extent > at_ ? old_extent : at_;
        NewRow(out);
        from = old_extent = 0;
    }
    Print(from, Fit(), out);
    const DWORD shown = at_;
    if (old_extent > at_) {
        out->append(old_extent - at_, ' ');
        at_ = old_extent;
    }
    extent_ = shown;
    Land(out);
}

// An empty line begins where the client's cursor is.
void LineEditor::Rebase() {
    if (length_ == 0) {
        origin_ = at_ = extent_ = start_column_;
        rung_ = false;
    }
}

// A full line refuses a character with a bell; a paste rings it once for its line.
void LineEditor::Bell(std::vector<EditorAction>* actions) {
    if (pasting_ && rung_) return;
    rung_ = pasting_;
    actions->push_back(Write("\a", 1, nullptr));
}

// Inserts a character at the cursor, redrawing the rest of the line after it.
void LineEditor::Insert(const BYTE* bytes, DWORD count, bool echo,
                        std::vector<EditorAction>* actions) {
    if (length_ + count > kLineSize) {
        Bell(actions);
        return;
    }
    std::memmove(line_ + cursor_ + count, line_ + cursor_, length_ - cursor_);
    std::memcpy(line_ + cursor_, bytes, count);
    const DWORD start = cursor_;
    cursor_ += count;
    length_ += count;
    // A character of no width joins the one before it, and one after the new character joins
    // it in place of that one: either way that one is shown again.  The cursor goes past the
    // characters that now join the new one.
    const bool base = ZeroWidth(start) || ZeroWidth(cursor_);
    while (ZeroWidth(cursor_)) cursor_ = NextCharacter(cursor_);
    std::string shown;
    Redraw(start, base, &shown);
    PushEcho(actions, echo, std::move(shown), "Error echoing input: %lu");
}

// Removes the bytes between the two offsets and leaves the cursor at the first: the rest of the
// line moves left over them and blanks cover the columns it leaves.
void LineEditor::Remove(DWORD from, DWORD to, std::string* echo) {
    const bool base = ZeroWidth(from) || ZeroWidth(to);
    std::memmove(line_ + from, line_ + to, length_ - to);
    length_ -= to - from;
    cursor_ = from;
    Redraw(from, base, echo);
}

// Shows `text` in place of the line, the cursor at its end.
void LineEditor::Replace(const std::string& text, std::string* echo) {
    std::memcpy(line_, text.data(), text.size());
    length_ = cursor_ = static_cast<DWORD>(text.size());
    Redraw(0, false, echo);
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
    // A character of no width at a row's start would join nothing there: the one it joins is
    // shown again with it.
    const bool row_start = columns_ > 0 && at_ % columns_ == 0 && CharacterColumns(character) == 0;
    if (cursor_ < length_ || row_start) {
        Insert(reinterpret_cast<const BYTE*>(bytes), count, echo, actions);
        return;
    }
    if (length_ + count > kLineSize) {
        Bell(actions);
        return;
    }
    std::memcpy(line_ + length_, bytes, count);
    const DWORD start = length_;
    length_ += count;
    cursor_ = length_;
    std::string shown;
    Print(start, length_, &shown);
    if (echo)
        actions->push_back(
            Write(shown.data(), static_cast<DWORD>(shown.size()), "Error echoing input: %lu"));
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

namespace {

// What simple mode sends on.  With input batching a unit's key records go into the console with
// one write, and the echo waits for the end of the batch, or for keys that go to the console
// before it, and goes out with one write (a failure is reported with the message of the first
// echo that has one).
class SimpleOutput {
  public:
    SimpleOutput(bool batching, bool utf8) : batching_(batching), utf8_(utf8), keys_(utf8) {}

    void Inject(const ClientInput& input) { InjectInput(input, batching_ ? &keys_ : nullptr); }
    void Echo(const char* bytes, DWORD count, const char* failure) {
        NoteClientBytes(bytes, count, utf8_);
        if (batching_) {
            echo_.append(bytes, count);
            if (echo_failure_ == nullptr) echo_failure_ = failure;
            return;
        }
        if (!WriteToClient(bytes, count) && failure != nullptr)
            ReportError(failure, GetLastError());
    }
    // The echo goes first: what the keys make a program print must come after it.
    void FlushKeys() {
        if (keys_.empty()) return;
        FlushEcho();
        keys_.Write(g_translator.console_input);
    }
    // Everything held: the echo, then the keys.
    void Flush() {
        FlushEcho();
        FlushKeys();
    }
    void FlushEcho() {
        if (!echo_.empty() && !WriteToClient(echo_.data(), static_cast<DWORD>(echo_.size())) &&
            echo_failure_ != nullptr)
            ReportError(echo_failure_, GetLastError());
        echo_.clear();
        echo_failure_ = nullptr;
    }

  private:
    bool batching_;
    bool utf8_;
    KeyBatch keys_;
    std::string echo_;
    const char* echo_failure_ = nullptr;
};

// Carries out one action of the editor; false when the input ended during a key command.
bool RunEditorAction(const EditorAction& action, const Settings& settings, SimpleOutput& out) {
    using Kind = EditorAction::Kind;
    if (action.kind == Kind::kInject) {
        out.Inject(action.input);
        return true;
    }
    if (action.kind == Kind::kWrite) {
        out.Echo(action.text, action.length, action.failure);
        return true;
    }
    if (action.kind == Kind::kEcho) {
        out.Echo(action.echo.data(), static_cast<DWORD>(action.echo.size()), action.failure);
        return true;
    }
    // Whatever else an action does comes after what went before it.
    out.Flush();
    switch (action.kind) {
        case Kind::kSetGate:
            g_output_gate.Set();
            break;
        case Kind::kResetGate:
            g_output_gate.Reset();
            break;
        case Kind::kCtrlCEvent:
            if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
                ReportError("GenerateConsoleCtrlEvent failed: %lu", GetLastError());
            break;
        case Kind::kSleep:
            Sleep(action.milliseconds);
            break;
        case Kind::kExitPause:
            Sleep(settings.exit_detection_timeout);
            break;
        case Kind::kRunKeyCommand: {
            BYTE command = 0;
            if (!ReadSocketByte(&command)) return false;
            RunKeyCommand(command);
            break;
        }
        default:
            break;
    }
    return true;
}

}  // namespace

void RunSimpleInput(const Settings& settings) {
    LineEditor editor;
    const bool utf8 = settings.utf8_client != 0;
    editor.set_utf8(utf8);
    // A terminal that sends its keys' sequences or takes UTF-8 gets an echo that knows its rows.
    const bool rows = settings.key_sequences != 0 || utf8;
    // Bracketed paste is asked of a terminal that sends its keys' sequences.
    const bool paste = settings.bracketed_paste != 0 && settings.key_sequences != 0;
    if (paste) {
        if (!WriteToClient(kBracketedPasteOn, sizeof kBracketedPasteOn - 1))
            ReportError("Error asking for bracketed paste: %lu", GetLastError());
        NoteModes(kModeBracketedPaste, true);
    }
    const bool batching = settings.input_batching != 0;
    SimpleOutput out(batching, utf8);
    // Until a query succeeds the console counts as raw input; later failures keep the last mode.
    // With batching the mode is read at a batch's start and again after anything but echo: only
    // what reaches the console lets a program change it.
    DWORD input_mode = 0;
    bool mode_known = false;
    KeyReader reader(settings.key_sequences != 0, utf8, false, paste);
    if (batching) {
        WarmLayoutLookUps();
        reader.set_before_wait([&out, &mode_known] {
            out.Flush();
            ForgetLayoutAnswers();
            mode_known = false;
        });
    }
    ClientInput input;
    while (reader.Next(&input)) {
        if (!batching || !mode_known) RefreshInputMode(&input_mode);
        mode_known = true;
        const bool gate_set = g_output_gate.IsSet() != 0;
        const SHORT columns = g_translator.terminal_size.columns;
        editor.set_terminal(!rows ? 0 : columns > 0 ? columns : 80, ClientColumn());
        // A paste's keys and echo wait for the end of the bytes read together: its lines go into
        // the console with one write, and the mode is read once for them.
        const bool held = batching && input.pasted;
        for (const EditorAction& action : editor.Take(input, input_mode, gate_set)) {
            using Kind = EditorAction::Kind;
            if (action.kind != Kind::kWrite && action.kind != Kind::kEcho &&
                !(held && action.kind == Kind::kInject))
                mode_known = false;
            if (!RunEditorAction(action, settings, out)) return out.FlushEcho();
        }
        if (!held) out.FlushKeys();
    }
    out.Flush();
}
