// Full-screen programs (the FullScreenPrograms setting): the screen mirror follows whichever
// screen buffer the console shows, puts a program's own buffer on the terminal's alternate
// screen, and sends the cursor's visibility and the console's title.
#pragma once

#include <string>

#include "AnsiWriter.h"
#include "win32.h"

// Whether the buffer behind `opened` (a handle "CONOUT$" has just given) is the start-up buffer
// behind `startup`.  No call names a buffer, and each opening of "CONOUT$" is a handle of its
// own, so the two are told apart by what one shows of a change made through the other: the
// start-up buffer's cursor size is set to two other values in turn, and read back through
// `opened` after each; then it is put back.  A program's buffer has a cursor of its own, which
// does not follow.  True when a call fails (the start-up buffer is what the mirror showed
// before this setting).
bool IsStartupBuffer(HANDLE startup, HANDLE opened);

// The buffer the console shows, as one pass sees it: "CONOUT$" opened anew at each look, the
// handle of the last look closed.  The start-up buffer is read through its own handle.
class ShownBuffer {
  public:
    explicit ShownBuffer(HANDLE startup) : startup_(startup) {}
    ~ShownBuffer() { Close(); }
    ShownBuffer(const ShownBuffer&) = delete;
    ShownBuffer& operator=(const ShownBuffer&) = delete;

    // Looks again; false when the start-up buffer is shown (or "CONOUT$" cannot be opened).
    bool LookForProgramBuffer();
    // A program's buffer from the last look, null when it was the start-up buffer.
    HANDLE program() const { return program_; }

  private:
    void Close();
    HANDLE startup_;
    HANDLE program_ = nullptr;
};

// What the client's terminal shows besides the cells: which screen, whether the cursor shows
// (unknown after a switch of screens: some terminals restore the visibility saved with the
// cursor), and the title sequence last sent.
struct TerminalView {
    bool alternate = false;
    bool cursor_visible = true;
    bool cursor_known = true;
    bool title_sent = false;
    std::string title;
};

// The sequences of a switch of screens (DECSET or DECRST 1049) and of the cursor's visibility
// (DECTCEM), each sent only when it changes what the view says (or the view does not know), and
// the modes noted for the end of the login.  SwitchScreen returns whether it sent one.
bool SwitchScreen(bool alternate, TerminalView& view, AnsiWriter& writer);
void ShowCursor(bool visible, TerminalView& view, AnsiWriter& writer);

// The most characters of a title sent.
constexpr size_t kMaxTitleCharacters = 256;
// The title sequence (OSC 2) for the console's title of `length` UTF-16 units: without control
// characters (C0, DEL, C1), cut at kMaxTitleCharacters characters, in UTF-8 for a UTF-8 client
// (a lone surrogate as U+FFFD), else in the ANSI code page with "?" for what it lacks and for
// the bytes 0x80 to 0x9F, which an 8-bit terminal takes for C1 controls.
std::string TitleSequence(const WCHAR* title, size_t length, bool utf8);
// Sends the sequence when it differs from the last one sent, and at the first call.
void ShowTitle(const std::string& sequence, TerminalView& view, AnsiWriter& writer);
// The console's title as TitleSequence makes it.
std::string ConsoleTitleSequence(bool utf8);
