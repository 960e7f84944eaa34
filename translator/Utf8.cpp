// UTF-8 coding of the client's text.
#include "Utf8.h"

int Utf8Decoder::Feed(BYTE byte, char32_t* out) {
    if (needed_ == 0) return Start(byte, out);
    if (byte < lower_ || byte > upper_) {
        // The sequence ends short: one replacement for it, and the byte counts afresh.
        Reset();
        out[0] = kReplacementCharacter;
        return 1 + Start(byte, out + 1);
    }
    lower_ = 0x80;
    upper_ = 0xBF;
    code_point_ = (code_point_ << 6) | (byte & 0x3F);
    if (++seen_ < needed_) return 0;
    Reset();
    out[0] = code_point_;
    return 1;
}

int Utf8Decoder::Start(BYTE byte, char32_t* out) {
    if (byte < 0x80) {
        out[0] = byte;
        return 1;
    }
    // The second byte's range rules out overlong forms, surrogates and values past U+10FFFF.
    lower_ = 0x80;
    upper_ = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
        needed_ = 1;
        code_point_ = byte & 0x1F;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        needed_ = 2;
        code_point_ = byte & 0x0F;
        if (byte == 0xE0) lower_ = 0xA0;
        if (byte == 0xED) upper_ = 0x9F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        needed_ = 3;
        code_point_ = byte & 0x07;
        if (byte == 0xF0) lower_ = 0x90;
        if (byte == 0xF4) upper_ = 0x8F;
    } else {
        out[0] = kReplacementCharacter;
        return 1;
    }
    seen_ = 0;
    return 0;
}

namespace {

bool IsScalarValue(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

}  // namespace

DWORD EncodeUtf8(char32_t c, char* out) {
    if (!IsScalarValue(c)) c = kReplacementCharacter;
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

int EncodeUtf16(char32_t c, WCHAR* out) {
    if (!IsScalarValue(c)) c = kReplacementCharacter;
    if (c < 0x10000) {
        out[0] = static_cast<WCHAR>(c);
        return 1;
    }
    c -= 0x10000;
    out[0] = static_cast<WCHAR>(0xD800 + (c >> 10));
    out[1] = static_cast<WCHAR>(0xDC00 + (c & 0x3FF));
    return 2;
}

int CharacterColumns(char32_t c) {
    // One table, in order: the characters of no width (combining marks, the Hangul vowels and
    // finals that join a leading consonant, zero-width spaces and joiners, direction marks,
    // variation selectors), and the East Asian Wide and Fullwidth ones with the emoji shown as
    // pictures, as terminals count them.  Every other character takes one column.
    static const struct {
        char32_t first, last;
        int columns;
    } kRanges[] = {
        {0x0300, 0x036F, 0},   {0x0483, 0x0489, 0},   {0x0591, 0x05BD, 0},   {0x0610, 0x061A, 0},
        {0x064B, 0x065F, 0},   {0x0670, 0x0670, 0},   {0x06D6, 0x06DC, 0},   {0x0E31, 0x0E31, 0},
        {0x0E34, 0x0E3A, 0},   {0x0E47, 0x0E4E, 0},   {0x1100, 0x115F, 2},   {0x1160, 0x11FF, 0},
        {0x1AB0, 0x1AFF, 0},   {0x1DC0, 0x1DFF, 0},   {0x200B, 0x200F, 0},   {0x202A, 0x202E, 0},
        {0x2060, 0x2064, 0},   {0x20D0, 0x20FF, 0},   {0x231A, 0x231B, 2},   {0x2329, 0x232A, 2},
        {0x23E9, 0x23EC, 2},   {0x23F0, 0x23F0, 2},   {0x23F3, 0x23F3, 2},   {0x25FD, 0x25FE, 2},
        {0x2614, 0x2615, 2},   {0x2648, 0x2653, 2},   {0x267F, 0x267F, 2},   {0x2693, 0x2693, 2},
        {0x26A1, 0x26A1, 2},   {0x26AA, 0x26AB, 2},   {0x26BD, 0x26BE, 2},   {0x26C4, 0x26C5, 2},
        {0x26CE, 0x26CE, 2},   {0x26D4, 0x26D4, 2},   {0x26EA, 0x26EA, 2},   {0x26F2, 0x26F3, 2},
        {0x26F5, 0x26F5, 2},   {0x26FA, 0x26FA, 2},   {0x26FD, 0x26FD, 2},   {0x2705, 0x2705, 2},
        {0x270A, 0x270B, 2},   {0x2728, 0x2728, 2},   {0x274C, 0x274C, 2},   {0x274E, 0x274E, 2},
        {0x2753, 0x2755, 2},   {0x2757, 0x2757, 2},   {0x2795, 0x2797, 2},   {0x27B0, 0x27B0, 2},
        {0x27BF, 0x27BF, 2},   {0x2B1B, 0x2B1C, 2},   {0x2B50, 0x2B50, 2},   {0x2B55, 0x2B55, 2},
        {0x2E80, 0x303E, 2},   {0x3041, 0x33FF, 2},   {0x3400, 0x4DBF, 2},   {0x4E00, 0x9FFF, 2},
        {0xA000, 0xA4CF, 2},   {0xA960, 0xA97F, 2},   {0xAC00, 0xD7A3, 2},   {0xF900, 0xFAFF, 2},
        {0xFE00, 0xFE0F, 0},   {0xFE10, 0xFE19, 2},   {0xFE20, 0xFE2F, 0},   {0xFE30, 0xFE6F, 2},
        {0xFEFF, 0xFEFF, 0},   {0xFF00, 0xFF60, 2},   {0xFFE0, 0xFFE6, 2},   {0x1B000, 0x1B2FF, 2},
        {0x1F004, 0x1F004, 2}, {0x1F0CF, 0x1F0CF, 2}, {0x1F18E, 0x1F18E, 2}, {0x1F191, 0x1F19A, 2},
        {0x1F200, 0x1F251, 2}, {0x1F300, 0x1F64F, 2}, {0x1F680, 0x1F6C5, 2}, {0x1F6CC, 0x1F6CC, 2},
        {0x1F6D0, 0x1F6D2, 2}, {0x1F6D5, 0x1F6D7, 2}, {0x1F6EB, 0x1F6EC, 2}, {0x1F6F4, 0x1F6FC, 2},
        {0x1F7E0, 0x1F7EB, 2}, {0x1F90C, 0x1F93A, 2}, {0x1F93C, 0x1F945, 2}, {0x1F947, 0x1F9FF, 2},
        {0x1FA70, 0x1FAFF, 2}, {0x20000, 0x2FFFD, 2}, {0x30000, 0x3FFFD, 2}, {0xE0100, 0xE01EF, 0},
    };
    if (c < 0x0300) return 1;
    for (const auto& range : kRanges) {
        if (c < range.first) break;
        if (c <= range.last) return range.columns;
    }
    return 1;
}

DWORD LastCharacterStart(const BYTE* text, DWORD length) {
    DWORD start = length - 1;
    while (start > 0 && (text[start] & 0xC0) == 0x80 && length - start < kMaxUtf8Length) --start;
    return start;
}
