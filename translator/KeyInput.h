// The client's input as the input loops take it: bytes, the keys that the terminal's key
// sequences stand for when the KeySequences setting asks for them, and for a UTF-8 client the
// characters beyond ASCII.
#pragma once

#include <functional>
#include <utility>

#include "InputRoute.h"
#include "Utf8.h"
#include "translator.h"

// Reads the socket input.  With decoding on, an Escape takes the bytes that follow it while they
// may form a key's sequence: those already there, then more within kKeySequenceWaitMs of the
// Escape.  A key's whole sequence comes back as that key; bytes that form none come back one by
// one, as they came, the first of them at once and the rest looked at afresh.  A Ctrl-A is always
// the last byte taken, so its command byte can be read from the socket input directly.  With
// `mouse`, an Escape waits the same way while the bytes may form a mouse report (decoding on or
// not), which comes back whole as a mouse unit; a report begun that cannot be finished (cut, or
// no more bytes within the wait) is dropped whole.
// With `paste`, the markers of a bracketed paste are taken out and what comes between them is
// pasted: no key sequences, its line ends made carriage returns (PastedLineEnd); the paste also
// ends after kPasteLimitBytes or kPasteIdleMs without input, and what is left of it when the
// input ends is dropped.
class KeyReader {
  public:
    explicit KeyReader(bool decode, bool utf8 = false, bool mouse = false, bool paste = false)
        : decode_(decode), utf8_(utf8), mouse_(mouse), paste_(paste) {}
    // False at the end of input, once every byte taken has been returned.
    bool Next(ClientInput* input);
    // True when Next has a unit without reading the socket input again: `next` is its first
    // byte (0 for a character already decoded).
    bool Ready(BYTE* next) const;
    // Runs `hook` whenever the reader is about to wait for the socket input (the bytes already
    // read have run out, or a window-size message comes next): what was gathered goes out first.
    void set_before_wait(std::function<void()> hook) { before_wait_ = std::move(hook); }

  private:
    enum class Taken { kNone, kUnit, kDropped };
    // An Escape in bytes_[0]: a key or a mouse report into `input`, the bytes of a report that
    // was dropped gone, or none (the Escape is an ordinary byte).
    Taken TakeSequence(ClientInput* input);
    bool Fill();
    void BeforeWait();
    bool More(DWORD start);
    void Drop(DWORD count);

    bool decode_;
    bool utf8_;
    bool mouse_;
    bool paste_;
    bool ended_ = false;
    bool in_paste_ = false;
    bool after_cr_ = false;  // the last pasted byte was a carriage return
    DWORD pasted_ = 0;       // bytes of the paste so far
    std::function<void()> before_wait_;
    Utf8Decoder utf8_decoder_;
    char32_t utf8_pending_ = 0;  // what a byte cutting a sequence short gave after its U+FFFD
    BYTE bytes_[kMaxInputSequence] = {};
    DWORD count_ = 0;
};

// Injects a unit as key events: a byte with the key the layout has for it, a character beyond
// ASCII as wide key events, and a decoded key as the Ctrl-A command for it would, its modifiers
// added to the sticky ones.
// With a batch, the records go into it instead, to be written with the batch.
class KeyBatch;
void InjectInput(const ClientInput& input, KeyBatch* batch = nullptr);
