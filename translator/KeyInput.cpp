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
    input->pasted = in_paste_;
    if (utf8_pending_ != 0) {
        input->byte = 0;
        input->character = utf8_pending_;
        utf8_pending_ = 0;
        return true;
    }
    for (;;) {
        if (count_ == 0 && !Fill()) return false;
        if (ended_ && in_paste_) {
            count_ = 0;
            return false;
        }
        input->pasted = in_paste_;
        if (utf8_ && bytes_[0] < 0x80 && utf8_decoder_.Pending()) {
            // An ASCII byte cuts a character short: its U+FFFD first, then the byte afresh.
            utf8_decoder_.Reset();
            input->byte = 0;
            input->character = kReplacementCharacter;
            return true;
        }
        if (paste_ && bytes_[0] == kEscape) {
            const DWORD start = GetTickCount();
            PasteMarker marker;
            while ((marker = DecodePasteMarker(bytes_, count_)) == PasteMarker::kIncomplete &&
                   More(start)) {
            }
            if (ended_ && in_paste_) {
                count_ = 0;
                return false;
            }
            if (marker == PasteMarker::kStart || marker == PasteMarker::kEnd) {
                Drop(kPasteMarkerLength);
                in_paste_ = marker == PasteMarker::kStart;
                pasted_ = 0;
                after_cr_ = false;
                continue;
            }
        }
        if ((decode_ || mouse_) && !in_paste_ && bytes_[0] == kEscape) {
            const Taken taken = TakeSequence(input);
            if (taken == Taken::kUnit) return true;
            if (taken == Taken::kDropped) continue;
        }
        BYTE byte = bytes_[0];
        Drop(1);
        if (in_paste_) {
            if (++pasted_ >= kPasteLimitBytes) in_paste_ = false;
            if (!PastedLineEnd(&byte, &after_cr_)) continue;
        }
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
        if (more && More(start)) continue;
        // No more bytes come: a report begun goes, and never as characters.
        if (report.kind == MouseReport::Kind::kIncomplete && report.length > 0) {
            Drop(report.length);
            return Taken::kDropped;
        }
        return Taken::kNone;
    }
}

bool KeyReader::Ready(BYTE* next) const {
    if (utf8_pending_ != 0) {
        *next = 0;
        return true;
    }
    if (count_ > 0) {
        *next = bytes_[0];
        return true;
    }
    return PeekSocketBatch(next);
}

void KeyReader::BeforeWait() {
    BYTE next = 0;
    if (before_wait_ && !PeekSocketBatch(&next)) before_wait_();
}

// The next byte into an empty reader.  In a paste, a second without input ends the paste.
bool KeyReader::Fill() {
    BeforeWait();
    if (in_paste_) {
        bool timed_out = false;
        if (ReadSocketByteWithin(&bytes_[0], kPasteIdleMs, &timed_out)) {
            count_ = 1;
            return true;
        }
        if (!timed_out) ended_ = true;
        in_paste_ = false;
    }
    if (ended_ || !ReadSocketByte(&bytes_[0])) {
        ended_ = true;
        return false;
    }
    count_ = 1;
    return true;
}

// One more byte after an Escape, when it comes within kKeySequenceWaitMs of `start`.
bool KeyReader::More(DWORD start) {
    if (ended_ || count_ == kMaxInputSequence) return false;
    BeforeWait();
    const DWORD waited = GetTickCount() - start;
    bool timed_out = waited >= kKeySequenceWaitMs;
    if (!timed_out &&
        ReadSocketByteWithin(&bytes_[count_], kKeySequenceWaitMs - waited, &timed_out)) {
        ++count_;
        return true;
    }
    if (!timed_out) ended_ = true;
    return false;
}

void KeyReader::Drop(DWORD count) {
    for (DWORD i = count; i < count_; ++i) bytes_[i - count] = bytes_[i];
    count_ -= count;
}

void InjectInput(const ClientInput& input, KeyBatch* batch) {
    KeyRecords keys;
    if (input.character != 0) {
        keys = CharacterRecords(input.character, batch != nullptr);
    } else {
        if (input.is_key) g_translator.sticky_modifiers |= input.key.modifiers;
        const BYTE byte = input.is_key ? input.key.character : input.byte;
        if (!ByteRecords(byte, input.is_key ? input.key.virtual_key : 0, &keys, batch != nullptr))
            return;
    }
    if (batch != nullptr) {
        batch->Add(keys);
    } else {
        WriteKeyRecords(g_translator.console_input, keys);
    }
}
