// The strict decimal conversion against a plain model of it: white space, one optional sign,
// digits to the end, a magnitude within 32 bits; the empty text is 0.
#include <cctype>
#include <cstdlib>
#include <string>

#include "ZMATH.h"

namespace {

bool Model(const std::string& text, uint32_t* value) {
    *value = 0;
    if (text.empty()) return true;
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
        if (magnitude > 0xFFFFFFFFull) return false;
    }
    *value = static_cast<uint32_t>(magnitude);
    if (negative) *value = 0u - *value;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    uint32_t expected = 0, value = 0;
    bool valid = Model(text, &expected);
    if (TryParseUnsigned(text.c_str(), &value) != valid) abort();
    if (valid && value != expected) abort();
    // The checked form returns only for valid texts; it ends the process otherwise.
    if (valid && ParseUnsigned(text.c_str()) != expected) abort();
    return 0;
}
