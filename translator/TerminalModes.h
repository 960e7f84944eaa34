// The terminal modes a login turns on in the client's terminal, and the reset that turns them off
// again when the command processor ends.
#pragma once

#include <string>

#include "win32.h"

// One bit per mode; TranslatorState::terminal_modes holds those that are on.
constexpr DWORD kModeAlternateScreen = 0x1;  // DECSET 1049: a program's own screen buffer shown
constexpr DWORD kModeCursorHidden = 0x2;     // DECRST 25: the console's cursor is hidden
constexpr DWORD kModeMouseReports = 0x4;     // DECSET 1000, 1002, 1003 and 1006
constexpr DWORD kModeBracketedPaste = 0x8;   // DECSET 2004

// The bytes that turn `modes` off, in the order that leaves the terminal as a shell expects it:
// reports stop first, then the main screen comes back and the cursor shows.  Empty for none.
std::string TerminalModeReset(DWORD modes);

// The bytes that ask the terminal for mouse reports of presses, releases, drags and motion in the
// SGR form (DECSET 1000, 1002, 1003, 1006), or that stop them (DECRST in the reverse order).
const char* MouseReportsSwitch(bool on);

// The bytes that ask the terminal for bracketed paste (DECSET 2004).
constexpr char kBracketedPasteOn[] = "\x1b[?2004h";

// Records that the login turned `modes` on or off (the input side or the screen mirror, as it
// sends them).
void NoteModes(DWORD modes, bool on);

// Sends the reset of every mode still on through WriteToClient, once: the modes are off after
// it whether or not the client took the bytes (it may have gone as the command processor ended).
// Advanced mode calls it under the screen lock, simple mode after the relay's last write.
void SendTerminalModeReset();
