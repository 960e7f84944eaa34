// Session recording: the sinks queue events, a writer thread formats and writes them.
#include "SessionRecording.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "Reporter.h"
#include "ZEVENT.h"
#include "ZSID.h"

namespace {

// The queue holds this much before events are dropped: seconds of the fastest output.
constexpr size_t kQueueCapacity = 4u << 20;
// Room kept for the marker line that says how many events were dropped.
constexpr size_t kMarkerRoom = 64;
constexpr int kMaxNameSuffix = 100;
// Bytes this close after an event of the same kind go into it.
constexpr int64_t kJoinMicroseconds = 10000;
// The writer lets events gather this long after a wake-up before it writes them.
constexpr DWORD kWriterGatherMs = 20;

char SafeFileNameCharacter(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return '_';
    for (const char* bad = "\\/:*?\"<>|"; *bad != '\0'; ++bad) {
        if (c == *bad) return '_';
    }
    return c;
}

// Text in `code_page` (the account's names, the terminal type) as UTF-8.
std::string Utf8Text(const char* text, UINT code_page) {
    RelayUtf8Converter converter;
    std::string out;
    const DWORD length = static_cast<DWORD>(std::strlen(text));
    out.resize(RelayUtf8Converter::OutputSize(length));
    out.resize(converter.Convert(reinterpret_cast<const BYTE*>(text), length, code_page, false,
                                 reinterpret_cast<BYTE*>(&out[0])));
    return out;
}

void AppendTime(std::string* out, int64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(microseconds / 1000000),
                  static_cast<long long>(microseconds % 1000000));
    *out += text;
}

}  // namespace

std::string UtcStamp(int64_t unix_seconds) {
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    int64_t days = unix_seconds / 86400;
    int64_t seconds = unix_seconds % 86400;
    if (seconds < 0) seconds += 86400, days -= 1;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t shifted_month = (5 * day_of_year + 2) / 153;
    const int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld%02lld%02lldT%02lld%02lld%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

int64_t UnixMicroseconds(uint64_t file_time) {
    constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970 in 100 ns units since 1601
    return static_cast<int64_t>(file_time - kUnixEpoch) / 10;
}

std::string RecordingFileName(const char* protocol, const char* account, int64_t unix_seconds,
                              DWORD process_id, int suffix) {
    std::string name = std::string(protocol) + "-" + account + "-" + UtcStamp(unix_seconds) + "-" +
                       std::to_string(process_id);
    if (suffix != 0) name += "-" + std::to_string(suffix);
    for (char& c : name) c = SafeFileNameCharacter(c);
    return name + ".cast";
}

void AppendJsonString(std::string* out, const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    *out += '"';
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += c;
        } else if (c == '\n') {
            *out += "\\n";
        } else if (c == '\r') {
            *out += "\\r";
        } else if (c == '\t') {
            *out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            *out += "\\u00";
            *out += kHex[u >> 4];
            *out += kHex[u & 0xF];
        } else {
            *out += c;
        }
    }
    *out += '"';
}

std::string RecordingHeader(WindowSize size, int64_t unix_seconds, const char* terminal_type,
                            const std::string& title) {
    std::string header = "{\"version\": 2, \"width\": " + std::to_string(size.columns) +
                         ", \"height\": " + std::to_string(size.rows) +
                         ", \"timestamp\": " + std::to_string(unix_seconds) +
                         ", \"env\": {\"TERM\": ";
    AppendJsonString(&header, Utf8Text(terminal_type, 1252));
    header += "}, \"title\": ";
    AppendJsonString(&header, title);
    return header + "}\n";
}

