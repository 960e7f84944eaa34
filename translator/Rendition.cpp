// How cells are shown on the client's terminal.
#include "Rendition.h"

#include "ColorEncoding.h"

namespace {
constexpr WORD kBackgroundWithoutIntensity = 0x70;

bool IsHighSurrogate(WCHAR unit) {
    return (unit & 0xFC00) == 0xD800;
}
bool IsLowSurrogate(WCHAR unit) {
    return (unit & 0xFC00) == 0xDC00;
}

// The characters UTF-16 unit `unit` completes after the unit in `*held` (0: none), into `out`.
int JoinSurrogates(WCHAR unit, WCHAR* held, char32_t* out) {
    const char32_t high = *held;
    *held = 0;
    int count = 0;
    if (high != 0) {
        if (IsLowSurrogate(unit)) {
            out[0] = 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00);
            return 1;
        }
        out[count++] = kReplacementCharacter;
    }
    if (IsHighSurrogate(unit)) {
        *held = unit;
    } else {
        out[count++] = IsLowSurrogate(unit) ? kReplacementCharacter : unit;
    }
    return count;
}

}  // namespace

bool IsReverseVideo(WORD attributes, bool suppress_color_simulation) {
    if (suppress_color_simulation) return false;
    switch (attributes & kBackgroundWithoutIntensity) {
        case BACKGROUND_GREEN:
        case BACKGROUND_RED | BACKGROUND_GREEN:
        case BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE:
            return true;
        default:
            return false;
    }
}

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

int Rendition::Encode(WCHAR character, WORD attributes, WCHAR* held, CellBytes* out) const {
    if (!utf8_) {
        out[0] = Character(ToAnsi(static_cast<BYTE>(character)), attributes);
        return 1;
    }
    char32_t characters[2];
    const int count = JoinSurrogates(character, held, characters);
    for (int i = 0; i < count; ++i) out[i] = Character(characters[i], attributes);
    return count;
}

CellBytes Rendition::Character(char32_t character, WORD attributes) const {
    CellBytes cell{};
    if (utf8_) {
        cell.length = EncodeUtf8(character, cell.text);
    } else {
        cell.text[0] = static_cast<char>(character);
        cell.length = 1;
    }
    cell.attributes = attributes;
    cell.reverse = IsReverseVideo(attributes);
    return cell;
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
