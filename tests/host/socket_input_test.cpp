// Socket input: in-band window-size messages among the client's bytes, and the rlogin control
// bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "login_harness.h"
#include "SocketInput.h"
#include "ZEVENT.h"
#include "winsim/control.h"

namespace {

using Step = InBandParser::Step;

// What the caller of the reader sees: data bytes as they are, each window size as "<cols x rows>".
std::string Parse(LoginProtocol protocol, const std::string& bytes,
                  DWORD piece = kTelnetStateSize) {
    BYTE block[kTelnetStateSize] = {};
    InBandParser parser(protocol, block);
    std::string seen;
    size_t at = 0;
    while (at < bytes.size()) {
        Step step;
        if (DWORD wanted = parser.StateBytesWanted(); wanted > 0) {
            DWORD count = std::min<DWORD>({wanted, piece, static_cast<DWORD>(bytes.size() - at)});
            step = parser.FeedState(reinterpret_cast<const BYTE*>(bytes.data() + at), count);
            at += count;
        } else {
            step = parser.Feed(static_cast<BYTE>(bytes[at++]));
            if (step == Step::kData) seen += bytes[at - 1];
        }
        if (step == Step::kWindowSize) {
            seen += "<" + std::to_string(parser.size().columns) + "x" +
                    std::to_string(parser.size().rows) + ">";
        }
    }
    if (parser.InMessage()) seen += "...";
    return seen;
}

std::string TelnetState(DWORD rows, DWORD columns, char filler = '\x55') {
    std::string block(kTelnetStateSize, filler);
    for (int i = 0; i < 4; ++i) {
        block[84 + i] = static_cast<char>(rows >> (8 * i));
        block[88 + i] = static_cast<char>(columns >> (8 * i));
    }
    return "\xff" + block;
}

std::string Rlogin(const std::string& sizes) {
    return std::string("\xff\xff\x73\x73", 4) + sizes;
}

TEST(InBandParserTest, TelnetStateMessages) {
    struct Case {
        const char* what;
        std::string bytes;
        DWORD piece;
        std::string seen;
    } cases[] = {
        {"plain bytes", "dir\r", 92, "dir\r"},
        {"state block", "a" + TelnetState(30, 100) + "b", 92, "a<100x30>b"},
        {"block in pieces of 7", TelnetState(30, 100) + "b", 7, "<100x30>b"},
        {"block byte by byte", TelnetState(25, 132), 1, "<132x25>"},
        // Only the low 16 bits count, as signed values.
        {"high bits dropped", TelnetState(0x10018, 0x70050), 92, "<80x24>"},
        {"negative rows", TelnetState(0xFFFF, 80), 92, "<80x-1>"},
        // 0xFF is never data: the 92 bytes after it are a block, whatever they hold.
        {"0xFF swallows what follows", "\xff" + std::string(92, 'x') + "y", 92, "<30840x30840>y"},
        {"unfinished block", "a\xff" + std::string(50, 'x'), 92, "a..."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(LoginProtocol::kTelnet, c.bytes, c.piece), c.seen) << c.what;
    }
}

TEST(InBandParserTest, RloginWindowSizeMessages) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string seen;
    } cases[] = {
        {"plain bytes", "ls\r", "ls\r"},
        {"window size", Rlogin(std::string("\x00\x19\x00\x50\x01\x02\x03\x04", 8)) + "z",
         "<80x25>z"},
        {"big-endian", Rlogin(std::string("\x01\x00\x00\x84\0\0\0\0", 8)), "<132x256>"},
        {"above 32767 arrives negative", Rlogin(std::string("\x80\x00\x00\x50\0\0\0\0", 8)),
         "<80x-32768>"},
        {"FF 41 drops both", "\xff\x41z", "z"},
        {"FF FF 73 41 drops four", "\xff\xff\x73\x41z", "z"},
        {"FF FF 41 drops three", "\xff\xff\x41z", "z"},
        {"FF FF 73 73 then a short message", Rlogin("\x01\x02\x03"), "..."},
        {"an abandoned message does not hide the next", "\xff\x41" + Rlogin(std::string(8, '\0')),
         "<0x0>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(LoginProtocol::kRlogin, c.bytes), c.seen) << c.what;
    }
}

