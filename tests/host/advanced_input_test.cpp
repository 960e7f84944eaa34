// The advanced mode input loop: what each byte means in each console input mode.
#include <gtest/gtest.h>

#include "AdvancedInput.h"

namespace {

constexpr DWORD kPrompt = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
constexpr DWORD kProcessedOnly = ENABLE_PROCESSED_INPUT;
constexpr DWORD kRaw = 0;
constexpr DWORD kLineWithoutProcessed = ENABLE_LINE_INPUT;

TEST(AdvancedInputTest, SpecialBytesFollowTheInputMode) {
    struct Row {
        BYTE byte;
        InputAction prompt;
        InputAction processed_only;
        InputAction raw;
    };
    using A = InputAction;
    const Row table[] = {
        {0x03, A::kCtrlCEvent, A::kCtrlCEvent, A::kKey},
        {0x1B, A::kEscapeKey, A::kKey, A::kKey},
        {0x12, A::kRedraw, A::kKey, A::kKey},
        {0x0D, A::kKeyThenExitCheck, A::kKey, A::kKey},
        {0x01, A::kKeyCommand, A::kKeyCommand, A::kKeyCommand},
    };
    for (const Row& row : table) {
        EXPECT_EQ(DecideInputAction(row.byte, kPrompt), row.prompt) << int(row.byte);
        EXPECT_EQ(DecideInputAction(row.byte, kProcessedOnly), row.processed_only) << int(row.byte);
        EXPECT_EQ(DecideInputAction(row.byte, kRaw), row.raw) << int(row.byte);
        // Line input without processed input counts as no processing at all.
        EXPECT_EQ(DecideInputAction(row.byte, kLineWithoutProcessed), row.raw) << int(row.byte);
    }
}

TEST(AdvancedInputTest, EveryOtherByteIsAKeyInEveryMode) {
    for (int byte = 0; byte < 0x100; ++byte) {
        if (byte == 0x03 || byte == 0x1B || byte == 0x12 || byte == 0x0D || byte == 0x01) continue;
        for (DWORD mode : {kPrompt, kProcessedOnly, kRaw, DWORD{0x1f7}}) {
            EXPECT_EQ(DecideInputAction(static_cast<BYTE>(byte), mode), InputAction::kKey)
                << byte << " in mode " << mode;
        }
    }
}

TEST(AdvancedInputTest, BeforeTheFirstModeIsKnownThePromptIsAssumed) {
    EXPECT_EQ(DecideInputAction(0x0D, kAssumedFirstInputMode), InputAction::kKeyThenExitCheck);
    EXPECT_EQ(DecideInputAction(0x03, kAssumedFirstInputMode), InputAction::kCtrlCEvent);
}

}  // namespace
