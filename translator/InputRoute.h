// Where each unit of the client's input goes: the one decision of both input loops.
#pragma once

#include "KeySequences.h"

// One unit of the client's input as the input loops take it.
struct ClientInput {
    bool is_key = false;  // a decoded key in `key`; otherwise `character` or the byte `byte`
    BYTE byte = 0;
    // A UTF-8 client's character beyond ASCII (`byte` 0); 0 for a byte.  In-band messages were
    // taken out before, on bytes; a sequence cut off by the end of the input is dropped.
    char32_t character = 0;
    KeySequence key;
    bool is_mouse = false;  // a mouse report in `mouse` (advanced mode with MouseInput only)
    MouseReport mouse;
    bool pasted = false;  // it came between a bracketed paste's markers

    static ClientInput Byte(BYTE byte) { return {false, byte, 0, {}, false, {}, false}; }
    static ClientInput Character(char32_t character) {
        return {false, 0, character, {}, false, {}, false};
    }
};

enum class InputLoop { kSimple, kAdvanced };

enum class InputRoute {
    kInject,               // to the console as key events
    kInjectThenExitCheck,  // inject it, then pause so that an ending command processor is noticed
    kEscapeKey,            // inject it with the virtual key VK_ESCAPE
    kCtrlCEvent,           // raise a Ctrl-C event in the console instead of injecting anything
    kRedraw,               // ask the screen mirror to repaint the terminal; nothing is injected
    kKeyCommand,           // Ctrl-A: the next byte is a key command
    kMouseEvent,           // a mouse report: a mouse event while the console asks for them
    kDrop,                 // a pasted Ctrl-C at a processed prompt: nothing happens
    // Simple mode's own:
    kResumeOutput,  // it resumes paused output and is used up by it
    kPauseOutput,   // Ctrl-S pauses the output relay
    kLineEditor,    // the local line editor's, at a line-input prompt
};

// The decision for `input` while the console's input mode is `input_mode` and the output gate
// (simple mode only) is set or not.  Only a byte can have a meaning of its own.  Processed input
// makes Ctrl-C an event in both loops.  In advanced mode a line-input prompt besides gives
// Escape, Ctrl-R and carriage return their meanings, and Ctrl-A is a key command in every mode.
// In simple mode any other unit resumes paused output, Ctrl-S with processed input pauses it, a
// line-input prompt is the line editor's, and Ctrl-A with processed input is a key command.
// Pasted text is typed as characters: only a Ctrl-C with processed input is dropped (the console
// would make it an event), and in simple mode a line-input prompt's is the line editor's.
InputRoute DecideInputRoute(InputLoop loop, const ClientInput& input, DWORD input_mode,
                            bool gate_set);

// Whether a console's input mode asks for mouse input as a local console gives it: mouse input
// on, and quick edit (which takes the mouse for selecting) not on with the extended flags.
bool AsksForMouseInput(DWORD input_mode);
