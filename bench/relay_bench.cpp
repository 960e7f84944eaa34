// relay-bench [RUNS [MB [FOLDER]]]: the simple-mode output relay against a plain pipe copy, under
// the same conditions; with FOLDER, the relay with the session recording into that folder on. A
// writer thread pushes a stream of command output into a pipe made as the translator makes its
// output translation pipe; the relay (the translator's own thread function) or a plain loop of
// 32-byte reads and writes moves it into a second pipe made as the server makes the socket output;
// a reader thread drains that.  Prints one line per figure: "NAME VALUE".
//
// The relay reads the console modes for the chunks that hold a line feed, so the program makes a
// console of its own.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "OutputRelay.h"
#include "SessionRecording.h"
#include "Text.h"
#include "ZEVENT.h"
#include "translator.h"

extern const char* const kReporterName = "Relay Benchmark";

namespace {

DWORD g_stream_bytes = 10 * 1000 * 1000;  // the second argument, in MB, changes it

struct Pipes {
    HANDLE in_read = nullptr;  // output translation pipe
    HANDLE in_write = nullptr;
    HANDLE out_read = nullptr;  // socket output
    HANDLE out_write = nullptr;
};

std::string g_stream;

// Command output: lines with bare line feeds, now and then a character of the upper half.
void MakeStream() {
    static const char kLine[] =
        " 12/08/2026  10:15 PM    <DIR>          remote \x84\x94\x81 files\n";
    g_stream.reserve(g_stream_bytes);
    while (g_stream.size() < g_stream_bytes) g_stream += kLine;
    g_stream.resize(g_stream_bytes);
}

DWORD WINAPI WriterThread(void* parameter) {
    Pipes* pipes = static_cast<Pipes*>(parameter);
    const char* data = g_stream.data();
    DWORD left = g_stream_bytes;
    while (left > 0) {
        // The command processor writes a line or a block at a time.
        DWORD chunk = left < 512 ? left : 512;
        DWORD written = 0;
        if (!WriteFile(pipes->in_write, data, chunk, &written, nullptr) || written == 0) break;
        data += written;
        left -= written;
    }
    CloseHandle(pipes->in_write);
    pipes->in_write = nullptr;
    return 0;
}

struct Drain {
    HANDLE pipe;
    unsigned long long bytes;
};

DWORD WINAPI ReaderThread(void* parameter) {
    Drain* drain = static_cast<Drain*>(parameter);
    std::vector<char> buffer(65536);
    DWORD got = 0;
    while (ReadFile(drain->pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        drain->bytes += got;
    }
    return 0;
}

bool g_utf8_client = false;  // the relay's client takes UTF-8

DWORD WINAPI RelayThread(void*) {
    OutputRelayThread(new OutputRelay(g_utf8_client));
    return 0;
}

DWORD WINAPI RawCopyThread(void* parameter) {
    Pipes* pipes = static_cast<Pipes*>(parameter);
    char chunk[kRelayChunkSize];
    DWORD count = 0;
    while (ReadFile(pipes->in_read, chunk, kRelayChunkSize, &count, nullptr)) {
        DWORD written = 0;
        if (!WriteFile(pipes->out_write, chunk, count, &written, nullptr)) break;
    }
    return 0;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// One run through the relay (relay true) or the plain copy; MB (10^6 bytes of input) per second,
// 0 when the run failed.  `delivered` receives the bytes that reached the far end.
double Run(bool relay, unsigned long long* delivered) {
    Pipes pipes;
    if (!CreatePipe(&pipes.in_read, &pipes.in_write, nullptr, 32) ||
        !CreatePipe(&pipes.out_read, &pipes.out_write, nullptr, 0)) {
        std::fprintf(stderr, "CreatePipe failed: %lu\n", GetLastError());
        return 0;
    }
    g_translator.translation_read = pipes.in_read;
    g_translator.socket_output = pipes.out_write;
    Drain drain = {pipes.out_read, 0};

    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    HANDLE reader = CreateThread(nullptr, 0, ReaderThread, &drain, 0, nullptr);
    HANDLE mover =
        CreateThread(nullptr, 0, relay ? RelayThread : RawCopyThread, &pipes, 0, nullptr);
    HANDLE writer = CreateThread(nullptr, 0, WriterThread, &pipes, 0, nullptr);
    if (reader == nullptr || mover == nullptr || writer == nullptr) {
        std::fprintf(stderr, "CreateThread failed: %lu\n", GetLastError());
        std::exit(1);
    }
    WaitForSingleObject(writer, INFINITE);
    WaitForSingleObject(mover, INFINITE);  // ends at the end of its input pipe
    CloseHandle(pipes.out_write);
    WaitForSingleObject(reader, INFINITE);
    QueryPerformanceCounter(&end);
    CloseHandle(writer);
    CloseHandle(mover);
    CloseHandle(reader);
    CloseHandle(pipes.in_read);
    CloseHandle(pipes.out_read);
    *delivered = drain.bytes;
    return g_stream_bytes / 1e6 / Seconds(start, end);
}

// What each call of one relay chunk costs on its own, in microseconds, for the breakdown: the
// two console mode reads, the output gate's wait (set), the conversion and a 32-byte write and
// read through a pipe.
void Breakdown() {
    const int kCalls = 2000;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    DWORD mode = 0;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < kCalls; ++i) GetConsoleMode(g_translator.console_output, &mode);
    QueryPerformanceCounter(&end);
    std::printf("breakdown_getconsolemode_us %.3f\n", Seconds(start, end) * 1e6 / kCalls);

    QueryPerformanceCounter(&start);
    for (int i = 0; i < kCalls; ++i) g_output_gate.Wait();
    QueryPerformanceCounter(&end);
    std::printf("breakdown_output_gate_wait_us %.3f\n", Seconds(start, end) * 1e6 / kCalls);

    char in[kRelayChunkSize];
    char out[kRelayChunkSize];
    std::memcpy(in, g_stream.data(), sizeof in);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < kCalls; ++i) OemToCharBuffA(in, out, kRelayChunkSize);
    QueryPerformanceCounter(&end);
    std::printf("breakdown_oemtocharbuff_us %.3f\n", Seconds(start, end) * 1e6 / kCalls);

    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, 32)) return;
    DWORD count = 0;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < kCalls; ++i) {
        WriteFile(write, in, kRelayChunkSize, &count, nullptr);
        ReadFile(read, out, kRelayChunkSize, &count, nullptr);
    }
    QueryPerformanceCounter(&end);
    std::printf("breakdown_pipe_write_read_32_us %.3f\n", Seconds(start, end) * 1e6 / kCalls);
    CloseHandle(read);
    CloseHandle(write);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

