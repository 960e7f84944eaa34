// Key event synthesis: the events of one keystroke and the Ctrl-A key commands.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KeyEvents.h"
#include "KeyInput.h"
#include "winsim/control.h"

namespace {

// One event as "+vk/char/state" for a press and "-vk/char/state" for a release, in hex.
std::vector<std::string> Events(const KeyPlan& plan) {
    std::vector<std::string> events;
    for (int i = 0; i < plan.count; ++i) {
        const PlannedKeyEvent& e = plan.events[i];
        char text[32];
        std::snprintf(text, sizeof text, "%c%02x/%02x/%02x", e.key_down ? '+' : '-', e.virtual_key,
                      static_cast<BYTE>(e.character), static_cast<unsigned>(e.control_state));
        events.push_back(text);
    }
    return events;
}

using EventList = std::vector<std::string>;

// VkKeyScanA's answers on a US layout.
constexpr SHORT kScanA = 0x0041;       // "a"
constexpr SHORT kScanShiftA = 0x0141;  // "A"
constexpr SHORT kScanCtrlC = 0x0243;   // 0x03
constexpr SHORT kScanC = 0x0043;       // "c"
constexpr SHORT kNoKey = -1;           // no key on the layout

TEST(ComposeKeyTest, CharactersAndTheirModifiers) {
    struct Case {
        const char* what;
        BYTE character;
        WORD virtual_key;
        SHORT key_scan;
        DWORD sticky;
        EventList events;
    } cases[] = {
        {"a", 'a', 0, kScanA, 0, {"+41/61/00", "-41/61/00"}},
        {"A with Shift",
         'A',
         0,
         kScanShiftA,
         0,
         {"+10/00/10", "+41/41/10", "-41/41/10", "-10/00/10"}},
        {"Ctrl-C", 0x03, 0, kScanCtrlC, 0, {"+11/00/08", "+43/03/08", "-43/03/08", "-11/00/08"}},
        {"no key: Shift, Ctrl and Alt around vk 0xFF",
         0xE9,
         0,
         kNoKey,
         0,
         {"+10/00/10", "+11/00/18", "+12/00/1a", "+ff/e9/1a", "-ff/e9/1a", "-12/00/1a", "-11/00/18",
          "-10/00/10"}},
        {"sticky Ctrl and c",
         'c',
         0,
         kScanC,
         kCtrlBit,
         {"+11/00/08", "+43/63/08", "-43/63/08", "-11/00/08"}},
        {"sticky Shift and a key that has Shift itself",
         'A',
         0,
         kScanShiftA,
         kShiftBit,
         {"+10/00/10", "+41/41/10", "-41/41/10", "-10/00/10"}},
        {"Alt alone", 0, VK_MENU, 0, 0, {"+12/00/02", "-12/00/02"}},
        {"Alt alone with sticky Ctrl",
         0,
         VK_MENU,
         0,
         kCtrlBit,
         {"+11/00/08", "+12/00/02", "-12/00/02", "-11/00/08"}},
        {"Shift+Up from sticky",
         0,
         VK_UP,
         0,
         kShiftBit,
         {"+10/00/10", "+26/00/10", "-26/00/10", "-10/00/10"}},
        {"Ctrl+Alt+Delete",
         0,
         VK_DELETE,
         0,
         kCtrlBit | kAltBit,
         {"+11/00/08", "+12/00/0a", "+2e/00/0a", "-2e/00/0a", "-12/00/0a", "-11/00/08"}},
        {"a given key ignores the scan answer", 0, VK_F1, kNoKey, 0, {"+70/00/00", "-70/00/00"}},
    };
    for (const Case& c : cases) {
        KeyPlan plan = ComposeKey(c.character, c.virtual_key, c.key_scan, c.sticky);
        EXPECT_EQ(Events(plan), c.events) << c.what;
        EXPECT_EQ(plan.pause_after_press, c.virtual_key == VK_MENU) << c.what;
    }
}

TEST(ComposeKeyTest, EventKindsNameTheirFailureMessages) {
    KeyPlan plan = ComposeKey(0xE9, 0, kNoKey, 0);
    std::vector<std::string> messages;
    for (int i = 0; i < plan.count; ++i)
        messages.push_back(KeyEventFailureMessage(plan.events[i].kind));
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "WriteConsoleInput for shift down failed: %lu",
                            "WriteConsoleInput for ctrl down failed: %lu",
                            "WriteConsoleInput for alt down failed: %lu",
                            "WriteConsoleInput for key down failed: %lu",
                            "WriteConsoleInput for key up failed: %lu",
                            "WriteConsoleInput for alt up failed: %lu",
                            "WriteConsoleInput for ctrl up failed: %lu",
                            "WriteConsoleInput for shift up failed: %lu",
                        }));
}

