// Simple mode output relay: line ends, the upper half of the character set, and the relay thread
// over a pipe.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "login_harness.h"
#include "OutputRelay.h"
#include "Utf8Output.h"
#include "ZEVENT.h"
#include "winsim/control.h"

namespace {

constexpr DWORD kDefaultInputMode = 0x1f7;  // processed, line and echo input among others
constexpr DWORD kDefaultOutputMode = 0x3;   // processed output, wrap at end of line

// The relay's output for one chunk; `converted` stands for what the code page conversion gave,
// `carry` for what the chunks before left (none: the first chunk of a login).
std::string Relay(const std::string& chunk, const std::string& converted, bool translate,
                  RelayCarry* carry = nullptr) {
    RelayCarry first;
    std::vector<BYTE> output(2 * chunk.size() + 1);
    DWORD length = BuildRelayOutput(reinterpret_cast<const BYTE*>(chunk.data()),
                                    reinterpret_cast<const BYTE*>(converted.data()),
                                    static_cast<DWORD>(chunk.size()), translate,
                                    carry != nullptr ? carry : &first, output.data());
    return std::string(reinterpret_cast<char*>(output.data()), length);
}

std::string Relay(const std::string& chunk, bool translate, RelayCarry* carry = nullptr) {
    return Relay(chunk, chunk, translate, carry);
}

TEST(OutputRelayTest, LineEndsInProcessedModes) {
    struct Case {
        std::string chunk;
        std::string sent;
    } cases[] = {
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\r\nb", "a\r\nb"},
        {"\n", "\r\n"},
        {"\r", "\r"},
        {"\n\n", "\r\n\r\n"},
        {"\r\r\n", "\r\r\n"},
        {"", ""},
        {std::string(32, '\n'),
         [] {
             std::string s;
             for (int i = 0; i < 32; ++i) s += "\r\n";
             return s;
         }()},
    };
    for (const Case& c : cases) EXPECT_EQ(Relay(c.chunk, true), c.sent);
}

// The pipe cuts the stream wherever its reads fall: a carriage return that ends one chunk pairs
// with the line feed that opens the next, whatever the modes were for the chunk that held it.
TEST(OutputRelayTest, ALineEndSplitAcrossChunksStaysOneLineEnd) {
    std::string first = std::string(31, 'x') + "\r";
    for (bool translate_first : {true, false}) {
        RelayCarry carry;
        std::string sent = Relay(first, translate_first, &carry);
        sent += Relay("\nmore\r", true, &carry);
        sent += Relay("", true, &carry);  // an empty read leaves the memory as it was
        sent += Relay("\n\n", true, &carry);
        EXPECT_EQ(sent, first + "\nmore\r\n\r\n") << translate_first;
    }
    // A line feed after anything else, in the chunk before or not, gets its carriage return.
    RelayCarry carry;
    EXPECT_EQ(Relay("\r", true, &carry) + Relay("x", true, &carry) + Relay("\n", true, &carry),
              "\rx\r\n");
}

TEST(OutputRelayTest, AUtf8ClientGetsTheOutputCodePageAsUtf8WithSplitCharactersCarried) {
    RelayUtf8Converter converter;
    auto convert = [&](const std::string& chunk, UINT code_page) {
        std::vector<BYTE> output(RelayUtf8Converter::OutputSize(static_cast<DWORD>(chunk.size())));
        DWORD length =
            converter.Convert(reinterpret_cast<const BYTE*>(chunk.data()),
                              static_cast<DWORD>(chunk.size()), code_page, true, output.data());
        EXPECT_LE(length, output.size());
        return std::string(reinterpret_cast<char*>(output.data()), length);
    };
    // 437: every byte one character, the line-end rule as for the byte relay.
    EXPECT_EQ(convert("caf\x82 \xc4\xb3\xda\n", 437),
              "caf\xc3\xa9 \xe2\x94\x80\xe2\x94\x82\xe2\x94\x8c\r\n");
    // UTF-8: a character cut by the chunk's end goes out whole with the next chunk.
    EXPECT_EQ(convert("ab\xe6\x97", CP_UTF8), "ab");
    EXPECT_EQ(convert("\xa5\xf0\x9f", CP_UTF8), "\xe6\x97\xa5");
    EXPECT_EQ(convert("\x98\x80\n", CP_UTF8), "\xf0\x9f\x98\x80\r\n");
    // Malformed text becomes U+FFFD, never bytes that are not UTF-8; a change of code page
    // drops what was held back.
    EXPECT_EQ(convert("\xff\xe2\x94", CP_UTF8), "\xef\xbf\xbd");
    EXPECT_EQ(convert("\x80", 437), "\xc3\x87");
    // U+0080 to U+009F would be controls to a UTF-8 terminal (U+009B starts a sequence): U+FFFD,
    // whether the console wrote them in UTF-8 or a code page that has them (1252's 0x81).
    EXPECT_EQ(convert("a\xc2\x9b"
                      "2J\xc2\x80\xc2\xa0",
                      CP_UTF8),
              "a\xef\xbf\xbd"
              "2J\xef\xbf\xbd\xc2\xa0");
    EXPECT_EQ(convert("\x81\x80", 1252), "\xef\xbf\xbd\xe2\x82\xac");
    // The worst case fills the bound exactly: a held sequence cut short, then line feeds and
    // three-byte characters.
    convert("\xe2\x94", CP_UTF8);
    std::string worst = "\n" + std::string(31, '\xff');
    EXPECT_EQ(convert(worst, CP_UTF8).size(), 3u + 2u + 31u * 3u);
    // A carriage return that ends one chunk pairs with the line feed that opens the next.
    EXPECT_EQ(convert("a\r", 437), "a\r");
    EXPECT_EQ(convert("\nb\n", 437), "\nb\r\n");
}

// A double-byte code page: a lead byte pairs only with a byte that can trail it.  A line end
// after a lead byte that a chunk's end cut off, or any other byte that cannot trail, comes out
// as itself after a U+FFFD for the lead byte.
TEST(OutputRelayTest, AUtf8ClientGetsDoubleByteTextWholeAndLineEndsAfterACutLeadByte) {
    RelayUtf8Converter converter;
    auto convert = [&](const std::string& chunk) {
        std::vector<BYTE> output(RelayUtf8Converter::OutputSize(static_cast<DWORD>(chunk.size())));
        DWORD length =
            converter.Convert(reinterpret_cast<const BYTE*>(chunk.data()),
                              static_cast<DWORD>(chunk.size()), 932, true, output.data());
        return std::string(reinterpret_cast<char*>(output.data()), length);
    };
    // Kanji, a pair cut by the chunk's end, then a half-width katakana after a pair.
    EXPECT_EQ(convert("\x93\xfa\x96"), "\xe6\x97\xa5");
    EXPECT_EQ(convert("\x7b\xb1\x81\x40\xb1"), "\xe6\x9c\xac\xef\xbd\xb1\xe3\x80\x80\xef\xbd\xb1");
    EXPECT_EQ(convert("ab\x93"), "ab");
    EXPECT_EQ(convert("\n\x81 x\x81"), "\xef\xbf\xbd\r\n\xef\xbf\xbd x");
    EXPECT_EQ(convert("\r\n"), "\xef\xbf\xbd\r\n");
    // 0x80 trails as any other byte of the trail ranges.
    EXPECT_EQ(convert("\x81\x80"), "\xc3\xb7");
    // Bytes above 0x7F that are no lead bytes, each on its own (0x80 is U+0080, a control that
    // a UTF-8 terminal is never sent: U+FFFD).
    EXPECT_EQ(convert("\xa1\xdf\x80"), "\xef\xbd\xa1\xef\xbe\x9f\xef\xbf\xbd");
    // A lead byte held back when the code page changes is dropped.
    EXPECT_EQ(convert("a\x93"), "a");
    std::vector<BYTE> output(RelayUtf8Converter::OutputSize(1));
    EXPECT_EQ(converter.Convert(reinterpret_cast<const BYTE*>("b"), 1, 437, true, output.data()),
              1u);
    EXPECT_EQ(output[0], 'b');
}

// Where the client's cursor stands after what simple mode sent: the line editor begins a line
// there.
TEST(OutputRelayTest, TheClientsColumnFollowsWhatWasSent) {
    auto column = [](DWORD from, const std::string& bytes, bool utf8) {
        return AdvanceColumn(from, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()), utf8);
    };
    EXPECT_EQ(column(7, "\r\nC:\\>", false), 4u);
    EXPECT_EQ(column(0, "ab\b\b\b\tx\n", false), 9u);
    EXPECT_EQ(column(0, "\xe6\x97\xa5\xc3\xa9\x1b", false), 5u);
    EXPECT_EQ(column(0, "\xe6\x97\xa5\xc3\xa9\x65\xcc\x81\x1b", true), 4u);
}

