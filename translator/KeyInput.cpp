// The client's input with its key sequences decoded.
#include "KeyInput.h"

#include "KeyEvents.h"

namespace {
constexpr BYTE kEscape = 0x1B;
}  // namespace

bool KeyReader::Next(ClientInput* input) {
    if (count_ == 0) {
        if (ended_ || !ReadSocketByte(&bytes_[0])) {
            ended_ = true;
            return false;
        }
        count_ = 1;
    }
    if (decode_ && bytes_[0] == kEscape) {
        const DWORD start = GetTickCount();
        for (;;) {
            KeySequence key = DecodeKeySequence(bytes_, count_);
            if (key.kind == KeySequence::Kind::kKey) {
                Drop(key.length);
                input->is_key = true;
                input->key = key;
                return true;
            }
            if (key.kind == KeySequence::Kind::kNone || ended_ || count_ == kMaxKeySequence) break;
            const DWORD waited = GetTickCount() - start;
            bool timed_out = waited >= kKeySequenceWaitMs;
            if (!timed_out &&
                ReadSocketByteWithin(&bytes_[count_], kKeySequenceWaitMs - waited, &timed_out)) {
                ++count_;
                continue;
            }
            if (!timed_out) ended_ = true;
            break;
        }
    }
    input->is_key = false;
    input->byte = bytes_[0];
    Drop(1);
    return true;
}

void KeyReader::Drop(DWORD count) {
    for (DWORD i = count; i < count_; ++i) bytes_[i - count] = bytes_[i];
    count_ -= count;
}

void InjectDecodedKey(const KeySequence& key) {
    TranslatorState& t = g_translator;
    t.sticky_shift = t.sticky_shift || (key.modifiers & kShiftBit) != 0;
    t.sticky_ctrl = t.sticky_ctrl || (key.modifiers & kCtrlBit) != 0;
    t.sticky_alt = t.sticky_alt || (key.modifiers & kAltBit) != 0;
    InjectKey(key.character, key.virtual_key);
}
