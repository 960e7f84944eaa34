// Scrollback: where a pass reads, what it finds there, how many rows it sends and where it leaves
// the mark, as tables; the mark's bits and the history's cap.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "ScreenMirror.h"
#include "Scrollback.h"
#include "winsim/console_control.h"
#include "winsim/control.h"

namespace {

// A window of 80 x 25 on buffer rows 1000 to 1024: a read takes 200 of its rows at most.
constexpr SMALL_RECT kWindow{0, 1000, 79, 1024};

// The rows a pass sends, from where a read (from row `top`) shows the old mark, the rows the last
// pass left above it, and the window the pass ends on; and how far a new mark fell.
TEST(ScrolledRowsTest, CountsFromTheMarkAndItsLeadAndNothingTheReadCannotShow) {
    EXPECT_EQ(ScrolledRows(100, 0, 0, 100), 0);   // idle: the mark on the window's top row
    EXPECT_EQ(ScrolledRows(93, 0, 0, 100), 7);    // the content moved up 7 rows
    EXPECT_EQ(ScrolledRows(90, 3, 80, 100), 13);  // and 3 rows the last pass could not send
    EXPECT_EQ(ScrolledRows(0, 0, 0, 100), 100);   // the whole history
    EXPECT_EQ(ScrolledRows(5, 0, 0, 30), 25);     // a window that followed the cursor down
    // Cannot tell: no mark (a clear), rows beginning above the read or below the window.
    EXPECT_EQ(ScrolledRows(-1, 0, 0, 100), 0);
    EXPECT_EQ(ScrolledRows(82, 3, 80, 100), 0);
    EXPECT_EQ(ScrolledRows(105, 0, 0, 100), 0);

    // The old mark seen at 93, the new one meant for row 100.
    EXPECT_EQ(PlaceMark(93, 100, 93, 100).lead, 0);  // placed where meant
    EXPECT_EQ(PlaceMark(93, 100, 93, 100).row, 100);
    EXPECT_EQ(PlaceMark(93, 100, 90, 100).lead, 3);  // the output moved 3 rows before the write
    EXPECT_EQ(PlaceMark(93, 100, 90, 100).row, 100);
    EXPECT_EQ(PlaceMark(93, 100, 93, 95).row, -1);  // a fall of less than none
    EXPECT_EQ(PlaceMark(93, 100, -1, 100).row, -1);
    EXPECT_EQ(PlaceMark(93, 100, 93, -1).row, -1);
    EXPECT_EQ(PlaceMark(93, 100, 100, 100).row, -1);  // the new mark not below the old
}

TEST(ScrolledRowsTest, FindsTheLowestMarkOfItsBitAndStripsBoth) {
    CHAR_INFO cells[6] = {};
    cells[1].Attributes = 0x07 | kScrollMarks[0];
    cells[3].Attributes = 0x1F | kScrollMarks[0];
    cells[4].Attributes = 0x07 | kScrollMarks[1];
    EXPECT_EQ(FindMark(cells, 6, 10, kScrollMarks[0]), 13);
    EXPECT_EQ(FindMark(cells, 6, 10, kScrollMarks[1]), 14);
    EXPECT_EQ(FindMark(cells, 3, 10, kScrollMarks[1]), -1);
    // Down the last column of rows of 3 cells: a mark in another column is not the mark.
    EXPECT_EQ(FindMark(cells + 1, 2, 10, kScrollMarks[0], 3), 10);
    EXPECT_EQ(FindMark(cells + 2, 2, 10, kScrollMarks[0], 3), -1);
    StripMark(cells, 6);
    EXPECT_EQ(cells[3].Attributes, 0x1F);
    EXPECT_EQ(FindMark(cells, 6, 0, kScrollMarks[0] | kScrollMarks[1]), -1);
}

TEST(ScrolledRowsTest, HistoryIsCappedToTheLargestBuffer) {
    EXPECT_EQ(CappedScrollbackLines(0, 24), 0);
    EXPECT_EQ(CappedScrollbackLines(2000, 24), 2000);
    EXPECT_EQ(CappedScrollbackLines(40000, 24), 32743);
    EXPECT_EQ(CappedScrollbackLines(0xFFFFFFFF, 100), 32667);
}

TEST(ScrollPlanTest, TheMarkTellsADistanceOnlyInTheGeometryItWasPutIn) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    info.dwSize = COORD{80, 1025};
    info.srWindow = kWindow;
    const ScrollView before{COORD{80, 1025}, kWindow, 1000};
    EXPECT_TRUE(SameGeometry(before, 79, info));
    EXPECT_FALSE(SameGeometry(ScrollView{COORD{80, 1025}, kWindow, -1}, 79, info));  // a clear
    // A buffer of other rows (a client of another height) keeps its cells, and the mark.
    EXPECT_TRUE(SameGeometry(ScrollView{COORD{80, 1100}, kWindow, 1000}, 79, info));
    // A buffer of other columns keeps the mark in its column while the window shows that column.
    EXPECT_TRUE(SameGeometry(ScrollView{COORD{60, 1025}, kWindow, 1000}, 59, info));
    EXPECT_FALSE(SameGeometry(ScrollView{COORD{80, 1025}, kWindow, 1025}, 79, info));
    EXPECT_FALSE(SameGeometry(before, 99, info));  // a narrower buffer dropped its column
    info.srWindow.Left = 10;
    EXPECT_FALSE(SameGeometry(before, 9, info));  // left of the window
    info.srWindow = SMALL_RECT{0, 900, 79, 924};  // a window moved up, as a user scrolls it
    EXPECT_TRUE(SameGeometry(before, 79, info));
}

