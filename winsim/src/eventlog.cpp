// The event log: source registration and every report, kept for tests to read.
#include <string>

#include "internal.h"

namespace winsim {
namespace {

struct EventSource : Object {
    std::string name;
};

std::vector<test::EventRecord>& Records() {
    static auto* records = new std::vector<test::EventRecord>;
    return *records;
}

std::vector<EventSource*>& Sources() {
    static auto* sources = new std::vector<EventSource*>;
    return *sources;
}

}  // namespace

namespace detail {
void ResetEventLog() {
    std::lock_guard<std::mutex> guard(KernelLock());
    Records().clear();
}
}  // namespace detail

namespace test {
std::vector<EventRecord> EventLog() {
    std::lock_guard<std::mutex> guard(detail::KernelLock());
    return Records();
}

std::vector<std::string> RegisteredSources() {
    std::lock_guard<std::mutex> guard(detail::KernelLock());
    std::vector<std::string> names;
    for (auto* source : Sources()) names.push_back(source->name);
    return names;
}
}  // namespace test
}  // namespace winsim

using namespace winsim;

HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source) {
    std::lock_guard<std::mutex> guard(detail::KernelLock());
    if (detail::TakeFaultLocked("RegisterEventSourceA")) return nullptr;
    if (server != nullptr || source == nullptr) {
        SetLastError(
            server != nullptr ? 1722 /* RPC_S_SERVER_UNAVAILABLE */ : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<EventSource>();
    object->name = source;
    Sources().push_back(object.get());
    return detail::AddHandle(detail::CurrentProcess(), object, false);
}

BOOL DeregisterEventSource(HANDLE event_log) {
    {
        std::lock_guard<std::mutex> guard(detail::KernelLock());
        auto source = detail::Lookup<EventSource>(event_log);
        if (!source) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        auto& sources = Sources();
        for (auto it = sources.begin(); it != sources.end(); ++it) {
            if (*it == source.get()) {
                sources.erase(it);
                break;
            }
        }
    }
    return CloseHandle(event_log);
}

BOOL ReportEventA(HANDLE event_log, WORD type, WORD category, DWORD event_id, PSID,
                  WORD string_count, DWORD, LPCSTR* strings, LPVOID) {
    std::lock_guard<std::mutex> guard(detail::KernelLock());
    auto source = detail::Lookup<EventSource>(event_log);
    // A thread of an ended process that is being unwound reports nothing: on Windows it would
    // not run at all.
    if (!source || detail::Unwinding(detail::CurrentProcess())) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    test::EventRecord record{source->name, type, category, event_id, {}};
    for (WORD i = 0; i < string_count; ++i)
        record.strings.emplace_back(strings[i] ? strings[i] : "");
    Records().push_back(std::move(record));
    return TRUE;
}
