// libvterm, a real terminal emulator, as the client's ANSI terminal: the tests and the fuzz
// targets that check what a user sees feed it the translator's bytes and read its screen.
#pragma once

#include <vterm.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ScreenMirror.h"

// Sinks of an ANSI terminal writer for the tests and fuzz targets: each flush kept in the
// std::vector<std::string> that `flushes` points at, or fed to the terminal of type T at
// `terminal`.
inline void RecordFlushes(void* flushes, const char* bytes, DWORD count) {
    static_cast<std::vector<std::string>*>(flushes)->emplace_back(bytes, count);
}
template <class T>
void FeedTo(void* terminal, const char* bytes, DWORD count) {
    static_cast<T*>(terminal)->Feed(bytes, count);
}

class VtermTerminal {
  public:
    // With latin1 set, bytes above 0x7F stand for the Latin-1 characters of their values (the
    // client's 8-bit code page) and go in as their UTF-8; otherwise the bytes go in as they are,
    // as UTF-8 with utf8 set.
    VtermTerminal(int rows, int columns, bool latin1 = false, bool utf8 = false)
        : vt_(vterm_new(rows, columns)), latin1_(latin1) {
        if (latin1_ || utf8) vterm_set_utf8(vt_, 1);
        screen_ = vterm_obtain_screen(vt_);
        vterm_screen_enable_altscreen(screen_, 1);
        vterm_screen_set_callbacks(screen_, &Callbacks(false), this);
        vterm_screen_reset(screen_, 1);
        CountStrays();
    }
    ~VtermTerminal() { vterm_free(vt_); }
    VtermTerminal(const VtermTerminal&) = delete;
    VtermTerminal& operator=(const VtermTerminal&) = delete;

    void Resize(int rows, int columns) { vterm_set_size(vt_, rows, columns); }

    void Feed(const char* bytes, size_t count) {
        if (!latin1_) {
            vterm_input_write(vt_, bytes, count);
            return;
        }
        std::string decoded;
        for (size_t i = 0; i < count; ++i) {
            auto byte = static_cast<unsigned char>(bytes[i]);
            if (byte < 0x80) {
                decoded += static_cast<char>(byte);
            } else {
                decoded += static_cast<char>(0xC0 | (byte >> 6));
                decoded += static_cast<char>(0x80 | (byte & 0x3F));
            }
        }
        vterm_input_write(vt_, decoded.data(), decoded.size());
    }
    void Feed(const std::string& bytes) { Feed(bytes.data(), bytes.size()); }

    // The character shown at a cell; an erased cell shows a space.
    uint32_t CharAt(int row, int column) const {
        VTermScreenCell cell;
        vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
        return cell.chars[0] == 0 ? ' ' : cell.chars[0];
    }
    bool ReverseAt(int row, int column) const {
        VTermScreenCell cell;
        vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
        return cell.attrs.reverse != 0;
    }
    // A cell's colour as its palette index, or -1 for the terminal's default colour.
    int ForegroundAt(int row, int column) const { return ColorIndex(Cell(row, column).fg); }
    int BackgroundAt(int row, int column) const { return ColorIndex(Cell(row, column).bg); }
    bool UnderlineAt(int row, int column) const { return Cell(row, column).attrs.underline != 0; }
    VTermPos Cursor() const {
        VTermPos position;
        vterm_state_get_cursorpos(vterm_obtain_state(vt_), &position);
        return position;
    }
    // A row's characters (each as its low byte) without trailing blanks.
    std::string Row(int row) const {
        int rows = 0, columns = 0;
        vterm_get_size(vt_, &rows, &columns);
        std::string text;
        for (int x = 0; x < columns; ++x) text += static_cast<char>(CharAt(row, x));
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }

    // From now on keeps the rows that scroll off the top, as Row gives them: the terminal's
    // scrollback.
    void KeepScrollback() { vterm_screen_set_callbacks(screen_, &Callbacks(true), this); }
    const std::vector<std::string>& scrollback() const { return scrollback_; }

    // The terminal's properties as the stream set them: the alternate screen shown, the cursor
    // visible, the title (as its bytes).
    bool alternate_screen() const { return alternate_screen_; }
    bool cursor_visible() const { return cursor_visible_; }
    const std::string& title() const { return title_; }

    // The control characters and sequences the terminal did not understand: what would leave it
    // showing something other than what was meant.
    int strays() const { return strays_; }

  private:
    static VTermScreenCallbacks& Callbacks(bool scrollback) {
        static VTermScreenCallbacks sets[2] = {Properties(), Properties()};
        sets[1].sb_pushline = [](int columns, const VTermScreenCell* cells, void* user) {
            std::string text;
            for (int x = 0; x < columns; ++x)
                text += static_cast<char>(cells[x].chars[0] == 0 ? ' ' : cells[x].chars[0]);
            text.erase(text.find_last_not_of(' ') + 1);
            static_cast<VtermTerminal*>(user)->scrollback_.push_back(text);
            return 1;
        };
        return sets[scrollback ? 1 : 0];
    }
    static VTermScreenCallbacks Properties() {
        VTermScreenCallbacks set{};
        set.settermprop = [](VTermProp property, VTermValue* value, void* user) {
            auto* terminal = static_cast<VtermTerminal*>(user);
            if (property == VTERM_PROP_ALTSCREEN) terminal->alternate_screen_ = value->boolean != 0;
            if (property == VTERM_PROP_CURSORVISIBLE)
                terminal->cursor_visible_ = value->boolean != 0;
            if (property == VTERM_PROP_TITLE) terminal->title_ = value->string;
            return 1;
        };
        return set;
    }