bool RecordingQueue::Push(char kind, int64_t microseconds, const void* bytes, DWORD count) {
    if (size_ + count + kMarkerRoom > capacity_) {
        ++dropped_;
        return false;
    }
    if (dropped_ != 0) {
        std::string text = "recording dropped " + std::to_string(dropped_) +
                           " events here: the folder did not keep up";
        size_ += text.size();
        events_.push_back(RecordedEvent{'m', microseconds, std::move(text)});
        dropped_ = 0;
    }
    size_ += count;
    // The client's bytes within a few milliseconds of those before, going the same way, join
    // them: fewer and longer lines, and a writer that keeps up with the fastest output.
    if (!events_.empty() && events_.back().kind == kind && (kind == 'o' || kind == 'i') &&
        microseconds - events_.back().microseconds < kJoinMicroseconds) {
        events_.back().bytes.append(static_cast<const char*>(bytes), count);
        return true;
    }
    events_.push_back(
        RecordedEvent{kind, microseconds, std::string(static_cast<const char*>(bytes), count)});
    return true;
}

std::vector<RecordedEvent> RecordingQueue::TakeAll() {
    std::vector<RecordedEvent> taken;
    taken.swap(events_);
    size_ = 0;
    return taken;
}

void RecordingFormatter::Append(const RecordedEvent& event, UINT code_page, std::string* lines) {
    std::string text;
    if (event.kind == 'o' || event.kind == 'i') {
        RelayUtf8Converter& converter = event.kind == 'o' ? output_ : input_;
        const DWORD count = static_cast<DWORD>(event.bytes.size());
        text.resize(RelayUtf8Converter::OutputSize(count));
        text.resize(converter.Convert(reinterpret_cast<const BYTE*>(event.bytes.data()), count,
                                      utf8_client_ ? CP_UTF8 : code_page, false,
                                      reinterpret_cast<BYTE*>(&text[0])));
        // A character whose rest is still to come goes with the next event.
        if (text.empty()) return;
    } else {
        text = event.bytes;
    }
    *lines += '[';
    AppendTime(lines, event.microseconds);
    *lines += ", \"";
    *lines += event.kind;
    *lines += "\", ";
    AppendJsonString(lines, text);
    *lines += "]\n";
}

// The recording of one login: the queue the sinks fill under the lock, and the file the writer
// thread owns.  Lives until the process ends.
class SessionRecorder {
  public:
    SessionRecorder(HANDLE file, std::string path, bool utf8_client, bool record_input)
        : file_(file),
          path_(std::move(path)),
          record_input_(record_input),
          queue_(kQueueCapacity),
          formatter_(utf8_client) {
        InitializeCriticalSection(&lock_);
        InitializeCriticalSection(&write_order_);
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        start_ = now.QuadPart;
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        frequency_ = frequency.QuadPart;
    }
    ~SessionRecorder() {
        if (file_ != nullptr) CloseHandle(file_);
        if (wake_ != nullptr) CloseHandle(wake_);
        if (ended_ != nullptr) CloseHandle(ended_);
        DeleteCriticalSection(&lock_);
        DeleteCriticalSection(&write_order_);
    }
    SessionRecorder(const SessionRecorder&) = delete;
    SessionRecorder& operator=(const SessionRecorder&) = delete;

    bool Begin(const std::string& header);
    void Record(char kind, const void* bytes, DWORD count);
    bool WriteAndRecord(const void* bytes, DWORD count);
    bool record_input() const { return record_input_; }
    bool finishing_requested() {
        EnterCriticalSection(&lock_);
        const bool finishing = finishing_;
        LeaveCriticalSection(&lock_);
        return finishing;
    }
    void Finish(DWORD wait_ms, bool release);

  private:
    static void __cdecl WriterThread(void* self);
    void WriteQueued();
    bool WriteLines(const std::string& lines);
    void Stop(DWORD error);

    CRITICAL_SECTION lock_;         // the queue and the stop request
    CRITICAL_SECTION write_order_;  // a write to the client and its event
    HANDLE file_;
    std::string path_;
    bool record_input_;
    RecordingQueue queue_;
    RecordingFormatter formatter_;
    int64_t start_ = 0;
    int64_t frequency_ = 1;
    HANDLE wake_ = nullptr;   // auto-reset: events came into an empty queue, or the end
    HANDLE ended_ = nullptr;  // the writer has written everything and stopped
    bool finishing_ = false;
    std::atomic<bool> stopped_{false};  // a write failed: nothing more is recorded
    bool warned_of_drops_ = false;      // writer thread only
    DWORD written_ = 0;                 // bytes of whole lines in the file; writer thread only
};

