// Fault runs: a scripted login, simple (rlogin) and advanced (telnet), run once for every call of
// one system function, that call made to fail.  Whatever fails, every report is one the
// translator makes, the login takes the road of the gravest of them (goes on to a normal end,
// stops with status 1, exits with status 1, or fails its assertion check), it ends within a bound
// of virtual time, and what the client was sent before the report is what a login without the
// failure sends (the same bytes in simple mode, the same screen in advanced mode, whose passes
// may fall differently); the relay passes on every chunk up to the first that holds a line feed
// after its console mode query failed.
//
// Call counts are shared by every simulated process, so a run may hit the test's own pipe readers
// or the fake command processor instead of the translator; such runs only have to end cleanly.
// Each sweep prints how many calls it made fail and the first report of each run.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "login_harness.h"
#include "vterm_terminal.h"

namespace {

namespace test = winsim::test;

// An error no call of the script gives by itself, so that a report shows whose failure it is.
constexpr DWORD kInjected = ERROR_GEN_FAILURE;
constexpr DWORD kEndLimitMs = 120000;
constexpr int kMaxRunsPerFunction = 400;
constexpr char kDomainUserSid[] = "S-1-5-21-2127521184-1604012920-1887927527-1105";

enum class Road { kGoesOn, kStops, kExits1, kAssertion };

const char* RoadName(Road road) {
    switch (road) {
        case Road::kGoesOn:
            return "goes on";
        case Road::kStops:
            return "stops";
        case Road::kExits1:
            return "exits 1";
        case Road::kAssertion:
            return "assertion";
    }
    return "?";
}

// Every report the translator makes, by its beginning, and the road it is on.
struct KnownReport {
    const char* start;
    Road road;
};
const KnownReport kKnownReports[] = {
    {"Can't get handle to console input: ", Road::kStops},
    {"Can't get handle to console output: ", Road::kStops},
    {"Can't set standard input to console input: ", Road::kStops},
    {"Error (WF) asking about ANSI escape sequences: ", Road::kStops},
    {"Error (RF) asking about ANSI escape sequences: ", Road::kStops},
    {"Error (WF) writing CRLF: ", Road::kStops},
    {"Can't create output translation pipe: ", Road::kStops},
    {"Can't set standard output to ", Road::kStops},
    {"Can't set standard error to ", Road::kStops},
    {"Can't duplicate handle for standard error: ", Road::kStops},
    {"Failed to set ignoring of Ctrl-C events: ", Road::kStops},
    {"Unable to set terminal type: ", Road::kGoesOn},
    {"Error setting raw mode: ", Road::kGoesOn},
    {"Error asking for screen size: ", Road::kGoesOn},
    {"Couldn't find system directory: ", Road::kGoesOn},
    {"CreateProcess failed: ", Road::kExits1},
    {"Could get input mode: ", Road::kGoesOn},
    {"GenerateConsoleCtrlEvent failed: ", Road::kGoesOn},
    {"Error translating input: ", Road::kGoesOn},
    {"Error echoing", Road::kGoesOn},
    {"Error erasing", Road::kGoesOn},
    {"Read of socket input pipe failed: ", Road::kGoesOn},
    {"Read of socket input pipe for telnet state failed: ", Road::kGoesOn},
    {"Read of output translation pipe failed: ", Road::kGoesOn},
    {"Error translating output: ", Road::kGoesOn},
    {"Error getting console output mode: ", Road::kGoesOn},
    {"Error getting console input mode: ", Road::kGoesOn},
    {"Writing translated output to socket: ", Road::kGoesOn},
    {"Error writing output characters: ", Road::kGoesOn},
    {"WriteConsoleInput for ", Road::kExits1},
    {"Could not create Event, err=", Road::kExits1},
    {"Couldn't create/open key: ", Road::kExits1},
    {"Error enumerating registry values: ", Road::kExits1},
    {"Could not create thread: ", Road::kExits1},
    // The login goes on without a command processor until the client leaves.
    {"Can't find the Sid for the current process.", Road::kGoesOn},
    {"Assertion failed in file", Road::kAssertion},
};

const KnownReport* FindKnown(const std::string& report) {
    for (const KnownReport& known : kKnownReports) {
        if (report.rfind(known.start, 0) == 0) return &known;
    }
    return nullptr;
}

bool ShowsInjectedError(const std::string& report) {
    const std::string shown = ": " + std::to_string(kInjected);
    size_t at = report.find(shown);
    return at != std::string::npos &&
           (at + shown.size() == report.size() || !std::isdigit(report[at + shown.size()]));
}

// What an ANSI terminal shows after the bytes: its rows without trailing blanks, and the cursor.
// Large enough for every size the script sets, so that nothing wraps or scrolls.
std::string Shown(const std::string& bytes) {
    const int rows = 60, columns = 160;
    VtermTerminal terminal(rows, columns);
    terminal.Feed(bytes);
    std::string shown;
    for (int y = 0; y < rows; ++y) shown += terminal.Row(y) + "\n";
    VTermPos cursor = terminal.Cursor();
    shown += "cursor " + std::to_string(cursor.row) + "," + std::to_string(cursor.col);
    return shown;
}

// One login: the steps of the script, the output of each, and how it ended.
struct LoginRun {
    std::vector<std::string> step_output;
    std::vector<size_t> reports_after_step;  // how many reports there were after each step
    std::vector<std::string> reports;
    winsim::ExitStatus status;
    bool ended = false;
    bool fault_taken = true;
    std::vector<std::string> net_requests;
    int left_running = 0;  // processes the translator started that outlived it
};

struct Script {
    bool advanced;
    const char* key;
    std::string protocol;
    std::vector<std::string> steps;  // client bytes, one Send each
};

Script SimpleScript() {
    return Script{false,
                  "Software\\Orvane Software, Inc.\\Orvane Rlogind Server\\CurrentVersion",
                  "rlogin",
                  {"n", RloginSizeMessage(20, 50), "echo h\xe9\r", "ab\bc\r", "\x03", "\x01U",
                   "raw\r", "x", "\x13", "y", "\r", "exit\r"}};
}

Script AdvancedScript() {
    return Script{true,
                  "Software\\Orvane Software, Inc.\\Orvane Telnetd Server\\CurrentVersion",
                  "telnet",
                  {"y", TelnetStateMessage(12, 40), "echo h\xe9\r", "\x12", "\x03", "\x01U",
                   "\x01\x12", "size 30 14\r", "exit\r"}};
}

LoginRun RunScript(const Script& script, const std::string& api, int skip) {
    test::Reset();
    RegisterFakeCommandProcessor();
    // A domain user, so that finding the home directory asks the domain controller too.
    test::AddAccount("CORP", "user", kDomainUserSid, "\\\\files\\home\\user");
    test::SetDomainController("CORP", "\\\\DC1");
    test::SetProcessUser(kDomainUserSid);
    test::RegSetValue(HKEY_LOCAL_MACHINE, script.key, "ExitDetectionTimeout", REG_DWORD,
                      test::RegDword(200));
    if (!api.empty()) test::FailCall(api, kInjected, skip, 1);

    LoginRun run;
    SimLogin::Options options;
    options.protocol = script.protocol;
    options.console.buffer = COORD{40, 12};
    options.console.window = SMALL_RECT{0, 0, 39, 11};
    // Whatever road it takes, an advanced login tears nothing down under its screen mirror.  (Not
    // with CloseHandle failing: the objects' own destruction then fails its assertion check,
    // which the simulation cannot raise from inside a destructor.)
    options.run_exit_list = script.advanced && api != "CloseHandle";
    SimLogin login(options);
    HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, test::ProcessIdOf(login.translator()));
    // No process to open: it has ended already.
    auto ended = [process] {
        if (process == nullptr) return true;
        DWORD code = 0;
        return GetExitCodeProcess(process, &code) && code != 259 /* still active */;
    };
    auto record = [&] {
        run.step_output.push_back(login.NewOutput());
        run.reports_after_step.push_back(Reports().size());
    };

