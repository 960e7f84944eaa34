// Key sequences: what the terminal's bytes for its keys decode to.
#include <gtest/gtest.h>
#include <vterm.h>

#include <memory>
#include <string>

#include "KeyEvents.h"
#include "KeySequences.h"

namespace {

struct Decoded {
    KeySequence::Kind kind;
    DWORD length;
    WORD virtual_key;
    BYTE character;
    DWORD modifiers;
};

Decoded Decode(const std::string& bytes) {
    KeySequence key = DecodeKeySequence(reinterpret_cast<const BYTE*>(bytes.data()),
                                        static_cast<DWORD>(bytes.size()));
    return Decoded{key.kind, key.length, key.virtual_key, key.character, key.modifiers};
}

TEST(KeySequenceTest, TheKeysOfXtermTheLinuxConsoleAndVt220) {
    struct Row {
        const char* bytes;
        WORD virtual_key;
        DWORD modifiers;
    };
    const Row table[] = {
        {"\033[A", VK_UP, 0},
        {"\033OB", VK_DOWN, 0},
        {"\033[C", VK_RIGHT, 0},
        {"\033OD", VK_LEFT, 0},
        {"\033[H", VK_HOME, 0},
        {"\033OF", VK_END, 0},
        {"\033[1~", VK_HOME, 0},
        {"\033[4~", VK_END, 0},
        {"\033[7~", VK_HOME, 0},
        {"\033[8~", VK_END, 0},
        {"\033[2~", VK_INSERT, 0},
        {"\033[3~", VK_DELETE, 0},
        {"\033[5~", VK_PRIOR, 0},
        {"\033[6~", VK_NEXT, 0},
        {"\033OP", VK_F1, 0},
        {"\033OS", VK_F4, 0},
        {"\033[11~", VK_F1, 0},
        {"\033[14~", VK_F4, 0},
        {"\033[[A", VK_F1, 0},
        {"\033[[E", VK_F5, 0},
        {"\033[15~", VK_F5, 0},
        {"\033[17~", VK_F6, 0},
        {"\033[21~", VK_F10, 0},
        {"\033[23~", VK_F11, 0},
        {"\033[24~", VK_F12, 0},
        // xterm's modifier parameter: 1 plus Shift 1, Alt 2, Ctrl 4.
        {"\033[1;2A", VK_UP, kShiftBit},
        {"\033[1;3D", VK_LEFT, kAltBit},
        {"\033[1;5C", VK_RIGHT, kCtrlBit},
        {"\033[1;8H", VK_HOME, kShiftBit | kAltBit | kCtrlBit},
        {"\033[3;5~", VK_DELETE, kCtrlBit},
        {"\033[24;2~", VK_F12, kShiftBit},
        {"\033[1;2P", VK_F1, kShiftBit},
        {"\033[;5A", VK_UP, kCtrlBit},
    };
    for (const Row& row : table) {
        Decoded key = Decode(row.bytes);
        EXPECT_EQ(key.kind, KeySequence::Kind::kKey) << row.bytes + 1;
        EXPECT_EQ(key.length, std::string(row.bytes).size()) << row.bytes + 1;
        EXPECT_EQ(key.virtual_key, row.virtual_key) << row.bytes + 1;
        EXPECT_EQ(key.character, 0) << row.bytes + 1;
        EXPECT_EQ(key.modifiers, row.modifiers) << row.bytes + 1;
        // Every shorter start of a key's sequence waits for more.
        for (size_t n = 1; n < std::string(row.bytes).size(); ++n)
            EXPECT_EQ(Decode(std::string(row.bytes, n)).kind, KeySequence::Kind::kIncomplete)
                << row.bytes + 1 << " cut to " << n;
    }
    // Back-tab is Shift+Tab with its character, as a local console gives it.
    Decoded back_tab = Decode("\033[Z");
    EXPECT_EQ(back_tab.virtual_key, VK_TAB);
    EXPECT_EQ(back_tab.character, 0x09);
    EXPECT_EQ(back_tab.modifiers, kShiftBit);
    // A key's sequence ends at its final byte; what follows is not looked at.
    EXPECT_EQ(Decode("\033[Axyz").length, 3u);
}

TEST(KeySequenceTest, AltCharactersAndWhatIsNoKey) {
    for (BYTE c : {BYTE{'x'}, BYTE{' '}, BYTE{'~'}, BYTE{'1'}}) {
        Decoded alt = Decode(std::string("\033") + static_cast<char>(c));
        EXPECT_EQ(alt.kind, KeySequence::Kind::kKey) << c;
        EXPECT_EQ(alt.length, 2u);
        EXPECT_EQ(alt.virtual_key, 0);
        EXPECT_EQ(alt.character, c);
        EXPECT_EQ(alt.modifiers, kAltBit);
    }
    // "[" and "O" always begin a sequence; 0x9B is an ordinary character; a control character or
    // DEL after Escape, a second Escape, an unknown or malformed sequence are no key.
    const char* const none[] = {"x",
                                "\x9b"
                                "A",
                                "\033\033",
                                "\033\x7f",
                                "\033\r",
                                "\033[9~",
                                "\033[25~",
                                "\033[99999~",
                                "\033[1;9A",
                                "\033[2;5A",
                                "\033[5A",
                                "\033[1A",
                                "\033[1;2;3~",
                                "\033[?1A",
                                "\033[ A",
                                "\033[\r",
                                "\033[[F",
                                "\033OX",
                                "\033O\033",
                                "\033[1;Z",
                                "\033[3;~",
                                "\033[1;2Z",
                                "\033[~",
                                "\033[="};
    for (const char* bytes : none) {
        EXPECT_EQ(Decode(bytes).kind, KeySequence::Kind::kNone) << bytes;
    }
    EXPECT_EQ(Decode("").kind, KeySequence::Kind::kNone);
    // Parameters without end are no key once they are longer than any key's.
    EXPECT_EQ(Decode("\033[" + std::string(13, ';')).kind, KeySequence::Kind::kNone);
    EXPECT_EQ(Decode("\033[1" + std::string(13, '0')).kind, KeySequence::Kind::kNone);
    EXPECT_EQ(Decode("\033[1;").kind, KeySequence::Kind::kIncomplete);
}

// A real terminal's encoder against the decoder: every cursor, editing and function key with
// every combination of modifiers, as libvterm sends them, decodes to the key and its modifiers.
TEST(KeySequenceTest, WhatARealTerminalSendsDecodesToItsKey) {
    std::unique_ptr<VTerm, decltype(&vterm_free)> vt(vterm_new(24, 80), &vterm_free);
    vterm_state_reset(vterm_obtain_state(vt.get()), 1);  // the keys read the terminal's modes
    auto send = [&](VTermKey key, int mod) {
        vterm_keyboard_key(vt.get(), key, static_cast<VTermModifier>(mod));
        char bytes[64];
        return std::string(bytes, vterm_output_read(vt.get(), bytes, sizeof bytes));
    };
    const struct {
        VTermKey key;
        WORD virtual_key;
    } keys[] = {
        {VTERM_KEY_UP, VK_UP},         {VTERM_KEY_DOWN, VK_DOWN},  {VTERM_KEY_LEFT, VK_LEFT},
        {VTERM_KEY_RIGHT, VK_RIGHT},   {VTERM_KEY_INS, VK_INSERT}, {VTERM_KEY_DEL, VK_DELETE},
        {VTERM_KEY_HOME, VK_HOME},     {VTERM_KEY_END, VK_END},    {VTERM_KEY_PAGEUP, VK_PRIOR},
        {VTERM_KEY_PAGEDOWN, VK_NEXT},
    };
    // libvterm's modifier bits are xterm's: Shift 1, Alt 2, Ctrl 4.
    auto bits = [](int mod) {
        return ((mod & VTERM_MOD_SHIFT) ? kShiftBit : 0) | ((mod & VTERM_MOD_ALT) ? kAltBit : 0) |
               ((mod & VTERM_MOD_CTRL) ? kCtrlBit : 0);
    };
    for (int mod = 0; mod < 8; ++mod) {
        for (const auto& k : keys) {
            const std::string bytes = send(k.key, mod);
            Decoded key = Decode(bytes);
            EXPECT_EQ(key.kind, KeySequence::Kind::kKey) << bytes.substr(1);
            EXPECT_EQ(key.length, bytes.size()) << bytes.substr(1);
            EXPECT_EQ(key.virtual_key, k.virtual_key) << bytes.substr(1);
            EXPECT_EQ(key.modifiers, bits(mod)) << bytes.substr(1);
        }
        for (int f = 1; f <= 12; ++f) {
            const std::string bytes = send(static_cast<VTermKey>(VTERM_KEY_FUNCTION(f)), mod);
            Decoded key = Decode(bytes);
            EXPECT_EQ(key.virtual_key, VK_F1 + f - 1) << bytes.substr(1);
            EXPECT_EQ(key.length, bytes.size()) << bytes.substr(1);
            EXPECT_EQ(key.modifiers, bits(mod)) << bytes.substr(1);
        }
    }
    Decoded back_tab = Decode(send(VTERM_KEY_TAB, VTERM_MOD_SHIFT));
    EXPECT_EQ(back_tab.virtual_key, VK_TAB);
    EXPECT_EQ(back_tab.modifiers, kShiftBit);
    // Alt and a printable character.
    for (uint32_t c = 0x20; c < 0x7F; ++c) {
        if (c == '[' || c == 'O') continue;  // these begin sequences
        vterm_keyboard_unichar(vt.get(), c, VTERM_MOD_ALT);
        char bytes[8];
        Decoded alt = Decode(std::string(bytes, vterm_output_read(vt.get(), bytes, sizeof bytes)));
        EXPECT_EQ(alt.kind, KeySequence::Kind::kKey) << c;
        EXPECT_EQ(alt.character, c);
        EXPECT_EQ(alt.modifiers, kAltBit);
    }
}

TEST(PasteMarkerTest, OnlyTheWholeMarkersAreMarkersAndLineEndsAreOneCarriageReturn) {
    auto marker = [](const std::string& bytes) {
        return DecodePasteMarker(reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size()));
    };
    EXPECT_EQ(marker("\x1b[200~"), PasteMarker::kStart);
    EXPECT_EQ(marker("\x1b[201~x"), PasteMarker::kEnd);
    for (const char* part : {"\x1b", "\x1b[", "\x1b[20", "\x1b[201"})
        EXPECT_EQ(marker(part), PasteMarker::kIncomplete) << part;
    for (const char* other : {"\x1b[A", "\x1b[202~", "\x1b[2001~", "\x1b[210~", "\x1b[200;", "a"})
        EXPECT_EQ(marker(other), PasteMarker::kNone) << other;

