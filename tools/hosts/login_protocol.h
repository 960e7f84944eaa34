// What the loopback hosts do with the bytes of a telnet (RFC 854) or rlogin (RFC 1282)
// connection: option negotiation, the terminal type and the window size, and the forms in which
// client bytes reach the translator's socket input and its output reaches the client.  Plain
// functions and small state machines of bytes, with no system calls, so that they are tested on
// their own.
#pragma once

#include <cstddef>
#include <string>

namespace hosts {

namespace telnet {
const unsigned char kSe = 240;
const unsigned char kIp = 244;
const unsigned char kSb = 250;
const unsigned char kWill = 251;
const unsigned char kWont = 252;
const unsigned char kDo = 253;
const unsigned char kDont = 254;
const unsigned char kIac = 255;

const unsigned char kBinary = 0;
const unsigned char kEcho = 1;
const unsigned char kSuppressGoAhead = 3;
const unsigned char kTerminalType = 24;
const unsigned char kWindowSize = 31;

const unsigned char kTerminalTypeIs = 0;
const unsigned char kTerminalTypeSend = 1;
}  // namespace telnet

// The terminal type as a safe command-line word: letters, digits and ". _ + -" kept, anything
// else (blanks, quotes, control bytes) dropped, at most 40 characters; "dumb" when nothing is
// left.
std::string CleanTerminalType(const std::string& received);

// The translator's telnet state message: 0xFF, then a 92-byte block with the rows at offset 84
// and the columns at offset 88, 32-bit little-endian, the rest zero.
std::string TelnetStateMessage(unsigned rows, unsigned columns);

// What the host says first: it will echo and suppress go-ahead (the translator echoes itself),
// asks for 8-bit data both ways (binary, RFC 856: a UTF-8 client needs all 8 bits), and asks the
// client for its terminal type and window size.
std::string TelnetGreeting();

// The translator's output as telnet data: every 0xFF doubled.
std::string TelnetEscapeOutput(const char* data, size_t size);

// The client's side of a telnet connection, byte by byte.  Commands are answered or dropped and
// never reach the translator; a window size report becomes a telnet state message in the data at
// its place; CR NUL and CR LF become CR; IAC IP becomes Ctrl-C.  A data byte 0xFF (IAC IAC) is
// dropped: in the socket input 0xFF always opens a state message.
class TelnetInput {
  public:
    TelnetInput();

    // Appends the bytes for the translator to *data and the answers for the client to *reply.
    void Feed(const char* bytes, size_t size, std::string* data, std::string* reply);

    // The start-up negotiation is over once the client has told (or refused) its terminal type
    // and its window size.
    bool Settled() const { return type_settled_ && size_settled_; }
    // The terminal type the client sent, as received; empty when it sent none.
    const std::string& terminal_type() const { return terminal_type_; }
    // The last window size reported, 0 by 0 before the first.
    unsigned rows() const { return rows_; }
    unsigned columns() const { return columns_; }

  private:
    enum class State { kData, kIac, kOption, kSub, kSubIac };

    void Command(unsigned char verb, unsigned char option, std::string* reply);
    void SubNegotiation(std::string* data, std::string* reply);

    State state_ = State::kData;
    unsigned char verb_ = 0;
    bool after_cr_ = false;
    std::string sub_;
    // Per option: whether it is on for the host (us_) or the client (him_), and whether the host
    // has asked and waits for the answer.
    bool us_[256];
    bool him_[256];
    bool us_asked_[256];
    bool him_asked_[256];
    bool type_settled_ = false;
    bool size_settled_ = false;
    std::string terminal_type_;
    unsigned rows_ = 0;
    unsigned columns_ = 0;
};

// The rlogin start-up: a zero byte, then the client's user name, the server user name and
// "terminal/speed", each ended by a zero byte.
class RloginStartup {
  public:
    enum class Status { kMore, kDone, kBad };

    // Takes bytes until the start-up is complete; the bytes after it are appended to *rest.
    Status Feed(const char* bytes, size_t size, std::string* rest);

    const std::string& client_user() const { return fields_[0]; }
    const std::string& server_user() const { return fields_[1]; }
    // The terminal type without the speed.
    std::string terminal_type() const;

  private:
    bool seen_zero_ = false;
    int field_ = 0;
    std::string fields_[3];
    Status status_ = Status::kMore;
};

}  // namespace hosts
