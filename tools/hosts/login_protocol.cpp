#include "login_protocol.h"

#include <cstring>

namespace hosts {

namespace {

const size_t kLongestTerminalType = 40;
// A sub-negotiation longer than this is not one the host understands; the rest is dropped.
const size_t kLongestSubNegotiation = 256;

std::string Command(unsigned char verb, unsigned char option) {
    std::string bytes;
    bytes += static_cast<char>(telnet::kIac);
    bytes += static_cast<char>(verb);
    bytes += static_cast<char>(option);
    return bytes;
}

bool HostOffers(unsigned char option) {
    return option == telnet::kEcho || option == telnet::kSuppressGoAhead ||
           option == telnet::kBinary;
}

bool HostWants(unsigned char option) {
    return option == telnet::kTerminalType || option == telnet::kWindowSize ||
           option == telnet::kSuppressGoAhead || option == telnet::kBinary;
}

}  // namespace

std::string CleanTerminalType(const std::string& received) {
    std::string type;
    for (char c : received) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '+' || c == '-';
        if (keep && type.size() < kLongestTerminalType) type += c;
    }
    return type.empty() ? "dumb" : type;
}

std::string TelnetStateMessage(unsigned rows, unsigned columns) {
    std::string message(93, '\0');
    message[0] = '\xff';
    for (int i = 0; i < 4; ++i) {
        message[1 + 84 + i] = static_cast<char>(rows >> (8 * i));
        message[1 + 88 + i] = static_cast<char>(columns >> (8 * i));
    }
    return message;
}

std::string TelnetGreeting() {
    return Command(telnet::kWill, telnet::kEcho) +
           Command(telnet::kWill, telnet::kSuppressGoAhead) +
           Command(telnet::kDo, telnet::kSuppressGoAhead) +
           Command(telnet::kDo, telnet::kTerminalType) + Command(telnet::kDo, telnet::kWindowSize) +
           Command(telnet::kWill, telnet::kBinary) + Command(telnet::kDo, telnet::kBinary);
}

std::string TelnetEscapeOutput(const char* data, size_t size) {
    std::string bytes;
    bytes.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        bytes += data[i];
        if (static_cast<unsigned char>(data[i]) == telnet::kIac) bytes += data[i];
    }
    return bytes;
}

TelnetInput::TelnetInput() {
    std::memset(us_, 0, sizeof us_);
    std::memset(him_, 0, sizeof him_);
    std::memset(us_asked_, 0, sizeof us_asked_);
    std::memset(him_asked_, 0, sizeof him_asked_);
    // What the greeting asks for.
    us_asked_[telnet::kEcho] = true;
    us_asked_[telnet::kSuppressGoAhead] = true;
    him_asked_[telnet::kSuppressGoAhead] = true;
    him_asked_[telnet::kTerminalType] = true;
    him_asked_[telnet::kWindowSize] = true;
    us_asked_[telnet::kBinary] = true;
    him_asked_[telnet::kBinary] = true;
}

void TelnetInput::Feed(const char* bytes, size_t size, std::string* data, std::string* reply) {
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (state_) {
            case State::kData:
                if (c == telnet::kIac) {
                    state_ = State::kIac;
                    break;
                }
                // Enter arrives as CR NUL or CR LF; the translator wants a lone CR.
                if (after_cr_ && (c == '\0' || c == '\n')) {
                    after_cr_ = false;
                    break;
                }
                after_cr_ = c == '\r';
                *data += static_cast<char>(c);
                break;
            case State::kIac:
                state_ = State::kData;
                if (c == telnet::kWill || c == telnet::kWont || c == telnet::kDo ||
                    c == telnet::kDont) {
                    verb_ = c;
                    state_ = State::kOption;
                } else if (c == telnet::kSb) {
                    sub_.clear();
                    state_ = State::kSub;
                } else if (c == telnet::kIp) {
                    after_cr_ = false;
                    *data += '\x03';
                }
                // IAC IAC (a data byte 0xFF) and the other commands are dropped.
                break;
            case State::kOption:
                state_ = State::kData;
                Command(verb_, c, reply);
                break;
            case State::kSub:
                if (c == telnet::kIac) {
                    state_ = State::kSubIac;
                } else if (sub_.size() < kLongestSubNegotiation) {
                    sub_ += static_cast<char>(c);
                }
                break;
            case State::kSubIac:
                if (c == telnet::kSe) {
                    state_ = State::kData;
                    SubNegotiation(data, reply);
                } else {
                    // IAC IAC inside stands for 0xFF; anything else is malformed and kept
                    // the same way.
                    if (sub_.size() < kLongestSubNegotiation) sub_ += static_cast<char>(c);
                    state_ = State::kSub;
                }
                break;
        }
    }
}