// The reader and the control channel over simulated pipes, with g_translator pointed at them.
class SocketGlueTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        saved_input_ = g_translator.socket_input;
        saved_control_ = g_translator.control_channel;
        saved_protocol_ = g_translator.protocol;
        saved_size_ = g_translator.requested_size;
        saved_console_ = g_translator.console_output;
    }
    void TearDown() override {
        g_translator.socket_input = saved_input_;
        g_translator.control_channel = saved_control_;
        g_translator.protocol = saved_protocol_;
        g_translator.requested_size = saved_size_;
        g_translator.console_output = saved_console_;
        if (read_end_) CloseHandle(read_end_);
        if (write_end_) CloseHandle(write_end_);
    }

    // Socket input pipe holding `bytes`, closed by the server behind them.
    void ServerSends(LoginProtocol protocol, const std::string& bytes) {
        ASSERT_TRUE(CreatePipe(&read_end_, &write_end_, nullptr, 0));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(write_end_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr));
        CloseHandle(write_end_);
        write_end_ = nullptr;
        g_translator.socket_input = read_end_;
        g_translator.protocol = protocol;
    }

    // Every byte the reader delivers until it reports the end.
    static std::string ReadAll() {
        std::string seen;
        BYTE byte = 0;
        while (ReadSocketByte(&byte)) seen += static_cast<char>(byte);
        return seen;
    }

    HANDLE read_end_ = nullptr;
    HANDLE write_end_ = nullptr;

  private:
    HANDLE saved_input_, saved_control_, saved_console_;
    LoginProtocol saved_protocol_;
    WindowSize saved_size_;
};

TEST_F(SocketGlueTest, DeliversDataBytesAndEndsQuietlyWithThePipe) {
    ServerSends(LoginProtocol::kTelnet, std::string("d\0\x80\x7f", 4));
    EXPECT_EQ(ReadAll(), std::string("d\0\x80\x7f", 4));
    EXPECT_TRUE(Reports().empty());
}

TEST_F(SocketGlueTest, DropsAbandonedRloginMessages) {
    g_translator.requested_size = WindowSize{80, 24};
    ServerSends(LoginProtocol::kRlogin,
                "a\xff\x41"
                "b\xff\xff\x73\x41"
                "c");
    EXPECT_EQ(ReadAll(), "abc");
    EXPECT_EQ(g_translator.requested_size.columns, 80);
}

