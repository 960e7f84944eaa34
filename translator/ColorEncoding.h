// The console's colours on an ANSI terminal: SGR sequences for console attribute words.
#pragma once

#include "win32.h"

// The ColorMode setting's value that sends the 16 console colours; any other counts as 0, the
// reverse-video simulation.
constexpr DWORD kColorModeSixteen = 16;
// Room for the longest sequence EncodeSgr writes, "\033[0;97;107;7;4m".
constexpr DWORD kMaxSgrLength = 16;

// The ANSI colour number (red 1, green 2, blue 4) of a console colour (blue 1, green 2, red 4),
// without the intensity bit.
BYTE AnsiColorNumber(WORD console_color);

// Writes into `out` (kMaxSgrLength bytes) the SGR sequence that makes a terminal show text in
// `attributes`: a reset to the terminal's own colours, then the foreground (30-37, 90-97 when
// intense) and background (40-47, 100-107) that differ from `default_attributes`, reverse
// video (7) and underscore (4).  Returns its length; it is not terminated.
DWORD EncodeSgr(WORD attributes, WORD default_attributes, char* out);
