// Simple mode line editor: echo, editing, flow control and what reaches the console.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "login_harness.h"
#include "LineEditor.h"
#include "OutputRelay.h"
#include "Utf8.h"
#include "ZEVENT.h"
#include "winsim/control.h"

namespace {

constexpr DWORD kLineMode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
constexpr DWORD kLineNoEcho = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT;
constexpr DWORD kCharacterMode = ENABLE_PROCESSED_INPUT;
constexpr DWORD kRawMode = 0;

using Actions = std::vector<std::string>;

std::string Shown(const char* bytes, DWORD length) {
    std::string text;
    for (DWORD i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

// Feeds `bytes` to the editor the way the input loop does, the gate following the actions, and
// tells every action as a line: "key d", "echo d", "gate on", "gate off", "ctrl-c", "sleep 200",
// "exit pause", "key command".
class Typist {
  public:
    // With `utf8` the bytes are decoded first, as the input loop does for a UTF-8 client, and
    // the characters beyond ASCII go to TakeCharacter.
    std::vector<std::string> Type(const std::string& bytes, DWORD mode) {
        std::vector<std::string> done;
        for (char c : bytes) {
            char32_t decoded[2] = {static_cast<BYTE>(c), 0};
            int count = utf8_ ? decoder_.Feed(static_cast<BYTE>(c), decoded) : 1;
            for (int k = 0; k < count; ++k) Run(decoded[k], mode, &done);
        }
        return done;
    }

    // A terminal `columns` wide, the line beginning in column `start`.
    void UseTerminal(DWORD columns, DWORD start) { editor_.set_terminal(columns, start); }

    void UseUtf8() {
        utf8_ = true;
        editor_.set_utf8(true);
    }

    void Run(char32_t c, DWORD mode, std::vector<std::string>* out) {
        std::vector<std::string>& done = *out;
        {
            const bool wide = utf8_ && c >= 0x80;
            const ClientInput input =
                wide ? ClientInput::Character(c) : ClientInput::Byte(static_cast<BYTE>(c));
            for (const EditorAction& a : editor_.Take(input, mode, gate_)) {
                switch (a.kind) {
                    case EditorAction::Kind::kInject:
                        if (a.input.character != 0) {
                            done.push_back("char " + std::to_string(a.input.character));
                        } else {
                            done.push_back("key " +
                                           Shown(reinterpret_cast<const char*>(&a.input.byte), 1));
                        }
                        break;
                    case EditorAction::Kind::kWrite:
                        done.push_back((a.failure ? "echo " : "bell ") + Shown(a.text, a.length));
                        break;
                    case EditorAction::Kind::kEcho:
                        done.push_back("echo " + Shown(a.echo.data(), a.echo.size()));
                        break;
                    case EditorAction::Kind::kSetGate:
                        gate_ = true;
                        done.push_back("gate on");
                        break;
                    case EditorAction::Kind::kResetGate:
                        gate_ = false;
                        done.push_back("gate off");
                        break;
                    case EditorAction::Kind::kCtrlCEvent:
                        done.push_back("ctrl-c");
                        break;
                    case EditorAction::Kind::kSleep:
                        done.push_back("sleep " + std::to_string(a.milliseconds));
                        break;
                    case EditorAction::Kind::kExitPause:
                        done.push_back("exit pause");
                        break;
                    case EditorAction::Kind::kRunKeyCommand:
                        done.push_back("key command");
                        break;
                }
            }
        }
    }

    // A decoded key, as the input loop hands it over at a line prompt.
    Actions Key(WORD virtual_key, DWORD mode, DWORD modifiers = 0) {
        ClientInput input;
        input.is_key = true;
        input.key.kind = KeySequence::Kind::kKey;
        input.key.virtual_key = virtual_key;
        input.key.modifiers = modifiers;
        std::vector<std::string> done;
        for (const EditorAction& a : editor_.Take(input, mode, true))
            done.push_back(a.kind == EditorAction::Kind::kEcho
                               ? "echo " + Shown(a.echo.data(), a.echo.size())
                               : "other");
        return done;
    }

    std::string Line() const {
        return std::string(reinterpret_cast<const char*>(editor_.line()), editor_.length());
    }

    LineEditor editor_;
    bool gate_ = true;
    bool utf8_ = false;
    Utf8Decoder decoder_;
};

TEST(LineEditorTest, ALineIsEchoedAsTypedAndPassedOnAtEnter) {
    Typist t;
    EXPECT_EQ(t.Type("dir", kLineMode), (Actions{"echo d", "echo i", "echo r"}));
    EXPECT_EQ(t.Type("\r", kLineMode),
              (Actions{"key d", "key i", "key r", "echo \\x0d\\x0a", "key \\x0d"}));
    EXPECT_EQ(t.editor_.length(), 0u);
    // An empty line still passes Enter on; a line feed is ignored.
    EXPECT_EQ(t.Type("\n\r", kLineMode), (Actions{"echo \\x0d\\x0a", "key \\x0d"}));
}

TEST(LineEditorTest, ErasingTakesOneOrTwoColumnsPerByte) {
    Typist t;
    EXPECT_EQ(t.Type("a\x02\b\x7f", kLineMode),
              (Actions{"echo a", "echo ^B", "echo \\x08 \\x08\\x08 \\x08", "echo \\x08 \\x08"}));
    EXPECT_EQ(t.editor_.length(), 0u);
    // Nothing to erase: nothing at all, not even a bell.
    EXPECT_EQ(t.Type("\b\x7f\x1b\x15", kLineMode), Actions{});
    // The boundary: 0x1F was shown as two columns, a space as one.
    EXPECT_EQ(t.Type("\x1f \b\b", kLineMode),
              (Actions{"echo ^_", "echo  ", "echo \\x08 \\x08", "echo \\x08 \\x08\\x08 \\x08"}));
}

TEST(LineEditorTest, ACursorKeyErasesTheLineThenAddsItsText) {
    Typist t;
    t.Type("ab\x01", kLineMode);
    EXPECT_EQ(t.Type("\x1b[A", kLineMode),
              (Actions{"echo \\x08 \\x08\\x08 \\x08", "echo \\x08 \\x08", "echo \\x08 \\x08",
                       "echo [", "echo A"}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.editor_.line()), t.editor_.length()),
              "[A");
}

TEST(LineEditorTest, ControlBytesAreStoredAndShownWithACaret) {
    Typist t;
    EXPECT_EQ(t.Type(std::string("\0\x01\x80\xff", 4), kLineMode),
              (Actions{"echo ^@", "echo ^A", "echo \\x80", "echo \\xff"}));
    EXPECT_EQ(t.Type("\r", kLineMode), (Actions{"key \\x00", "key \\x01", "key \\x80", "key \\xff",
                                                "echo \\x0d\\x0a", "key \\x0d"}));
}

TEST(LineEditorTest, TheLineHolds256BytesAndRingsTheBellBeyond) {
    Typist t;
    t.Type(std::string(256, 'x'), kLineMode);
    EXPECT_EQ(t.Type("y", kLineMode), Actions{"bell \\x07"});
    EXPECT_EQ(t.editor_.length(), 256u);
    Actions enter = t.Type("\r", kLineMode);
    EXPECT_EQ(enter.size(), 256u + 2);
    EXPECT_EQ(enter[255], "key x");
    // Without echo the bell still rings.
    Typist quiet;
    quiet.Type(std::string(256, 'x'), kLineNoEcho);
    EXPECT_EQ(quiet.Type("y", kLineNoEcho), Actions{"bell \\x07"});
}

TEST(LineEditorTest, ExitAloneOnALineSetsTheExitFlagAndPauses) {
    struct Case {
        const char* line;
        bool exits;
    } cases[] = {{"exit", true},   {"EXIT", true}, {"eXiT", true},  {" exit", false},
                 {"exit ", false}, {"exi", false}, {"quit", false}, {"", false}};
    for (const Case& c : cases) {
        Typist t;
        t.Type(c.line, kLineMode);
        Actions enter = t.Type("\r", kLineMode);
        EXPECT_EQ(t.editor_.exit_flag(), c.exits) << c.line;
        EXPECT_EQ(enter.back(), c.exits ? "exit pause" : "key \\x0d") << c.line;
    }
    // The next line clears it.
    Typist t;
    t.Type("exit\r", kLineMode);
    t.Type("dir\r", kLineMode);
    EXPECT_FALSE(t.editor_.exit_flag());
}

TEST(LineEditorTest, WithoutEchoBytesAreStoredAndPassedOnSilently) {
    Typist t;
    EXPECT_EQ(t.Type("pw\b", kLineNoEcho), Actions{});
    EXPECT_EQ(t.Type("d\r", kLineNoEcho), (Actions{"key p", "key d", "key \\x0d"}));
}

TEST(LineEditorTest, CtrlSPausesAndTheNextKeyResumesAndIsDropped) {
    struct Case {
        DWORD mode;
        std::string bytes;
        Actions actions;
    } cases[] = {
        {kLineMode, "\x13q", {"gate off", "gate on"}},
        {kLineMode, "\x13\x13", {"gate off", "gate on"}},
        {kLineMode,
         "\x13\x11"
         "a",
         {"gate off", "gate on", "echo a"}},
        {kCharacterMode,
         "\x13x"
         "y",
         {"gate off", "gate on", "key y"}},
        // Ctrl-C is never used up as the resume key.
        {kLineMode,
         "\x13\x03",
         {"gate off", "ctrl-c", "gate on", "sleep 200", "echo \\x0d\\x0a\\x0a>"}},
        // Raw input: Ctrl-S is a key like any other.
        {kRawMode, "\x13\x03", {"key \\x13", "key \\x03"}},
    };
    for (const Case& c : cases) {
        Typist t;
        EXPECT_EQ(t.Type(c.bytes, c.mode), c.actions) << Shown(c.bytes.data(), c.bytes.size());
    }
}

TEST(LineEditorTest, CtrlCDropsThePendingLine) {
    Typist t;
    t.Type("dir", kLineMode);
    EXPECT_EQ(t.Type("\x03", kLineMode), (Actions{"ctrl-c", "sleep 200", "echo \\x0d\\x0a\\x0a>"}));
    EXPECT_EQ(t.editor_.length(), 0u);
    // Without echo no pause and no prompt line.
    EXPECT_EQ(t.Type("\x03", kLineNoEcho), Actions{"ctrl-c"});
    EXPECT_EQ(t.Type("\x03", kCharacterMode), Actions{"ctrl-c"});
}

TEST(LineEditorTest, RawInputPassesEveryByteAndResumesPausedOutput) {
    Typist t;
    t.Type("ab", kLineMode);
    EXPECT_EQ(t.Type(std::string("\x03\x13\r\x01\0", 5), kRawMode),
              (Actions{"key \\x03", "key \\x13", "key \\x0d", "key \\x01", "key \\x00"}));
    // The half-typed line was dropped with the switch.
    EXPECT_EQ(t.Type("\r", kLineMode), (Actions{"echo \\x0d\\x0a", "key \\x0d"}));
    t.gate_ = false;
    EXPECT_EQ(t.Type("zq", kRawMode), (Actions{"gate on", "key q"}));
}

TEST(LineEditorTest, AModeChangeEmptiesTheLine) {
    Typist t;
    t.Type("abc", kLineMode);
    t.Type("d", kLineNoEcho);
    EXPECT_EQ(t.editor_.length(), 1u);
    EXPECT_EQ(t.Type("\r", kLineNoEcho), (Actions{"key d", "key \\x0d"}));
}

TEST(LineEditorTest, CtrlAIsAKeyCommandInCharacterInputAndTextInLineInput) {
    Typist t;
    EXPECT_EQ(t.Type("x\x01", kCharacterMode), (Actions{"key x", "key command"}));
    EXPECT_EQ(t.Type("\x01", kLineMode), Actions{"echo ^A"});
}

// RunSimpleInput over a pipe as the socket input and a sink as the socket output.  Only line
// input without Enter is used here: keys reach the console through the simulated console.
class SimpleInputGlueTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        saved_ = {g_translator.socket_input, g_translator.socket_output,
                  g_translator.console_input};
        saved_protocol_ = g_translator.protocol;
        gate_was_set_ = g_output_gate.IsSet() != 0;
        g_output_gate.Set();
        g_translator.socket_output = client_.handle();
        g_translator.protocol = LoginProtocol::kTelnet;
    }
    void TearDown() override {
        g_translator.socket_input = saved_[0];
        g_translator.socket_output = saved_[1];
        g_translator.console_input = saved_[2];
        g_translator.protocol = saved_protocol_;
        if (gate_was_set_) {
            g_output_gate.Set();
        } else {
            g_output_gate.Reset();
        }
        for (HANDLE handle : made_) CloseHandle(handle);
    }

