// Simple mode line editor: what to do with each unit of client input, as a function of plain
// values.
#pragma once

#include <string>
#include <vector>

#include "InputRoute.h"
#include "translator.h"

constexpr DWORD kLineSize = 256;
constexpr DWORD kCtrlCEchoDelayMs = 200;

// One thing to do for a unit of input, in order.
struct EditorAction {
    enum class Kind {
        kInject,         // the unit `input` to the console as key events
        kWrite,          // write text to the socket output
        kSetGate,        // let the output relay go on
        kResetGate,      // pause the output relay
        kCtrlCEvent,     // raise the console Ctrl-C event for the whole console
        kSleep,          // pause `milliseconds`
        kExitPause,      // pause for the exit detection timeout
        kRunKeyCommand,  // read the byte after Ctrl-A and run its key command
        // write `echo` to the socket output; `failure` as for kWrite
        kEcho,
    };
    Kind kind;
    ClientInput input;  // kInject
    // kWrite: the bytes, and the message reported when the write fails (null: result ignored).
    char text[6] = {};
    DWORD length = 0;
    const char* failure = nullptr;
    DWORD milliseconds = 0;  // kSleep
    std::string echo;        // kEcho: redrawing the line after the cursor
};

// How many earlier lines Up and Down recall.
constexpr size_t kHistorySize = 20;

// The editor's state between bytes: the line typed so far, the console input mode seen with the
// previous byte, and whether the line last passed on was "exit".
class LineEditor {
  public:
    // The actions for a unit of input while the console input mode is `input_mode` and the
    // output gate is set or not, where DecideInputRoute sends it.  A pasted unit at a line-input
    // prompt is a character, a tab or a line end; other controls are dropped, and a line that
    // outgrows kLineSize rings the bell once.
    std::vector<EditorAction> Take(const ClientInput& input, DWORD input_mode, bool gate_set);

    // A UTF-8 client: the line holds UTF-8, characters beyond ASCII come to the editor, and an
    // erase takes a whole character and the columns it showed in.
    void set_utf8(bool utf8) { utf8_ = utf8; }
    // The client's terminal: `columns` wide (0: rows are not counted, and the echo is as for a
    // line that never wraps), its cursor `column` columns after the start of its row (taken as
    // where the line begins while the line is empty).  With a width the echo never moves left
    // across a row's start (a backspace stops there, and one after the last column lands short):
    // where it would, it starts a new row and shows the line there again, up to the cursor's row.
    void set_terminal(DWORD columns, DWORD column) {
        columns_ = columns;
        start_column_ = columns == 0 ? 0 : column % columns;
    }

    const BYTE* line() const { return line_; }
    DWORD cursor() const { return cursor_; }
    DWORD length() const { return length_; }
    bool exit_flag() const { return exit_flag_; }

  private:
    void TakeLineByte(BYTE byte, bool echo, std::vector<EditorAction>* actions);
    void TakeLineCharacter(char32_t character, bool echo, std::vector<EditorAction>* actions);
    // A decoded key at a line-input prompt: Left, Right, Home and End move the cursor, Delete
    // removes the character under it, Up and Down recall earlier lines; any other key is dropped.
    // Once the cursor has left the end of the line, typing inserts at it and Backspace removes
    // the character before it, and the echo redraws the rest of the line with reprinted
    // characters, blanks and backspaces only (and, on a terminal's rows, line ends, where the
    // line is shown again on a new row).  Left, Right and Delete take a character together with
    // the characters of no width that join it.
    std::vector<EditorAction> TakeKey(const KeySequence& key, DWORD input_mode);
    void Erase(bool echo, const char* failure, std::vector<EditorAction>* actions);
    void InjectLine(std::vector<EditorAction>* actions) const;
    void Bell(std::vector<EditorAction>* actions);
    void NewMode(DWORD input_mode);
    DWORD NextCharacter(DWORD at) const;
    DWORD PreviousCharacter(DWORD at) const;
    void Rebase();
    void Insert(const BYTE* bytes, DWORD count, bool echo, std::vector<EditorAction>* actions);
    void Remove(DWORD from, DWORD to, std::string* echo);
    void Replace(const std::string& text, std::string* echo);
    void Remember(bool echo);
    // The echo's rows: the client shows the line laid out from `origin_` (a row's first column is
    // a multiple of columns_), its characters up to `extent_`, and its cursor is at `at_`.
    DWORD CharacterColumnsAt(DWORD at) const;
    char32_t CharacterAt(DWORD at) const;
    bool ZeroWidth(DWORD at) const;
    DWORD NextCell(DWORD at) const;
    DWORD PreviousCell(DWORD at) const;
    DWORD Offset(DWORD index, bool start) const;
    DWORD Pad(DWORD offset, DWORD columns) const;
    DWORD Fit() const;
    void Print(DWORD from, DWORD to, std::string* out);
    bool MoveBack(DWORD target, std::string* out);
    void NewRow(std::string* out);
    void Land(std::string* out);
    void Redraw(DWORD from, bool base, std::string* out);

    BYTE line_[kLineSize] = {};
    DWORD length_ = 0;
    DWORD previous_mode_ = 0;
    bool exit_flag_ = false;
    bool utf8_ = false;
    DWORD cursor_ = 0;  // where typing goes, a character boundary in the line
    std::vector<std::string> history_;
    size_t recalled_ = 0;  // the history entry Up and Down last showed; its size for none
    DWORD columns_ = 0;
    DWORD start_column_ = 0;
    DWORD origin_ = 0;
    DWORD at_ = 0;
    DWORD extent_ = 0;
    bool pasting_ = false;  // the unit being taken was pasted
    bool rung_ = false;     // a paste's bell rang for this line
};
