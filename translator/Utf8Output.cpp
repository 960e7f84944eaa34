// What a UTF-8 client is sent in simple mode.
#include "Utf8Output.h"

namespace {

// Whether `byte` can follow a lead byte in the double-byte code page: the trail ranges of the
// East Asian code pages; in any other, every byte but the controls, the blank and 0x7F.
bool CanTrail(UINT code_page, BYTE byte) {
    auto in = [byte](BYTE low, BYTE high) { return byte >= low && byte <= high; };
    switch (code_page) {
        case 932:  // Japanese
            return in(0x40, 0x7E) || in(0x80, 0xFC);
        case 936:  // Simplified Chinese
            return in(0x40, 0x7E) || in(0x80, 0xFE);
        case 949:  // Korean
            return in(0x41, 0x5A) || in(0x61, 0x7A) || in(0x81, 0xFE);
        case 950:  // Traditional Chinese
            return in(0x40, 0x7E) || in(0xA1, 0xFE);
        default:
            return byte > 0x20 && byte != 0x7F;
    }
}

}  // namespace

void RelayUtf8Converter::UseCodePage(UINT code_page) {
    if (code_page == code_page_) return;
    code_page_ = code_page;
    utf8_.Reset();
    lead_byte_ = 0;
    // Byte by byte: in a double-byte code page the bytes in a row would pair up.
    for (int i = 0; i < 128; ++i) {
        const BYTE byte = static_cast<BYTE>(0x80 + i);
        upper_half_[i] = static_cast<WCHAR>(kReplacementCharacter);
        if (code_page != CP_UTF8) upper_half_[i] = Decode(&byte, 1);
    }
}

WCHAR RelayUtf8Converter::Decode(const BYTE* bytes, int count) const {
    WCHAR unit = static_cast<WCHAR>(kReplacementCharacter);
    MultiByteToWideChar(code_page_, 0, reinterpret_cast<const char*>(bytes), count, &unit, 1);
    return unit;
}

DWORD RelayUtf8Converter::Convert(const BYTE* chunk, DWORD count, UINT code_page,
                                  bool translate_line_ends, BYTE* output) {
    UseCodePage(code_page);
    DWORD length = 0;
    // A carriage return that closed the previous chunk still pairs with a line feed that opens
    // this one, as in the byte relay.
    bool after_carriage_return = after_carriage_return_;
    auto put = [&](char32_t c) {
        if (translate_line_ends && c == '\n' && !after_carriage_return) output[length++] = '\r';
        // A UTF-8 terminal takes U+0080 to U+009F as controls: U+009B would start a sequence.
        length += EncodeUtf8(IsC1Control(c) ? kReplacementCharacter : c,
                             reinterpret_cast<char*>(output + length));
        after_carriage_return = c == '\r';
    };
    for (DWORD i = 0; i < count; ++i) {
        const BYTE byte = chunk[i];
        if (code_page_ == CP_UTF8) {
            char32_t decoded[2];
            const int n = utf8_.Feed(byte, decoded);
            for (int k = 0; k < n; ++k) put(decoded[k]);
            continue;
        }
        if (lead_byte_ != 0) {
            const BYTE pair[2] = {lead_byte_, byte};
            lead_byte_ = 0;
            if (CanTrail(code_page_, byte)) {
                put(Decode(pair, 2));
                continue;
            }
            // The character ends short: one replacement for it, and the byte counts afresh.
            put(kReplacementCharacter);
        }
        if (byte < 0x80) {
            put(byte);
        } else if (IsDBCSLeadByteEx(code_page_, byte)) {
            lead_byte_ = byte;
        } else {
            put(upper_half_[byte - 0x80]);
        }
    }
    after_carriage_return_ = after_carriage_return;
    return length;
}