    void Run(const std::string& typed, HANDLE console, const Settings& settings = Settings{}) {
        HANDLE read_end = nullptr, write_end = nullptr;
        ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
        DWORD written = 0;
        WriteFile(write_end, typed.data(), static_cast<DWORD>(typed.size()), &written, nullptr);
        CloseHandle(write_end);
        made_.push_back(read_end);
        made_.push_back(console);
        g_translator.socket_input = read_end;
        g_translator.console_input = console;
        RunSimpleInput(settings);
    }

    winsim::test::Sink client_ = winsim::test::MakeSink();
    std::vector<HANDLE> made_;

  private:
    std::vector<HANDLE> saved_;
    LoginProtocol saved_protocol_ = LoginProtocol::kTelnet;
    bool gate_was_set_ = false;
};

TEST_F(SimpleInputGlueTest, EchoesAndEditsTheLineUntilTheInputEnds) {
    Run("dirx\b\x02", winsim::test::MakeConsole(nullptr, 0x1f7));
    EXPECT_EQ(client_.Text(), "dirx\b \b^B");
    EXPECT_TRUE(Reports().empty());
}

// With key sequences on, the echo knows the terminal's rows: a backspace never has to cross a
// row's start, where terminals stop it.  The size is the client's last report.
TEST_F(SimpleInputGlueTest, WithKeySequencesTheEchoShowsTheLineAgainRatherThanBackUpARow) {
    const WindowSize saved = g_translator.terminal_size;
    g_translator.terminal_size = {10, 24};
    NoteClientBytes("\r", 1, false);
    Settings settings;
    settings.key_sequences = 1;
    Run("abcdefghijkl\b\b\b", winsim::test::MakeConsole(nullptr, 0x1f7), settings);
    g_translator.terminal_size = saved;
    EXPECT_EQ(client_.Text(), "abcdefghijkl\b \b\b \b\r\nabcdefghi");
    EXPECT_EQ(ClientColumn(), 9u);
}

