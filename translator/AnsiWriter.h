// The ANSI terminal writer: console cells and the few control sequences of an ANSI terminal,
// collected in a small buffer and handed on flush by flush.  It is the only thing that writes the
// advanced-mode stream.
#pragma once

#include "Rendition.h"
#include "win32.h"

class AnsiWriter {
  public:
    static constexpr DWORD kBufferSize = 128;
    // The bytes of "\033[0K", which a row update weighs against the blanks it would send.
    static constexpr DWORD kEraseToEndOfLineCost = 4;

    // Takes the bytes of one flush (one write); failures are the sink's to handle.
    using Sink = void (*)(void* context, const char* bytes, DWORD count);

    AnsiWriter(Sink sink, void* context, const Rendition& rendition);
    AnsiWriter(const AnsiWriter&) = delete;
    AnsiWriter& operator=(const AnsiWriter&) = delete;

    // Set before the first cell, once the settings are read.
    void set_rendition(const Rendition& rendition);
    const Rendition& rendition() const { return rendition_; }

    // Appends a cell's character as the rendition encodes it: a byte converted to the ANSI
    // character set or, for a UTF-8 client, a UTF-16 unit (a surrogate pair in two neighbouring
    // cells is one character); in reverse video, or after the SGR of its colours, as the
    // attributes ask.  A flush never splits a character's bytes, nor an SGR from the character
    // after it.  Every other operation, Flush included, ends the span of cells: a pair's first
    // half left without its second goes out as U+FFFD in its own place, never after a move.
    void PutCell(WCHAR character, WORD attributes);
    void PutString(const char* text);  // each byte converted as a cell's, without attributes
    void MoveCursor(unsigned row, unsigned column);  // 0-based
    void ClearScreen();
    void EraseBelow();  // from the cursor to the end of the screen
    void EraseToEndOfLine();
    // Appends a control sequence (or a piece of one) as it is, in one write: at most
    // kBufferSize bytes.
    void PutControl(const char* bytes, DWORD length);
    // Scrolls the client's screen up by one row; sent only while the cursor is on its bottom
    // row.  The new row takes the terminal's current colours, so whatever sets colours makes
    // them the defaults here first.
    void LineFeed();
    // Hands the buffered bytes to the sink in one piece and empties the buffer.  An empty buffer
    // is not handed on: a write of no bytes means nothing to the client and may look like the
    // end of the stream to a pipe reader.
    void Flush();

    DWORD buffered_count() const { return count_; }
    const char* buffered() const { return buffer_; }

  private:
    // Hands the buffered bytes on, as Flush does, in the middle of a span too.
    void SendBuffer();
    void EndSpan();
    void Append(BYTE byte);
    void AppendString(const char* text);
    // Appends bytes that go out in one write, flushing first when they do not fit.
    void AppendWhole(const char* bytes, DWORD length);
    void Put(const CellBytes& cell);
    // A sequence that fills what it erases (or opens) with the current background: while colours
    // are sent, the terminal's own colours are set first.
    void PutErase(const char* sequence);
    // Sends the SGR for `attributes` unless the terminal is known to use them already.
    void SetAttributes(WORD attributes);

    Sink sink_;
    void* context_;
    Rendition rendition_;
    char buffer_[kBufferSize];
    DWORD count_;
    // The attributes the terminal is known to use; unknown at the start of each row (after a
    // cursor move) and after each flush, as a failed write may have lost their sequence.
    bool attributes_known_ = false;
    WORD attributes_ = 0;
    HeldHalf held_;  // the first half of a pair, waiting for the next cell
};

// The screen mirror's sink: one write to the client (`context` is not used).  A closed
// socket output (ERROR_INVALID_HANDLE, the normal end of a login) is not reported; any other
// failure is reported once per flush.  Unwritten bytes are dropped.
void WriteToSocketOutput(void* context, const char* bytes, DWORD count);
// The process-wide writer's conversion, through the platform's code pages.
BYTE OemToAnsi(BYTE oem);
