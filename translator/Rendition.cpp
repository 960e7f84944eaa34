// How cells are shown on the client's terminal.
#include "Rendition.h"

#include "ColorEncoding.h"

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

int Rendition::EncodeWide(WCHAR character, WORD attributes, HeldHalf* held, CellBytes* out) const {
    if (held->unit != 0 && IsSecondHalf(character)) {
        // The character shows where its first half is, in that cell's colours.
        const char32_t joined = 0x10000 + ((held->unit - 0xD800) << 10) + (character - 0xDC00);
        EncodeUnicode(joined, held->attributes, out);
        held->unit = 0;
        return 1;
    }
    const int count = EncodeHeld(held, out);
    if (IsFirstHalf(character)) {
        *held = HeldHalf{character, attributes};
        return count;
    }
    // A second half without its first is a surrogate still, which EncodeUtf8 makes U+FFFD.
    EncodeUnicode(character, attributes, &out[count]);
    return count + 1;
}

int Rendition::EncodeHeld(HeldHalf* held, CellBytes* out) const {
    if (held->unit == 0) return 0;
    EncodeUnicode(held->unit, held->attributes, out);
    held->unit = 0;
    return 1;
}

void Rendition::EncodeUnicode(char32_t character, WORD attributes, CellBytes* out) const {
    out->length = EncodeUtf8(character, out->text);
    out->attributes = attributes;
    out->reverse = IsReverseVideo(attributes);
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
