// The ANSI terminal writer: the bytes of each operation, flush by flush, and the process-wide
// writer's handling of the socket output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AnsiWriter.h"
#include "ColorEncoding.h"
#include "translator.h"
#include "vterm_terminal.h"
#include "winsim/control.h"

namespace {

using winsim::test::EventLog;

// Stands in for the platform's code pages: OEM 0x82 (e acute) is ANSI 0xE9; every other byte
// becomes '?'.  Counts its calls, so that bytes below 0x80 are seen to bypass it.
int g_conversions = 0;
BYTE FakeOemToAnsi(BYTE oem) {
    ++g_conversions;
    return oem == 0x82 ? 0xE9 : '?';
}

class AnsiWriterTest : public testing::Test {
  protected:
    void SetUp() override { g_conversions = 0; }
    std::string Buffered() const {
        return std::string(writer_.buffered(), writer_.buffered_count());
    }

    // The writer's rendition for the settings, as start-up gives it.
    void Settings(bool utf8, DWORD color_mode, bool suppress_color_simulation) {
        writer_.set_rendition(
            MakeRendition(utf8, color_mode, 0x07, suppress_color_simulation, &FakeOemToAnsi));
    }

    std::vector<std::string> flushes_;
    AnsiWriter writer_{&RecordFlushes, &flushes_, Rendition(&FakeOemToAnsi)};
};

TEST(ReverseVideoTest, GreenBrownAndGreyBackgroundsWhateverTheForegroundAndIntensity) {
    for (unsigned attributes = 0; attributes < 0x100; ++attributes) {
        unsigned background = attributes & 0x70;
        bool expected = background == 0x20 || background == 0x60 || background == 0x70;
        EXPECT_EQ(IsReverseVideo(static_cast<WORD>(attributes), false), expected) << attributes;
        EXPECT_FALSE(IsReverseVideo(static_cast<WORD>(attributes), true)) << attributes;
    }
    EXPECT_TRUE(IsReverseVideo(0xF0, false));
    EXPECT_TRUE(IsReverseVideo(0x2F, false));
    EXPECT_FALSE(IsReverseVideo(0x1F, false));
    EXPECT_FALSE(IsReverseVideo(0x47, false));
    EXPECT_TRUE(IsReverseVideo(0xFF70, false));  // bits above the background do not matter
}

TEST_F(AnsiWriterTest, NormalCellIsItsByteAndReverseCellIsWrappedAlone) {
    writer_.PutCell('A', 0x07);
    EXPECT_EQ(Buffered(), "A");
    writer_.PutCell(' ', 0x70);
    writer_.PutCell('x', 0x2F);
    EXPECT_EQ(Buffered(), "A\033[7m \033[0m\033[7mx\033[0m");  // neighbours are not merged
    EXPECT_TRUE(flushes_.empty());
}

TEST_F(AnsiWriterTest, SuppressedColourSimulationSendsNoReverseVideo) {
    Settings(false, 0, true);  // given after the writer was built
    writer_.PutCell(' ', 0x70);
    writer_.PutCell('x', 0xF0);
    EXPECT_EQ(Buffered(), " x");
    EXPECT_FALSE(writer_.rendition().IsReverseVideo(0x70));
}

TEST_F(AnsiWriterTest, ControlSequences) {
    writer_.MoveCursor(0, 0);
    EXPECT_EQ(Buffered(), "\033[1;1f");
    writer_.Flush();
    writer_.MoveCursor(23, 79);
    writer_.ClearScreen();
    writer_.EraseToEndOfLine();
    EXPECT_EQ(Buffered(), "\033[24;80f\033[2J\033[0K");
    writer_.Flush();
    writer_.MoveCursor(9998, 299);
    EXPECT_EQ(Buffered(), "\033[9999;300f");
    EXPECT_EQ(AnsiWriter::kEraseToEndOfLineCost, 4u);
}

TEST_F(AnsiWriterTest, OemBytesAreConvertedAndLowerBytesPassUnchanged) {
    writer_.PutCell(0x82, 0x07);
    writer_.PutCell(0x82, 0x70);
    EXPECT_EQ(Buffered(), "\xE9\033[7m\xE9\033[0m");
    EXPECT_EQ(g_conversions, 2);
    writer_.Flush();

    std::string low;
    for (int byte = 0x7F; byte >= 0x00; --byte) {
        writer_.PutCell(static_cast<BYTE>(byte), 0x07);
        low += static_cast<char>(byte);
    }
    writer_.Flush();
    EXPECT_EQ(flushes_.back(), low);
    EXPECT_EQ(g_conversions, 2);
}

TEST_F(AnsiWriterTest, AFullBufferIsWrittenBeforeTheNextCell) {
    for (int i = 0; i < 128; ++i) writer_.PutCell('x', 0x07);
    EXPECT_TRUE(flushes_.empty());
    EXPECT_EQ(writer_.buffered_count(), 128u);
    writer_.PutCell('y', 0x07);
    ASSERT_EQ(flushes_.size(), 1u);
    EXPECT_EQ(flushes_[0], std::string(128, 'x'));
    EXPECT_EQ(Buffered(), "y");
}

TEST_F(AnsiWriterTest, AReverseCellMaySplitItsSequenceBetweenTwoWrites) {
    for (int i = 0; i < 126; ++i) writer_.PutCell('x', 0x07);
    writer_.PutCell('R', 0x70);
    ASSERT_EQ(flushes_.size(), 1u);
    EXPECT_EQ(flushes_[0], std::string(126, 'x') + "\033[");
    EXPECT_EQ(Buffered(), "7mR\033[0m");
}

TEST_F(AnsiWriterTest, WideCellsGoOutAsUtf8WholePerFlushWithSurrogatePairsJoined) {
    Settings(true, 0, false);
    writer_.PutCell(L'a', 0x07);
    writer_.PutCell(0x2500, 0x70);  // reverse video around the whole character
    writer_.PutCell(0xD83D, 0x07);  // a pair across two cells is one character
    writer_.PutCell(0xDE00, 0x07);
    writer_.PutCell(0xDC00, 0x07);  // a lone half is U+FFFD
    EXPECT_EQ(Buffered(), "a\033[7m\xe2\x94\x80\033[0m\xf0\x9f\x98\x80\xef\xbf\xbd");
    EXPECT_EQ(g_conversions, 0);
    writer_.Flush();
    // A character that does not fit the buffer's rest starts the next flush.
    flushes_.clear();
    for (DWORD i = 0; i < AnsiWriter::kBufferSize - 1; ++i) writer_.PutCell(L'x', 0x07);
    writer_.PutCell(0x65E5, 0x07);
    writer_.Flush();
    ASSERT_EQ(flushes_.size(), 2u);
    EXPECT_EQ(flushes_[0], std::string(AnsiWriter::kBufferSize - 1, 'x'));
    EXPECT_EQ(flushes_[1], "\xe6\x97\xa5");
}

// The first half of a pair waits for the next cell, but no further: whatever is not a cell ends
// it, as U+FFFD in its own place and colours, and nothing of it is left for a later cell.
TEST_F(AnsiWriterTest, AHalfOfAPairNeverOutlivesItsSpan) {
    Settings(true, 0, false);
    writer_.PutCell(0xD83D, 0x70);
    writer_.MoveCursor(1, 0);
    writer_.PutCell(0xDE00, 0x07);
    EXPECT_EQ(Buffered(), "\033[7m\xef\xbf\xbd\033[0m\033[2;1f\xef\xbf\xbd");
    for (void (AnsiWriter::*end)() : {&AnsiWriter::Flush, &AnsiWriter::EraseToEndOfLine,
                                      &AnsiWriter::ClearScreen, &AnsiWriter::LineFeed}) {
        writer_.Flush();
        flushes_.clear();
        writer_.PutCell(0xD83D, 0x07);
        (writer_.*end)();
        writer_.PutCell(L'a', 0x07);
        writer_.Flush();
        const std::string all = flushes_.size() == 1 ? flushes_[0] : flushes_[0] + flushes_[1];
        EXPECT_EQ(all.substr(0, 3), "\xef\xbf\xbd");
        EXPECT_EQ(all.back(), 'a');
    }
}

TEST_F(AnsiWriterTest, FlushHandsOnTheBufferOnceAndAnEmptyBufferNotAtAll) {
    writer_.Flush();
    EXPECT_TRUE(flushes_.empty());
    writer_.PutString("ab");
    writer_.Flush();
    writer_.Flush();
    EXPECT_EQ(flushes_, std::vector<std::string>{"ab"});
    EXPECT_EQ(writer_.buffered_count(), 0u);
}

TEST(SgrTest, ConsoleColourBitsBecomeAnsiNumbersAndTheDefaultIsTheTerminals) {
    auto sgr = [](WORD attributes, WORD default_attributes) {
        char out[kMaxSgrLength];
        return std::string(out, EncodeSgr(attributes, default_attributes, out));
    };
    // Console blue-green-red against ANSI red-green-blue.
    const unsigned ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    for (WORD color = 0; color < 8; ++color) {
        EXPECT_EQ(AnsiColorNumber(color), ansi[color]) << color;
        EXPECT_EQ(sgr(color, 0x0F), "\033[0;" + std::to_string(30 + ansi[color]) + "m");
        EXPECT_EQ(sgr(static_cast<WORD>(color | 8), 0x00),
                  "\033[0;" + std::to_string(90 + ansi[color]) + "m");
        EXPECT_EQ(sgr(static_cast<WORD>(color << 4 | 7), 0xF7),
                  "\033[0;" + std::to_string(40 + ansi[color]) + "m");
        EXPECT_EQ(sgr(static_cast<WORD>((color | 8) << 4 | 7), 0x07),
                  "\033[0;" + std::to_string(100 + ansi[color]) + "m");
    }
    EXPECT_EQ(sgr(0x07, 0x07), "\033[0m");
    EXPECT_EQ(sgr(0x1E, 0x07), "\033[0;93;44m");  // "color 1e"
    EXPECT_EQ(sgr(0x07, 0x1E), "\033[0;37;40m");  // the console's default only is the terminal's
    EXPECT_EQ(sgr(0xFF | COMMON_LVB_REVERSE_VIDEO | COMMON_LVB_UNDERSCORE, 0x07),
              "\033[0;97;107;7;4m");
    EXPECT_LE(sgr(0xFF | COMMON_LVB_REVERSE_VIDEO | COMMON_LVB_UNDERSCORE, 0x07).size(),
              kMaxSgrLength);
}

TEST_F(AnsiWriterTest, ColoursChangeOnlyBetweenCellsAndAreSetAgainAtEachRowAndWrite) {
    Settings(false, kColorModeSixteen, false);
    EXPECT_FALSE(writer_.rendition().IsReverseVideo(0x70));
    writer_.MoveCursor(0, 0);
    writer_.PutCell('a', 0x07);
    writer_.PutCell('b', 0x07);
    writer_.PutCell('c', 0x1E);
    writer_.PutCell('d', 0x1E);
    writer_.PutCell(0x82, 0x70);  // converted; no reverse-video simulation
    writer_.EraseToEndOfLine();   // in the default background
    writer_.MoveCursor(1, 0);
    writer_.PutCell('e', 0x07);
    writer_.ClearScreen();
    EXPECT_EQ(Buffered(),
              "\033[1;1f\033[0mab\033[0;93;44mcd\033[0;30;47m\xE9\033[0m\033[0K"
              "\033[2;1f\033[0me\033[2J");
    writer_.Flush();
    // A write may have failed: the next cell sets its colours again.
    writer_.PutCell('f', 0x07);
    EXPECT_EQ(Buffered(), "\033[0mf");
    // A sequence never straddles two writes.
    for (int i = 0; i < 200; ++i) writer_.PutCell('x', i % 2 ? 0x1F : 0x2E);
    writer_.Flush();
    for (const std::string& flush : flushes_) {
        size_t escape = flush.rfind('\033');
        EXPECT_TRUE(escape == std::string::npos ||
                    flush.find_first_of("mJKf", escape) != std::string::npos)
            << flush;
    }
    // Any other mode is no colour mode.
    Settings(false, 8, false);
    EXPECT_TRUE(writer_.rendition().IsReverseVideo(0x70));
}

// The screen mirror's writer writes to the socket output.
class ProcessWriterTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        saved_output_ = g_translator.socket_output;
        g_translator.socket_output = socket_.handle();
    }
    void TearDown() override {
        writer().Flush();
        g_translator.socket_output = saved_output_;
    }

    winsim::test::Sink socket_ = winsim::test::MakeSink();
    HANDLE saved_output_ = nullptr;
    AnsiWriter& writer() { return writer_; }
    AnsiWriter writer_{&WriteToSocketOutput, nullptr, Rendition(&OemToAnsi)};
};

