// The message reporter: every diagnostic of a program goes through its one global reporter, to
// the event log under the program's own source, or to standard error with a level prefix.
#pragma once

#include "win32.h"

// Event id of every report; the program's message table renders it as the one insertion string.
constexpr DWORD kReportEventId = 0x40001999;

class MessageReporter {
  public:
    // to_event_log true: reports go to the event log under `name`; false: to standard error.
    MessageReporter(const char* name, bool to_event_log);
    ~MessageReporter();
    MessageReporter(const MessageReporter&) = delete;
    MessageReporter& operator=(const MessageReporter&) = delete;

    void Warning(const char* format, ...);
    void Error(const char* format, ...);
    [[noreturn]] void FatalError(const char* format, ...);

    enum class Level { kWarning, kError, kFatal };
    // Reports one message at `level`; a fatal report ends the process with exit code 1.
    void Report(Level level, const char* format, va_list arguments);

  private:
    CRITICAL_SECTION lock_;
    char* name_;
    char* buffer_;
    HANDLE event_source_;
    bool to_event_log_;
    bool source_registered_;
};

// The program's one reporter, or null when it could not be built.  It is built before every
// other static object of the program and stays usable until the last of them is gone.
MessageReporter* GlobalReporter();

// Each program defines the event source name of its global reporter, which reports to the event
// log.
extern const char* const kReporterName;

// Reports through the global reporter; dropped when there is none.  ReportFatal always ends the
// process with exit code 1.
void ReportWarning(const char* format, ...);
void ReportError(const char* format, ...);
[[noreturn]] void ReportFatal(const char* format, ...);

// Diagnostics not meant for users: formats nothing, writes nothing.
inline void DebugTrace(const char*, ...) {}

// The assertion check: when `condition` is false, reports "Assertion failed in file: ..." at error
// level with the module's file name, the line and the last-error value from before the report,
// then raises an access violation that nothing handles.
void AssertCheck(bool condition, const char* module, int line);

namespace reporter_detail {
constexpr const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    return base;
}
}  // namespace reporter_detail

#define ZASSERT(condition) \
    AssertCheck(static_cast<bool>(condition), reporter_detail::BaseName(__FILE__), __LINE__)