// A layout for the record builders: "A" is Shift+A, "é" has its own key, nothing else has any;
// each virtual key's scan code is the key plus 0x100, so that a record shows whose it took.
const KeyLookUps kTestLayout = {
    [](CHAR c) { return c == 'A' ? kScanShiftA : kNoKey; },
    [](WCHAR unit) { return unit == 0xE9 ? SHORT{0x0045} : kNoKey; },
    [](BYTE virtual_key) { return static_cast<WORD>(virtual_key + 0x100); },
};

// One record as "+vk/char/state/scan", the pause after it as " pause", and "A"/"W" first.
EventList Records(const KeyRecords& keys) {
    EventList records{keys.wide ? "W" : "A"};
    for (int i = 0; i < keys.count; ++i) {
        const KEY_EVENT_RECORD& e = keys.records[i].record.Event.KeyEvent;
        char text[48];
        std::snprintf(text, sizeof text, "%c%02x/%04x/%02x/%03x%s", e.bKeyDown ? '+' : '-',
                      e.wVirtualKeyCode, static_cast<unsigned>(e.uChar.UnicodeChar),
                      static_cast<unsigned>(e.dwControlKeyState), e.wVirtualScanCode,
                      keys.records[i].pause_after ? " pause" : "");
        records.push_back(text);
        EXPECT_EQ(keys.records[i].record.EventType, KEY_EVENT);
    }
    return records;
}

TEST(KeyRecordsTest, ABytesRecordsCarryTheLayoutsKeyAndScanCodes) {
    EXPECT_EQ(Records(ByteKeyRecords('A', 0, 0, kTestLayout)),
              (EventList{"A", "+10/0000/10/110", "+41/0041/10/141", "-41/0041/10/141",
                         "-10/0000/10/110"}));
    // Alt alone is held after its press, and only then; a given key needs no layout.
    EXPECT_EQ(Records(ByteKeyRecords(0, VK_MENU, kCtrlBit, kTestLayout)),
              (EventList{"A", "+11/0000/08/111", "+12/0000/02/112 pause", "-12/0000/02/112",
                         "-11/0000/08/111"}));
    KeyRecords keys = ByteKeyRecords(0, VK_F1, 0, kTestLayout);
    EXPECT_STREQ(keys.records[1].failure, "WriteConsoleInput for key up failed: %lu");
}

TEST(KeyRecordsTest, ACharactersRecordsAreWideWithTheUnitOnTheKeyOnly) {
    // The layout's key, its own Shift and the sticky Ctrl; no pause for any wide record.
    EXPECT_EQ(Records(CharacterKeyRecords(0xE9, kCtrlBit, kTestLayout)),
              (EventList{"W", "+11/0000/08/111", "+45/00e9/08/145", "-45/00e9/08/145",
                         "-11/0000/08/111"}));
    // No key on the layout: VK_PACKET with the sticky modifiers.
    EXPECT_EQ(Records(CharacterKeyRecords(0x2500, kShiftBit, kTestLayout)),
              (EventList{"W", "+10/0000/10/110", "+e7/2500/10/1e7", "-e7/2500/10/1e7",
                         "-10/0000/10/110"}));
    // A surrogate pair: two presses, the modifiers with the first only.
    EXPECT_EQ(Records(CharacterKeyRecords(0x1F600, kAltBit, kTestLayout)),
              (EventList{"W", "+12/0000/02/112", "+e7/d83d/02/1e7", "-e7/d83d/02/1e7",
                         "-12/0000/02/112", "+e7/de00/00/1e7", "-e7/de00/00/1e7"}));
}

