// The start-up decisions of a login.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "login_harness.h"
#include "transcmd.h"
#include "winsim/console_control.h"

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

// The entry routine in a process with a console of its own, its standard error a console whose
// text is collected: what it shows there, its reports, and whether it read any settings (reading
// them creates the product's key).
struct EntryRun {
    winsim::ExitStatus status;
    std::string shown;
    std::vector<std::string> reports;
    std::vector<WORD> report_types;
    bool settings_read;
    bool started_anything;
};

EntryRun RunEntry(std::vector<std::string> arguments) {
    winsim::test::Reset();
    EntryRun run{};
    {
        winsim::SimProcess process;
        winsim::test::NewConsole(process);
        auto sink = winsim::test::MakeSink(&process);
        process.SetStdHandle(STD_ERROR_HANDLE,
                             winsim::test::MakeConsole(&process, 0x3, 0, sink.handle()));
        process.Start([&arguments] {
            FreshTranslatorProcess();
            std::vector<char*> argv;
            for (auto& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            return TranslatorMain(static_cast<int>(arguments.size()), argv.data());
        });
        run.status = process.Wait();
        run.shown = sink.Text();
    }
    FreshTranslatorProcess();
    run.reports = Reports();
    for (auto& record : winsim::test::EventLog()) run.report_types.push_back(record.type);
    for (const char* product : {"Orvane Telnetd Server", "Orvane Rlogind Server"}) {
        run.settings_read |= winsim::test::RegKeyExists(
            HKEY_LOCAL_MACHINE,
            std::string("Software\\Orvane Software, Inc.\\") + product + "\\CurrentVersion");
    }
    run.started_anything = !winsim::test::CreatedProcesses().empty();
    winsim::test::Reset();
    return run;
}

TEST(EntryRoutine, FewerThanTwoArgumentsShowTheBannerAndTouchNothing) {
    for (auto arguments : {std::vector<std::string>{"command-translator", "telnet"},
                           std::vector<std::string>{"command-translator"}}) {
        EntryRun run = RunEntry(arguments);
        EXPECT_EQ(run.status.code, 1u) << arguments.size();
        EXPECT_FALSE(run.status.crashed);
        EXPECT_NE(run.shown.find("Orvane Command Translator Version 1.14"), std::string::npos);
        EXPECT_TRUE(run.reports.empty()) << run.reports.at(0);
        EXPECT_FALSE(run.settings_read);
        EXPECT_FALSE(run.started_anything);
    }
}

TEST(EntryRoutine, AnUnknownProtocolIsFatalBeforeAnySetting) {
    EntryRun run = RunEntry({"command-translator", "ssh", "vt100"});
    EXPECT_EQ(run.status.code, 1u);
    EXPECT_FALSE(run.status.crashed);
    EXPECT_EQ(run.reports, std::vector<std::string>{"Bad protocol type specified: ssh"});
    EXPECT_EQ(run.report_types, std::vector<WORD>{EVENTLOG_ERROR_TYPE});
    EXPECT_EQ(run.shown, "");
    EXPECT_FALSE(run.settings_read);
    EXPECT_FALSE(run.started_anything);
}

}  // namespace
