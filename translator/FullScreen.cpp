// Full-screen programs: the shown screen buffer, the alternate screen, the cursor, the title.
#include "FullScreen.h"

#include "TerminalModes.h"
#include "Utf8.h"

bool IsStartupBuffer(HANDLE startup, HANDLE opened) {
    CONSOLE_CURSOR_INFO original;
    if (!GetConsoleCursorInfo(startup, &original)) return true;
    // Two sizes other than the original and each other, 1 to 100 (a percentage of the cell).
    const DWORD first = original.dwSize % 100 + 1;
    const DWORD probes[2] = {first, first % 100 + 1};
    bool same = true;
    for (DWORD size : probes) {
        const CONSOLE_CURSOR_INFO probe{size, original.bVisible};
        CONSOLE_CURSOR_INFO seen;
        if (!SetConsoleCursorInfo(startup, &probe) || !GetConsoleCursorInfo(opened, &seen)) break;
        if (seen.dwSize != size) {
            same = false;
            break;
        }
    }
    SetConsoleCursorInfo(startup, &original);
    return same;
}

void ShownBuffer::Close() {
    if (program_ != nullptr) CloseHandle(program_);
    program_ = nullptr;
}

bool ShownBuffer::LookForProgramBuffer() {
    Close();
    HANDLE opened =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    if (IsStartupBuffer(startup_, opened)) {
        CloseHandle(opened);
        return false;
    }
    program_ = opened;
    return true;
}

namespace {

void PutSequence(const std::string& sequence, AnsiWriter& writer) {
    writer.PutControl(sequence.data(), static_cast<DWORD>(sequence.size()));
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// One character of a title as an 8-bit client gets it.
char AnsiTitleByte(WCHAR unit) {
    char bytes[8];
    BOOL used = FALSE;
    const int count = WideCharToMultiByte(CP_ACP, 0, &unit, 1, bytes, sizeof bytes, "?", &used);
    const auto byte = static_cast<BYTE>(bytes[0]);
    if (count != 1 || used || (byte >= 0x80 && byte <= 0x9F)) return '?';
    return bytes[0];
}

}  // namespace

bool SwitchScreen(bool alternate, TerminalView& view, AnsiWriter& writer) {
    if (alternate == view.alternate) return false;
    PutSequence(alternate ? "\033[?1049h" : "\033[?1049l", writer);
    NoteModes(kModeAlternateScreen, alternate);
    view.alternate = alternate;
    view.cursor_known = false;
    return true;
}

void ShowCursor(bool visible, TerminalView& view, AnsiWriter& writer) {
    if (view.cursor_known && visible == view.cursor_visible) return;
    PutSequence(visible ? "\033[?25h" : "\033[?25l", writer);
    NoteModes(kModeCursorHidden, !visible);
    view.cursor_visible = visible;
    view.cursor_known = true;
}

std::string TitleSequence(const WCHAR* title, size_t length, bool utf8) {
    std::string sequence = "\033]2;";
    size_t characters = 0;
    for (size_t i = 0; i < length && characters < kMaxTitleCharacters; ++i) {
        char32_t c = static_cast<char16_t>(title[i]);
        const bool pair = IsFirstHalf(title[i]) && i + 1 < length && IsSecondHalf(title[i + 1]);
        if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(title[++i]) - 0xDC00);
        if (IsControl(c)) continue;
        ++characters;
        if (!utf8) {
            sequence += pair ? '?' : AnsiTitleByte(title[i]);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        char bytes[kMaxUtf8Length];
        sequence.append(bytes, EncodeUtf8(c, bytes));
    }
    return sequence + '\a';
}

void ShowTitle(const std::string& sequence, TerminalView& view, AnsiWriter& writer) {
    if (view.title_sent && sequence == view.title) return;
    // In pieces the writer takes whole, never within a character's UTF-8 bytes.
    size_t start = 0;
    while (start < sequence.size()) {
        size_t end = start + AnsiWriter::kBufferSize < sequence.size()
                         ? start + AnsiWriter::kBufferSize
                         : sequence.size();
        while (end < sequence.size() && (static_cast<BYTE>(sequence[end]) & 0xC0) == 0x80) --end;
        writer.PutControl(sequence.data() + start, static_cast<DWORD>(end - start));
        start = end;
    }
    view.title = sequence;
    view.title_sent = true;
}

std::string ConsoleTitleSequence(bool utf8) {
    WCHAR title[1024];
    DWORD length = GetConsoleTitleW(title, 1024);
    if (length > 1023) length = 1023;
    return TitleSequence(title, length, utf8);
}
