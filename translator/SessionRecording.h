// Session recording: a login written as an asciicast (version 2) file, one JSON value a line,
// by a writer thread of its own, so that a slow or failing folder never holds the login.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Utf8Output.h"
#include "translator.h"

// The recording's file name: protocol, account, start time in UTC and process id, with the
// suffix "-N" for the Nth name tried after one that existed (0: none).  Characters that a file
// name cannot hold become "_".
std::string RecordingFileName(const char* protocol, const char* account, int64_t unix_seconds,
                              DWORD process_id, int suffix);
// "20261209T153012Z" for the Unix time 1796830212.
std::string UtcStamp(int64_t unix_seconds);
// The Unix time in seconds and microseconds of a FILETIME's 100 ns units since 1601.
int64_t UnixMicroseconds(uint64_t file_time);

// Appends `text` (UTF-8) as a JSON string, quotes included.
void AppendJsonString(std::string* out, const std::string& text);
// The header line: size, start time, terminal type and title.
std::string RecordingHeader(WindowSize size, int64_t unix_seconds, const char* terminal_type,
                            const std::string& title);

// One event of the login as the sinks hand it over: the kind ("o", "i", "r", "m"), the time
// since the start, and its bytes (the client's for "o" and "i", text for "r" and "m").
struct RecordedEvent {
    char kind;
    int64_t microseconds;
    std::string bytes;
};

// The events between the login's threads and the writer, at most `capacity` bytes of them.  An
// event that does not fit is dropped and counted; the next one that fits is preceded by a marker
// that says how many were dropped there.  The client's bytes that follow an event of the same
// kind within 10 ms join it.
class RecordingQueue {
  public:
    explicit RecordingQueue(size_t capacity) : capacity_(capacity) {}
    // False when the event was dropped.
    bool Push(char kind, int64_t microseconds, const void* bytes, DWORD count);
    // Every event queued, in order; the queue is empty afterwards.
    std::vector<RecordedEvent> TakeAll();
    bool Empty() const { return events_.empty(); }

  private:
    size_t capacity_;
    size_t size_ = 0;
    std::vector<RecordedEvent> events_;
    DWORD dropped_ = 0;  // dropped since the last marker
};

// Turns events into asciicast lines.  The client's bytes become text as the client shows them: a
// UTF-8 client's as UTF-8 with each invalid sequence U+FFFD, an 8-bit client's as the characters
// of `code_page`; a character cut between two events goes whole with the second.
class RecordingFormatter {
  public:
    explicit RecordingFormatter(bool utf8_client) : utf8_client_(utf8_client) {}
    void Append(const RecordedEvent& event, UINT code_page, std::string* lines);

  private:
    bool utf8_client_;
    RelayUtf8Converter output_;
    RelayUtf8Converter input_;
};

// Opens the recording of this login in the SessionRecordingFolder setting (none: nothing is
// recorded) and starts its writer; a folder that cannot take the file is reported once as a
// warning and the login goes unrecorded.  Called once, before anything reaches the client.
void StartRecording(const Settings& settings, const char* terminal_type);
// The client's bytes as they reached the socket input, and the terminal's new size; nothing
// without a recording.
void RecordInput(const void* bytes, DWORD count);
void RecordResize(WindowSize size);
// WriteToClient while a recording runs: the write and its "o" event in the order of the writes.
bool WriteAndRecord(const void* bytes, DWORD count);
// Writes what is queued and closes the file, waiting for the writer `wait_ms` at most.  With
// `release` the recording's objects go too; without, the process is about to end and a thread
// may still be inside a write to the client.
void FinishRecording(DWORD wait_ms, bool release);