TEST_F(SocketGlueTest, AnUnfinishedTelnetBlockIsDroppedAtTheEndOfInput) {
    g_translator.requested_size = WindowSize{80, 24};
    ServerSends(LoginProtocol::kTelnet, "x" + TelnetState(30, 100).substr(0, 60));
    EXPECT_EQ(ReadAll(), "x");
    EXPECT_EQ(g_translator.requested_size.columns, 80);
    EXPECT_EQ(g_translator.requested_size.rows, 24);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(SocketGlueTest, ReadFailuresAreReportedWithTheirCode) {
    // A failed data byte read ends the input.
    ServerSends(LoginProtocol::kRlogin, "ab");
    winsim::test::FailCall("ReadFile", ERROR_ACCESS_DENIED, 1);
    BYTE byte = 0;
    EXPECT_TRUE(ReadSocketByte(&byte));
    EXPECT_FALSE(ReadSocketByte(&byte));
    EXPECT_EQ(Reports(), std::vector<std::string>{"Read of socket input pipe failed: 5"});
}

TEST_F(SocketGlueTest, AFailureInsideAMessageAbandonsItAndReadingGoesOn) {
    g_translator.requested_size = WindowSize{80, 24};
    // rlogin: the third byte of the message cannot be read; "z" follows.
    ServerSends(LoginProtocol::kRlogin,
                "\xff\xff"
                "z");
    winsim::test::FailCall("ReadFile", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(ReadAll(), "z");
    EXPECT_EQ(Reports(), std::vector<std::string>{"Read of socket input pipe failed: 5"});
}

TEST_F(SocketGlueTest, AFailedTelnetStateReadHasItsOwnMessage) {
    g_translator.requested_size = WindowSize{80, 24};
    ServerSends(LoginProtocol::kTelnet,
                "\xff"
                "abc");
    winsim::test::FailCall("ReadFile", ERROR_ACCESS_DENIED, 1);
    // The block read fails; "abc" is then read as data.
    EXPECT_EQ(ReadAll(), "abc");
    EXPECT_EQ(Reports(),
              std::vector<std::string>{"Read of socket input pipe for telnet state failed: 5"});
    EXPECT_EQ(g_translator.requested_size.columns, 80);
}

// A complete message stores its size and resizes the console, here a telnet block that a pipe of
// 16 bytes hands over in pieces.
struct PiecesWriter {
    HANDLE write_end;
    std::string bytes;
};

void __cdecl WritePieces(void* argument) {
    auto* writer = static_cast<PiecesWriter*>(argument);
    DWORD written = 0;
    WriteFile(writer->write_end, writer->bytes.data(), static_cast<DWORD>(writer->bytes.size()),
              &written, nullptr);
}

TEST_F(SocketGlueTest, ATelnetBlockInPiecesResizesTheConsole) {
    static PiecesWriter writer;
    static CONSOLE_SCREEN_BUFFER_INFO info;
    static BYTE byte;
    winsim::ExitStatus status = winsim::RunProcess([] {
        if (!AllocConsole()) return 2;
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        g_translator.console_output =
            CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherit, OPEN_EXISTING, 0, nullptr);
        HANDLE read_end = nullptr;
        if (!CreatePipe(&read_end, &writer.write_end, nullptr, 16)) return 3;
        writer.bytes = TelnetState(30, 100) + "n";
        g_translator.socket_input = read_end;
        g_translator.protocol = LoginProtocol::kTelnet;
        g_translator.requested_size = WindowSize{80, 24};
        StartThread(WritePieces, &writer, 0);
        if (!ReadSocketByte(&byte)) return 4;
        if (!GetConsoleScreenBufferInfo(g_translator.console_output, &info)) return 5;
        return 0;
    });
    ASSERT_FALSE(status.crashed);
    ASSERT_EQ(status.code, 0u);
    EXPECT_EQ(byte, 'n');
    EXPECT_EQ(g_translator.requested_size.columns, 100);
    EXPECT_EQ(g_translator.requested_size.rows, 30);
    EXPECT_EQ(info.dwSize.X, 100);
    EXPECT_EQ(info.dwSize.Y, 30);
    EXPECT_EQ(info.srWindow.Right, 99);
    EXPECT_EQ(info.srWindow.Bottom, 29);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(SocketGlueTest, RloginControlBytesGoToTheControlChannelOneByOne) {
    winsim::test::Sink channel = winsim::test::MakeSink();
    g_translator.control_channel = channel.handle();
    SendRloginControlBytes();
    EXPECT_EQ(channel.Text(), "\x10\x80");
    EXPECT_TRUE(Reports().empty());
    CloseHandle(channel.handle());
}

TEST_F(SocketGlueTest, FailedControlBytesAreReportedAndTheSecondIsStillWritten) {
    winsim::test::Sink channel = winsim::test::MakeSink();
    g_translator.control_channel = channel.handle();
    winsim::test::FailCall("WriteFile", ERROR_NO_DATA);
    SendRloginControlBytes();
    EXPECT_EQ(channel.Text(), "\x80");
    winsim::test::FailCall("WriteFile", ERROR_NO_DATA, 1);
    SendRloginControlBytes();
    EXPECT_EQ(channel.Text(), "\x80\x10");
    EXPECT_EQ(Reports(), (std::vector<std::string>{"Error setting raw mode: 232",
                                                   "Error asking for screen size: 232"}));
    CloseHandle(channel.handle());
}

}  // namespace
