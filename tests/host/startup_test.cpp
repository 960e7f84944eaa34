// The start-up decisions of a login.
#include <gtest/gtest.h>

#include "transcmd.h"

namespace {

TEST(StartupDecisions, ProtocolIsTelnetOrRloginInEitherCase) {
    LoginProtocol protocol = LoginProtocol::kTelnet;
    EXPECT_TRUE(ParseLoginProtocol("RLogin", &protocol));
    EXPECT_EQ(protocol, LoginProtocol::kRlogin);
    EXPECT_TRUE(ParseLoginProtocol("TELNET", &protocol));
    EXPECT_EQ(protocol, LoginProtocol::kTelnet);
    for (const char* other : {"ssh", "telnetd", "", "rlogin "}) {
        EXPECT_FALSE(ParseLoginProtocol(other, &protocol)) << other;
    }
    EXPECT_STREQ(SettingsProduct(LoginProtocol::kTelnet), "Orvane Telnetd Server");
    EXPECT_STREQ(SettingsProduct(LoginProtocol::kRlogin), "Orvane Rlogind Server");
}

TEST(StartupDecisions, ModeSelectionIgnoresCaseForSimpleOnly) {
    EXPECT_EQ(ModeFromSetting(nullptr), TranslatorMode::kUndecided);
    EXPECT_EQ(ModeFromSetting("simple"), TranslatorMode::kSimple);
    EXPECT_EQ(ModeFromSetting("SiMPLE"), TranslatorMode::kSimple);
    EXPECT_EQ(ModeFromSetting("advanced"), TranslatorMode::kAdvanced);
    EXPECT_EQ(ModeFromSetting("Advanced"), TranslatorMode::kUndecided);
    EXPECT_EQ(ModeFromSetting("simple "), TranslatorMode::kUndecided);
    EXPECT_EQ(ModeFromSetting(""), TranslatorMode::kUndecided);
}

TEST(StartupDecisions, AnsiTerminalTypesDefaultToAdvanced) {
    for (const char* type :
         {"vt100", "VT100", "dec-vt100", "dec-vt220", "vt220", "ansi", "xterm", "XTERMS"}) {
        EXPECT_TRUE(DefaultsToAdvanced(type)) << type;
    }
    for (const char* type : {"dumb", "vt102", "xterm-256color", "", "network"}) {
        EXPECT_FALSE(DefaultsToAdvanced(type)) << type;
    }
}

TEST(StartupDecisions, FurtherTerminalTypesAfterTheWrittenList) {
    const char* list = "  xterm-* screen*\tTMUX* rxvt* linux ";
    for (const char* type : {"xterm-256color", "XTERM-kitty", "xterm-", "screen", "screen.xterm",
                             "tmux-256color", "rxvt-unicode-256color", "Linux", "vt100"}) {
        EXPECT_TRUE(DefaultsToAdvanced(type, list)) << type;
    }
    for (const char* type : {"linux-16color", "linu", "dumb", "", "xterm2", "scree", "x"}) {
        EXPECT_FALSE(DefaultsToAdvanced(type, list)) << type;
    }
    EXPECT_TRUE(TerminalTypeListed("*", "anything"));
    EXPECT_TRUE(TerminalTypeListed("*", ""));
    EXPECT_FALSE(TerminalTypeListed("", "xterm"));
    EXPECT_FALSE(TerminalTypeListed("   ", "xterm"));
    EXPECT_FALSE(DefaultsToAdvanced("xterm-256color", nullptr));
}

TEST(StartupDecisions, AnswersDecideOrAskAgain) {
    for (bool default_advanced : {false, true}) {
        TranslatorMode by_default =
            default_advanced ? TranslatorMode::kAdvanced : TranslatorMode::kSimple;
        EXPECT_EQ(ModeFromAnswer('y', default_advanced), TranslatorMode::kAdvanced);
        EXPECT_EQ(ModeFromAnswer('Y', default_advanced), TranslatorMode::kAdvanced);
        EXPECT_EQ(ModeFromAnswer('n', default_advanced), TranslatorMode::kSimple);
        EXPECT_EQ(ModeFromAnswer('N', default_advanced), TranslatorMode::kSimple);
        EXPECT_EQ(ModeFromAnswer('\r', default_advanced), by_default);
        EXPECT_EQ(ModeFromAnswer('\n', default_advanced), by_default);
        for (BYTE other : {'x', ' ', '\0', '\x03', '\xff'}) {
            EXPECT_EQ(ModeFromAnswer(other, default_advanced), TranslatorMode::kUndecided);
        }
    }
}

}  // namespace