    std::string out;
    bool after_cr = false;
    for (char c : std::string("a\r\nb\nc\rd\r\r\n\n")) {
        BYTE byte = static_cast<BYTE>(c);
        if (PastedLineEnd(&byte, &after_cr)) out += static_cast<char>(byte);
    }
    EXPECT_EQ(out, "a\rb\rc\rd\r\r\r");
}

}  // namespace

namespace {

MouseReport DecodeReport(const std::string& bytes) {
    return DecodeMouseReport(reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()));
}

// A real terminal's mouse encoder against the decoder, in the SGR form and in the older one:
// motion, presses, releases, drags and the wheel, with every combination of modifiers, decode to
// the terminal's button code and its cell.
TEST(MouseReportTest, WhatARealTerminalSendsInEitherFormDecodesToItsReport) {
    for (bool sgr : {true, false}) {
        std::unique_ptr<VTerm, decltype(&vterm_free)> vt(vterm_new(60, 400), &vterm_free);
        vterm_state_reset(vterm_obtain_state(vt.get()), 1);
        const std::string modes = sgr ? "\033[?1003h\033[?1006h" : "\033[?1003h";
        vterm_input_write(vt.get(), modes.data(), modes.size());
        auto read = [&] {
            char bytes[64];
            return std::string(bytes, vterm_output_read(vt.get(), bytes, sizeof bytes));
        };
        auto expect = [&](const std::string& bytes, DWORD code, bool release, int row, int col) {
            const MouseReport report = DecodeReport(bytes);
            ASSERT_EQ(report.kind, MouseReport::Kind::kReport) << bytes.substr(1);
            EXPECT_EQ(report.length, bytes.size()) << bytes.substr(1);
            EXPECT_EQ(report.button, code) << bytes.substr(1);
            EXPECT_EQ(report.release, release && sgr) << bytes.substr(1);
            EXPECT_EQ(report.column, static_cast<DWORD>(col + 1)) << bytes.substr(1);
            EXPECT_EQ(report.row, static_cast<DWORD>(row + 1)) << bytes.substr(1);
            // Every shorter start waits for more, and says how much a report begun holds.
            for (size_t n = 1; n < bytes.size(); ++n) {
                const MouseReport part = DecodeReport(bytes.substr(0, n));
                EXPECT_EQ(part.kind, MouseReport::Kind::kIncomplete) << n;
                EXPECT_EQ(part.length, n < 3 ? 0 : n) << n;
            }
        };
        // The older form's positions end at 223, whose byte is 0xFF.  The terminal reports motion
        // only to another cell, so no two moves go to one.
        const int far_col = sgr ? 399 : 222;
        for (int mod = 0; mod < 8; ++mod) {
            const DWORD mods = static_cast<DWORD>(mod) << 2;  // Shift 4, Alt 8, Ctrl 16
            const VTermModifier vmod = static_cast<VTermModifier>(mod);
            for (auto [row, col] : {std::pair{9, 41}, std::pair{0, 0}, std::pair{59, far_col}}) {
                vterm_mouse_move(vt.get(), row, col, vmod);
                expect(read(), 35 | mods, false, row, col);  // motion with no button
                for (int button = 1; button <= 3; ++button) {
                    vterm_mouse_button(vt.get(), button, true, vmod);
                    expect(read(), (button - 1) | mods, false, row, col);
                    vterm_mouse_button(vt.get(), button, false, vmod);
                    expect(read(), (sgr ? button - 1 : 3) | mods, true, row, col);
                }
                vterm_mouse_button(vt.get(), 4, true, vmod);
                expect(read(), 64 | mods, false, row, col);
                vterm_mouse_button(vt.get(), 5, true, vmod);
                expect(read(), 65 | mods, false, row, col);
            }
            // A drag: motion with the left button held.
            vterm_mouse_button(vt.get(), 1, true, vmod);
            read();
            vterm_mouse_move(vt.get(), 3, 4, vmod);
            expect(read(), 32 | mods, false, 3, 4);
            vterm_mouse_button(vt.get(), 1, false, vmod);
            read();
        }
    }
}