TEST_F(SimpleInputGlueTest, CtrlSResetsTheGateAndTheNextKeySetsIt) {
    Run("\x13", winsim::test::MakeConsole(nullptr, 0x1f7));
    EXPECT_EQ(g_output_gate.IsSet(), 0);
    Run("q", winsim::test::MakeConsole(nullptr, 0x1f7));
    EXPECT_EQ(g_output_gate.IsSet(), 1);
    EXPECT_EQ(client_.Text(), "");
}

TEST_F(SimpleInputGlueTest, AFailedModeQueryIsReportedAndTheLastModeKept) {
    HANDLE console = winsim::test::MakeConsole(nullptr, 0x1f7);
    winsim::test::FailCall("GetConsoleMode", ERROR_GEN_FAILURE, 1);
    Run("ab", console);
    EXPECT_EQ(client_.Text(), "ab");
    EXPECT_EQ(Reports(), std::vector<std::string>{"Could get input mode: 31"});
}

TEST_F(SimpleInputGlueTest, FailedEchoesAreReportedAndEditingGoesOn) {
    // The first write is the server's into the socket input pipe; the echo of "b" fails.
    winsim::test::FailCall("WriteFile", ERROR_NO_DATA, 2);
    Run("ab\b", winsim::test::MakeConsole(nullptr, 0x1f7));
    EXPECT_EQ(client_.Text(), "a\b \b");
    EXPECT_EQ(Reports(), std::vector<std::string>{"Error echoing input: 232"});
}