TEST(OutputRelayTest, TheCodePageHoldsForAShortWhileOfWaitingReads) {
    EXPECT_TRUE(CodePageHolds(kCodePageHoldUs - 1, kWaitingReadUs - 1));
    EXPECT_FALSE(CodePageHolds(kCodePageHoldUs, 0));
    EXPECT_FALSE(CodePageHolds(0, kWaitingReadUs));
}

TEST(OutputRelayTest, RawModesPassLineEndsUnchanged) {
    EXPECT_EQ(Relay("a\nb", false), "a\nb");
    EXPECT_EQ(Relay("\n\r\n", false), "\n\r\n");
}

TEST(OutputRelayTest, OnlyTheUpperHalfTakesTheConvertedValue) {
    // The conversion may make anything of the lower half; those bytes go out as written.
    std::string chunk("\x81\x00\x7f\nA\xff", 6);
    std::string converted("\xfc\x01\x3f\x0a\x61\xa0", 6);
    EXPECT_EQ(Relay(chunk, converted, false), std::string("\xfc\x00\x7f\nA\xa0", 6));
    // A line feed is recognised from the byte read, not from a converted one.
    EXPECT_EQ(Relay(std::string("\x0a", 1), std::string("\x0d", 1), true), "\r\n");
    EXPECT_EQ(Relay("\x8a", "\x0a", true), "\r\n");
}