    test::Advance(500);
    record();
    for (const std::string& bytes : script.steps) {
        if (ended()) break;
        login.Send(bytes);
        test::Advance(500);
        record();
    }
    if (!ended()) test::RunUntil(ended, 2000);
    login.CloseInput();
    run.ended = test::RunUntil(ended, kEndLimitMs);
    record();
    run.reports = Reports();
    if (!api.empty()) {
        // A fault still due was never reached: the calls are used up.
        for (int i = 0; i <= skip && run.fault_taken; ++i) {
            if (test::TakeFault(api, nullptr)) run.fault_taken = false;
        }
    }
    if (run.ended) {
        run.status = login.translator().Wait();
        for (const test::CreatedProcess& created : test::CreatedProcesses()) {
            HANDLE child = OpenProcess(PROCESS_DUP_HANDLE, FALSE, created.process_id);
            DWORD code = 0;
            if (child != nullptr && GetExitCodeProcess(child, &code) && code == 259)
                ++run.left_running;
            if (child != nullptr) CloseHandle(child);
        }
    }
    run.net_requests = test::NetRequests();
    if (process != nullptr) CloseHandle(process);
    // Ends the command processor, if the translator left it behind, before the login is torn
    // down.
    test::Reset();
    return run;
}

// What a sweep saw: for each call, the first report (or none) and the road taken.
struct Sweep {
    int calls = 0;
    std::map<std::string, int> first_reports;  // by known beginning
    int silent = 0;
};