std::string Describe(KeyCommand command) {
    using Action = KeyCommand::Action;
    char text[16];
    switch (command.action) {
        case Action::kIgnore:
            return "ignore";
        case Action::kInjectKey:
            std::snprintf(text, sizeof text, "vk %02x", command.virtual_key);
            return text;
        case Action::kLiteralCtrlA:
            return "^A";
        case Action::kRedraw:
            return "redraw";
        case Action::kSticky:
            return command.modifier == kAltBit     ? "alt"
                   : command.modifier == kCtrlBit  ? "ctrl"
                   : command.modifier == kShiftBit ? "shift"
                                                   : "sticky?";
    }
    return "?";
}

TEST(KeyCommandTest, EveryRowOfTheTableInEitherCase) {
    struct Row {
        const char* bytes;
        const char* action;
    } rows[] = {
        {"\x01", "^A"},  {"\x12", "redraw"}, {"1", "vk 70"},  {"5", "vk 74"},  {"9", "vk 78"},
        {"0", "vk 79"},  {"-_", "vk 7a"},    {"+=", "vk 7b"}, {"Aa", "alt"},   {"Cc", "ctrl"},
        {"Ss", "shift"}, {"Uu", "vk 26"},    {"Dd", "vk 28"}, {"Ll", "vk 25"}, {"Rr", "vk 27"},
        {"Hh", "vk 24"}, {"Ee", "vk 23"},    {"Pp", "vk 21"}, {"Nn", "vk 22"}, {"Ii", "vk 2d"},
        {"Xx", "vk 2e"}, {"Zz", "vk 12"},
    };
    for (const Row& row : rows) {
        for (const char* b = row.bytes; *b != '\0'; ++b)
            EXPECT_EQ(Describe(LookUpKeyCommand(static_cast<BYTE>(*b))), row.action) << *b;
    }
}

TEST(KeyCommandTest, OtherBytesAreIgnored) {
    int known = 0;
    for (int b = 0; b < 256; ++b) {
        if (Describe(LookUpKeyCommand(static_cast<BYTE>(b))) != "ignore") ++known;
    }
    // ^A, ^R, ten digits, four signs and fourteen letters in two cases.
    EXPECT_EQ(known, 2 + 10 + 4 + 14 * 2);
    for (BYTE b : {BYTE{'Q'}, BYTE{'{'}, BYTE{0x00}, BYTE{0x7B}, BYTE{0xC1}, BYTE{0xFF}, BYTE{'@'},
                   BYTE{'['}, BYTE{0x02}, BYTE{' '}})
        EXPECT_EQ(Describe(LookUpKeyCommand(b)), "ignore") << static_cast<int>(b);
}

// The sticky modifiers of RunKeyCommand; nothing here reaches the console.
class StickyTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        saved_console_ = g_translator.console_input;
    }
    void TearDown() override {
        g_translator.console_input = saved_console_;
        g_translator.sticky_modifiers = 0;
        g_translator.redraw_request = 0;
    }
    HANDLE saved_console_ = nullptr;
};

TEST_F(StickyTest, CommandsSetTheStickyModifiersAndIgnoredBytesChangeNothing) {
    RunKeyCommand('a');
    RunKeyCommand('S');
    RunKeyCommand('S');
    RunKeyCommand('Q');
    EXPECT_EQ(g_translator.sticky_modifiers, kAltBit | kShiftBit);
    RunKeyCommand('c');
    EXPECT_EQ(g_translator.sticky_modifiers, kAltBit | kShiftBit | kCtrlBit);
    EXPECT_EQ(g_translator.redraw_request, 0);
    RunKeyCommand(0x12);
    EXPECT_EQ(g_translator.redraw_request, 1);
    EXPECT_TRUE(winsim::test::EventLog().empty());
}