    void CountStrays() {
        static const VTermParserCallbacks fallbacks = [] {
            VTermParserCallbacks set{};
            set.control = [](unsigned char, void* user) { return Stray(user); };
            set.escape = [](const char*, size_t, void* user) { return Stray(user); };
            set.csi = [](const char*, const long[], int, const char*, char, void* user) {
                return Stray(user);
            };
            set.osc = [](const char*, size_t, void* user) { return Stray(user); };
            set.dcs = [](const char*, size_t, void* user) { return Stray(user); };
            return set;
        }();
        vterm_screen_set_unrecognised_fallbacks(screen_, &fallbacks, this);
    }
    static int Stray(void* user) {
        ++static_cast<VtermTerminal*>(user)->strays_;
        return 1;
    }

    VTermScreenCell Cell(int row, int column) const {
        VTermScreenCell cell;
        vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
        return cell;
    }
    static int ColorIndex(const VTermColor& color) {
        if (VTERM_COLOR_IS_DEFAULT_FG(&color) || VTERM_COLOR_IS_DEFAULT_BG(&color)) return -1;
        return VTERM_COLOR_IS_INDEXED(&color) ? color.indexed.idx : -2;
    }

    VTerm* vt_;
    VTermScreen* screen_;
    bool latin1_;
    std::vector<std::string> scrollback_;
    int strays_ = 0;
    bool alternate_screen_ = false;
    bool cursor_visible_ = true;
    std::string title_;
};

// The client's code page in the screen mirror checks: a stand-in for the OEM to ANSI conversion
// that maps every OEM byte to an ANSI byte of 0xA0 to 0xFF, which a latin1 terminal shows as the
// Latin-1 character of the same value.  (A real conversion also yields bytes 0x80 to 0x9F, which
// have no Latin-1 character; they are left out here.)
inline unsigned char TestOemToAnsi(unsigned char oem) {
    return static_cast<unsigned char>(0xA0 + (oem - 0x80) % 0x60);
}

// What a UTF-8 client's terminal shows for a console row of wide cells, column by column: a
// character the console marks as taking two cells, or a surrogate pair in two neighbouring cells,
// at its first cell and 0 (nothing of its own) at its second; a half without its partner as
// U+FFFD; any other cell as the mirror shows it.
inline std::vector<uint32_t> ShownUtf8Row(const CHAR_INFO* row, int columns) {
    std::vector<uint32_t> shown(static_cast<size_t>(columns));
    for (int x = 0; x < columns; ++x) {
        const uint32_t unit = row[x].Char.UnicodeChar;
        const uint32_t next = x + 1 < columns ? row[x + 1].Char.UnicodeChar : 0;
        if ((unit & 0xFC00) == 0xD800 && (next & 0xFC00) == 0xDC00) {
            shown[x] = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
            shown[++x] = 0;
        } else if ((unit & 0xF800) == 0xD800) {
            shown[x] = 0xFFFD;
        } else {
            shown[x] = row[x].Attributes & COMMON_LVB_TRAILING_BYTE ? 0 : ShownWideCharacter(unit);
        }
    }
    return shown;
}

// What a terminal that was sent the console's colours shows for a cell of `attributes`, with
// `color_default` the console's default attributes, as "fg/bg/reverse/underline": a colour as its
// palette index (console colours in the ANSI order, the intense ones 8 above), the default one as
// -1.  The foreground of a blank that is neither reversed nor underlined is not seen: "*".
inline std::string ExpectedColors(unsigned short attributes, int color_default, bool blank) {
    auto index = [](unsigned color) {
        return static_cast<int>(((color & 1) << 2 | (color & 2) | (color & 4) >> 2) + (color & 8));
    };
    const unsigned fg = attributes & 0x0F, bg = (attributes >> 4) & 0x0F;
    const bool reverse = (attributes & 0x4000) != 0, underline = (attributes & 0x8000) != 0;
    std::string text = blank && !reverse && !underline
                           ? "*"
                           : std::to_string(fg == (color_default & 0x0Fu) ? -1 : index(fg));
    text += "/" + std::to_string(bg == ((color_default >> 4) & 0x0Fu) ? -1 : index(bg));
    return text + (reverse ? "/r" : "/-") + (underline ? "/u" : "/-");
}

// The same, as the terminal shows the cell.
inline std::string ShownColors(const VtermTerminal& terminal, int row, int column, bool blank) {
    const bool reverse = terminal.ReverseAt(row, column);
    const bool underline = terminal.UnderlineAt(row, column);
    std::string text =
        blank && !reverse && !underline ? "*" : std::to_string(terminal.ForegroundAt(row, column));
    text += "/" + std::to_string(terminal.BackgroundAt(row, column));
    return text + (reverse ? "/r" : "/-") + (underline ? "/u" : "/-");
}

// A latin1 terminal that also keeps the bytes it was fed, to show what was sent when its screen
// is not the one expected.
class RecordingTerminal : public VtermTerminal {
  public:
    // A UTF-8 client's terminal with utf8 set.
    RecordingTerminal(int rows, int columns, bool utf8 = false)
        : VtermTerminal(rows, columns, !utf8, utf8) {}

    void Feed(const char* bytes, size_t count) {
        VtermTerminal::Feed(bytes, count);
        stream_.append(bytes, count);
    }
    const std::string& stream() const { return stream_; }

    // Everything fed since the last call.
    std::string TakeStream() {
        std::string stream;
        stream.swap(stream_);
        return stream;
    }

  private:
    std::string stream_;
};
