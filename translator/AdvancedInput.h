// The advanced mode input loop: every client byte goes to the console at once, a few of them
// with a meaning of their own while the console reads a line.
#pragma once

#include "win32.h"

// The mode assumed when the console's input mode cannot be read before the first byte: the
// command processor's prompt, which is what the console shows when the loop starts.
constexpr DWORD kAssumedFirstInputMode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT;
