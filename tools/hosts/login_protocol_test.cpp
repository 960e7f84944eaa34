#include "login_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using hosts::TelnetInput;

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) bytes += static_cast<char>(value);
    return bytes;
}

const int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

struct Fed {
    std::string data;
    std::string reply;
};

Fed Feed(TelnetInput& input, const std::string& bytes) {
    Fed fed;
    input.Feed(bytes.data(), bytes.size(), &fed.data, &fed.reply);
    return fed;
}

TEST(TelnetInput, AnswersTheClientsUsualOpeningAndLearnsTypeAndSize) {
    TelnetInput input;
    EXPECT_FALSE(input.Settled());
    // The client accepts what the greeting asked, offers more, and reports its size at once.
    Fed fed =
        Feed(input, Bytes({IAC, DO, 1,  IAC, DO,  3, IAC, WILL, 3,  IAC, WILL, 24, IAC, WILL, 31,
                           IAC, SB, 31, 0,   100, 0, 30,  IAC,  SE, IAC, WILL, 39, IAC, DO,   5}));
    EXPECT_EQ(fed.reply, Bytes({IAC, SB, 24, 1, IAC, SE, IAC, DONT, 39, IAC, WONT, 5}));
    EXPECT_EQ(fed.data, hosts::TelnetStateMessage(30, 100));
    EXPECT_EQ(input.columns(), 100u);
    EXPECT_FALSE(input.Settled());
    fed = Feed(input, Bytes({IAC, SB, 24, 0, 'X', 'T', 'E', 'R', 'M', IAC, SE}));
    EXPECT_TRUE(fed.reply.empty());
    EXPECT_TRUE(fed.data.empty());
    EXPECT_EQ(input.terminal_type(), "XTERM");
    EXPECT_TRUE(input.Settled());
    // Asked again, an option already on is not answered again (no negotiation loop).
    fed = Feed(input, Bytes({IAC, DO, 1, IAC, WILL, 31}));
    EXPECT_TRUE(fed.reply.empty());
    // Turned off by the client: acknowledged once.
    fed = Feed(input, Bytes({IAC, DONT, 1, IAC, DONT, 1}));
    EXPECT_EQ(fed.reply, Bytes({IAC, WONT, 1}));
}

TEST(TelnetInput, BinaryIsAskedForBothWaysAndAcceptedWithoutAnAnswer) {
    const std::string greeting = hosts::TelnetGreeting();
    EXPECT_NE(greeting.find(Bytes({IAC, WILL, 0})), std::string::npos);
    EXPECT_NE(greeting.find(Bytes({IAC, DO, 0})), std::string::npos);
    TelnetInput input;
    // The answers to the host's own questions are not answered again; data stays 8-bit.
    Fed fed = Feed(input, Bytes({IAC, DO, 0, IAC, WILL, 0, 0xC3, 0xA9}));
    EXPECT_TRUE(fed.reply.empty());
    EXPECT_EQ(fed.data, Bytes({0xC3, 0xA9}));
}

TEST(TelnetInput, RefusalsSettleTheNegotiation) {
    TelnetInput input;
    Fed fed = Feed(input, Bytes({IAC, WONT, 24, IAC, WONT, 31}));
    EXPECT_TRUE(fed.reply.empty());
    EXPECT_TRUE(input.Settled());
    EXPECT_EQ(input.terminal_type(), "");
    EXPECT_EQ(input.rows(), 0u);
}