// InjectKey against the simulated keyboard and console, in processes of their own since a refused
// event ends the program.
TEST_F(StickyTest, FailedConversionDropsTheCharacterAndKeepsTheStickyModifiers) {
    static bool sticky_kept;
    winsim::test::FailCall("CharToOemBuffA", ERROR_INVALID_PARAMETER);
    winsim::ExitStatus status = winsim::RunProcess([] {
        g_translator.console_input = nullptr;
        g_translator.sticky_modifiers = kCtrlBit;
        InjectKey('a', 0);
        sticky_kept = g_translator.sticky_modifiers == kCtrlBit;
        return 0;
    });
    EXPECT_EQ(status.code, 0u);
    EXPECT_TRUE(sticky_kept);
    auto log = winsim::test::EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].strings[0].rfind("Error translating input: ", 0), 0u);
}

TEST_F(StickyTest, ARefusedEventIsReportedAndEndsTheProgram) {
    winsim::ExitStatus status = winsim::RunProcess([] {
        g_translator.console_input = nullptr;  // no console: every event is refused
        g_translator.sticky_modifiers = kShiftBit;
        InjectKey('a', 0);
        return 0;
    });
    EXPECT_EQ(status.code, 1u);
    EXPECT_FALSE(status.crashed);
    auto log = winsim::test::EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].strings[0], "WriteConsoleInput for shift down failed: 6");
}

TEST_F(StickyTest, ARefusedBatchIsReportedWithItsFirstRecordsMessage) {
    winsim::ExitStatus status = winsim::RunProcess([] {
        g_translator.console_input = nullptr;
        KeyBatch batch(false);
        g_translator.sticky_modifiers = kCtrlBit;
        InjectInput(ClientInput::Byte('a'), &batch);
        InjectInput(ClientInput::Byte('b'), &batch);
        batch.Write(g_translator.console_input);
        return 0;
    });
    EXPECT_EQ(status.code, 1u);
    auto log = winsim::test::EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].strings[0], "WriteConsoleInput for ctrl down failed: 6");
}

