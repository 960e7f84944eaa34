// Key-sequence decoding over every input, after an Escape: a decision once made stands whatever
// bytes follow, a key's sequence is decided only at its last byte, and a key is one a keyboard
// has, with at most the three left-hand modifiers.  The bracketed paste markers likewise: a
// decision stands, and only the two whole markers are markers.
#include <cstdlib>
#include <cstring>

#include "KeyEvents.h"
#include "KeySequences.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BYTE bytes[kMaxKeySequence + 4];
    bytes[0] = 0x1B;
    DWORD count = 1;
    for (size_t i = 0; i < size && count < sizeof bytes; ++i) bytes[count++] = data[i];

    static const BYTE kStart[kPasteMarkerLength] = {0x1B, '[', '2', '0', '0', '~'};
    PasteMarker marker_decision = PasteMarker::kIncomplete;
    for (DWORD n = 1; n <= count; ++n) {
        const PasteMarker marker = DecodePasteMarker(bytes, n);
        if (marker_decision != PasteMarker::kIncomplete && marker != marker_decision) abort();
        if (marker == PasteMarker::kIncomplete && n >= kPasteMarkerLength) abort();
        marker_decision = marker;
    }
    if (count >= kPasteMarkerLength) {
        const bool start = std::memcmp(bytes, kStart, kPasteMarkerLength) == 0;
        BYTE end[kPasteMarkerLength];
        std::memcpy(end, kStart, sizeof end);
        end[4] = '1';
        const bool is_end = std::memcmp(bytes, end, kPasteMarkerLength) == 0;
        if ((marker_decision == PasteMarker::kStart) != start ||
            (marker_decision == PasteMarker::kEnd) != is_end)
            abort();
    }

    KeySequence first_decision;
    DWORD decided_at = 0;
    for (DWORD n = 1; n <= count; ++n) {
        KeySequence key = DecodeKeySequence(bytes, n);
        if (decided_at == 0) {
            if (key.kind == KeySequence::Kind::kIncomplete) {
                if (n >= kMaxKeySequence) abort();  // waits for no more than a key can take
                continue;
            }
            first_decision = key;
            decided_at = n;
            if (key.kind == KeySequence::Kind::kKey && key.length != n) abort();
            continue;
        }
        // More bytes change nothing.
        if (key.kind != first_decision.kind || key.length != first_decision.length ||
            key.virtual_key != first_decision.virtual_key ||
            key.character != first_decision.character || key.modifiers != first_decision.modifiers)
            abort();
    }
    if (decided_at == 0 || first_decision.kind != KeySequence::Kind::kKey) return 0;

    const KeySequence& key = first_decision;
    if (key.length < 2 || key.modifiers & ~(kShiftBit | kCtrlBit | kAltBit)) abort();
    if (key.virtual_key == 0) {
        // Alt and a printable character, never "[" or "O", which begin sequences.
        if (key.length != 2 || key.modifiers != kAltBit || key.character != bytes[1] ||
            key.character < 0x20 || key.character > 0x7E || key.character == '[' ||
            key.character == 'O')
            abort();
        return 0;
    }
    if (key.character != (key.virtual_key == VK_TAB ? 0x09 : 0)) abort();
    const bool known = key.virtual_key == VK_TAB ||
                       (key.virtual_key >= VK_PRIOR && key.virtual_key <= VK_DOWN) ||
                       key.virtual_key == VK_INSERT || key.virtual_key == VK_DELETE ||
                       (key.virtual_key >= VK_F1 && key.virtual_key <= VK_F12);
    if (!known) abort();
    // Every byte of a sequence is 7-bit and printable.
    for (DWORD i = 1; i < key.length; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) abort();
    }
    return 0;
}