TEST(ScrollPlanTest, TheReadStartsAboveTheMarkAndEndsOnTheWindowsLastRowWithinTheCap) {
    struct Case {
        const char* what;
        SMALL_RECT window;
        int guess, last_mark, lead, attempt;
        int top, rows;
    };
    const std::vector<Case> cases = {
        {"no old mark: the window", kWindow, -1, 1000, 0, 1, 1000, 25},
        {"idle: the mark where it was put", kWindow, 1000, 1000, 0, 1, 1000, 25},
        {"the rows the last pass left", kWindow, 1000, 1000, 5, 1, 995, 30},
        {"moved: 2 window heights above it", kWindow, 993, 1000, 0, 1, 943, 82},
        {"and the lead above those", kWindow, 993, 1000, 3, 1, 940, 85},
        {"twice the margin at the next attempt", kWindow, 993, 1000, 0, 2, 893, 132},
        {"never more than half a read", kWindow, 993, 1000, 0, 3, 893, 132},
        {"not above the buffer", kWindow, 30, 1000, 0, 1, 0, 200},
        {"not below the window's top", kWindow, 1010, 1010, 0, 1, 1000, 25},
        {"a window larger than a read: four heights", SMALL_RECT{0, 0, 127, 199}, -1, -1, 0, 1, 0,
         200},
        {"four heights above", SMALL_RECT{0, 1000, 199, 1080}, 100, 1000, 0, 1, 0, 324},
        {"a lead longer than a read: down to the mark", kWindow, 700, 700, 300, 1, 400, 301},
    };
    for (const Case& c : cases) {
        const ScrollRead read = PlanScrollRead(c.window, c.guess, c.last_mark, c.lead, c.attempt);
        EXPECT_EQ(read.top, c.top) << c.what;
        EXPECT_EQ(read.rows, c.rows) << c.what;
    }
}

