// Simple mode output relay: the character-set and line-end rules for one chunk of output.
#pragma once

#include "Utf8Output.h"
#include "translator.h"

// The relay reads the output translation pipe at most this many bytes at a time.
constexpr DWORD kRelayChunkSize = 32;

// Whether bare line feeds get a carriage return: the console output is processed and its input
// is processed or line input.
bool TranslatesLineEnds(DWORD output_mode, DWORD input_mode);

// What the relay remembers from one chunk for the next: a line feed that opens a chunk follows
// the byte that closed the previous one.
struct RelayCarry {
    bool after_carriage_return = false;  // the last byte sent was a carriage return
};

// Whether a chunk holds a line feed: only then do the console modes matter for it.
bool HoldsLineFeed(const BYTE* chunk, DWORD count);

// Builds the bytes for the client from a chunk and its OEM-to-ANSI conversion: bytes 0x80 to 0xFF
// take their converted value, the others are sent as read; with `translate_line_ends` a carriage
// return goes before each line feed whose preceding byte, in this chunk or at the end of the one
// before (`carry`, updated here), is not one.  `output` has room for 2 * count bytes; returns the
// number of output bytes.
DWORD BuildRelayOutput(const BYTE* chunk, const BYTE* converted, DWORD count,
                       bool translate_line_ends, RelayCarry* carry, BYTE* output);

// A UTF-8 client's text is converted from the console's output code page, and asking the console
// for it is a round trip to the console.  While a program's output streams in without a break, the
// code page asked for one chunk holds for the chunks of the next kCodePageHoldUs microseconds,
// as long as the read of each found its bytes waiting (took less than kWaitingReadUs: a read of
// bytes already there is one call to the system, well under that even on a loaded machine).  Any
// pause in the output, as a program starting or ending makes, asks again.
constexpr int64_t kCodePageHoldUs = 5000;
constexpr int64_t kWaitingReadUs = 1000;
inline bool CodePageHolds(int64_t since_asked_us, int64_t read_took_us) {
    return since_asked_us < kCodePageHoldUs && read_took_us < kWaitingReadUs;
}

// The relay thread's own state: the line-end carry, and for a UTF-8 client the converter and the
// code page last asked for.
class OutputRelay {
  public:
    explicit OutputRelay(bool utf8_client) : utf8_(utf8_client) {}
    // One chunk from the output translation pipe to the client; false when the relay is to end.
    bool RelayOneChunk();

  private:
    DWORD RelayUtf8Chunk(const BYTE* chunk, DWORD count, int64_t read_began,
                         bool translate_line_ends, BYTE* output);

    bool utf8_;
    RelayCarry carry_;
    RelayUtf8Converter converter_;
    UINT code_page_ = 437;
    bool code_page_asked_ = false;    // whether code_page_ came from the console
    int64_t code_page_asked_at_ = 0;  // the performance counter when it was asked
};

// Where the client's cursor stands in its row, counted in columns from the row's start (without
// the terminal's wrapping), after `count` bytes sent to it from `column`: a carriage return goes
// to the row's start, a backspace one column back, a tab to the next multiple of 8, other control
// characters stay; characters take their columns (a UTF-8 client's as its characters count them,
// each whole in `bytes`).
DWORD AdvanceColumn(DWORD column, const BYTE* bytes, DWORD count, bool utf8);
// The same for what simple mode sends, the relay and the line editor's echo both, kept for the
// whole login: the line editor takes it as the column where a new line begins.
void NoteClientBytes(const void* bytes, DWORD count, bool utf8);
DWORD ClientColumn();

// The simple mode output thread: relays chunks until the pipe ends or the login stops the relay,
// then sets the relay's ended event.  `relay` is an OutputRelay made with new, which the thread
// owns from then on.
void __cdecl OutputRelayThread(void* relay);