TEST(LineEditorTest, AUtf8LineHoldsWholeCharactersAndErasesTheirColumns) {
    Typist t;
    t.UseUtf8();
    // Echoed as the client sent them; a malformed sequence is stored and shown as U+FFFD.
    EXPECT_EQ(
        t.Type("\xc3\xa9\xe6\x97\xa5\xe2\x94x", kLineMode),
        (Actions{"echo \\xc3\\xa9", "echo \\xe6\\x97\\xa5", "echo \\xef\\xbf\\xbd", "echo x"}));
    EXPECT_EQ(t.editor_.length(), 9u);
    // One erase, one character: the replacement's one column, then the wide one's two.
    EXPECT_EQ(t.Type("\b\b\x7f", kLineMode),
              (Actions{"echo \\x08 \\x08", "echo \\x08 \\x08", "echo \\x08 \\x08\\x08 \\x08"}));
    EXPECT_EQ(t.editor_.length(), 2u);
    EXPECT_EQ(t.Type("\xe2\x94\x80\x15", kLineMode),
              (Actions{"echo \\xe2\\x94\\x80", "echo \\x08 \\x08", "echo \\x08 \\x08"}));
    // At Enter ASCII goes as today and each other character as one wide key.
    t.Type("a\xe2\x94\x8c", kLineMode);
    EXPECT_EQ(t.Type("\r", kLineMode),
              (Actions{"key a", "char 9484", "echo \\x0d\\x0a", "key \\x0d"}));
    // Outside line input a character goes to the console at once.
    EXPECT_EQ(t.Type("\xc3\xa9", kCharacterMode), Actions{"char 233"});
}