// The key reader over a socket input that holds `bytes`: each unit as "key VK", "char U+X" or
// the byte in hex.
// With `paste` a pasted unit is marked "p:"; with `batching` a "|" follows each unit after which
// the reader has nothing ready without reading the socket input again.
std::vector<std::string> ReadUnits(const std::string& bytes, bool decode, bool utf8,
                                   bool mouse = false, bool paste = false, bool batching = false) {
    HANDLE read_end = nullptr, write_end = nullptr;
    EXPECT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
    DWORD written = 0;
    WriteFile(write_end, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(write_end);
    const HANDLE saved_input = g_translator.socket_input;
    const LoginProtocol saved_protocol = g_translator.protocol;
    g_translator.socket_input = read_end;
    g_translator.protocol = LoginProtocol::kRlogin;
    g_translator.input_batching = batching;
    std::vector<std::string> units;
    KeyReader reader(decode, utf8, mouse, paste);
    ClientInput input;
    char text[32];
    while (reader.Next(&input)) {
        if (input.is_mouse) {
            std::snprintf(text, sizeof text, "mouse %u@%u,%u%s",
                          static_cast<unsigned>(input.mouse.button),
                          static_cast<unsigned>(input.mouse.column),
                          static_cast<unsigned>(input.mouse.row), input.mouse.release ? "m" : "");
        } else if (input.is_key) {
            std::snprintf(text, sizeof text, "key %02x", input.key.virtual_key);
        } else if (input.character != 0) {
            std::snprintf(text, sizeof text, "char U+%04X", static_cast<unsigned>(input.character));
        } else {
            std::snprintf(text, sizeof text, "%02x", input.byte);
        }
        units.push_back((input.pasted ? "p:" : "") + std::string(text));
        BYTE next = 0;
        if (batching && !reader.Ready(&next)) units.push_back("|");
    }
    g_translator.input_batching = false;
    g_translator.batch_next = g_translator.batch_end = 0;
    g_translator.socket_input = saved_input;
    g_translator.protocol = saved_protocol;
    CloseHandle(read_end);
    return units;
}

TEST(KeyReaderTest, AUtf8ClientsMalformedBytesEachGiveOneReplacementAndKeysDecode) {
    winsim::test::Reset();
    // A sequence cut by a byte that cannot begin one (0xFF never reaches the reader: it opens a
    // window-size message): two replacements; cut by ASCII: one, then the byte.  A key's sequence
    // is the key; a parameter without a modifier before a letter is no key, and its bytes come one
    // by one.
    EXPECT_EQ(ReadUnits("\xe3\xc0\xe3"
                        "a\xc3\xa9\x1b[A\x1b[1A",
                        true, true),
              (std::vector<std::string>{"char U+FFFD", "char U+FFFD", "char U+FFFD", "61",
                                        "char U+00E9", "key 26", "1b", "5b", "31", "41"}));
    // Without UTF-8 every byte is itself.
    EXPECT_EQ(ReadUnits("\xe3\xc0", true, false), (std::vector<std::string>{"e3", "c0"}));
}

TEST(KeyReaderTest, ABracketedPasteIsTextWithItsLineEndsMadeCarriageReturns) {
    winsim::test::Reset();
    using Units = std::vector<std::string>;
    // Ctrl-A, Escape, a key's sequence and Ctrl-C inside are bytes; CR LF, LF and CR are each
    // one CR; the markers go; keys decode again after the end.
    EXPECT_EQ(ReadUnits("a\x1b[200~\x01\x1b\x1b[A\x03x\r\ny\nz\r\r\x1b[201~\x1b[A", true, false,
                        false, true),
              (Units{"61", "p:01", "p:1b", "p:1b", "p:5b", "p:41", "p:03", "p:78", "p:0d", "p:79",
                     "p:0d", "p:7a", "p:0d", "p:0d", "key 26"}));
    // UTF-8 in a paste; a marker is only ever the whole one.
    EXPECT_EQ(ReadUnits("\x1b[200~\xc3\xa9\x1b[202~\x1b[201~", false, true, false, true),
              (Units{"p:char U+00E9", "p:1b", "p:5b", "p:32", "p:30", "p:32", "p:7e"}));
    // What is left of a paste when the input ends is dropped, a piece of its end marker too.
    EXPECT_EQ(ReadUnits("\x1b[200~ab\x1b[20", false, false, false, true), (Units{"p:61", "p:62"}));
    // Without the setting the markers are bytes (or no key) as before.
    EXPECT_EQ(ReadUnits("\x1b[200~a", false, false),
              (Units{"1b", "5b", "32", "30", "30", "7e", "61"}));
}

TEST(KeyReaderTest, ABatchEndsWhereTheBytesReadRunOutOrAWindowSizeMessageBegins) {
    winsim::test::Reset();
    // An rlogin message that turns out to be none: its bytes go, and the batch ended before it.
    EXPECT_EQ(ReadUnits("ab\xffxcd", false, false, false, false, true),
              (std::vector<std::string>{"61", "62", "|", "63", "64", "|"}));
}

TEST(KeyReaderTest, MouseReportsComeWholeBesideKeysAndACutOneIsDropped) {
    winsim::test::Reset();
    // An older report's bytes beyond ASCII are its own, not UTF-8; one cut by the next Escape, or
    // by the end of the input, is dropped whole.
    EXPECT_EQ(ReadUnits("\x1b[A\x1b[M \x84!\x1b[<2;5;6m\x1b[M !\x1b[D\x1b[<0;1", true, true, true),
              (std::vector<std::string>{"key 26", "mouse 0@100,1", "mouse 2@5,6m", "key 25"}));
    // Without key decoding other sequences are their bytes.
    EXPECT_EQ(ReadUnits("\x1b[A\x1b[<0;1;1M\x1b", false, false, true),
              (std::vector<std::string>{"1b", "5b", "41", "mouse 0@1,1", "1b"}));
}

}  // namespace

