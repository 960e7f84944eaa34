// How cells are shown on the client's terminal.
#include "Rendition.h"

#include "ColorEncoding.h"

namespace {
// The characters UTF-16 unit `unit` completes after `*held` (a pair's first half, or 0), into
// `out`.  A half without its partner stays a surrogate, which EncodeUtf8 makes U+FFFD.
int JoinSurrogates(WCHAR unit, WCHAR* held, char32_t* out) {
    const char32_t high = *held;
    *held = 0;
    if (high != 0 && (unit & 0xFC00) == 0xDC00) {
        out[0] = 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00);
        return 1;
    }
    int count = 0;
    if (high != 0) out[count++] = high;
    if ((unit & 0xFC00) == 0xD800) {
        *held = unit;
    } else {
        out[count++] = unit;
    }
    return count;
}

}  // namespace

bool Rendition::IsBlank(const CHAR_INFO& cell) const {
    if (utf8_ && cell.Char.UnicodeChar != ' ') return false;
    if (cell.Char.AsciiChar != ' ') return false;
    if (style_ == Style::kColors) {
        constexpr WORD kShown = 0xF0 | COMMON_LVB_REVERSE_VIDEO | COMMON_LVB_UNDERSCORE;
        return (cell.Attributes & kShown) == (default_attributes_ & 0xF0);
    }
    return !IsReverseVideo(cell.Attributes);
}

CHAR_INFO Rendition::ClearedCell() const {
    CHAR_INFO cell{};
    if (style_ == Style::kColors) {
        cell.Char.UnicodeChar = ' ';
        cell.Attributes = default_attributes_;
    }
    return cell;
}

int Rendition::EncodeWide(WCHAR character, WORD attributes, WCHAR* held, CellBytes* out) const {
    char32_t characters[2] = {};
    const int count = JoinSurrogates(character, held, characters);
    for (int i = 0; i < count; ++i) {
        CellBytes& cell = out[i];
        cell.length = EncodeUtf8(characters[i], cell.text);
        cell.attributes = attributes;
        cell.reverse = IsReverseVideo(attributes);
    }
    return count;
}

Rendition MakeRendition(bool utf8_client, DWORD color_mode, WORD default_attributes,
                        bool suppress_color_simulation, Rendition::Converter convert) {
    Rendition rendition(convert);
    rendition.utf8_ = utf8_client;
    rendition.default_attributes_ = default_attributes;
    if (color_mode == kColorModeSixteen) {
        rendition.style_ = Rendition::Style::kColors;
    } else if (suppress_color_simulation) {
        rendition.style_ = Rendition::Style::kPlain;
    }
    return rendition;
}
