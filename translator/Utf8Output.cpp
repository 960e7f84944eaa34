// What a UTF-8 client is sent in simple mode.
#include "Utf8Output.h"

void RelayUtf8Converter::UseCodePage(UINT code_page) {
    if (code_page == code_page_) return;
    code_page_ = code_page;
    utf8_.Reset();
    lead_byte_ = 0;
    char upper[128];
    for (int i = 0; i < 128; ++i) upper[i] = static_cast<char>(0x80 + i);
    for (WCHAR& unit : upper_half_) unit = static_cast<WCHAR>(kReplacementCharacter);
    if (code_page != CP_UTF8) MultiByteToWideChar(code_page, 0, upper, 128, upper_half_, 128);
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
        } else if (lead_byte_ != 0) {
            const BYTE pair[2] = {lead_byte_, byte};
            lead_byte_ = 0;
            put(Decode(pair, 2));
        } else if (byte < 0x80) {
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
