// UTF-8 coding of the client's text: a decoder fed one byte at a time, the encoder, UTF-16 units
// for the console, and the columns a character takes on a terminal.
#pragma once

#include "win32.h"

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes UTF-8 byte by byte; a character split across two reads needs nothing special.  Each
// maximal invalid subpart becomes one U+FFFD: a lone continuation byte, a lead byte without
// enough continuation bytes after it (the byte that ends such a sequence starts afresh), and each
// byte of an overlong form, of an encoded surrogate or of a value beyond U+10FFFF.
class Utf8Decoder {
  public:
    // Takes one byte; writes the characters it completes to `out` (room for two) and returns
    // how many: a byte that cuts a sequence short gives U+FFFD and then whatever it is itself.
    int Feed(BYTE byte, char32_t* out);
    // Whether a sequence is begun but not complete.
    bool Pending() const { return needed_ != 0; }
    // Drops a sequence begun, as at the end of the input.
    void Reset() { needed_ = seen_ = 0; }

  private:
    int Start(BYTE byte, char32_t* out);

    char32_t code_point_ = 0;
    int needed_ = 0;  // continuation bytes the sequence takes, 0 between characters
    int seen_ = 0;
    BYTE lower_ = 0x80;  // the range the next continuation byte must fall in
    BYTE upper_ = 0xBF;
};

// The UTF-8 bytes of `c` (1 to 4, at most kMaxUtf8Length); a surrogate or a value beyond U+10FFFF
// is encoded as U+FFFD.
constexpr DWORD kMaxUtf8Length = 4;
DWORD EncodeUtf8(char32_t c, char* out);

// The UTF-16 units of `c`: one, or a surrogate pair beyond U+FFFF.  Invalid values give U+FFFD.
int EncodeUtf16(char32_t c, WCHAR* out);

// The two halves of a surrogate pair, as UTF-16 has them: the first (high) and the second (low).
constexpr bool IsFirstHalf(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsSecondHalf(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// U+0080 to U+009F: controls to a UTF-8 terminal (U+009B starts a control sequence), never to be
// sent to one as text.
constexpr bool IsC1Control(char32_t c) {
    return c >= 0x80 && c <= 0x9F;
}

// Columns a character takes on the client's terminal: 0 for combining marks and the other
// characters of no width, 2 for the East Asian wide and full-width characters and the emoji shown
// as pictures, 1 for the others.
int CharacterColumns(char32_t c);

// The index of the first byte of the last character of `text`, which holds `length` (> 0) bytes
// of valid UTF-8.
DWORD LastCharacterStart(const BYTE* text, DWORD length);
