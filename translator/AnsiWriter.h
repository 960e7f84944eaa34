// The ANSI terminal writer: console cells and the few control sequences of an ANSI terminal,
// collected in a small buffer and handed on flush by flush.  It is the only thing that writes the
// advanced-mode stream.
#pragma once

#include "Utf8.h"
#include "win32.h"

// A cell is shown in reverse video when its background, without the intensity bit, is green,
// brown or grey, unless colour simulation is suppressed.
bool IsReverseVideo(WORD attributes, bool suppress_color_simulation);

class AnsiWriter {
  public:
    static constexpr DWORD kBufferSize = 128;
    // The bytes of "\033[0K", which a row update weighs against the blanks it would send.
    static constexpr DWORD kEraseToEndOfLineCost = 4;

    // Takes the bytes of one flush (one write); failures are the sink's to handle.
    using Sink = void (*)(void* context, const char* bytes, DWORD count);
    // Converts one byte of 0x80 or above from the OEM to the ANSI character set.
    using Converter = BYTE (*)(BYTE oem);

    // The colour simulation switch is read at every cell, so a writer follows the setting even
    // when it is built before the setting is read.
    AnsiWriter(Sink sink, void* context, Converter convert, const DWORD* suppress_color_simulation);
    AnsiWriter(const AnsiWriter&) = delete;
    AnsiWriter& operator=(const AnsiWriter&) = delete;

    bool IsReverseVideo(WORD attributes) const;
    // The reverse-video simulation is off while the console's colours are sent.
    bool suppress_color_simulation() const {
        return *suppress_color_simulation_ != 0 || sends_colors();
    }

    // Colours: with kColorModeSixteen, each cell's colours go out as SGR where they differ from
    // the previous cell's, `default_attributes` as the terminal's own colours.  Set before the
    // first cell; any other mode leaves the writer as it is without colours.
    void SetColorMode(DWORD mode, WORD default_attributes);
    bool sends_colors() const { return sends_colors_; }
    // The default attributes while colours are sent, else -1.
    int color_default() const { return sends_colors_ ? default_attributes_ : -1; }

    // Appends the character, converted to the ANSI character set and wrapped in reverse video as
    // the attributes ask.  A full buffer is flushed before anything is appended.
    void PutCell(BYTE character, WORD attributes);
    // A UTF-8 client: a cell's UTF-16 unit, sent in UTF-8 (a surrogate pair across two cells as
    // one character, a lone surrogate as U+FFFD) and wrapped as PutCell wraps a byte.  A flush
    // never splits its bytes.
    void PutWideCell(WCHAR unit, WORD attributes);
    void set_utf8(bool utf8) { utf8_ = utf8; }
    bool utf8() const { return utf8_; }
    void PutString(const char* text);                // each byte as a cell with attribute 0
    void MoveCursor(unsigned row, unsigned column);  // 0-based
    void ClearScreen();
    void EraseToEndOfLine();
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
    void Append(BYTE byte);
    void PutColoredCell(BYTE character, WORD attributes);
    // Sends the SGR for `attributes` unless the terminal is known to use them already.
    void SetAttributes(WORD attributes);
    void AppendCharacter(BYTE character);

    Sink sink_;
    void* context_;
    Converter convert_;
    const DWORD* suppress_color_simulation_;
    char buffer_[kBufferSize];
    DWORD count_;
    bool sends_colors_ = false;
    WORD default_attributes_ = 0x07;
    // The attributes the terminal is known to use; unknown at the start of each row (after a
    // cursor move) and after each flush, as a failed write may have lost their sequence.
    bool attributes_known_ = false;
    WORD attributes_ = 0;
    bool utf8_ = false;
    char wide_bytes_[kMaxUtf8Length] = {};  // the UTF-8 of the cell PutWideCell is putting
    DWORD wide_length_ = 0;
    WCHAR high_surrogate_ = 0;  // the first half of a pair, waiting for the next cell
};

// The screen mirror's sink: one write to the client (`context` is not used).  A closed
// socket output (ERROR_INVALID_HANDLE, the normal end of a login) is not reported; any other
// failure is reported once per flush.  Unwritten bytes are dropped.
void WriteToSocketOutput(void* context, const char* bytes, DWORD count);
// The process-wide writer's conversion, through the platform's code pages.
BYTE OemToAnsi(BYTE oem);