TEST(OutputRelayTest, LineEndsAreTranslatedOnlyWithProcessedOutputAndProcessedOrLineInput) {
    struct Case {
        DWORD output_mode, input_mode;
        bool translate;
    } cases[] = {
        {kDefaultOutputMode, kDefaultInputMode, true},
        {ENABLE_PROCESSED_OUTPUT, ENABLE_PROCESSED_INPUT, true},
        {ENABLE_PROCESSED_OUTPUT, ENABLE_LINE_INPUT, true},
        {ENABLE_PROCESSED_OUTPUT, ENABLE_ECHO_INPUT | ENABLE_WINDOW_INPUT, false},
        {ENABLE_PROCESSED_OUTPUT, 0, false},
        {ENABLE_WRAP_AT_EOL_OUTPUT, kDefaultInputMode, false},
        {0, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TranslatesLineEnds(c.output_mode, c.input_mode), c.translate)
            << c.output_mode << " " << c.input_mode;
    }
}

// The relay thread's routine run on the test thread over a pipe that the command processor's
// side has closed, so that it ends at the end of the pipe.
class RelayGlueTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        saved_ = {g_translator.translation_read, g_translator.socket_output,
                  g_translator.console_input, g_translator.console_output};
        gate_was_set_ = g_output_gate.IsSet() != 0;
        g_output_gate.Set();
        g_translator.socket_output = client_.handle();
    }
    void TearDown() override {
        g_translator.translation_read = saved_[0];
        g_translator.socket_output = saved_[1];
        g_translator.console_input = saved_[2];
        g_translator.console_output = saved_[3];
        if (!gate_was_set_) g_output_gate.Reset();
        for (HANDLE handle : made_) CloseHandle(handle);
    }

    // The command processor writes `bytes` and ends; the consoles are in the given modes (the
    // input mode cannot be read when `input_mode_error` is not 0).
    void Run(const std::string& bytes, DWORD output_mode, DWORD input_mode,
             DWORD input_mode_error = 0, bool utf8 = false) {
        HANDLE read_end = nullptr, write_end = nullptr;
        ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, kRelayChunkSize));
        g_translator.translation_read = read_end;
        g_translator.console_output = Made(winsim::test::MakeConsole(nullptr, output_mode));
        g_translator.console_input =
            Made(winsim::test::MakeConsole(nullptr, input_mode, input_mode_error));
        made_.push_back(read_end);
        if (bytes.size() <= kRelayChunkSize) {
            DWORD written = 0;
            WriteFile(write_end, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            CloseHandle(write_end);
        } else {
            // The pipe holds 32 bytes: a writer of its own feeds it while the relay reads.  The
            // relay sees the end of the pipe only after the writer is done with these.
            static std::string pending;
            static HANDLE writer_end;
            pending = bytes;
            writer_end = write_end;
            StartThread(
                [](void*) {
                    DWORD written = 0;
                    WriteFile(writer_end, pending.data(), static_cast<DWORD>(pending.size()),
                              &written, nullptr);
                    CloseHandle(writer_end);
                },
                nullptr, 0);
        }
        OutputRelayThread(new OutputRelay(utf8));
    }

    HANDLE Made(HANDLE handle) {
        made_.push_back(handle);
        return handle;
    }

    winsim::test::Sink client_ = winsim::test::MakeSink();
    std::vector<HANDLE> made_;

  private:
    std::vector<HANDLE> saved_;
    bool gate_was_set_ = false;
};

