// The support library on real Win32: reporter, events and threads, banner, argument parsing and
// the message table.  The first argument picks what to do; reporter.sh checks what is seen from
// outside (exit status, event-log lines, standard error).
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Banner.h"
#include "Reporter.h"
#include "ZEVENT.h"
#include "ZMATH.h"
#include "check.h"

extern const char* const kReporterName = "Orvane Command Starter";

namespace {

// Compares ParseUnsigned's conversion with the run-time library's strtoul, whose unsigned long
// has 32 bits here.
int CompareParsing() {
    const char* texts[] = {"0",
                           "17",
                           "4294967295",
                           "-1",
                           "-4294967295",
                           "+42",
                           " \t 8",
                           "000123",
                           "",
                           "8 ",
                           "+",
                           "-",
                           " ",
                           "0x10",
                           "12a",
                           "4294967296",
                           "-4294967296",
                           "1.5",
                           "99999999999999999999"};
    for (const char* text : texts) {
        char* end = nullptr;
        errno = 0;
        unsigned long expected = std::strtoul(text, &end, 10);
        bool expected_ok = end != nullptr && *end == '\0' && errno == 0;
        uint32_t value = 0;
        bool ok = TryParseUnsigned(text, &value);
        std::string what = std::string("\"") + text + "\"";
        wincheck::Check(ok == expected_ok, (what + " accepted alike").c_str(), __FILE__, __LINE__);
        if (ok && expected_ok) {
            wincheck::Check(value == expected, (what + " same value").c_str(), __FILE__, __LINE__);
        }
    }
    CHECK(sizeof(unsigned long) == 4);
    return wincheck::Finish();
}

int CheckMessageTable() {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(11));
    CHECK(resource != nullptr);
    if (resource != nullptr) CHECK(SizeofResource(nullptr, resource) == 28);
    char hello[] = "hello";
    char* inserts[] = {hello};
    char text[64] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  nullptr, kReportEventId, 1033, text, sizeof text,
                                  reinterpret_cast<va_list*>(inserts));
    CHECK(length == 7);
    CHECK_STR(text, "hello\r\n");
    return wincheck::Finish();
}

struct Probe {
    EventObject done;
    int seen = 0;
};

void __cdecl Worker(void* argument) {
    auto* probe = static_cast<Probe*>(argument);
    probe->seen = 42;
    probe->done.Set();
}

int CheckEvents() {
    EventObject event;
    CHECK(event.IsSet() == 0);
    DWORD start = GetTickCount();
    event.WaitTimeout(200);
    CHECK(GetTickCount() - start >= 150);
    event.Set();
    CHECK(event.IsSet() == 1);
    event.Wait();
    event.Wait();
    start = GetTickCount();
    event.WaitTimeout(10000);
    CHECK(GetTickCount() - start < 5000);
    event.Reset();
    CHECK(event.IsSet() == 0);

    Probe probe;
    StartThread(Worker, &probe, 0);
    probe.done.Wait();
    CHECK(probe.seen == 42);
    CHECK(g_output_gate.IsSet() == 0 && g_mirror_wake_up.IsSet() == 0);
    return wincheck::Finish();
}

// Shows the banner on a console of this process's own and reads it back from the screen.
int CheckBannerOnConsole() {
    FreeConsole();
    CHECK(AllocConsole());
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode;
    CHECK(GetConsoleMode(error, &mode));
    ShowBanner("Orvane Command Starter", "1.14", "Orvane Software, Inc.", kRightsLine, false);
    HANDLE screen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    std::string rows;
    for (SHORT y = 0; y < 12; ++y) {
        char line[81] = {};
        DWORD read = 0;
        ReadConsoleOutputCharacterA(screen, line, 80, COORD{0, y}, &read);
        rows += std::string(line, read) + "|";
    }
    CHECK(rows.find("Orvane Command Starter Version 1.14") != std::string::npos);
    CHECK(rows.find("Copyright (c) Orvane Software, Inc.") != std::string::npos);
    CHECK(rows.find("LICENSE.TXT") != std::string::npos);
    CHECK(rows.find("PRE-RELEASE") == std::string::npos);
    if (wincheck::failed != 0) std::printf("screen: %s\n", rows.c_str());
    return wincheck::Finish();
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "report") == 0) {
        ReportWarning("warning number %lu", static_cast<DWORD>(7));
        ReportError("Couldn't find system directory: %lu", static_cast<DWORD>(5));
        return 0;
    }
    if (std::strcmp(mode, "fatal") == 0) {
        ReportFatal("Bad protocol type specified: %s", "ssh");
    }
    if (std::strcmp(mode, "fatal-thread") == 0) {
        StartThread([](void*) { ReportFatal("Could not create thread: %d\n", 99); }, nullptr, 0);
        Sleep(10000);
        return 0;
    }
    if (std::strcmp(mode, "assert") == 0) {
        SetLastError(1234);
        ParseUnsigned("0x10");
        std::printf("went on after the assertion\n");
        return 0;
    }
    if (std::strcmp(mode, "banner") == 0) {
        ShowBanner("Orvane Command Starter", "1.14", "Orvane Software, Inc.", kRightsLine, false);
        std::printf("banner done\n");
        return 0;
    }
    if (std::strcmp(mode, "banner-console") == 0) return CheckBannerOnConsole();
    if (std::strcmp(mode, "parse") == 0) return CompareParsing();
    if (std::strcmp(mode, "messages") == 0) return CheckMessageTable();
    if (std::strcmp(mode, "events") == 0) return CheckEvents();
    std::printf("unknown mode\n");
    return 2;
}
