// Socket input: the in-band window-size messages that the servers insert among the client's bytes.
#pragma once

#include "translator.h"

// Size of the telnet state block that follows a 0xFF in telnet logins.
constexpr DWORD kTelnetStateSize = 92;

// Separates the client's data bytes from the in-band window-size messages, one byte or one piece
// of a telnet state block at a time.  The byte 0xFF always opens a message: in telnet logins the
// 92-byte state block follows, in rlogin logins FF 73 73, rows, columns and two pixel sizes.
class InBandParser {
  public:
    enum class Step {
        kData,        // the byte is a data byte for the caller
        kInMessage,   // the byte belongs to a message that is not complete yet
        kWindowSize,  // the message is complete; size() holds its window size
        kAbandoned,   // the message was not a window-size message; everything of it is dropped
    };

    // `telnet_block` receives the telnet state block; it holds kTelnetStateSize bytes.
    InBandParser(LoginProtocol protocol, BYTE* telnet_block);

    Step Feed(BYTE byte);
    // A piece of the telnet state block (at most StateBytesWanted() bytes are taken).
    Step FeedState(const BYTE* bytes, DWORD count);
    // Bytes of the telnet state block still missing; 0 unless a telnet message is in progress.
    DWORD StateBytesWanted() const;
    bool InMessage() const { return stage_ != Stage::kIdle; }
    // Drops the message in progress, as after a failed read.
    void Abandon() { stage_ = Stage::kIdle; }
    WindowSize size() const { return size_; }

  private:
    enum class Stage { kIdle, kTelnetState, kRloginMagic, kRloginSizes };

    LoginProtocol protocol_;
    BYTE* telnet_block_;
    Stage stage_ = Stage::kIdle;
    DWORD received_ = 0;  // bytes of the current stage so far
    BYTE sizes_[8] = {};
    WindowSize size_{80, 24};
};

// The window size that a telnet state block carries: the low 16 bits of the little-endian 32-bit
// values at offsets 84 (rows) and 88 (columns).
WindowSize TelnetWindowSize(const BYTE* block);
