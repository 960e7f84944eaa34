// The one place where the platform's API comes in: the real <windows.h> when building for
// Windows, the simulated one elsewhere.  Product code includes this and nothing else of the
// platform, and spells every Win32 name, type and constant as the platform does.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <process.h>
#include <lm.h>
#else
#include "winsim/windows.h"
#endif