TEST(TelnetInput, DataLosesCommandsAndEnterBecomesCr) {
    TelnetInput input;
    // Commands split across reads, sizes between keystrokes, Enter as CR NUL and CR LF, a
    // data 0xFF and a NOP dropped, IAC IP as Ctrl-C.
    std::string stream =
        "dir" + Bytes({'\r', 0,   'a', '\r', '\n', '\r', IAC, IAC, 'b', IAC, 241, IAC,
                       244,  IAC, SB,  31,   0,    80,   0,   25,  IAC, SE,  'c', '\r'});
    std::string data;
    std::string reply;
    for (char c : stream) input.Feed(&c, 1, &data, &reply);
    EXPECT_EQ(data, "dir\ra\r\rb\x03" + hosts::TelnetStateMessage(25, 80) + "c\r");
    EXPECT_TRUE(reply.empty());
    // A CR whose follower comes in the next read is still one Enter.
    Fed fed = Feed(input, Bytes({0, 'x', '\n'}));
    EXPECT_EQ(fed.data, "x\n");
}

TEST(TelnetInput, WindowSizeWithEscaped255AndOverlongSubNegotiation) {
    TelnetInput input;
    Fed fed = Feed(input, Bytes({IAC, SB, 31, 0, IAC, IAC, 1, 0, IAC, SE}));
    EXPECT_EQ(input.columns(), 255u);
    EXPECT_EQ(input.rows(), 256u);
    EXPECT_EQ(fed.data, hosts::TelnetStateMessage(256, 255));
    std::string overlong = Bytes({IAC, SB, 24, 0}) + std::string(1000, 'a') + Bytes({IAC, SE, 'z'});
    fed = Feed(input, overlong);
    EXPECT_EQ(fed.data, "z");
    EXPECT_EQ(input.terminal_type().size(), 254u);
}

TEST(TelnetOutput, StateMessageAndDoubledIac) {
    std::string message = hosts::TelnetStateMessage(30, 100);
    ASSERT_EQ(message.size(), 93u);
    EXPECT_EQ(static_cast<unsigned char>(message[0]), 0xFF);
    EXPECT_EQ(message.substr(85, 8), Bytes({30, 0, 0, 0, 100, 0, 0, 0}));
    EXPECT_EQ(message.substr(1, 84), std::string(84, '\0'));
    std::string out =
        "a\xff"
        "b\xff\xff";
    EXPECT_EQ(hosts::TelnetEscapeOutput(out.data(), out.size()),
              "a\xff\xff"
              "b\xff\xff\xff\xff");
}

TEST(TerminalType, CleanedIntoOneSafeWord) {
    EXPECT_EQ(hosts::CleanTerminalType("xterm-256color"), "xterm-256color");
    EXPECT_EQ(hosts::CleanTerminalType("vt100\" /c del x"), "vt100cdelx");
    EXPECT_EQ(hosts::CleanTerminalType(""), "dumb");
    EXPECT_EQ(hosts::CleanTerminalType("\x01\x02 "), "dumb");
    EXPECT_EQ(hosts::CleanTerminalType(std::string(100, 'v')).size(), 40u);
}

TEST(RloginStartup, ReadsTheFourFieldsInPiecesAndKeepsWhatFollows) {
    hosts::RloginStartup startup;
    std::string rest;
    std::string bytes = std::string("\0alice\0bob\0xterm/38400\0", 23) + "ls\r";
    EXPECT_EQ(startup.Feed(bytes.data(), 5, &rest), hosts::RloginStartup::Status::kMore);
    EXPECT_EQ(startup.Feed(bytes.data() + 5, bytes.size() - 5, &rest),
              hosts::RloginStartup::Status::kDone);
    EXPECT_EQ(rest, "ls\r");
    EXPECT_EQ(startup.client_user(), "alice");
    EXPECT_EQ(startup.server_user(), "bob");
    EXPECT_EQ(startup.terminal_type(), "xterm");

    hosts::RloginStartup wrong;
    EXPECT_EQ(wrong.Feed("GET /", 5, &rest), hosts::RloginStartup::Status::kBad);
    hosts::RloginStartup endless;
    std::string flood(1, '\0');
    flood += std::string(300, 'u');
    EXPECT_EQ(endless.Feed(flood.data(), flood.size(), &rest), hosts::RloginStartup::Status::kBad);
}

}  // namespace