TEST_F(RelayGlueTest, TranslatesLineEndsInTheDefaultModes) {
    Run("a\nb\n", kDefaultOutputMode, kDefaultInputMode);
    EXPECT_EQ(client_.Text(), "a\r\nb\r\n");
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RelayGlueTest, PassesLineEndsUnchangedInRawInput) {
    Run("a\nb", kDefaultOutputMode, 0);
    EXPECT_EQ(client_.Text(), "a\nb");
}

TEST_F(RelayGlueTest, LongOutputArrivesWhole) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "line " + std::to_string(i) + "\n";
    Run(text, kDefaultOutputMode, 0);
    EXPECT_EQ(client_.Text(), text);
}

// The pipe holds 32 bytes, so the relay reads the line end in two pieces.
TEST_F(RelayGlueTest, ALineEndThatTheReadsSplitReachesTheClientOnce) {
    std::string text = std::string(31, 'x') + "\r\n" + std::string(30, 'y') + "\r\nz\n";
    Run(text, kDefaultOutputMode, kDefaultInputMode);
    EXPECT_EQ(client_.Text(), std::string(31, 'x') + "\r\n" + std::string(30, 'y') + "\r\nz\r\n");
}

// The modes are read only for chunks that hold a line feed: those before pass, the first one
// with a line feed is reported and dropped, and the relay ends.
TEST_F(RelayGlueTest, AnUnreadableModeEndsTheRelayAtTheFirstLineFeed) {
    Run(std::string(32, 'x') + "ab\ncd" + std::string(40, 'z'), kDefaultOutputMode, 0,
        ERROR_GEN_FAILURE);
    EXPECT_EQ(client_.Text(), std::string(32, 'x'));
    EXPECT_EQ(Reports(), std::vector<std::string>{"Error getting console input mode: 31"});
}

// Ctrl-S while the relay waits in a write to the client: the chunk in hand still goes out, and
// nothing more is read from the pipe until the gate is set again.
TEST_F(RelayGlueTest, AResetGateHoldsTheRelayAfterTheChunkInHand) {
    static HANDLE pipe_write, client_read, client_write;
    static std::string received;
    static std::atomic<bool> writer_done;
    HANDLE pipe_read = nullptr;
    ASSERT_TRUE(CreatePipe(&pipe_read, &pipe_write, nullptr, kRelayChunkSize));
    ASSERT_TRUE(CreatePipe(&client_read, &client_write, nullptr, 8));
    made_.push_back(pipe_read);
    made_.push_back(client_read);
    g_translator.translation_read = pipe_read;
    g_translator.socket_output = client_write;
    g_translator.console_output = Made(winsim::test::MakeConsole(nullptr, kDefaultOutputMode));
    g_translator.console_input = Made(winsim::test::MakeConsole(nullptr, kDefaultInputMode));
    received.clear();
    writer_done = false;
    StartThread(
        [](void*) {
            std::string text = std::string(32, 'a') + std::string(64, 'b');
            DWORD count = 0;
            WriteFile(pipe_write, text.data(), static_cast<DWORD>(text.size()), &count, nullptr);
            writer_done = true;
        },
        nullptr, 0);
    winsim::test::StartRunnerThread([] { OutputRelayThread(new OutputRelay(false)); });
    winsim::test::RunUntilIdle();  // the relay holds the first chunk, 8 bytes of it sent
    g_output_gate.Reset();
    winsim::test::StartRunnerThread([] {
        char buffer[64];
        DWORD count = 0;
        while (ReadFile(client_read, buffer, sizeof buffer, &count, nullptr))
            received.append(buffer, count);
    });
    winsim::test::RunUntilIdle();
    EXPECT_EQ(received, std::string(32, 'a'));
    EXPECT_FALSE(writer_done);  // the pipe still holds what it held
    g_output_gate.Set();
    winsim::test::RunUntilIdle();
    EXPECT_TRUE(writer_done);
    EXPECT_EQ(received, std::string(32, 'a') + std::string(64, 'b'));
    CloseHandle(pipe_write);  // the relay ends, then the reader
    winsim::test::RunUntilIdle();
    CloseHandle(client_write);
    winsim::test::RunUntilIdle();
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RelayGlueTest, TheEndOfThePipeEndsTheRelayQuietly) {
    Run("", kDefaultOutputMode, kDefaultInputMode);
    EXPECT_EQ(client_.Text(), "");
    EXPECT_TRUE(Reports().empty());
}