TEST_F(ProcessWriterTest, WritesEachFlushToTheSocketOutput) {
    writer().MoveCursor(0, 4);
    writer().PutCell('o', 0x07);
    writer().PutCell(' ', 0x70);
    EXPECT_EQ(socket_.Text(), "");
    writer().Flush();
    EXPECT_EQ(socket_.Text(), "\033[1;5fo\033[7m \033[0m");
    writer().ClearScreen();
    writer().EraseToEndOfLine();
    writer().PutString("ok");
    writer().Flush();
    EXPECT_EQ(socket_.Text(), "\033[1;5fo\033[7m \033[0m\033[2J\033[0Kok");
}

TEST_F(ProcessWriterTest, AClosedSocketOutputIsNotReportedAndOtherFailuresOncePerFlush) {
    g_translator.socket_output = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7ff0));
    writer().PutString("lost");
    writer().Flush();
    EXPECT_TRUE(EventLog().empty());

    g_translator.socket_output = socket_.handle();
    winsim::test::FailCall("WriteFile", ERROR_NO_DATA, 0, 2);
    for (int i = 0; i < 200; ++i) writer().PutCell('z', 0x07);  // one forced flush
    writer().Flush();                                           // and one asked for
    auto log = EventLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(log[0].strings, std::vector<std::string>{"Error writing output characters: 232"});

    // Dropped, never retried: the next flush carries only what came after.
    writer().PutString("next");
    writer().Flush();
    EXPECT_EQ(socket_.Text(), "next");
}

TEST_F(ProcessWriterTest, OemBytesGoOutInTheAnsiCodePage) {
    writer().PutCell(0x82, 0x07);  // e acute in code page 437
    writer().PutCell(0x7F, 0x07);
    writer().Flush();
    EXPECT_EQ(socket_.Text(), "\xE9\x7F");
}

}  // namespace
