// The terminal modes of a login and their reset.
#include "TerminalModes.h"

#include "translator.h"

std::string TerminalModeReset(DWORD modes) {
    std::string reset;
    if ((modes & kModeMouseReports) != 0) reset += MouseReportsSwitch(false);
    if ((modes & kModeBracketedPaste) != 0) reset += "\x1b[?2004l";
    if ((modes & kModeAlternateScreen) != 0) reset += "\x1b[?1049l";
    if ((modes & kModeCursorHidden) != 0) reset += "\x1b[?25h";
    return reset;
}

const char* MouseReportsSwitch(bool on) {
    return on ? "\x1b[?1000h\x1b[?1002h\x1b[?1003h\x1b[?1006h"
              : "\x1b[?1006l\x1b[?1003l\x1b[?1002l\x1b[?1000l";
}

void NoteModes(DWORD modes, bool on) {
    if (on) {
        g_translator.terminal_modes.fetch_or(modes);
    } else {
        g_translator.terminal_modes.fetch_and(~modes);
    }
}

void SendTerminalModeReset() {
    const std::string reset = TerminalModeReset(g_translator.terminal_modes.exchange(0));
    if (!reset.empty()) WriteToClient(reset.data(), static_cast<DWORD>(reset.size()));
}
