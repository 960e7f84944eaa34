// How the console's cells are shown on the client's terminal, chosen once from the settings: how
// two cells compare, which cell counts as blank, and the bytes a cell becomes.
#pragma once

#include "Utf8.h"
#include "win32.h"

// A cell is shown in reverse video when its background, without the intensity bit, is green,
// brown or grey, unless colour simulation is suppressed.
inline bool IsReverseVideo(WORD attributes, bool suppress_color_simulation) {
    if (suppress_color_simulation) return false;
    switch (attributes & 0x70) {  // the background without its intensity
        case BACKGROUND_GREEN:
        case BACKGROUND_RED | BACKGROUND_GREEN:
        case BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE:
            return true;
        default:
            return false;
    }
}

// One character of a cell as it goes to the terminal.
struct CellBytes {
    char text[kMaxUtf8Length];  // a byte of the ANSI character set, or a character's UTF-8
    DWORD length;
    WORD attributes;  // sent as SGR while the console's colours are sent
    bool reverse;     // wrapped in reverse video by the colour simulation
};

class Rendition {
  public:
    // Converts one byte of 0x80 or above from the OEM to the ANSI character set.
    using Converter = BYTE (*)(BYTE oem);

    // Reverse-video simulation, 8-bit characters converted by `convert`.
    explicit Rendition(Converter convert) : convert_(convert) {}

    // A UTF-8 client: its cells are read as UTF-16 and sent as UTF-8.
    bool utf8() const { return utf8_; }
    // The console's colours go out as SGR, the default attributes as the terminal's own.
    bool sends_colors() const { return style_ == Style::kColors; }
    WORD default_attributes() const { return default_attributes_; }

    bool IsReverseVideo(WORD attributes) const {
        return style_ == Style::kReverseVideo && ::IsReverseVideo(attributes, false);
    }
    // Cells are equal when their attribute words and the low bytes of their characters are; for
    // a UTF-8 client, when their whole characters are.
    bool CellsEqual(const CHAR_INFO& a, const CHAR_INFO& b) const {
        return a.Attributes == b.Attributes && a.Char.AsciiChar == b.Char.AsciiChar &&
               (!utf8_ || a.Char.UnicodeChar == b.Char.UnicodeChar);
    }
    // A blank cell is a space that is not shown in reverse video.  While colours are sent it is a
    // space in the default background, neither reversed nor underscored: what an erase leaves.
    bool IsBlank(const CHAR_INFO& cell) const;
    // What a cleared terminal shows, as the shown copy records it: with colours, blanks in the
    // default colours, so that a cell of attribute 0 is sent like any other; else empty cells.
    CHAR_INFO ClearedCell() const;

    // A byte of a cell or a control sequence in the ANSI character set.
    BYTE ToAnsi(BYTE character) const {
        return character >= 0x80 ? convert_(character) : character;
    }
    // The characters one cell adds to the stream, at most two, into `out`; returns how many.  A
    // UTF-8 client's cells are UTF-16 units: the first half of a surrogate pair waits in `*held`
    // for the next cell (none is sent), and a half without its partner becomes U+FFFD.  Other
    // clients' cells are bytes.
    // The 8-bit path is here, where the writer's loop over a row's cells can inline it.
    int Encode(WCHAR character, WORD attributes, WCHAR* held, CellBytes* out) const {
        if (utf8_) return EncodeWide(character, attributes, held, out);
        out->text[0] = static_cast<char>(ToAnsi(static_cast<BYTE>(character)));
        out->length = 1;
        out->attributes = attributes;
        out->reverse = IsReverseVideo(attributes);
        return 1;
    }

  private:
    int EncodeWide(WCHAR character, WORD attributes, WCHAR* held, CellBytes* out) const;
    friend Rendition MakeRendition(bool, DWORD, WORD, bool, Converter);
    enum class Style { kReverseVideo, kPlain, kColors };

    Converter convert_;
    bool utf8_ = false;
    Style style_ = Style::kReverseVideo;
    WORD default_attributes_ = 0x07;
};

// The rendition for the settings: Utf8Client, ColorMode (kColorModeSixteen sends the colours,
// with `default_attributes` as the terminal's own) and SuppressColorSimulation (which colours
// also suppress).
Rendition MakeRendition(bool utf8_client, DWORD color_mode, WORD default_attributes,
                        bool suppress_color_simulation, Rendition::Converter convert);