TEST(LineEditorTest, AUtf8CharacterThatDoesNotFitWholeRingsTheBell) {
    Typist t;
    t.UseUtf8();
    t.Type(std::string(kLineSize - 2, 'a'), kLineNoEcho);
    EXPECT_EQ(t.Type("\xe2\x94\x80", kLineNoEcho), Actions{"bell \\x07"});
    EXPECT_EQ(t.Type("\xc3\xa9", kLineNoEcho), Actions{});
    EXPECT_EQ(t.editor_.length(), kLineSize);
}

TEST(LineEditorTest, CursorKeysMoveInTheLineAndTheEchoRedrawsItsRest) {
    Typist t;
    t.Type("ac", kLineMode);
    EXPECT_EQ(t.Key(VK_LEFT, kLineMode), Actions{"echo \\x08"});
    // Inserting reprints the rest and goes back over it.
    EXPECT_EQ(t.Type("b", kLineMode), Actions{"echo bc\\x08"});
    EXPECT_EQ(t.Key(VK_HOME, kLineMode), Actions{"echo \\x08\\x08"});
    EXPECT_EQ(t.Key(VK_LEFT, kLineMode), Actions{});
    EXPECT_EQ(t.Key(VK_DELETE, kLineMode), Actions{"echo bc \\x08\\x08\\x08"});
    EXPECT_EQ(t.Key(VK_RIGHT, kLineMode), Actions{"echo b"});
    // Backspace before the cursor, then the line's end.
    EXPECT_EQ(t.Type("\b", kLineMode), Actions{"echo \\x08c \\x08\\x08"});
    EXPECT_EQ(t.Key(VK_END, kLineMode), Actions{"echo c"});
    EXPECT_EQ(t.Key(VK_RIGHT, kLineMode), Actions{});
    EXPECT_EQ(t.Line(), "c");
    // Enter passes the whole line wherever the cursor is; other keys and modified ones do nothing.
    t.Type("d", kLineMode);
    t.Key(VK_HOME, kLineMode);
    EXPECT_EQ(t.Key(VK_F5, kLineMode), Actions{});
    EXPECT_EQ(t.Key(VK_RIGHT, kLineMode, 0x08), Actions{});
    EXPECT_EQ(t.Type("\r", kLineMode), (Actions{"key c", "key d", "echo \\x0d\\x0a", "key \\x0d"}));
    // Ctrl-U from the middle goes to the end and erases as always.
    t.Type("xy", kLineMode);
    t.Key(VK_LEFT, kLineMode);
    EXPECT_EQ(t.Type("\x15", kLineMode),
              (Actions{"echo y", "echo \\x08 \\x08", "echo \\x08 \\x08"}));
}

