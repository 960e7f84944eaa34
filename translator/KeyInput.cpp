// The client's input with its key sequences decoded.
#include "KeyInput.h"

#include "KeyEvents.h"

namespace {
constexpr BYTE kEscape = 0x1B;
}  // namespace

bool KeyReader::Next(ClientInput* input) {
    input->is_key = false;
    input->is_mouse = false;
    input->character = 0;
    if (utf8_pending_ != 0) {
        input->byte = 0;
        input->character = utf8_pending_;
        utf8_pending_ = 0;
        return true;
    }
    for (;;) {
        if (count_ == 0) {
            if (ended_ || !ReadSocketByte(&bytes_[0])) {
                ended_ = true;
                return false;
            }
            count_ = 1;
        }
        if (utf8_ && bytes_[0] < 0x80 && utf8_decoder_.Pending()) {
            // An ASCII byte cuts a character short: its U+FFFD first, then the byte afresh.
            utf8_decoder_.Reset();
            input->byte = 0;
            input->character = kReplacementCharacter;
            return true;
        }
        if ((decode_ || mouse_) && bytes_[0] == kEscape) {
            const Taken taken = TakeSequence(input);
            if (taken == Taken::kUnit) return true;
            if (taken == Taken::kDropped) continue;
        }
        const BYTE byte = bytes_[0];
        Drop(1);
        if (!utf8_ || byte < 0x80) {
            input->byte = byte;
            return true;
        }
        char32_t decoded[2];
        const int count = utf8_decoder_.Feed(byte, decoded);
        if (count == 0) continue;
        if (count == 2) utf8_pending_ = decoded[1];
        input->byte = 0;
        input->character = decoded[0];
        return true;
    }
}

KeyReader::Taken KeyReader::TakeSequence(ClientInput* input) {
    const DWORD start = GetTickCount();
    for (;;) {
        const MouseReport report = mouse_ ? DecodeMouseReport(bytes_, count_) : MouseReport{};
        const KeySequence key = decode_ ? DecodeKeySequence(bytes_, count_) : KeySequence{};
        if (report.kind == MouseReport::Kind::kReport) {
            Drop(report.length);
            input->is_mouse = true;
            input->mouse = report;
            return Taken::kUnit;
        }
        if (report.kind == MouseReport::Kind::kCut) {
            Drop(report.length);
            return Taken::kDropped;
        }
        if (key.kind == KeySequence::Kind::kKey) {
            Drop(key.length);
            input->is_key = true;
            input->key = key;
            return Taken::kUnit;
        }
        const bool more = key.kind == KeySequence::Kind::kIncomplete ||
                          report.kind == MouseReport::Kind::kIncomplete;
        if (more && !ended_ && count_ < kMaxInputSequence) {
            const DWORD waited = GetTickCount() - start;
            bool timed_out = waited >= kKeySequenceWaitMs;
            if (!timed_out &&
                ReadSocketByteWithin(&bytes_[count_], kKeySequenceWaitMs - waited, &timed_out)) {
                ++count_;
                continue;
            }
            if (!timed_out) ended_ = true;
        }
        // No more bytes come: a report begun goes, and never as characters.
        if (report.kind == MouseReport::Kind::kIncomplete && report.length > 0) {
            Drop(report.length);
            return Taken::kDropped;
        }
        return Taken::kNone;
    }
}

void KeyReader::Drop(DWORD count) {
    for (DWORD i = count; i < count_; ++i) bytes_[i - count] = bytes_[i];
    count_ -= count;
}

void InjectInput(const ClientInput& input) {
    if (input.character != 0) return InjectCharacter(input.character);
    if (!input.is_key) return InjectKey(input.byte, 0);
    g_translator.sticky_modifiers |= input.key.modifiers;
    InjectKey(input.key.character, input.key.virtual_key);
}
