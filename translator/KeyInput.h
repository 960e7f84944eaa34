// The client's input as the input loops take it: bytes, and the keys that the terminal's key
// sequences stand for when the KeySequences setting asks for them.
#pragma once

#include "KeySequences.h"
#include "translator.h"

struct ClientInput {
    bool is_key = false;  // a decoded key in `key`; otherwise the byte `byte`
    BYTE byte = 0;
    KeySequence key;
};

// Reads the socket input.  With decoding on, an Escape takes the bytes that follow it while they
// may form a key's sequence: those already there, then more within kKeySequenceWaitMs of the
// Escape.  A key's whole sequence comes back as that key; bytes that form none come back one by
// one, as they came, the first of them at once and the rest looked at afresh.  A Ctrl-A is always
// the last byte taken, so its command byte can be read from the socket input directly.
class KeyReader {
  public:
    explicit KeyReader(bool decode) : decode_(decode) {}
    // False at the end of input, once every byte taken has been returned.
    bool Next(ClientInput* input);

  private:
    void Drop(DWORD count);

    bool decode_;
    bool ended_ = false;
    BYTE bytes_[kMaxKeySequence] = {};
    DWORD count_ = 0;
};

// Injects a decoded key as the Ctrl-A command for it would, its modifiers added to the sticky
// ones.
void InjectDecodedKey(const KeySequence& key);
