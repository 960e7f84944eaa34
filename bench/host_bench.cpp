// Host figures: the screen mirror's comparison of two equal screens against a plain memcmp of the
// same cells, and a full repaint through the row rule and the writer into memory.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "AnsiWriter.h"
#include "ColorEncoding.h"
#include "ScreenMirror.h"

// The reporter's event source; nothing here reports.
extern const char* const kReporterName = "Benchmark";

namespace {

// A screen of mixed content: text rows of varying length, some cells in reverse video (green
// background), some blank tails, some upper-half characters.
void FillScreen(ScreenSnapshot& snapshot, SHORT columns, SHORT rows) {
    const size_t count = static_cast<size_t>(columns) * rows;
    snapshot.cells.reset(new CHAR_INFO[count]());
    snapshot.allocated = COORD{columns, rows};
    snapshot.info.dwSize = snapshot.allocated;
    snapshot.info.dwCursorPosition = COORD{0, static_cast<SHORT>(rows - 1)};
    static const char kText[] =
        "Volume in drive C has no label. Directory of C:\\users\\remote  12/08  <DIR>  "
        "\x84\x94\x81 ";
    for (int y = 0; y < rows; ++y) {
        const int length = (y * 37) % columns;
        for (int x = 0; x < columns; ++x) {
            CHAR_INFO& cell = snapshot.cells[static_cast<size_t>(y) * columns + x];
            cell.Char.AsciiChar = x < length ? kText[(x + y) % (sizeof kText - 1)] : ' ';
            cell.Attributes = 0x07;
            if (y % 5 == 0 && x >= 10 && x < 30) cell.Attributes = 0x20 | 0x0F;  // reverse video
            if (y % 7 == 3 && x < 8) cell.Attributes = 0x1E;                     // plain colour
        }
    }
}

// Two equal screens of mixed text: the one the terminal shows and the console's current one.
void EqualScreens(SHORT columns, SHORT rows, ScreenSnapshot& shown, ScreenSnapshot& current) {
    FillScreen(current, columns, rows);
    const size_t count = static_cast<size_t>(columns) * rows;
    shown.cells.reset(new CHAR_INFO[count]);
    std::memcpy(shown.cells.get(), current.cells.get(), count * sizeof(CHAR_INFO));
    shown.allocated = current.allocated;
    shown.info = current.info;
}

struct MemorySink {
    std::string bytes;
    static void Write(void* context, const char* data, DWORD count) {
        static_cast<MemorySink*>(context)->bytes.append(data, count);
    }
};

BYTE SameByte(BYTE oem) {
    return oem;
}

// One mirror pass over an unchanged screen, without the console read: every row is compared
// and nothing is sent.
void MirrorUnchangedPass(benchmark::State& state, SHORT columns, SHORT rows) {
    ScreenSnapshot shown;
    ScreenSnapshot current;
    EqualScreens(columns, rows, shown, current);
    MemorySink sink;
    AnsiWriter writer(&MemorySink::Write, &sink, Rendition(&SameByte));
    for (auto _ : state) {
        PassResult result = UpdateTerminal(shown, current, false, writer);
        benchmark::DoNotOptimize(result);
    }
    if (!sink.bytes.empty()) state.SkipWithError("an unchanged screen sent bytes");
}
void BM_MirrorUnchangedPass_128x100(benchmark::State& state) {
    MirrorUnchangedPass(state, 128, 100);
}
BENCHMARK(BM_MirrorUnchangedPass_128x100);
// The same for the largest console the main job's MaxWindowSize gives.
void BM_MirrorUnchangedPass_500x200(benchmark::State& state) {
    MirrorUnchangedPass(state, 500, 200);
}
BENCHMARK(BM_MirrorUnchangedPass_500x200);

void BM_Memcmp_128x100(benchmark::State& state) {
    ScreenSnapshot shown;
    ScreenSnapshot current;
    EqualScreens(128, 100, shown, current);
    const size_t size = 128 * 100 * sizeof(CHAR_INFO);
    for (auto _ : state) {
        const CHAR_INFO* a = current.cells.get();
        const CHAR_INFO* b = shown.cells.get();
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        int result = std::memcmp(a, b, size);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_Memcmp_128x100);

// A full repaint of an 80x25 screen (a redraw request), into memory through the writer's own
// conversion of the upper half.
void BM_WriterFullRepaint_80x25(benchmark::State& state) {
    ScreenSnapshot shown;
    ScreenSnapshot current;
    EqualScreens(80, 25, shown, current);
    MemorySink sink;
    AnsiWriter writer(&MemorySink::Write, &sink, Rendition(&OemToAnsi));
    size_t bytes = 0;
    for (auto _ : state) {
        sink.bytes.clear();
        PassResult result = UpdateTerminal(shown, current, true, writer);
        benchmark::DoNotOptimize(result);
        bytes = sink.bytes.size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WriterFullRepaint_80x25);

// The same repaint with the console's colours sent as SGR (ColorMode 16) in place of reverse
// video; its bytes beside the other's.
void BM_WriterFullRepaintColor_80x25(benchmark::State& state) {
    ScreenSnapshot shown;
    ScreenSnapshot current;
    EqualScreens(80, 25, shown, current);
    MemorySink sink;
    AnsiWriter writer(&MemorySink::Write, &sink,
                      MakeRendition(false, kColorModeSixteen, 0x07, false, &OemToAnsi));
    size_t bytes = 0;
    for (auto _ : state) {
        sink.bytes.clear();
        PassResult result = UpdateTerminal(shown, current, true, writer);
        benchmark::DoNotOptimize(result);
        bytes = sink.bytes.size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WriterFullRepaintColor_80x25);

}  // namespace

BENCHMARK_MAIN();
