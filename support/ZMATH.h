// Strict decimal argument parsing.
#pragma once

#include <cstdint>

// Converts a decimal text to a 32-bit unsigned number as the run-time library's strtoul does
// where unsigned long has 32 bits: leading white space, one optional sign ("-" negates modulo
// 2^32), digits.  Anything after the number, no number at all in a non-empty text, or a value
// beyond 32 bits fails the assertion check and does not return.  The empty text gives 0.
uint32_t ParseUnsigned(const char* text);

// The same conversion without the check: false where ParseUnsigned would not return.
bool TryParseUnsigned(const char* text, uint32_t* value);
