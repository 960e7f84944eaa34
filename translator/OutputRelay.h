// Simple mode output relay: the character-set and line-end rules for one chunk of output.
#pragma once

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