// Answers so that no option is ever asked about twice in a row: a request that matches the
// current state, or answers the host's own question, gets no reply.
void TelnetInput::Command(unsigned char verb, unsigned char option, std::string* reply) {
    switch (verb) {
        case telnet::kWill:
            if (!HostWants(option)) {
                *reply += hosts::Command(telnet::kDont, option);
            } else if (!him_[option]) {
                him_[option] = true;
                if (!him_asked_[option]) *reply += hosts::Command(telnet::kDo, option);
                if (option == telnet::kTerminalType) {
                    const char send[] = {static_cast<char>(telnet::kIac),
                                         static_cast<char>(telnet::kSb),
                                         static_cast<char>(telnet::kTerminalType),
                                         static_cast<char>(telnet::kTerminalTypeSend),
                                         static_cast<char>(telnet::kIac),
                                         static_cast<char>(telnet::kSe)};
                    reply->append(send, sizeof send);
                }
            }
            him_asked_[option] = false;
            break;
        case telnet::kWont:
            if (him_[option] && !him_asked_[option])
                *reply += hosts::Command(telnet::kDont, option);
            him_[option] = false;
            him_asked_[option] = false;
            if (option == telnet::kTerminalType) type_settled_ = true;
            if (option == telnet::kWindowSize) size_settled_ = true;
            break;
        case telnet::kDo:
            if (!HostOffers(option)) {
                *reply += hosts::Command(telnet::kWont, option);
            } else if (!us_[option]) {
                us_[option] = true;
                if (!us_asked_[option]) *reply += hosts::Command(telnet::kWill, option);
            }
            us_asked_[option] = false;
            break;
        case telnet::kDont:
            if (us_[option] && !us_asked_[option]) *reply += hosts::Command(telnet::kWont, option);
            us_[option] = false;
            us_asked_[option] = false;
            break;
    }
}

void TelnetInput::SubNegotiation(std::string* data, std::string* reply) {
    (void)reply;
    if (sub_.empty()) return;
    unsigned char option = static_cast<unsigned char>(sub_[0]);
    if (option == telnet::kTerminalType && sub_.size() >= 2 &&
        static_cast<unsigned char>(sub_[1]) == telnet::kTerminalTypeIs) {
        terminal_type_ = sub_.substr(2);
        type_settled_ = true;
    } else if (option == telnet::kWindowSize && sub_.size() >= 5) {
        const unsigned char* size = reinterpret_cast<const unsigned char*>(sub_.data()) + 1;
        columns_ = size[0] << 8 | size[1];
        rows_ = size[2] << 8 | size[3];
        size_settled_ = true;
        after_cr_ = false;
        *data += TelnetStateMessage(rows_, columns_);
    }
}

RloginStartup::Status RloginStartup::Feed(const char* bytes, size_t size, std::string* rest) {
    size_t i = 0;
    for (; i < size && status_ == Status::kMore; ++i) {
        char c = bytes[i];
        if (!seen_zero_) {
            if (c != '\0') status_ = Status::kBad;
            seen_zero_ = true;
        } else if (c == '\0') {
            if (++field_ == 3) status_ = Status::kDone;
        } else if (fields_[field_].size() < 256) {
            fields_[field_] += c;
        } else {
            status_ = Status::kBad;
        }
    }
    if (status_ == Status::kDone) rest->append(bytes + i, size - i);
    return status_;
}

std::string RloginStartup::terminal_type() const {
    return fields_[2].substr(0, fields_[2].find('/'));
}

}  // namespace hosts