std::map<std::string, Sweep>& Summary() {
    static std::map<std::string, Sweep> summary;
    return summary;
}

class FaultRunTest : public testing::TestWithParam<std::pair<bool, const char*>> {};

TEST_P(FaultRunTest, EveryCallFailingOnceTakesItsRoad) {
    const bool advanced = GetParam().first;
    const std::string api = GetParam().second;
    const Script script = advanced ? AdvancedScript() : SimpleScript();
    const LoginRun baseline = RunScript(script, "", 0);
    ASSERT_TRUE(baseline.ended);
    ASSERT_EQ(baseline.status.code, 0u);
    ASSERT_TRUE(baseline.reports.empty()) << baseline.reports[0];
    // The home directory is looked up where the script means it to be, so those calls are swept.
    ASSERT_EQ(baseline.net_requests,
              (std::vector<std::string>{"NetGetDCName(CORP)", "NetUserGetInfo(\\\\DC1, user)"}));

    Sweep sweep;
    for (int skip = 0; skip < kMaxRunsPerFunction; ++skip) {
        const LoginRun run = RunScript(script, api, skip);
        SCOPED_TRACE(api + " failing at call " + std::to_string(skip + 1));
        ASSERT_TRUE(run.ended) << "no end within " << kEndLimitMs
                               << " ms; reports: " << testing::PrintToString(run.reports)
                               << "; output: " << testing::PrintToString(run.step_output);
        if (!run.fault_taken) break;
        ++sweep.calls;

        if (run.reports.empty()) {
            // A failure nobody reports: a call whose result does not matter, or one of the
            // test's own.
            ++sweep.silent;
            EXPECT_EQ(run.left_running, 0);
            EXPECT_FALSE(run.status.crashed);
            EXPECT_EQ(run.status.code, 0u);
            continue;
        }
        // The road is the gravest one among the reports: a failure may be reported where it
        // happens and again by the step that gives up because of it.
        const KnownReport* gravest = nullptr;
        for (const std::string& report : run.reports) {
            const KnownReport* known = FindKnown(report);
            EXPECT_NE(known, nullptr) << "unknown report: " << report;
            if (known != nullptr && (gravest == nullptr || known->road > gravest->road))
                gravest = known;
        }
        if (gravest == nullptr) continue;
        const KnownReport* first = FindKnown(run.reports[0]);
        sweep.first_reports[std::string(first != nullptr ? first->start : "?") + " (" +
                            RoadName(gravest->road) + ")"]++;
        const std::string all = testing::PrintToString(run.reports);
        // A login that goes on, or fails once its threads are due, ends the command processor
        // with it (an assertion check or a fatal report elsewhere ends the translator at once).
        bool ends_child = gravest->road == Road::kGoesOn;
        for (const std::string& report : run.reports) {
            ends_child = ends_child || report.rfind("Could not create thread: ", 0) == 0 ||
                         report.rfind("Failed to set ignoring of Ctrl-C events: ", 0) == 0;
        }
        if (ends_child) {
            EXPECT_EQ(run.left_running, 0) << all;
        }
        switch (gravest->road) {
            case Road::kGoesOn:
                EXPECT_FALSE(run.status.crashed) << all;
                EXPECT_EQ(run.status.code, 0u) << all;
                break;
            case Road::kStops:
            case Road::kExits1:
                EXPECT_FALSE(run.status.crashed) << all;
                EXPECT_EQ(run.status.code, 1u) << all;
                break;
            case Road::kAssertion:
                EXPECT_TRUE(run.status.crashed) << all;
                EXPECT_EQ(run.status.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << all;
                break;
        }

        // The translator's own failure: everything before it reached the client unchanged.
        if (!ShowsInjectedError(run.reports[0])) continue;
        size_t step = 0;
        while (step < run.reports_after_step.size() && run.reports_after_step[step] == 0) ++step;
        std::string before, expected;
        for (size_t i = 0; i < step; ++i) before += run.step_output[i];
        for (size_t i = 0; i < step && i < baseline.step_output.size(); ++i)
            expected += baseline.step_output[i];
        if (advanced) {
            // The mirror's passes fall differently after a failure; what counts is the screen.
            EXPECT_EQ(Shown(before), Shown(expected));
        } else {
            EXPECT_EQ(before, expected);
        }
        // The relay reads the console modes only for a chunk that holds a line feed: in the step
        // of the report, the chunks before that one reached the client as they do without the
        // failure, and neither that chunk (32 bytes read, 64 sent at most) nor anything after it.
        if (!advanced && run.reports[0].rfind("Error getting console ", 0) == 0 &&
            step < run.step_output.size() && step < baseline.step_output.size()) {
            const std::string& sent = run.step_output[step];
            const std::string& due = baseline.step_output[step];
            EXPECT_LT(sent.size(), due.size()) << testing::PrintToString(sent);
            EXPECT_EQ(due.substr(0, sent.size()), sent) << testing::PrintToString(due);
            EXPECT_LT(due.find('\n', sent.size()), sent.size() + 64) << testing::PrintToString(due);
        }
    }
    EXPECT_LT(sweep.calls, kMaxRunsPerFunction) << "more calls than the sweep covers";
    Summary()[std::string(advanced ? "advanced " : "simple ") + api] = sweep;

    std::printf("%s %s: %d calls, %d silent\n", advanced ? "advanced" : "simple", api.c_str(),
                sweep.calls, sweep.silent);
    for (const auto& entry : sweep.first_reports)
        std::printf("    %3d x %s\n", entry.second, entry.first.c_str());
}

// The console, pipe, process, settings, code page, thread and identity functions the translator
// calls and the simulation can make fail.  Not here: Sleep, critical sections, GetLastError and
// the SID accessors (GetLengthSid, IsValidSid, GetSidSubAuthority...), which cannot fail;
// LookupAccountNameA, which a login only calls after LookupAccountSidA has failed; and the event
// log calls, which are what a failure would be reported through (a clean login makes no report).
const char* const kFunctions[] = {
    "CreateFileA",
    "GetConsoleMode",
    "SetConsoleCtrlHandler",
    "GenerateConsoleCtrlEvent",
    "WriteConsoleInputA",
    "GetConsoleScreenBufferInfo",
    "ReadConsoleOutputA",
    "SetConsoleScreenBufferSize",
    "SetConsoleWindowInfo",
    "VkKeyScanA",
    "MapVirtualKeyA",
    "CreatePipe",
    "ReadFile",
    "WriteFile",
    "DuplicateHandle",
    "SetStdHandle",
    "CloseHandle",
    "CreateProcessA",
    "GetSystemDirectoryA",
    "SetEnvironmentVariableA",
    "CreateEventA",
    "WaitForSingleObject",
    "RegCreateKeyA",
    "RegEnumValueA",
    "RegCloseKey",
    "GetStdHandle",
    "TerminateProcess",
    "_beginthread",
    "SetEvent",
    "ResetEvent",
    "OemToCharBuffA",
    "CharToOemBuffA",
    "OpenProcessToken",
    "GetTokenInformation",
    "CopySid",
    "LookupAccountSidA",
    "GetComputerNameA",
    "NetGetDCName",
    "NetUserGetInfo",
    "NetApiBufferFree",
    "_lopen",
};

std::vector<std::pair<bool, const char*>> AllRuns() {
    std::vector<std::pair<bool, const char*>> runs;
    for (bool advanced : {false, true}) {
        for (const char* api : kFunctions) runs.emplace_back(advanced, api);
    }
    return runs;
}

INSTANTIATE_TEST_SUITE_P(Logins, FaultRunTest, testing::ValuesIn(AllRuns()),
                         [](const testing::TestParamInfo<std::pair<bool, const char*>>& info) {
                             return std::string(info.param.first ? "Advanced" : "Simple") +
                                    info.param.second;
                         });

}  // namespace
