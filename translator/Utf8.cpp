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
    // The East Asian Wide and Fullwidth blocks, as terminals count them.
    static const char32_t kWide[][2] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
        {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    if (c < 0x1100) return 1;
    for (const auto& range : kWide) {
        if (c >= range[0] && c <= range[1]) return 2;
    }
    return 1;
}

DWORD LastCharacterStart(const BYTE* text, DWORD length) {
    DWORD start = length - 1;
    while (start > 0 && (text[start] & 0xC0) == 0x80 && length - start < kMaxUtf8Length) --start;
    return start;
}
