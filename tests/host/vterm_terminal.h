// libvterm, a real terminal emulator, as the client's ANSI terminal: the tests and the fuzz
// targets that check what a user sees feed it the translator's bytes and read its screen.
#pragma once

#include <vterm.h>

#include <cstddef>
#include <cstdint>
#include <string>

class VtermTerminal {
  public:
    // With latin1 set, bytes above 0x7F stand for the Latin-1 characters of their values (the
    // client's 8-bit code page) and go in as their UTF-8; otherwise the bytes go in as they are,
    // as UTF-8 with utf8 set.
    VtermTerminal(int rows, int columns, bool latin1 = false, bool utf8 = false)
        : vt_(vterm_new(rows, columns)), latin1_(latin1) {
        if (latin1_ || utf8) vterm_set_utf8(vt_, 1);
        screen_ = vterm_obtain_screen(vt_);
        vterm_screen_reset(screen_, 1);
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

  private:
    VTerm* vt_;
    VTermScreen* screen_;
    bool latin1_;
};

// The client's code page in the screen mirror checks: a stand-in for the OEM to ANSI conversion
// that maps every OEM byte to an ANSI byte of 0xA0 to 0xFF, which a latin1 terminal shows as the
// Latin-1 character of the same value.  (A real conversion also yields bytes 0x80 to 0x9F, which
// have no Latin-1 character; they are left out here.)
inline unsigned char TestOemToAnsi(unsigned char oem) {
    return static_cast<unsigned char>(0xA0 + (oem - 0x80) % 0x60);
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