bool SessionRecorder::Begin(const std::string& header) {
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ended_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wake_ == nullptr || ended_ == nullptr || !WriteLines(header)) return false;
    int error = 0;
    if (TryStartThread(WriterThread, this, 0, &error)) return true;
    ReportWarning("Session recording to %s stopped: its writer did not start (%d)", path_.c_str(),
                  error);
    return false;
}

void SessionRecorder::Record(char kind, const void* bytes, DWORD count) {
    if (stopped_.load()) return;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const int64_t ticks = now.QuadPart - start_;
    const int64_t microseconds =
        ticks / frequency_ * 1000000 + ticks % frequency_ * 1000000 / frequency_;
    EnterCriticalSection(&lock_);
    const bool was_empty = queue_.Empty();
    const bool queued = !finishing_ && queue_.Push(kind, microseconds, bytes, count);
    LeaveCriticalSection(&lock_);
    if (queued && was_empty) SetEvent(wake_);
}

bool SessionRecorder::WriteAndRecord(const void* bytes, DWORD count) {
    DWORD written = 0;
    EnterCriticalSection(&write_order_);
    const BOOL ok = WriteFile(g_translator.socket_output, bytes, count, &written, nullptr);
    const DWORD error = GetLastError();
    if (written != 0) Record('o', bytes, written);
    LeaveCriticalSection(&write_order_);
    SetLastError(error);
    return ok != FALSE;
}

void __cdecl SessionRecorder::WriterThread(void* self) {
    auto* recorder = static_cast<SessionRecorder*>(self);
    for (;;) {
        WaitForSingleObject(recorder->wake_, INFINITE);
        if (!recorder->finishing_requested()) Sleep(kWriterGatherMs);
        recorder->WriteQueued();
        EnterCriticalSection(&recorder->lock_);
        const bool done = recorder->finishing_ && recorder->queue_.Empty();
        LeaveCriticalSection(&recorder->lock_);
        if (done || recorder->stopped_.load()) break;
    }
    SetEvent(recorder->ended_);
}

// Formats and writes what the queue holds.  The console's output code page is asked for only when
// an 8-bit client's bytes beyond ASCII are to be shown, as near their time as the writer gets.
void SessionRecorder::WriteQueued() {
    EnterCriticalSection(&lock_);
    std::vector<RecordedEvent> events = queue_.TakeAll();
    LeaveCriticalSection(&lock_);
    UINT code_page = 0;
    std::string lines;
    for (const RecordedEvent& event : events) {
        if (code_page == 0 && (event.kind == 'o' || event.kind == 'i')) {
            for (char c : event.bytes) {
                if (static_cast<unsigned char>(c) >= 0x80) code_page = GetConsoleOutputCP();
                if (code_page != 0) break;
            }
        }
        if (event.kind == 'm' && !warned_of_drops_) {
            warned_of_drops_ = true;
            ReportWarning("Session recording to %s dropped events: the folder did not keep up",
                          path_.c_str());
        }
        formatter_.Append(event, code_page != 0 ? code_page : 437, &lines);
    }
    if (!stopped_.load() && !lines.empty()) WriteLines(lines);
}

// Appends whole lines; after a failure the file is cut back to the lines before it, and nothing
// more is recorded.
bool SessionRecorder::WriteLines(const std::string& lines) {
    DWORD written = 0;
    const DWORD count = static_cast<DWORD>(lines.size());
    const BOOL ok = WriteFile(file_, lines.data(), count, &written, nullptr);
    if (ok && written == count) {
        written_ += count;
        return true;
    }
    // A write that took less than all without an error is a full disk as well.
    Stop(ok ? ERROR_DISK_FULL : GetLastError());
    return false;
}

void SessionRecorder::Stop(DWORD error) {
    stopped_.store(true);
    ReportWarning("Session recording to %s stopped: write failed: %lu", path_.c_str(), error);
    if (SetFilePointer(file_, static_cast<LONG>(written_), nullptr, FILE_BEGIN) !=
        INVALID_SET_FILE_POINTER)
        SetEndOfFile(file_);
}