TEST(ScrollPlanTest, AMarkThatMovedPastTheReadIsReadAgainAFewTimes) {
    EXPECT_TRUE(ReadAgain(-1, 0, 993, 943, 1));
    EXPECT_TRUE(ReadAgain(-1, 0, 993, 893, 3));
    EXPECT_FALSE(ReadAgain(-1, 0, 993, 893, 4));  // the pass repaints instead
    EXPECT_FALSE(ReadAgain(950, 0, 993, 943, 1));
    EXPECT_FALSE(ReadAgain(950, 7, 993, 943, 1));
    EXPECT_FALSE(ReadAgain(-1, 0, -1, 1000, 1));  // the search did not find it: gone
    EXPECT_FALSE(ReadAgain(-1, 0, 30, 0, 1));     // the read reached the buffer's top
    // The mark is in the read, but the rows above it still to send began above it.
    EXPECT_TRUE(ReadAgain(950, 8, 993, 943, 1));
    EXPECT_FALSE(ReadAgain(950, 8, 993, 943, 4));
}

TEST(ScrollPlanTest, ThePassEndsOnTheConsolesWindowOrRightAfterTheRowsTheReadHolds) {
    struct Case {
        const char* what;
        int found, lead;
        ScrollRead read;
        int scrolled, shown_top, unsent;
    };
    const std::vector<Case> cases = {
        {"idle", 1000, 0, {1000, 25}, 0, 1000, -1},
        {"moved up 7 rows", 993, 0, {943, 82}, 7, 1000, -1},
        {"and 3 rows left by the last pass", 993, 3, {940, 85}, 10, 1000, -1},
        {"more than a read: the window after it", 30, 0, {0, 200}, 145, 175, -1},
        {"no mark", -1, 0, {1000, 25}, 0, 1000, -1},
        {"rows to send above the read: the old mark keeps them", 945, 3, {943, 82}, 0, 1000, 3},
        {"nothing to tell from a read far above the window", -1, 0, {0, 200}, 0, 1000, -1},
        {"a long lead: the read ends above the mark, which keeps the rest",
         330,
         150,
         {120, 211},
         126,
         306,
         24},
    };
    for (const Case& c : cases) {
        const ScrollEnd end = PlanScrollEnd(c.found, c.lead, c.read, 1000, 25);
        EXPECT_EQ(end.scrolled, c.scrolled) << c.what;
        EXPECT_EQ(end.shown_top, c.shown_top) << c.what;
        EXPECT_EQ(end.unsent, c.unsent) << c.what;
    }
}

TEST(ScrollPlanTest, TheNewMarkIsTheOldOneOnItsRowOrWhereItWasPut) {
    EXPECT_EQ(PlaceMark(1000, 1000, -1, -1).row, 1000);  // not written: the old mark stays
    EXPECT_EQ(PlaceMark(1000, 1000, -1, -1).lead, 0);
    EXPECT_EQ(PlaceMark(-1, 1000, -1, -1).row, 1000);  // no old mark to measure the fall by
    EXPECT_EQ(PlaceMark(-1, 1000, -1, -1).lead, 0);
    EXPECT_EQ(PlaceMark(993, 1000, 990, 1000).row, 1000);
    EXPECT_EQ(PlaceMark(993, 1000, 990, 1000).lead, 3);
    EXPECT_EQ(PlaceMark(993, 1000, 989, 1000).lead, 4);
    EXPECT_EQ(PlaceMark(993, 1000, 990, 996).row, -1);
    EXPECT_EQ(PlaceMark(993, 1000, 990, 996).lead, 0);
    // A new mark in another column (the width changed) though nothing scrolled: on the old one's
    // row, or below it as far as the output moved on.
    EXPECT_EQ(PlaceMark(1000, 1000, 1000, 1000).row, 1000);
    EXPECT_EQ(PlaceMark(1000, 1000, 1000, 1000).lead, 0);
    EXPECT_EQ(PlaceMark(1000, 1000, 998, 1000).lead, 2);
    EXPECT_EQ(PlaceMark(1000, 1000, -1, 1000).row, -1);
}