namespace {

// The mouse events of a sequence of reports on one area, as "x,y buttons/flags/state" in hex.
struct MouseRun {
    explicit MouseRun(ShownArea shown = ShownArea{}) : area(shown) {}
    ShownArea area;
    MouseClicks clicks;
    DWORD tick = 1000;
    std::string Event(DWORD code, DWORD column, DWORD row, bool release = false) {
        MouseReport report;
        report.kind = MouseReport::Kind::kReport;
        report.button = code;
        report.release = release;
        report.column = column;
        report.row = row;
        MOUSE_EVENT_RECORD e;
        if (!MouseRecord(report, area, tick, 500, &clicks, &e)) return "none";
        char text[48];
        std::snprintf(text, sizeof text, "%d,%d %x/%x/%x", e.dwMousePosition.X, e.dwMousePosition.Y,
                      static_cast<unsigned>(e.dwButtonState), static_cast<unsigned>(e.dwEventFlags),
                      static_cast<unsigned>(e.dwControlKeyState));
        return text;
    }
};

TEST(MouseRecordTest, ButtonsHeldMotionWheelAndModifiersAsALocalConsoleWritesThem) {
    MouseRun run(ShownArea{0, 0, 80, 25, 0});
    EXPECT_EQ(run.Event(0, 1, 1), "0,0 1/0/0");                // left press
    EXPECT_EQ(run.Event(32, 5, 3), "4,2 1/1/0");               // a drag holds it
    EXPECT_EQ(run.Event(2, 5, 3), "4,2 3/0/0");                // right press: both held
    EXPECT_EQ(run.Event(1, 5, 3), "4,2 7/0/0");                // middle too
    EXPECT_EQ(run.Event(0, 5, 3, true), "4,2 6/0/0");          // an SGR release: that one goes
    EXPECT_EQ(run.Event(64, 5, 3), "4,2 780006/4/0");          // wheel up, buttons kept
    EXPECT_EQ(run.Event(65, 5, 3), "4,2 ff880006/4/0");        // wheel down
    EXPECT_EQ(run.Event(67, 5, 3), "4,2 780006/8/0");          // wheel right
    EXPECT_EQ(run.Event(3, 5, 3), "4,2 0/0/0");                // an older release: all go
    EXPECT_EQ(run.Event(35, 6, 3), "5,2 0/1/0");               // motion with nothing held
    EXPECT_EQ(run.Event(4 | 8 | 16 | 2, 6, 3), "5,2 2/0/1a");  // Shift, Alt and Ctrl
    EXPECT_EQ(run.Event(32 | 2, 7, 3), "6,2 2/1/0");
    EXPECT_EQ(run.Event(35, 7, 3), "6,2 0/1/0");  // a lost release is mended
    EXPECT_EQ(run.Event(128, 7, 3), "none");      // buttons beyond the three
    EXPECT_EQ(run.Event(64, 7, 3, true), "none");
}

TEST(MouseRecordTest, PositionsMapThroughTheShownAreaAndAreClampedToIt) {
    // A window at column 10, row 200 of its buffer, below 4 rows of the terminal's.
    MouseRun run(ShownArea{10, 200, 40, 20, 4});
    EXPECT_EQ(run.Event(35, 1, 5), "10,200 0/1/0");
    EXPECT_EQ(run.Event(35, 40, 24), "49,219 0/1/0");
    EXPECT_EQ(run.Event(35, 1, 1), "10,200 0/1/0");  // the rows above the window
    EXPECT_EQ(run.Event(35, 9999, 9999), "49,219 0/1/0");
    EXPECT_EQ(run.Event(35, 0, 0), "10,200 0/1/0");
    // Before the mirror's first pass nothing is shown: the area's corner.
    MouseRun early;
    EXPECT_EQ(early.Event(35, 30, 30), "0,0 0/1/0");
}

TEST(MouseRecordTest, ASecondPressOfTheButtonAtTheCellWithinTheTimeIsADoubleClick) {
    MouseRun run(ShownArea{0, 0, 80, 25, 0});
    auto click = [&](DWORD code, DWORD column, DWORD after) {
        run.tick += after;
        const std::string press = run.Event(code, column, 1);
        run.Event(code, column, 1, true);
        return press.substr(press.find('/') + 1, 1);  // the flags
    };
    EXPECT_EQ(click(0, 1, 0), "0");
    EXPECT_EQ(click(0, 1, 499), "2");
    EXPECT_EQ(click(0, 1, 10), "0");  // a third press begins again
    EXPECT_EQ(click(0, 1, 500), "0");
    EXPECT_EQ(click(0, 2, 10), "0");  // another cell
    EXPECT_EQ(click(2, 2, 10), "0");  // another button
    EXPECT_EQ(click(2, 2, 10), "2");
}

}  // namespace