TEST(LineEditorTest, TheEditorCountsColumnsOfCaretsAndWideCharacters) {
    Typist t;
    t.UseUtf8();
    t.Type("\x01\xe6\x97\xa5z", kLineMode);  // ^A, a wide character, z
    EXPECT_EQ(t.Key(VK_HOME, kLineMode), Actions{"echo \\x08\\x08\\x08\\x08\\x08"});
    EXPECT_EQ(t.Key(VK_RIGHT, kLineMode), Actions{"echo ^A"});
    EXPECT_EQ(t.Key(VK_DELETE, kLineMode), Actions{"echo z  \\x08\\x08\\x08"});
    EXPECT_EQ(t.Type("\xc3\xa9", kLineMode), Actions{"echo \\xc3\\xa9z\\x08"});
    EXPECT_EQ(t.Line(), "\x01\xc3\xa9z");
    EXPECT_EQ(t.editor_.cursor(), 3u);
    // No room for the character at the cursor: the bell, and the line as it was.
    Typist full;
    full.Type(std::string(kLineSize, 'x'), kLineMode);
    full.Key(VK_LEFT, kLineMode);
    EXPECT_EQ(full.Type("y", kLineMode), Actions{"bell \\x07"});
    EXPECT_EQ(full.Line(), std::string(kLineSize, 'x'));
}

// A UTF-8 terminal takes U+0080 to U+009F as controls (U+009B starts a sequence): the echo
// shows U+FFFD for them, in a redraw too, and the console still gets the character typed.
TEST(LineEditorTest, AUtf8EchoNeverSendsAC1Control) {
    Typist t;
    t.UseUtf8();
    EXPECT_EQ(t.Type("\xc2\x9b"
                     "2J",
                     kLineMode),
              (Actions{"echo \\xef\\xbf\\xbd", "echo 2", "echo J"}));
    t.Key(VK_HOME, kLineMode);
    EXPECT_EQ(t.Type("\xc2\x85", kLineMode),
              Actions{"echo \\xef\\xbf\\xbd\\xef\\xbf\\xbd2J\\x08\\x08\\x08"});
    EXPECT_EQ(t.Type("\r", kLineMode),
              (Actions{"char 133", "char 155", "key 2", "key J", "echo \\x0d\\x0a", "key \\x0d"}));
}

TEST(LineEditorTest, UpAndDownRecallTheLastLinesTypedWithEcho) {
    Typist t;
    EXPECT_EQ(t.Key(VK_UP, kLineMode), Actions{});
    t.Type("first\r", kLineMode);
    t.Type("secret\r", kLineNoEcho);
    t.Type("\r", kLineMode);
    t.Type("2nd\r", kLineMode);
    t.Type("2nd\r", kLineMode);
    t.Type("abcdef", kLineMode);
    t.Key(VK_LEFT, kLineMode);
    // The line gives way to the recalled one, blanks covering what is left of it.
    EXPECT_EQ(t.Key(VK_UP, kLineMode),
              Actions{"echo \\x08\\x08\\x08\\x08\\x082nd   \\x08\\x08\\x08"});
    EXPECT_EQ(t.Key(VK_UP, kLineMode), Actions{"echo \\x08\\x08\\x08first"});
    EXPECT_EQ(t.Key(VK_UP, kLineMode), Actions{});
    EXPECT_EQ(t.Key(VK_DOWN, kLineMode), Actions{"echo \\x08\\x08\\x08\\x08\\x082nd  \\x08\\x08"});
    EXPECT_EQ(t.Key(VK_DOWN, kLineMode), Actions{});
    // Without echo a recalled line is taken silently.
    EXPECT_EQ(t.Key(VK_UP, kLineNoEcho), Actions{});
    EXPECT_EQ(t.Line(), "2nd");
    // Only the last kHistorySize lines are kept.
    Typist many;
    for (int i = 0; i < 25; ++i) many.Type(std::to_string(i) + "\r", kLineMode);
    for (size_t i = 0; i < kHistorySize + 2; ++i) many.Key(VK_UP, kLineMode);
    EXPECT_EQ(many.Line(), "5");
}

