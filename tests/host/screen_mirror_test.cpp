// The screen mirror: the row rule and the cadence as tables, whole passes from one snapshot to the
// next, memory in the steady state and when there is none, and the stop request.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "ColorEncoding.h"
#include "ScreenMirror.h"
#include "ZEVENT.h"
#include "winsim/console_control.h"
#include "vterm_terminal.h"
#include "winsim/control.h"

// Allocations made by this binary, counted on the threads that ask for it, and nothrow array
// allocations made to fail on demand.
namespace {
thread_local bool t_counting = false;
thread_local int t_allocations = 0;
thread_local std::size_t t_counted_size = 0;  // smaller allocations are not counted
thread_local int t_failing_nothrow_arrays = 0;

void* CountedAllocation(std::size_t size) {
    if (t_counting && size >= t_counted_size) ++t_allocations;
    return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

void* operator new(std::size_t size) {
    void* block = CountedAllocation(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return CountedAllocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (t_failing_nothrow_arrays > 0) {
        --t_failing_nothrow_arrays;
        return nullptr;
    }
    return CountedAllocation(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

// A snapshot of `columns` x rows.size() cells: the rows' text padded with spaces, attribute
// 0x07, the cursor at `cursor`.
ScreenSnapshot Screen(int columns, const std::vector<std::string>& rows, COORD cursor = {0, 0}) {
    ScreenSnapshot snapshot;
    SHORT height = static_cast<SHORT>(rows.size());
    snapshot.info.dwSize = COORD{static_cast<SHORT>(columns), height};
    snapshot.info.dwCursorPosition = cursor;
    snapshot.allocated = snapshot.info.dwSize;
    snapshot.cells.reset(new CHAR_INFO[columns * rows.size()]);
    for (size_t y = 0; y < rows.size(); ++y) {
        for (int x = 0; x < columns; ++x) {
            CHAR_INFO& cell = snapshot.cells[y * columns + x];
            cell.Char.AsciiChar = x < static_cast<int>(rows[y].size()) ? rows[y][x] : ' ';
            cell.Attributes = 0x07;
        }
    }
    return snapshot;
}

CHAR_INFO& Cell(ScreenSnapshot& snapshot, int row, int column) {
    return snapshot.cells[row * snapshot.allocated.X + column];
}

BYTE SameByte(BYTE oem) {
    return oem;
}

// The row rule on row 0 of two snapshots.
RowUpdate Decide(ScreenSnapshot& current, ScreenSnapshot& shown, bool suppress = false,
                 bool utf8 = false) {
    return DecideRowUpdate(current.cells.get(), shown.cells.get(), current.allocated.X,
                           MakeRendition(utf8, 0, 0x07, suppress, &SameByte));
}

struct RowCase {
    const char* what;
    std::string shown;
    std::string current;
    bool changed;
    int first;
    int last;
    bool erase;
};

TEST(RowRuleTest, SpansAndErasesByTheTable) {
    const std::vector<RowCase> cases = {
        {"unchanged", "same text", "same text", false, 0, 0, false},
        {"span ending in 4 blanks: sent as characters", "abcdefgh", "abcX", true, 3, 7, false},
        {"span ending in 5 blanks: erased", "abcdefghi", "abcX", true, 3, 3, true},
        {"only the last column", "", std::string(19, ' ') + "z", true, 19, 19, false},
        {"far span, unchanged cells inside sent", "a................b", "aX...............Y", true,
         1, 17, false},
        {"whole row cleared after long text", "hello world", "", true, 0, 0, true},
        {"whole row cleared after short text", "hello", "", true, 0, 4, false},
        {"text after the first difference kept", "ab", "xb     long", true, 0, 10, false},
    };
    for (const RowCase& c : cases) {
        ScreenSnapshot shown = Screen(20, {c.shown});
        ScreenSnapshot current = Screen(20, {c.current});
        RowUpdate update = Decide(current, shown);
        EXPECT_EQ(update.changed, c.changed) << c.what;
        if (!c.changed) continue;
        EXPECT_EQ(update.first, c.first) << c.what;
        EXPECT_EQ(update.last, c.last) << c.what;
        EXPECT_EQ(update.erase, c.erase) << c.what;
    }
}

TEST(RowRuleTest, AttributeOnlyChangeIsAChange) {
    ScreenSnapshot shown = Screen(20, {"colour"});
    ScreenSnapshot current = Screen(20, {"colour"});
    Cell(current, 0, 2).Attributes = 0x0C;
    RowUpdate update = Decide(current, shown);
    EXPECT_TRUE(update.changed);
    EXPECT_EQ(update.first, 2);
    EXPECT_EQ(update.last, 2);
}

TEST(RowRuleTest, OnlyTheLowByteOfTheCharacterCounts) {
    ScreenSnapshot shown = Screen(4, {"ab"});
    ScreenSnapshot current = Screen(4, {"ab"});
    Cell(current, 0, 1).Char.UnicodeChar = static_cast<WCHAR>(0x4100 | 'b');
    EXPECT_FALSE(Decide(current, shown).changed);
}

TEST(RowRuleTest, WideCellsCompareWholeCharactersAndAreBlankOnlyAsSpaces) {
    ScreenSnapshot shown = Screen(20, {"ab"});
    ScreenSnapshot current = Screen(20, {"ab"});
    for (int x = 0; x < 20; ++x) {  // as a wide read fills them
        Cell(shown, 0, x).Char.UnicodeChar = static_cast<BYTE>(Cell(shown, 0, x).Char.AsciiChar);
        Cell(current, 0, x).Char.UnicodeChar = Cell(shown, 0, x).Char.UnicodeChar;
    }
    Cell(shown, 0, 1).Char.UnicodeChar = 0x2500;  // the same low byte as U+2600
    Cell(current, 0, 1).Char.UnicodeChar = 0x2600;
    RowUpdate update = Decide(current, shown, false, true);
    EXPECT_TRUE(update.changed);
    EXPECT_EQ(update.first, 1);
    // U+2520's low byte is a space's, but it is no blank: the tail after it is what erases.
    Cell(shown, 0, 12).Char.UnicodeChar = 'z';
    Cell(current, 0, 12).Char.UnicodeChar = 0x2520;
    update = Decide(current, shown, false, true);
    EXPECT_EQ(update.last, 12);
    EXPECT_FALSE(update.erase);
}

TEST(RowRuleTest, ReverseVideoSpacesAreNotBlankUnlessColourSimulationIsOff) {
    ScreenSnapshot shown = Screen(20, {"abcdefghijk"});
    ScreenSnapshot current = Screen(20, {"ab"});
    for (int x = 2; x <= 10; ++x) Cell(current, 0, x).Attributes = 0x70;
    RowUpdate update = Decide(current, shown);
    EXPECT_EQ(update.first, 2);
    EXPECT_EQ(update.last, 10);
    EXPECT_FALSE(update.erase);

    update = Decide(current, shown, true);
    EXPECT_EQ(update.last, 2);
    EXPECT_TRUE(update.erase);
}

TEST(MirrorCadenceTest, TheSettleStepIsKeptWithinOneTo30Ms) {
    EXPECT_EQ(InputSettleStep(0), 1u);
    EXPECT_EQ(InputSettleStep(2), 2u);
    EXPECT_EQ(InputSettleStep(29), 29u);
    EXPECT_EQ(InputSettleStep(30), 30u);
    EXPECT_EQ(InputSettleStep(0xFFFFFFFF), 30u);
}

TEST(MirrorCadenceTest, QuietPassesAfterInputFollowAtTheStepUntil30Ms) {
    struct Case {
        bool sent;
        bool settling;
        DWORD step;
        DWORD since_input;
        DWORD delay;
        bool still_settling;
    };
    const std::vector<Case> cases = {
        {false, false, 30, 0, 300, false},  // idle, whatever the step
        {true, false, 30, 0, 100, false},
        {false, true, 30, 30, 300, false},  // one pass 30 ms after the key, as ever
        {false, true, 30, 15, 300, false},  // even when a coarse clock says less
        {true, true, 2, 2, 100, false},     // the key showed: the usual cadence
        {false, true, 2, 2, 2, true},
        {false, true, 2, 28, 2, true},
        {false, true, 7, 28, 2, true},  // the last pass falls at 30 ms
        {false, true, 2, 30, 300, false},
        {false, true, 2, 45, 300, false},  // a pass that took long ends the looking
    };
    for (const Case& c : cases) {
        NextPass next = DecideNextPass(c.sent, c.settling, c.step, c.since_input);
        EXPECT_EQ(next.delay, c.delay) << c.step << " " << c.since_input;
        EXPECT_EQ(next.settling, c.still_settling) << c.step << " " << c.since_input;
    }
    // After an echo pass: a full pass one step later once it sent or the looking ends.
    EXPECT_EQ(DecideNextPass(true, true, 2, 2, true).delay, 2u);
    EXPECT_FALSE(DecideNextPass(true, true, 2, 2, true).settling);
    EXPECT_TRUE(DecideNextPass(false, true, 2, 2, true).settling);
    EXPECT_EQ(DecideNextPass(false, true, 7, 28, true).delay, 2u);
    EXPECT_EQ(DecideNextPass(false, true, 2, 30, true).delay, 2u);
    EXPECT_FALSE(DecideNextPass(false, true, 2, 30, true).settling);
}

// Whole passes, through a writer that records each flush.
class MirrorPassTest : public testing::Test {
  protected:
    PassResult Pass(ScreenSnapshot& shown, ScreenSnapshot& current, bool redraw = false) {
        flushes_.clear();
        return UpdateTerminal(shown, current, redraw, writer_);
    }
    std::string Output() const {
        std::string all;
        for (const auto& flush : flushes_) all += flush;
        return all;
    }

    std::vector<std::string> flushes_;
    AnsiWriter writer_{&RecordFlushes, &flushes_, Rendition(&SameByte)};
};

TEST_F(MirrorPassTest, FirstPassClearsAndSendsEveryRowThenTheCursor) {
    ScreenSnapshot shown;
    ScreenSnapshot current = Screen(20, {"C:\\>dir", "", "x"}, COORD{7, 0});
    EXPECT_EQ(Pass(shown, current), PassResult::kSent);
    EXPECT_EQ(flushes_, (std::vector<std::string>{
                            "\033[2J\033[1;1fC:\\>dir\033[0K",
                            "\033[2;1f \033[0K",
                            "\033[3;1fx\033[0K",
                            "\033[1;8f",
                        }));
    EXPECT_EQ(shown.allocated.X, 20);
    EXPECT_EQ(shown.allocated.Y, 3);
}

TEST_F(MirrorPassTest, UnchangedScreenWritesNothingAndAMovedCursorOnlyItsPosition) {
    ScreenSnapshot shown = Screen(10, {"abc", "def"}, COORD{3, 0});
    ScreenSnapshot current = Screen(10, {"abc", "def"}, COORD{3, 0});
    EXPECT_EQ(Pass(shown, current), PassResult::kQuiet);
    EXPECT_TRUE(flushes_.empty());

    current.info.dwCursorPosition = COORD{0, 1};
    EXPECT_EQ(Pass(shown, current), PassResult::kQuiet);  // no faster polling for the cursor
    EXPECT_EQ(flushes_, std::vector<std::string>{"\033[2;1f"});
}

TEST_F(MirrorPassTest, OneTypedCharacterIsItsPositionTheCharacterAndTheCursor) {
    ScreenSnapshot shown = Screen(80, {"C:\\>"}, COORD{4, 0});
    ScreenSnapshot current = Screen(80, {"C:\\>d"}, COORD{5, 0});
    EXPECT_EQ(Pass(shown, current), PassResult::kSent);
    EXPECT_EQ(flushes_, (std::vector<std::string>{"\033[1;5fd", "\033[1;6f"}));
}

TEST_F(MirrorPassTest, RedrawRepaintsAnUnchangedScreen) {
    ScreenSnapshot shown = Screen(6, {"ab", "cd"}, COORD{2, 1});
    ScreenSnapshot current = Screen(6, {"ab", "cd"}, COORD{2, 1});
    EXPECT_EQ(Pass(shown, current, true), PassResult::kSent);
    EXPECT_EQ(Output(), "\033[2J\033[1;1fab    \033[2;1fcd    \033[2;3f");
}

TEST_F(MirrorPassTest, AClearWithNoRowAfterItIsSentInItsOwnPass) {
    // Empty cells (character 0, attributes 0) equal the cleared copy, so no row follows.
    ScreenSnapshot shown = Screen(4, {"a"});
    ScreenSnapshot current = Screen(4, {""});
    for (int x = 0; x < 4; ++x) Cell(current, 0, x) = CHAR_INFO{};
    EXPECT_EQ(Pass(shown, current, true), PassResult::kQuiet);
    EXPECT_EQ(flushes_, std::vector<std::string>{"\033[2J"});
    EXPECT_EQ(writer_.buffered_count(), 0u);

    ScreenSnapshot resized = Screen(2, {""});
    for (int x = 0; x < 2; ++x) Cell(resized, 0, x) = CHAR_INFO{};
    EXPECT_EQ(Pass(current, resized), PassResult::kSent);
    EXPECT_EQ(flushes_, std::vector<std::string>{"\033[2J"});
}

// With colours a cleared terminal already shows blank rows, so after a new size only the clear
// and the cursor go out: the terminal's own resize may have moved its cursor.
TEST_F(MirrorPassTest, InColourANewSizeOfBlankRowsSendsTheClearAndTheCursor) {
    writer_.set_rendition(MakeRendition(false, kColorModeSixteen, 0x07, false, &SameByte));
    ScreenSnapshot shown = Screen(4, {"", "", ""}, COORD{1, 1});
    ScreenSnapshot current = Screen(3, {"", ""}, COORD{1, 1});
    EXPECT_EQ(Pass(shown, current), PassResult::kSent);
    EXPECT_EQ(Output(), "\033[0m\033[2J\033[2;2f");
}

TEST_F(MirrorPassTest, NewSizeClearsAndRepaintsAtThatSize) {
    ScreenSnapshot shown = Screen(6, {"ab", "cd"});
    ScreenSnapshot current = Screen(8, {"ab", "cd", "ef"}, COORD{0, 2});
    EXPECT_EQ(Pass(shown, current), PassResult::kSent);
    EXPECT_EQ(Output(), "\033[2J\033[1;1fab\033[0K\033[2;1fcd\033[0K\033[3;1fef\033[0K\033[3;1f");
    EXPECT_EQ(shown.allocated.X, 8);
    EXPECT_EQ(shown.allocated.Y, 3);
    EXPECT_EQ(shown.info.dwSize.X, 8);
    EXPECT_EQ(shown.info.dwSize.Y, 3);
}

TEST_F(MirrorPassTest, ScrollingResendsEveryRowThatMoved) {
    ScreenSnapshot shown = Screen(5, {"one", "two", "six"}, COORD{0, 2});
    ScreenSnapshot current = Screen(5, {"two", "six", ""}, COORD{0, 2});
    Pass(shown, current);
    EXPECT_EQ(flushes_, (std::vector<std::string>{"\033[1;1ftwo", "\033[2;1fsix", "\033[3;1f   ",
                                                  "\033[3;1f"}));
}

// A UTF-8 client's screen: each row's UTF-16 units one to a cell, attribute 0x07.
ScreenSnapshot WideScreen(int columns, const std::vector<std::u16string>& rows) {
    ScreenSnapshot snapshot = Screen(columns, std::vector<std::string>(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y) {
        for (int x = 0; x < columns; ++x)
            Cell(snapshot, int(y), x).Char.UnicodeChar = x < int(rows[y].size()) ? rows[y][x] : ' ';
    }
    return snapshot;
}

// A character beyond U+FFFF takes two cells, one half of its pair each: a change in one half
// sends both, and a row's update never leaves a half to the next row's.
TEST_F(MirrorPassTest, AUtf8ClientGetsACharacterOfTwoHalvesWhole) {
    writer_.set_rendition(MakeRendition(true, 0, 0x07, false, &SameByte));
    ScreenSnapshot shown = WideScreen(6, {u"a\U0001F600b", u""});
    ScreenSnapshot current = WideScreen(6, {u"a\U0001F601b", u""});
    Pass(shown, current);
    EXPECT_EQ(Output(), "\033[1;2f\xF0\x9F\x98\x81\033[1;1f");

    // Only the first half differs, and the next row changes too.
    ScreenSnapshot next = WideScreen(6, {u"a\U0001FA01b", u"z"});
    Pass(current, next);
    EXPECT_EQ(Output(), "\033[1;2f\xF0\x9F\xA8\x81\033[2;1fz\033[1;1f");

    // A half without its partner is one U+FFFD in its own cell, on its own row.
    ScreenSnapshot lone = WideScreen(6, {u"a\U0001FA01b", u"z"});
    Cell(lone, 0, 5).Char.UnicodeChar = 0xD83D;
    Cell(lone, 1, 0).Char.UnicodeChar = 0xDE00;
    Pass(next, lone);
    EXPECT_EQ(Output(), "\033[1;6f\xEF\xBF\xBD\033[2;1f\xEF\xBF\xBD\033[1;1f");

    // A half whose partner is replaced shows U+FFFD from then on, though its own cell is as it was.
    ScreenSnapshot second_gone = WideScreen(6, {u"a\U0001FA01b", u"z"});
    Cell(second_gone, 0, 2).Char.UnicodeChar = 'c';
    Pass(next, second_gone);
    EXPECT_EQ(Output(),
              "\033[1;2f\xEF\xBF\xBD"
              "c\033[1;1f");
    ScreenSnapshot first_gone = WideScreen(6, {u"a\U0001FA01b", u"z"});
    Cell(first_gone, 0, 1).Char.UnicodeChar = 'd';
    Pass(next, first_gone);
    EXPECT_EQ(Output(), "\033[1;2fd\xEF\xBF\xBD\033[1;1f");
}

TEST_F(MirrorPassTest, ReverseVideoCellsAreWrappedOneByOne) {
    ScreenSnapshot shown = Screen(4, {""});
    ScreenSnapshot current = Screen(4, {"ab"});
    Cell(current, 0, 1).Attributes = 0x70;
    Pass(shown, current);
    EXPECT_EQ(flushes_[0], "\033[1;1fa\033[7mb\033[0m");
}

// Runs passes the way the thread does: the snapshots exchange roles and their arrays are reused.
TEST_F(MirrorPassTest, SteadyStateAllocatesNothing) {
    ScreenSnapshot snapshots[2] = {ScreenSnapshot(), Screen(80, std::vector<std::string>(25))};
    int shown = 0;
    DWORD bytes = 0;
    AnsiWriter counting{
        [](void* total, const char*, DWORD count) { *static_cast<DWORD*>(total) += count; }, &bytes,
        Rendition(&SameByte)};
    UpdateTerminal(snapshots[0], snapshots[1], false, counting);  // first pass allocates

    t_allocations = 0;
    t_counting = true;
    for (int pass = 0; pass < 200; ++pass) {
        shown = 1 - shown;
        ScreenSnapshot& current = snapshots[1 - shown];
        // What the console would show now: a line of text that changes at every pass.
        for (int x = 0; x < 80; ++x) {
            current.cells[(pass % 25) * 80 + x].Char.AsciiChar =
                static_cast<char>('a' + (x + pass) % 26);
        }
        current.info.dwCursorPosition = COORD{static_cast<SHORT>(pass % 80), 3};
        UpdateTerminal(snapshots[shown], current, pass % 50 == 0, counting);
    }
    t_counting = false;
    EXPECT_EQ(t_allocations, 0);
    EXPECT_GT(bytes, 200u * 80u);
}

TEST_F(MirrorPassTest, NoMemoryForTheShownCopySkipsThePassAndTheNextPassRepaints) {
    ScreenSnapshot shown = Screen(6, {"old"});
    ScreenSnapshot current = Screen(8, {"new", "rows"});
    t_failing_nothrow_arrays = 1;
    EXPECT_EQ(Pass(shown, current, true), PassResult::kNoMemory);
    EXPECT_TRUE(flushes_.empty());
    EXPECT_EQ(writer_.buffered_count(), 0u);
    EXPECT_FALSE(shown.cells);
    EXPECT_FALSE(current.cells);
    EXPECT_EQ(current.allocated.X, 0);

    // The next pass reads the console into the other copy and, with memory, repaints all.
    ScreenSnapshot next = Screen(8, {"new", "rows"}, COORD{1, 1});
    EXPECT_EQ(Pass(current, next), PassResult::kSent);
    EXPECT_EQ(Output(), "\033[2J\033[1;1fnew\033[0K\033[2;1frows    \033[2;2f");
}

// The mirror thread's stop request: seen right after the lock is taken.
class MirrorStopTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        g_translator.mirror_stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_translator.mirror_stop = 1;
    }
    void TearDown() override {
        g_translator.mirror_stop = 0;
        CloseHandle(g_translator.mirror_stopped);
        g_translator.mirror_stopped = nullptr;
        g_mirror_wake_up.Reset();
    }
};

TEST_F(MirrorStopTest, APassAskedToStopSignalsAndLeavesTheLock) {
    ScreenMirror mirror(Settings{}, 0x07);
    EXPECT_FALSE(mirror.RunPass());
    EXPECT_EQ(WaitForSingleObject(g_translator.mirror_stopped, 0), WAIT_OBJECT_0);
    std::thread other([] {
        g_screen_lock.Enter();  // would block for ever if the pass had kept the lock
        g_screen_lock.Leave();
    });
    other.join();
}

TEST_F(MirrorStopTest, TheThreadEndsWhenWokenWithTheRequestSet) {
    g_mirror_wake_up.Set();
    std::thread mirror([] { ScreenMirrorThread(new ScreenMirror(Settings{}, 0x07)); });
    mirror.join();
    EXPECT_EQ(WaitForSingleObject(g_translator.mirror_stopped, 0), WAIT_OBJECT_0);
}

}  // namespace

namespace {

TEST(ShownCharacterTest, ControlCharactersNeverReachTheTerminalAsSuch) {
    EXPECT_EQ(ShownCharacter(0), ' ');
    for (int c = 1; c < 0x20; ++c) EXPECT_EQ(ShownCharacter(static_cast<BYTE>(c)), '?') << c;
    EXPECT_EQ(ShownCharacter(0x7F), '?');
    for (int c = 0x20; c < 0x7F; ++c) EXPECT_EQ(ShownCharacter(static_cast<BYTE>(c)), c);
    EXPECT_EQ(ShownCharacter(0xC4), 0xC4);  // converted by the writer, not here
    // A UTF-8 terminal takes U+0080 to U+009F as controls too (U+009B starts a sequence).
    EXPECT_EQ(ShownWideCharacter(0), ' ');
    EXPECT_EQ(ShownWideCharacter(0x1B), '?');
    for (int c = 0x7F; c < 0xA0; ++c) EXPECT_EQ(ShownWideCharacter(WCHAR(c)), '?') << c;
    for (WCHAR c : {0x20, 0x7E, 0xA0, 0xE9, 0x2500}) EXPECT_EQ(ShownWideCharacter(c), c) << c;
}

}  // namespace

namespace {

// A console that takes at most one read's worth of cells: rows that fit are read a few at a time,
// rows wider than a read in pieces.
TEST(ReadScreenTest, ReadsTheWholeBufferWithinWhatOneReadTakes) {
    struct Case {
        COORD buffer;
        int reads;
    };
    for (const Case c : {Case{{200, 100}, 3}, Case{{9000, 2}, 4}}) {
        winsim::test::Reset();
        winsim::SimProcess process;
        winsim::test::ConsoleSettings settings;
        settings.buffer = c.buffer;
        settings.window = SMALL_RECT{0, 0, 79, static_cast<SHORT>(c.buffer.Y < 25 ? 1 : 24)};
        settings.read_limit = 8192;
        winsim::test::NewConsole(process, settings);
        process.Start([&] {
            HANDLE output =
                CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD written = 0;
            const COORD last{static_cast<SHORT>(c.buffer.X - 1),
                             static_cast<SHORT>(c.buffer.Y - 1)};
            FillConsoleOutputCharacterA(output, 'z', 1, last, &written);
            int reads = 0;
            winsim::test::AfterConsoleRead([&] { ++reads; });
            ScreenSnapshot snapshot;
            EXPECT_TRUE(ReadScreen(ConsoleScreen(output, false), snapshot));
            winsim::test::AfterConsoleRead(nullptr);
            EXPECT_EQ(reads, c.reads) << c.buffer.X;
            EXPECT_EQ(
                snapshot.cells[static_cast<size_t>(c.buffer.X) * c.buffer.Y - 1].Char.AsciiChar,
                'z');
            return 0;
        });
        EXPECT_FALSE(process.Wait().crashed) << c.buffer.X;
    }
}

// Full-screen programs: "CONOUT$" opened anew is told from the start-up buffer by the probe of
// the cursor's size, whichever buffer is shown, two handles to one buffer counting as one; the
// start-up buffer's cursor is left as it was.  A new buffer takes the shown window's size.
TEST(FullScreenTest, TheShownBufferIsToldFromTheStartUpOneByItsCursor) {
    winsim::test::Reset();
    winsim::SimProcess process;
    winsim::test::ConsoleSettings settings;
    settings.buffer = COORD{80, 300};
    settings.window = SMALL_RECT{0, 276, 79, 299};
    winsim::test::NewConsole(process, settings);
    process.Start([&] {
        auto open = [] {
            return CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        };
        HANDLE startup = open();
        const CONSOLE_CURSOR_INFO shape{100, FALSE};
        SetConsoleCursorInfo(startup, &shape);
        ShownBuffer shown(startup);
        EXPECT_FALSE(shown.LookForProgramBuffer());
        EXPECT_EQ(shown.program(), nullptr);

        HANDLE program = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                   CONSOLE_TEXTMODE_BUFFER, nullptr);
        CONSOLE_SCREEN_BUFFER_INFO info;
        GetConsoleScreenBufferInfo(program, &info);
        EXPECT_EQ(info.dwSize.X, 80);
        EXPECT_EQ(info.dwSize.Y, 24);
        const CONSOLE_CURSOR_INFO same_as_probe{1, TRUE};  // the first size the probe tries
        SetConsoleCursorInfo(program, &same_as_probe);
        SetConsoleActiveScreenBuffer(program);
        EXPECT_TRUE(shown.LookForProgramBuffer());
        EXPECT_NE(shown.program(), nullptr);
        EXPECT_FALSE(IsStartupBuffer(startup, program));
        EXPECT_TRUE(IsStartupBuffer(program, shown.program()));

        SetConsoleActiveScreenBuffer(startup);
        EXPECT_FALSE(shown.LookForProgramBuffer());
        CONSOLE_CURSOR_INFO after;
        GetConsoleCursorInfo(startup, &after);
        EXPECT_EQ(after.dwSize, 100u);
        EXPECT_FALSE(after.bVisible);
        return 0;
    });
    EXPECT_FALSE(process.Wait().crashed);
}

// The title: without controls, cut at 256 characters, in UTF-8 (a lone surrogate as U+FFFD) or
// in the ANSI code page with "?" for what it lacks and for bytes an 8-bit terminal takes for C1.
TEST(FullScreenTest, TheTitleSequenceLeavesOutControlsAndIsCut) {
    auto title = [](const std::wstring& text, bool utf8) {
        return TitleSequence(text.data(), text.size(), utf8);
    };
    EXPECT_EQ(title(L"a\x1b]0;b\x07\x7f\x9c"
                    L"c\td",
                    false),
              "\033]2;a]0;bcd\a");
    EXPECT_EQ(title(L"caf\xe9 \x20ac \x4e00", false), "\033]2;caf\xe9 ? ?\a");
    const std::wstring pair = {0xD83D, 0xDE00, 0xD83D, 'x', 0xE9};
    EXPECT_EQ(title(pair, true), "\033]2;\xf0\x9f\x98\x80\xef\xbf\xbdx\xc3\xa9\a");
    std::string cut = "\033]2;";
    for (int i = 0; i < 256; ++i) cut += "\xe4\xb8\x80";
    EXPECT_EQ(title(std::wstring(300, L'\x4e00'), true), cut + "\a");
    // Sent in writes the writer takes whole, never within a character, once until it changes.
    std::vector<std::string> flushes;
    AnsiWriter writer(&RecordFlushes, &flushes, Rendition(&SameByte));
    TerminalView view;
    for (int pass = 0; pass < 2; ++pass) ShowTitle(cut + "\a", view, writer);
    writer.Flush();
    std::string sent;
    for (const std::string& flush : flushes) {
        EXPECT_LE(flush.size(), AnsiWriter::kBufferSize);
        EXPECT_NE(static_cast<BYTE>(flush[0]) & 0xC0, 0x80);
        sent += flush;
    }
    EXPECT_EQ(sent, cut + "\a");
}

}  // namespace

namespace {

// With scrollback, a pass that cannot have the cells its reads need is skipped as one without a
// screen copy is, and in the steady state, lines scrolling or not, a pass allocates nothing.
TEST(ScrollbackMemoryTest, APassAllocatesOnlyForANewSizeAndTakesTheMemoryRoad) {
    winsim::test::Reset();
    winsim::SimProcess process;
    winsim::test::ConsoleSettings settings;
    settings.buffer = COORD{80, 2024};
    settings.window = SMALL_RECT{0, 2000, 79, 2023};
    winsim::test::NewConsole(process, settings);
    process.Start([&] {
        HANDLE output =
            CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        SetConsoleCursorPosition(output, COORD{0, 2000});
        const ConsoleScreen console(output, false);
        AnsiWriter writer{[](void*, const char*, DWORD) {}, nullptr, Rendition(&SameByte)};
        ScreenSnapshot snapshots[2];
        ScrollTracker tracker;
        int shown = 0;
        // By the passes, of a few rows' cells at least: the simulated console's calls make
        // small allocations of their own.
        int allocations = 0;
        t_counted_size = 1024;
        auto pass = [&] {
            shown = 1 - shown;
            t_allocations = 0;
            t_counting = true;
            PassResult result = ScrollbackPass(console, snapshots[shown], snapshots[1 - shown],
                                               false, writer, tracker);
            t_counting = false;
            allocations += t_allocations;
            return result;
        };
        auto print = [&](const char* text) {
            DWORD written = 0;
            WriteFile(output, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
        };
        // Each of the pass's allocations in turn fails.
        for (int failing = 1; failing <= 4; ++failing) {
            t_failing_nothrow_arrays = failing;
            EXPECT_EQ(pass(), PassResult::kNoMemory) << failing;
            t_failing_nothrow_arrays = 0;
        }
        EXPECT_EQ(pass(), PassResult::kSent);
        for (int n = 0; n < 300; ++n) print("a line\r\n");
        EXPECT_EQ(pass(), PassResult::kSent);
        allocations = 0;
        for (int n = 0; n < 50; ++n) {
            print("line\r\n");
            pass();
            pass();
        }
        t_counted_size = 0;
        EXPECT_EQ(allocations, 0);
        return 0;
    });
    EXPECT_FALSE(process.Wait().crashed);
}

}  // namespace
