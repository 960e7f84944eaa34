// Strict decimal argument parsing.
#include "ZMATH.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "Reporter.h"

namespace {

// strtoul with a 32-bit unsigned long, whatever the width of the host's: the magnitude must fit
// in 32 bits and a minus sign negates it modulo 2^32.
uint32_t Strtoul32(const char* text, const char** end, bool* out_of_range) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = *p == '-';
    char* stop = nullptr;
    errno = 0;
    unsigned long long magnitude = std::strtoull(text, &stop, 10);
    *end = stop;
    if (negative) magnitude = 0ULL - magnitude;
    *out_of_range = errno == ERANGE || magnitude > 0xFFFFFFFFULL;
    if (*out_of_range) return 0xFFFFFFFFu;
    uint32_t value = static_cast<uint32_t>(magnitude);
    return negative ? 0u - value : value;
}

}  // namespace

bool TryParseUnsigned(const char* text, uint32_t* value) {
    const char* end = nullptr;
    bool out_of_range = false;
    *value = Strtoul32(text, &end, &out_of_range);
    return end != nullptr && *end == '\0' && !out_of_range;
}

uint32_t ParseUnsigned(const char* text) {
    const char* end = nullptr;
    bool out_of_range = false;
    uint32_t value = Strtoul32(text, &end, &out_of_range);
    ZASSERT(end != nullptr && *end == '\0');
    ZASSERT(!out_of_range);
    return value;
}