// A UTF-8 client: the first chunk beyond ASCII asks the console for its output code page, also
// at the simulation's clock of zero and when its only such byte is 0x80.
TEST_F(RelayGlueTest, TheFirstChunkBeyondAsciiTakesTheConsolesOutputCodePage) {
    ASSERT_TRUE(AllocConsole());
    ASSERT_TRUE(SetConsoleOutputCP(1252));
    Run("\x80", kDefaultOutputMode, kDefaultInputMode, 0, true);
    FreeConsole();
    EXPECT_EQ(client_.Text(), "\xe2\x82\xac");
}

// Without a console to ask, the last code page known holds: 437 at the start.
TEST_F(RelayGlueTest, WithoutAConsoleTheLastCodePageKnownHolds) {
    Run("\x80", kDefaultOutputMode, kDefaultInputMode, 0, true);
    EXPECT_EQ(client_.Text(), "\xc3\x87");
}

// While output streams in without a pause, the code page asked for holds; after a pause of the
// output it is asked again.
TEST_F(RelayGlueTest, TheCodePageAskedHoldsWhileTheOutputStreams) {
    static HANDLE pipe_write;
    HANDLE pipe_read = nullptr;
    ASSERT_TRUE(CreatePipe(&pipe_read, &pipe_write, nullptr, kRelayChunkSize));
    made_.push_back(pipe_read);
    g_translator.translation_read = pipe_read;
    g_translator.console_output = Made(winsim::test::MakeConsole(nullptr, kDefaultOutputMode));
    g_translator.console_input = Made(winsim::test::MakeConsole(nullptr, kDefaultInputMode));
    ASSERT_TRUE(AllocConsole());
    ASSERT_TRUE(SetConsoleOutputCP(1252));
    winsim::test::Advance(100);
    auto write = [](const char* byte) {
        DWORD count = 0;
        WriteFile(pipe_write, byte, 1, &count, nullptr);
        winsim::test::RunUntilIdle();
    };
    winsim::test::StartRunnerThread([] { OutputRelayThread(new OutputRelay(true)); });
    write("\x80");
    SetConsoleOutputCP(437);
    write("\x80");
    winsim::test::Advance(2);
    write("\x80");
    CloseHandle(pipe_write);
    winsim::test::RunUntilIdle();
    FreeConsole();
    EXPECT_EQ(client_.Text(), "\xe2\x82\xac\xe2\x82\xac\xc3\x87");
}

// A program's write of no bytes reaches the relay as a read of none; the client, whom an empty
// write may tell that the stream has ended, gets nothing for it.
TEST_F(RelayGlueTest, AReadOfNoBytesWritesNothing) {
    HANDLE pipe_read = nullptr, pipe_write = nullptr, client_read = nullptr, client_write = nullptr;
    ASSERT_TRUE(CreatePipe(&pipe_read, &pipe_write, nullptr, kRelayChunkSize));
    ASSERT_TRUE(CreatePipe(&client_read, &client_write, nullptr, 0));
    made_.insert(made_.end(), {pipe_read, client_read, client_write});
    g_translator.translation_read = pipe_read;
    g_translator.socket_output = client_write;
    g_translator.console_output = Made(winsim::test::MakeConsole(nullptr, kDefaultOutputMode));
    g_translator.console_input = Made(winsim::test::MakeConsole(nullptr, kDefaultInputMode));
    DWORD count = 0;
    WriteFile(pipe_write, "", 0, &count, nullptr);
    WriteFile(pipe_write, "ab", 2, &count, nullptr);
    CloseHandle(pipe_write);
    OutputRelayThread(new OutputRelay(false));
    char received[8] = {};
    ASSERT_TRUE(ReadFile(client_read, received, sizeof received, &count, nullptr));
    EXPECT_EQ(std::string(received, count), "ab");
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RelayGlueTest, AFailedReadIsReportedAndEndsTheRelay) {
    winsim::test::FailCall("ReadFile", ERROR_ACCESS_DENIED);
    Run("lost", kDefaultOutputMode, kDefaultInputMode);
    EXPECT_EQ(client_.Text(), "");
    EXPECT_EQ(Reports(), std::vector<std::string>{"Read of output translation pipe failed: 5"});
}

}  // namespace
