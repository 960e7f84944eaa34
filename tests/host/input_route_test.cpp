// Where each unit of the client's input goes: in the advanced mode loop, what each byte means in
// each console input mode; in simple mode, where keys go by the input mode and the output gate.
#include <gtest/gtest.h>

#include "AdvancedInput.h"
#include "InputRoute.h"

namespace {

constexpr DWORD kPrompt = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
constexpr DWORD kProcessedOnly = ENABLE_PROCESSED_INPUT;
constexpr DWORD kRaw = 0;
constexpr DWORD kLineWithoutProcessed = ENABLE_LINE_INPUT;

InputRoute Route(const ClientInput& input, DWORD mode) {
    return DecideInputRoute(InputLoop::kAdvanced, input, mode, true);
}
InputRoute Route(BYTE byte, DWORD mode) {
    return Route(ClientInput::Byte(byte), mode);
}

TEST(AdvancedInputTest, SpecialBytesFollowTheInputMode) {
    struct Row {
        BYTE byte;
        InputRoute prompt;
        InputRoute processed_only;
        InputRoute raw;
    };
    using A = InputRoute;
    const Row table[] = {
        {0x03, A::kCtrlCEvent, A::kCtrlCEvent, A::kInject},
        {0x1B, A::kEscapeKey, A::kInject, A::kInject},
        {0x12, A::kRedraw, A::kInject, A::kInject},
        {0x0D, A::kInjectThenExitCheck, A::kInject, A::kInject},
        {0x01, A::kKeyCommand, A::kKeyCommand, A::kKeyCommand},
    };
    for (const Row& row : table) {
        EXPECT_EQ(Route(row.byte, kPrompt), row.prompt) << int(row.byte);
        EXPECT_EQ(Route(row.byte, kProcessedOnly), row.processed_only) << int(row.byte);
        EXPECT_EQ(Route(row.byte, kRaw), row.raw) << int(row.byte);
        // Line input without processed input counts as no processing at all.
        EXPECT_EQ(Route(row.byte, kLineWithoutProcessed), row.raw) << int(row.byte);
    }
}

TEST(AdvancedInputTest, EveryOtherByteIsAKeyInEveryMode) {
    for (int byte = 0; byte < 0x100; ++byte) {
        if (byte == 0x03 || byte == 0x1B || byte == 0x12 || byte == 0x0D || byte == 0x01) continue;
        for (DWORD mode : {kPrompt, kProcessedOnly, kRaw, DWORD{0x1f7}}) {
            EXPECT_EQ(Route(static_cast<BYTE>(byte), mode), InputRoute::kInject)
                << byte << " in mode " << mode;
        }
    }
}

TEST(AdvancedInputTest, CharactersAndKeysAreKeysWhateverTheModeAndGate) {
    ClientInput key;
    key.is_key = true;
    key.key.virtual_key = VK_ESCAPE;
    key.key.character = 0x03;
    for (DWORD mode : {kPrompt, kProcessedOnly, kRaw}) {
        EXPECT_EQ(Route(key, mode), InputRoute::kInject) << mode;
        EXPECT_EQ(Route(ClientInput::Character(0xE9), mode), InputRoute::kInject) << mode;
        // Paused output is simple mode's alone.
        EXPECT_EQ(DecideInputRoute(InputLoop::kAdvanced, ClientInput::Byte('x'), mode, false),
                  InputRoute::kInject);
    }
}

TEST(AdvancedInputTest, BeforeTheFirstModeIsKnownThePromptIsAssumed) {
    EXPECT_EQ(Route(0x0D, kAssumedFirstInputMode), InputRoute::kInjectThenExitCheck);
    EXPECT_EQ(Route(0x03, kAssumedFirstInputMode), InputRoute::kCtrlCEvent);
}

TEST(InputRouteTest, SimpleModeRoutesKeysByInputModeAndGate) {
    const DWORD kPrompt = 0x1f7, kSingle = ENABLE_PROCESSED_INPUT, kRaw = 0;
    ClientInput key;
    key.is_key = true;
    key.key.virtual_key = VK_UP;
    auto route = [&key](DWORD mode, bool gate) {
        return DecideInputRoute(InputLoop::kSimple, key, mode, gate);
    };
    EXPECT_EQ(route(kPrompt, true), InputRoute::kLineEditor);
    EXPECT_EQ(route(kSingle, true), InputRoute::kInject);
    EXPECT_EQ(route(kRaw, true), InputRoute::kInject);
    EXPECT_EQ(route(ENABLE_LINE_INPUT, true), InputRoute::kInject);
    for (DWORD mode : {kPrompt, kSingle, kRaw})
        EXPECT_EQ(route(mode, false), InputRoute::kResumeOutput);
}

TEST(InputRouteTest, PastedBytesAreCharactersButAProcessedCtrlCIsDropped) {
    const DWORD kPromptMode = 0x1f7;
    for (int byte = 0; byte < 0x100; ++byte) {
        ClientInput pasted = ClientInput::Byte(static_cast<BYTE>(byte));
        pasted.pasted = true;
        for (DWORD mode : {kPromptMode, kProcessedOnly, kRaw, kLineWithoutProcessed}) {
            const bool dropped = byte == 0x03 && (mode & ENABLE_PROCESSED_INPUT) != 0;
            const bool line = mode == kPromptMode;
            EXPECT_EQ(Route(pasted, mode), dropped ? InputRoute::kDrop : InputRoute::kInject);
            EXPECT_EQ(DecideInputRoute(InputLoop::kSimple, pasted, mode, true),
                      dropped ? InputRoute::kDrop
                      : line  ? InputRoute::kLineEditor
                              : InputRoute::kInject)
                << byte << " " << mode;
        }
    }
}

}  // namespace
