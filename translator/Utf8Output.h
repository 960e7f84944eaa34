// What a UTF-8 client is sent in simple mode: the command processor's text, in the console's
// output code page, as UTF-8.
#pragma once

#include "Utf8.h"
#include "win32.h"

// Converts the relay's chunks one after the other.  A character whose bytes two chunks share is
// held back until its last byte comes, so the client never gets half of one.  Bytes below 0x80
// are ASCII in every code page the console takes and pass without a conversion call.  In a
// double-byte code page a lead byte pairs only with a byte that can trail it: before any other
// byte it is one U+FFFD, and that byte counts afresh.
class RelayUtf8Converter {
  public:
    // The most bytes Convert writes for a chunk of `count` bytes: each byte one character of up
    // to three bytes or a line feed with its carriage return, and one character held back from
    // the previous chunk.
    static constexpr DWORD OutputSize(DWORD count) { return 3 * count + kMaxUtf8Length; }

    // Converts a chunk of text in `code_page` (a change of code page drops a character held
    // back).  With `translate_line_ends` a carriage return goes before each line feed whose
    // preceding character, in this chunk or at the end of the one before, is not one.  Returns the
    // number of output bytes.
    DWORD Convert(const BYTE* chunk, DWORD count, UINT code_page, bool translate_line_ends,
                  BYTE* output);

  private:
    void UseCodePage(UINT code_page);
    WCHAR Decode(const BYTE* bytes, int count) const;

    UINT code_page_ = 0;
    WCHAR upper_half_[128] = {};  // a single-byte code page's bytes 0x80 to 0xFF
    Utf8Decoder utf8_;
    BYTE lead_byte_ = 0;  // a double-byte code page's lead byte held back, 0 when none
    bool after_carriage_return_ = false;  // the last character sent was a carriage return
};