void SessionRecorder::Finish(DWORD wait_ms, bool release) {
    EnterCriticalSection(&lock_);
    finishing_ = true;
    LeaveCriticalSection(&lock_);
    SetEvent(wake_);
    // A writer still inside a write to a slow folder is left to the end of the process.
    if (WaitForSingleObject(ended_, wait_ms) != WAIT_OBJECT_0) return;
    if (!release) {
        stopped_.store(true);
        CloseHandle(file_);
        file_ = nullptr;
        return;
    }
    // A write to the client that took the recorder before it went finishes first.
    g_translator.recorder.store(nullptr);
    EnterCriticalSection(&write_order_);
    LeaveCriticalSection(&write_order_);
    delete this;
}

namespace {

// The account the login runs as, as the command processor's launch finds it: name and domain.
void LoginAccount(std::string* account, std::string* domain) {
    TokenReader token;
    PSID user = token.UserSid();
    if (user != nullptr) {
        SidHolder sid(user);
        if (sid.Sid() != nullptr && IsValidSid(sid.Sid()) && sid.AccountName() != nullptr) {
            *account = sid.AccountName();
            *domain = sid.DomainName() != nullptr ? sid.DomainName() : "";
            return;
        }
    }
    *account = "unknown";
}

// Makes a new file in `folder`: the name is never one that exists.  INVALID_HANDLE_VALUE after
// the last error of the last try.
HANDLE CreateRecordingFile(const std::string& folder, const std::string& account,
                           int64_t unix_seconds, std::string* path) {
    const char* protocol = g_translator.protocol == LoginProtocol::kRlogin ? "rlogin" : "telnet";
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
    for (int suffix = 0; suffix <= kMaxNameSuffix; ++suffix) {
        *path = prefix + RecordingFileName(protocol, account.c_str(), unix_seconds,
                                           GetCurrentProcessId(), suffix);
        HANDLE file = CreateFileA(path->c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

void StartRecording(const Settings& settings, const char* terminal_type) {
    if (settings.session_recording_folder == nullptr) return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const int64_t unix_seconds =
        UnixMicroseconds((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) /
        1000000;
    std::string account, domain, path;
    LoginAccount(&account, &domain);
    const char* folder = settings.session_recording_folder.get();
    HANDLE file = CreateRecordingFile(folder, account, unix_seconds, &path);
    if (file == INVALID_HANDLE_VALUE) {
        ReportWarning("Session recording: no file could be made in %s: %lu", folder,
                      GetLastError());
        return;
    }
    std::string title =
        std::string(g_translator.protocol == LoginProtocol::kRlogin ? "rlogin" : "telnet") +
        " login of " + Utf8Text(domain.c_str(), CP_ACP) + "\\" + Utf8Text(account.c_str(), CP_ACP);
    auto* recorder = new SessionRecorder(file, path, settings.utf8_client != 0,
                                         settings.session_recording_input != 0);
    if (!recorder->Begin(
            RecordingHeader(g_translator.requested_size, unix_seconds, terminal_type, title))) {
        // The header did not go: the warning is given; the file stays as the failure left it.
        delete recorder;
        return;
    }
    g_translator.recorder.store(recorder);
}

void RecordInput(const void* bytes, DWORD count) {
    SessionRecorder* recorder = g_translator.recorder.load();
    if (recorder != nullptr && recorder->record_input()) recorder->Record('i', bytes, count);
}

void RecordResize(WindowSize size) {
    SessionRecorder* recorder = g_translator.recorder.load();
    if (recorder == nullptr) return;
    const std::string text = std::to_string(size.columns) + "x" + std::to_string(size.rows);
    recorder->Record('r', text.data(), static_cast<DWORD>(text.size()));
}

bool WriteAndRecord(const void* bytes, DWORD count) {
    return g_translator.recorder.load()->WriteAndRecord(bytes, count);
}

void FinishRecording(DWORD wait_ms, bool release) {
    if (SessionRecorder* recorder = g_translator.recorder.load())
        recorder->Finish(wait_ms, release);
}
