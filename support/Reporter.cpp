// The message reporter and the assertion check.
#include "Reporter.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr DWORD kBufferSize = 4096;

const char* Prefix(MessageReporter::Level level) {
    switch (level) {
        case MessageReporter::Level::kWarning:
            return "WARNING: ";
        case MessageReporter::Level::kError:
            return "ERROR: ";
        case MessageReporter::Level::kFatal:
            break;
    }
    return "FATAL ERROR: ";
}

void WriteStdError(const char* text) {
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
}

char* CopyText(const char* text) {
    size_t length = std::strlen(text) + 1;
    char* copy = new (std::nothrow) char[length];
    if (copy != nullptr) std::memcpy(copy, text, length);
    return copy;
}

}  // namespace

MessageReporter::MessageReporter(const char* name, bool to_event_log)
    : name_(nullptr),
      buffer_(nullptr),
      event_source_(nullptr),
      to_event_log_(to_event_log),
      source_registered_(to_event_log) {
    InitializeCriticalSection(&lock_);
    if (to_event_log) event_source_ = RegisterEventSourceA(nullptr, name);
    buffer_ = new (std::nothrow) char[kBufferSize];
    name_ = CopyText(name);
}

MessageReporter::~MessageReporter() {
    if (source_registered_ && event_source_ != nullptr) DeregisterEventSource(event_source_);
    delete[] name_;
    delete[] buffer_;
    DeleteCriticalSection(&lock_);
}

void MessageReporter::Report(Level level, const char* format, va_list arguments) {
    // Callers report one failure and then often another with the same road's error code: a
    // report must not change the thread's last error, whatever the event log or the write did.
    DWORD last_error = GetLastError();
    EnterCriticalSection(&lock_);
    if (!to_event_log_) WriteStdError(Prefix(level));
    if (buffer_ != nullptr) {
        // The platform's formatter writes at most 1024 bytes, the terminating zero included.
        wvsprintfA(buffer_, format, arguments);
        if (to_event_log_) {
            LPCSTR strings[1] = {buffer_};
            WORD type = level == Level::kWarning ? EVENTLOG_WARNING_TYPE : EVENTLOG_ERROR_TYPE;
            ReportEventA(event_source_, type, 0, kReportEventId, nullptr, 1, 0, strings, nullptr);
        } else {
            WriteStdError(buffer_);
        }
    }
    LeaveCriticalSection(&lock_);
    if (level == Level::kFatal) ExitProcess(1);
    SetLastError(last_error);
}

void MessageReporter::Warning(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Report(Level::kWarning, format, arguments);
    va_end(arguments);
}

void MessageReporter::Error(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Report(Level::kError, format, arguments);
    va_end(arguments);
}

void MessageReporter::FatalError(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Report(Level::kFatal, format, arguments);
    va_end(arguments);
    ExitProcess(1);
}

namespace {

MessageReporter* g_reporter = nullptr;

void ReleaseGlobalReporter() {
    delete g_reporter;
    g_reporter = nullptr;
}

}  // namespace

MessageReporter* GlobalReporter() {
    // Built by the first static initialiser that asks, and released by the run-time library's
    // exit list.  Since it is registered there before any static object that reports, it is
    // released after the last of them is gone.
    static bool built = [] {
        g_reporter = new (std::nothrow) MessageReporter(kReporterName, true);
        std::atexit(ReleaseGlobalReporter);
        return true;
    }();
    (void)built;
    return g_reporter;
}

namespace {
// Makes sure the reporter exists before the program's own static objects, even in a program
// whose static objects never report.
MessageReporter* const g_built_early = GlobalReporter();
}  // namespace

void ReportWarning(const char* format, ...) {
    MessageReporter* reporter = GlobalReporter();
    if (reporter == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    reporter->Report(MessageReporter::Level::kWarning, format, arguments);
    va_end(arguments);
}

void ReportError(const char* format, ...) {
    MessageReporter* reporter = GlobalReporter();
    if (reporter == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    reporter->Report(MessageReporter::Level::kError, format, arguments);
    va_end(arguments);
}

void ReportFatal(const char* format, ...) {
    MessageReporter* reporter = GlobalReporter();
    if (reporter != nullptr) {
        va_list arguments;
        va_start(arguments, format);
        reporter->Report(MessageReporter::Level::kFatal, format, arguments);
        va_end(arguments);
    }
    ExitProcess(1);
}

void AssertCheck(bool condition, const char* module, int line) {
    if (condition) return;
    DWORD last_error = GetLastError();
    ReportError("Assertion failed in file: %s at line %d, Last error= %lu\n", module, line,
                last_error);
    // Nothing handles the exception: the process ends through the unhandled-exception path.
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    // A debugger may let the exception continue; the program must not go on after a failed
    // check all the same.
    TerminateProcess(GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
}
