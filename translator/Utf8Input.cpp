// A UTF-8 client's input: the bytes the input loops read, decoded before they reach the editor or
// the console.  In-band messages are taken out before, on bytes.
#include "Utf8.h"
#include "translator.h"

bool ReadClientInput(BYTE* byte, char32_t* character) {
    TranslatorState& t = g_translator;
    *character = 0;
    if (t.utf8_client == 0) return ReadSocketByte(byte);
    for (;;) {
        char32_t decoded[2];
        int count = 0;
        if (t.client_has_pending) {
            decoded[0] = t.client_pending;
            count = 1;
            t.client_has_pending = false;
        } else {
            BYTE read = 0;
            if (!ReadSocketByte(&read)) {
                t.client_decoder.Reset();
                return false;
            }
            count = t.client_decoder.Feed(read, decoded);
        }
        if (count == 0) continue;
        if (count == 2) {
            t.client_pending = decoded[1];
            t.client_has_pending = true;
        }
        if (decoded[0] < 0x80) {
            *byte = static_cast<BYTE>(decoded[0]);
        } else {
            *byte = 0;
            *character = decoded[0];
        }
        return true;
    }
}