// A terminal 10 columns wide, the line after a 4-column prompt: erasing at the line's end backs
// up within a row and, where it would have to cross a row's start, shows the line on a new row.
// Cursor keys do the same, and a line shown again stops short of the cursor row's last column.
TEST(LineEditorTest, OnATerminalsRowsTheEchoNeverBacksUpARow) {
    Typist t;
    t.UseTerminal(10, 4);
    t.Type("abcdef", kLineMode);  // "f" in the row's last column
    EXPECT_EQ(t.Type("gh", kLineMode), (Actions{"echo g", "echo h"}));
    EXPECT_EQ(t.Type("\b\b", kLineMode), (Actions{"echo \\x08 \\x08", "echo \\x08 \\x08"}));
    EXPECT_EQ(t.Type("\b", kLineMode), Actions{"echo \\x0d\\x0aabcde"});
    t.Type("fghijklmn", kLineMode);  // now from column 0: "abcdefghij", "klmn"
    EXPECT_EQ(t.Key(VK_LEFT, kLineMode), Actions{"echo \\x08"});
    EXPECT_EQ(t.Key(VK_HOME, kLineMode),
              Actions{"echo \\x0d\\x0aabcdefghi\\x08\\x08\\x08\\x08\\x08\\x08\\x08\\x08\\x08"});
    // Typing in the row shows the rest of it, up to its last column.
    EXPECT_EQ(t.Type("x", kLineMode),
              Actions{"echo xabcdefgh\\x08\\x08\\x08\\x08\\x08\\x08\\x08\\x08"});
    EXPECT_EQ(t.Key(VK_END, kLineMode), Actions{"echo abcdefghijklmn"});
    EXPECT_EQ(t.Line(), "xabcdefghijklmn");
    // Ctrl-U on a line of two rows: a new row, empty.
    EXPECT_EQ(t.Type("\x15", kLineMode), Actions{"echo \\x0d\\x0a"});
    EXPECT_EQ(t.Line(), "");
}

// Wide characters never straddle a row's end: a blank goes before one that would.  A character
// of no width takes no column, and erasing it shows the character it joined afresh.
TEST(LineEditorTest, WideCharactersStartARowAndMarksOfNoWidthJoinTheirCharacter) {
    Typist t;
    t.UseUtf8();
    t.UseTerminal(10, 8);
    EXPECT_EQ(t.Type("a\xe6\x97\xa5", kLineMode), (Actions{"echo a", "echo  \\xe6\\x97\\xa5"}));
    EXPECT_EQ(t.Type("\b", kLineMode), Actions{"echo \\x0d\\x0aa"});
    EXPECT_EQ(t.Type("e\xcc\x81", kLineMode), (Actions{"echo e", "echo \\xcc\\x81"}));
    EXPECT_EQ(t.Type("\b", kLineMode), Actions{"echo \\x08e"});
    // An emoji takes two columns; a mark after a character moves with it under the cursor keys.
    t.Type("\xcc\x81\xf0\x9f\x9a\x80", kLineMode);  // "a", "e" with an acute, a rocket
    EXPECT_EQ(t.Key(VK_LEFT, kLineMode), Actions{"echo \\x08\\x08"});
    EXPECT_EQ(t.Key(VK_LEFT, kLineMode), Actions{"echo \\x08"});
    EXPECT_EQ(t.Key(VK_DELETE, kLineMode), Actions{"echo \\xf0\\x9f\\x9a\\x80 \\x08\\x08\\x08"});
    EXPECT_EQ(t.Line(), "a\xf0\x9f\x9a\x80");
}

}  // namespace