TEST(MouseReportTest, ACutOlderReportAndWhatIsNoReport) {
    // A byte below 0x20 cannot be an older report's: an in-band message took one of its bytes
    // (0xFF), and the next report's Escape came instead.  The report's bytes before it are cut.
    MouseReport cut = DecodeReport("\033[M !\033");
    EXPECT_EQ(cut.kind, MouseReport::Kind::kCut);
    EXPECT_EQ(cut.length, 5u);
    EXPECT_EQ(DecodeReport("\033[M\r").length, 3u);
    EXPECT_EQ(DecodeReport("\033[M").kind, MouseReport::Kind::kIncomplete);
    // A report ends at its final byte.
    EXPECT_EQ(DecodeReport("\033[<0;1;1Mxyz").length, 9u);
    EXPECT_EQ(DecodeReport("\033[M !!xyz").length, 6u);
    EXPECT_EQ(DecodeReport("\033[<0;9999;9999m").kind, MouseReport::Kind::kReport);
    const char* const none[] = {"x",
                                "\033x",
                                "\033[A",
                                "\033[1;5A",
                                "\033O",
                                "\033[<;1;1M",
                                "\033[<0;1M",
                                "\033[<0;1;1;1M",
                                "\033[<0;1;1x",
                                "\033[<0;;1M",
                                "\033[<0;1;10000M",
                                "\033[<<",
                                "\033[<0;1;1\033"};
    for (const char* bytes : none)
        EXPECT_EQ(DecodeReport(bytes).kind, MouseReport::Kind::kNone) << bytes + 1;
    EXPECT_EQ(DecodeReport("").kind, MouseReport::Kind::kNone);
    // Parameters without end are no report once they are longer than any report's.
    EXPECT_EQ(DecodeReport("\033[<0;1;" + std::string(kMaxMouseReport, '0')).kind,
              MouseReport::Kind::kNone);
}

}  // namespace