// A console whose window a program made larger than one read takes (200 x 81 cells, over a
// buffer of 200 x 181), at its first pass and after lines scrolled: the window's rows are the
// console's, each line that left the window is sent once, and nothing is read past what the
// console returned (the AddressSanitizer build checks that).
TEST(ScrollbackPassTest, AWindowLargerThanOneReadIsReadWholeAndItsScrolledRowsKept) {
    winsim::test::Reset();
    winsim::SimProcess process;
    winsim::test::ConsoleSettings settings;
    settings.buffer = COORD{200, 181};
    settings.window = SMALL_RECT{0, 100, 199, 180};
    settings.largest_window = COORD{200, 81};
    settings.read_limit = 16384;
    winsim::test::NewConsole(process, settings);
    process.Start([&] {
        HANDLE output =
            CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        const ConsoleScreen console(output, false);
        DWORD written = 0;
        FillConsoleOutputCharacterA(output, 'z', 200, COORD{0, 180}, &written);
        SetConsoleCursorPosition(output, COORD{0, 100});
        std::string sent;
        AnsiWriter writer([](void* to, const char* bytes,
                             DWORD count) { static_cast<std::string*>(to)->append(bytes, count); },
                          &sent, Rendition([](BYTE oem) { return oem; }));
        ScreenSnapshot shown, current;
        ScrollTracker tracker;
        ScrollbackPass(console, shown, current, false, writer, tracker);
        EXPECT_EQ(current.allocated.X, 200);
        EXPECT_EQ(current.allocated.Y, 81);
        EXPECT_EQ(current.cells[200 * 80 + 199].Char.AsciiChar, 'z');
        EXPECT_EQ(current.cells[200 * 79].Char.AsciiChar, ' ');

        // 120 lines: the window's 81 rows and 39 more scroll; each of those 120 rows is sent.
        for (int n = 0; n < 120; ++n) {
            std::string line = "line " + std::to_string(n) + "\r\n";
            WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
        sent.clear();
        ScrollbackPass(console, current, shown, false, writer, tracker);
        for (int n = 0; n < 120; ++n) {
            const std::string line = "line " + std::to_string(n);
            const size_t at = sent.find(line);
            EXPECT_TRUE(at != std::string::npos && !std::isdigit(sent[at + line.size()])) << line;
        }
        EXPECT_EQ(shown.cells[200 * 79].Char.AsciiChar, 'l');
        return 0;
    });
    EXPECT_FALSE(process.Wait().crashed);
}

// With MaxWindowSize a read of more than 16,000 cells (a 200 x 50 window and the rows above it) is
// made whole, so that the rows that left the window hold together while a program goes on printing
// through the pass: each of them is sent, once and in order, in that pass and those after it.
// A console that refuses so large a read gets the pieces, from then on, and the login goes on.
TEST(ScrollbackPassTest, WholeReadsKeepAWideWindowsRowsWhileTheOutputGoesOn) {
    for (DWORD limit : {0u, 16384u}) {
        winsim::test::Reset();
        winsim::SimProcess process;
        winsim::test::ConsoleSettings settings;
        settings.buffer = COORD{200, 450};
        settings.window = SMALL_RECT{0, 400, 199, 449};
        settings.largest_window = COORD{200, 50};
        settings.read_limit = limit;
        winsim::test::NewConsole(process, settings);
        process.Start([&] {
            HANDLE output =
                CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            const ConsoleScreen console(output, false);
            SetConsoleCursorPosition(output, COORD{0, 400});
            std::string sent;
            AnsiWriter writer(
                [](void* to, const char* bytes, DWORD count) {
                    static_cast<std::string*>(to)->append(bytes, count);
                },
                &sent, Rendition([](BYTE oem) { return oem; }));
            ScreenSnapshot shown, current;
            ScrollTracker tracker;
            tracker.whole_reads = true;
            ScrollbackPass(console, shown, current, false, writer, tracker);
            DWORD written = 0;
            auto print = [&](const std::string& text) {
                const std::string line = text + "\r\n";
                WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            };
            for (int n = 0; n < 150; ++n) print("line " + std::to_string(n));
            int reads = 0;
            winsim::test::AfterConsoleRead([&] { print("more " + std::to_string(reads++)); });
            sent.clear();
            ScrollbackPass(console, current, shown, false, writer, tracker);
            winsim::test::AfterConsoleRead(nullptr);
            EXPECT_EQ(tracker.whole_reads, limit == 0);
            if (limit != 0) return 0;
            // A pass sends what its read holds; the next ones catch up.
            for (int pass = 0; pass < 4; ++pass)
                ScrollbackPass(console, pass % 2 ? current : shown, pass % 2 ? shown : current,
                               false, writer, tracker);
            size_t from = 0;
            for (int n = 0; n < 150; ++n) {
                const std::string line = "line " + std::to_string(n);
                const size_t at = sent.find(line, from);
                EXPECT_TRUE(at != std::string::npos && !std::isdigit(sent[at + line.size()]))
                    << line;
                if (at != std::string::npos) from = at;
            }
            return 0;
        });
        EXPECT_FALSE(process.Wait().crashed);
    }
}

// Whole passes over a console of 10 columns, a window of 4 rows and 20 history rows, its cursor
// at the window's top; the bytes sent go to `sent`.
class ScrollbackConsoleTest : public testing::Test {
  protected:
    void Run(const std::function<void()>& body) {
        winsim::test::Reset();
        winsim::SimProcess process;
        winsim::test::ConsoleSettings settings;
        settings.buffer = COORD{10, 24};
        settings.window = SMALL_RECT{0, 20, 9, 23};
        winsim::test::NewConsole(process, settings);
        process.Start([&] {
            output_ =
                CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            SetConsoleCursorPosition(output_, COORD{0, 20});
            body();
            return 0;
        });
        EXPECT_FALSE(process.Wait().crashed);
    }
    void Print(const std::string& text) {
        DWORD written = 0;
        WriteFile(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    PassResult Pass(bool redraw = false) {
        sent_.clear();
        shown_ = 1 - shown_;
        return ScrollbackPass(ConsoleScreen(output_, false), snapshots_[shown_],
                              snapshots_[1 - shown_], redraw, writer_, tracker_);
    }

    HANDLE output_ = nullptr;
    std::string sent_;
    AnsiWriter writer_{[](void* to, const char* bytes, DWORD count) {
                           static_cast<std::string*>(to)->append(bytes, count);
                       },
                       &sent_, Rendition([](BYTE oem) { return oem; })};
    ScreenSnapshot snapshots_[2];
    int shown_ = 0;
    ScrollTracker tracker_;
};

// The rows that left the window before the first pass (after start-up put the mark) are sent
// through the cleared terminal, before the window.
TEST_F(ScrollbackConsoleTest, TheFirstPassSendsTheRowsThatLeftTheWindowSinceTheStartUpMark) {
    Run([&] {
        ScreenSnapshot first;
        ReadScrolledScreen(ConsoleScreen(output_, false), first, tracker_);
        Print("a\r\nb\r\nc\r\nd\r\ne\r\nf\r\n");
        EXPECT_EQ(Pass(), PassResult::kSent);
        EXPECT_EQ(sent_,
                  "\033[2J\033[1;1fa\033[0K\033[2;1fb\033[0K\033[3;1fc\033[0K\033[4;1fd\033[0K"
                  "\033[4;1f\n\033[4;1fe\033[0K\n\033[4;1ff\033[0K\n\033[4;1f \033[0K\033[4;1f");
    });
}

// Rows that scroll out are sent without the mark: a blank row that carries it is a blank row,
// which a new bottom row needs nothing for; the window is the console's when nothing scrolled.
TEST_F(ScrollbackConsoleTest, ScrolledRowsGoOutWithoutTheMarkAndAnIdlePassSendsNothing) {
    Run([&] {
        Pass();
        Print("\r\n\r\n\r\n\r\nx\r\n");
        EXPECT_EQ(Pass(), PassResult::kSent);
        EXPECT_EQ(sent_, "\033[4;1f\n\033[4;1fx\033[0K\n\033[4;1f \033[0K\033[4;1f");
        EXPECT_EQ(Pass(), PassResult::kQuiet);
        EXPECT_EQ(sent_, "");
    });
}

// On a terminal taller than the window (7 rows for the window's 4), the window is shown on the
// terminal's bottom rows and the rows that left it are scrolled up from there; a terminal of
// another height repaints at the new place.  A repaint (the first pass, a new place, a redraw)
// erases the window's rows only: the rows above show rows that left the window, which the
// terminal has not yet put into its scrollback.
TEST_F(ScrollbackConsoleTest, ATallerTerminalShowsTheWindowOnItsBottomRows) {
    Run([&] {
        tracker_.terminal_rows = 7;
        Print("a\r\n");
        Pass();
        EXPECT_EQ(sent_,
                  "\033[4;1f\033[J\033[4;1fa\033[0K\033[5;1f \033[0K\033[6;1f \033[0K\033[7;1f "
                  "\033[0K\033[5;1f");
        Print("b\r\nc\r\nd\r\n");
        Pass();
        EXPECT_EQ(sent_, "\033[5;1fb\033[6;1fc\033[7;1fd\033[7;1f\n\033[7;1f \033[0K\033[7;1f");
        tracker_.terminal_rows = 6;
        Pass();
        EXPECT_EQ(sent_,
                  "\033[3;1f\033[J\033[3;1fb\033[0K\033[4;1fc\033[0K\033[5;1fd\033[0K\033[6;1f "
                  "\033[0K\033[6;1f");
        Pass(true);
        EXPECT_EQ(sent_,
                  "\033[3;1f\033[J\033[3;1fb\033[0K\033[4;1fc\033[0K\033[5;1fd\033[0K\033[6;1f "
                  "\033[0K\033[6;1f");
    });
}

// Where the window is shown and the rows a repaint erases: the window's, and those a taller window
// took before on a terminal of the same height; all of them (one erase of the whole screen) when
// the window begins on the terminal's first row.
TEST(TerminalPlaceTest, ARepaintErasesTheRowsTheWindowTakesAndTook) {
    struct Case {
        const char* what;
        int terminal_rows, rows, before_top, before_rows;
        int top, first_erased;
    };
    const std::vector<Case> cases = {
        {"as tall as the window", 24, 24, 0, 24, 0, 0},
        {"never said", 0, 24, 0, 24, 0, 0},
        {"the first pass on a taller terminal", 50, 24, 0, 0, 26, 26},
        {"a redraw", 50, 24, 26, 24, 26, 26},
        {"a terminal of other rows (its bottom rows stay)", 60, 24, 26, 24, 36, 36},
        {"a taller window before, the same terminal", 50, 24, 20, 30, 26, 20},
        {"a shorter window before", 50, 24, 30, 20, 26, 26},
        {"window and terminal of fewer rows", 44, 20, 24, 24, 24, 24},
        {"a window as tall as the terminal before", 24, 20, 0, 24, 4, 0},
    };
    for (const Case& c : cases) {
        const TerminalPlace place =
            PlaceWindow(c.terminal_rows, c.rows, TerminalPlace{c.before_top, 0}, c.before_rows);
        EXPECT_EQ(place.top, c.top) << c.what;
        EXPECT_EQ(place.first_erased, c.first_erased) << c.what;
    }
}

// A client of more rows: window sizing makes the buffer taller under the same history, and the
// rows printed since the last pass still reach the scrollback, through the cleared terminal.
TEST_F(ScrollbackConsoleTest, ARowsResizeStillSendsTheRowsThatLeftTheWindow) {
    Run([&] {
        Pass();
        Print("a\r\nb\r\nc\r\nd\r\ne\r\n");
        SMALL_RECT top{0, 0, 9, 3};
        SetConsoleWindowInfo(output_, TRUE, &top);
        SetConsoleScreenBufferSize(output_, COORD{10, 26});
        SMALL_RECT window{0, 20, 9, 25};
        SetConsoleWindowInfo(output_, TRUE, &window);
        EXPECT_EQ(Pass(), PassResult::kSent);
        EXPECT_EQ(sent_,
                  "\033[2J\033[1;1fa\033[0K\033[2;1fb\033[0K\033[3;1fc\033[0K\033[4;1fd\033[0K"
                  "\033[5;1fe\033[0K\033[6;1f \033[0K\033[6;1f\n\033[6;1f \033[0K\n\033[6;1f "
                  "\033[0K\033[4;1f");
    });
}

// A client of more columns: the buffer widens under the same history, its cells where they were,
// and the rows printed since the last pass reach the scrollback at the new width; the mark moves
// to the window's new last column.  A narrower client drops the mark's column with the cells
// beyond the new width: that pass repaints the window and sends nothing into the scrollback, and
// the next pass finds the mark it put.
TEST_F(ScrollbackConsoleTest, AColumnsResizeStillSendsTheRowsThatLeftTheWindow) {
    auto resize = [&](SHORT columns) {
        SMALL_RECT top{0, 0, 3, 3};
        SetConsoleWindowInfo(output_, TRUE, &top);
        SetConsoleScreenBufferSize(output_, COORD{columns, 24});
        SMALL_RECT window{0, 20, SHORT(columns - 1), 23};
        SetConsoleWindowInfo(output_, TRUE, &window);
    };
    Run([&] {
        Pass();
        Print("a\r\nb\r\nc\r\nd\r\ne\r\n");
        resize(14);
        EXPECT_EQ(Pass(), PassResult::kSent);
        EXPECT_EQ(sent_,
                  "\033[2J\033[1;1fa\033[0K\033[2;1fb\033[0K\033[3;1fc\033[0K\033[4;1fd\033[0K"
                  "\033[4;1f\n\033[4;1fe\033[0K\n\033[4;1f \033[0K\033[4;1f");
        Print("f\r\n");
        Pass();
        EXPECT_EQ(sent_, "\033[4;1ff\033[4;1f\n\033[4;1f \033[0K\033[4;1f");
        Print("g\r\n");
        resize(6);
        Pass();
        EXPECT_EQ(sent_,
                  "\033[2J\033[1;1fe\033[0K\033[2;1ff\033[0K\033[3;1fg\033[0K\033[4;1f "
                  "\033[0K\033[4;1f");
        Print("h\r\n");
        Pass();
        EXPECT_EQ(sent_, "\033[4;1fh\033[4;1f\n\033[4;1f \033[0K\033[4;1f");
    });
}

// The mark's write while the output goes on: whatever read of the pass the output follows, no cell
// of the mark's column keeps a colour other than its row's.
TEST_F(ScrollbackConsoleTest, TheMarkNeverStampsAnOldColourOnNewRows) {
    for (int after_read = 1; after_read < 16; ++after_read) {
        Run([&] {
            Pass();
            Print("a\r\nb\r\n");
            for (SHORT y = 0; y < 24; ++y) {
                DWORD done = 0;
                FillConsoleOutputAttribute(output_, static_cast<WORD>(0x10 * (y % 7 + 1) | 0x07),
                                           10, COORD{0, y}, &done);
            }
            int reads = 0;
            winsim::test::AfterConsoleRead([&] {
                if (++reads == after_read) Print("\r\n\r\n");
            });
            Pass();
            winsim::test::AfterConsoleRead(nullptr);
            for (SHORT y = 0; y < 24; ++y) {
                CHAR_INFO cells[2];
                SMALL_RECT region{8, y, 9, y};
                ReadConsoleOutputA(output_, cells, COORD{2, 1}, COORD{0, 0}, &region);
                EXPECT_EQ(cells[1].Attributes & 0xFF, cells[0].Attributes & 0xFF)
                    << "row " << y << ", output after read " << after_read;
            }
        });
    }
}

}  // namespace