// The relay with the recording on, against the plain copy in the same runs.
int RecordingRuns(int runs, const char* folder) {
    Settings settings;
    settings.session_recording_folder = CopyText(folder);
    StartRecording(settings, "vt100");
    if (g_translator.recorder.load() == nullptr) return 1;
    std::vector<double> relay;
    std::vector<double> raw;
    unsigned long long relay_bytes = 0;
    unsigned long long raw_bytes = 0;
    for (int i = 0; i < runs; ++i) {
        raw.push_back(Run(false, &raw_bytes));
        relay.push_back(Run(true, &relay_bytes));
    }
    FinishRecording(60000, true);
    std::printf("relay_recording_mb_per_s %.3f\n", Median(relay));
    std::printf("raw_pipe_32_mb_per_s_recording %.3f\n", Median(raw));
    return relay_bytes > g_stream_bytes && raw_bytes == g_stream_bytes ? 0 : 1;
}

int main(int argc, char** argv) {
    // 0 runs: the breakdown only.
    int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    if (runs < 0) runs = 0;
    if (argc > 2 && std::atoi(argv[2]) > 0) {
        g_stream_bytes = static_cast<DWORD>(std::atoi(argv[2])) * 1000 * 1000;
    }
    FreeConsole();
    if (!AllocConsole()) {
        std::fprintf(stderr, "AllocConsole failed: %lu\n", GetLastError());
        return 1;
    }
    g_translator.console_output =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    g_translator.console_input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (g_translator.console_output == INVALID_HANDLE_VALUE ||
        g_translator.console_input == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "opening the console failed: %lu\n", GetLastError());
        return 1;
    }
    g_output_gate.Set();
    MakeStream();

    if (argc > 3) return RecordingRuns(runs, argv[3]);
    Breakdown();
    std::vector<double> relay;
    std::vector<double> relay_utf8;
    std::vector<double> raw;
    unsigned long long relay_bytes = 0;
    unsigned long long relay_utf8_bytes = 0;
    unsigned long long raw_bytes = 0;
    for (int i = 0; i < runs; ++i) {
        raw.push_back(Run(false, &raw_bytes));
        relay.push_back(Run(true, &relay_bytes));
        // The same stream to a UTF-8 client, from the console's output code page.
        g_utf8_client = true;
        relay_utf8.push_back(Run(true, &relay_utf8_bytes));
        g_utf8_client = false;
    }
    // Every line feed of the stream gets its carriage return: the relay delivers more bytes.
    if (runs == 0) return 0;
    std::printf("relay_mb_per_s %.3f\n", Median(relay));
    std::printf("relay_utf8_mb_per_s %.3f\n", Median(relay_utf8));
    std::printf("raw_pipe_32_mb_per_s %.3f\n", Median(raw));
    std::printf("relay_bytes_out %llu\n", relay_bytes);
    std::printf("raw_bytes_out %llu\n", raw_bytes);
    std::fflush(stdout);
    std::printf("relay_utf8_bytes_out %llu\n", relay_utf8_bytes);
    return relay_bytes > g_stream_bytes && raw_bytes == g_stream_bytes &&
                   relay_utf8_bytes > relay_bytes
               ? 0
               : 1;
}
