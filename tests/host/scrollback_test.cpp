// Scrollback: where a pass reads, what it finds there, how many rows it sends and where it leaves
// the mark, as tables; the mark's bits and the history's cap.
#include <gtest/gtest.h>

#include <vector>

#include "Scrollback.h"

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
    EXPECT_FALSE(SameGeometry(ScrollView{COORD{80, 1100}, kWindow, 1000}, 79, info));
    EXPECT_FALSE(SameGeometry(ScrollView{COORD{80, 1025}, kWindow, 1025}, 79, info));
    EXPECT_FALSE(SameGeometry(before, 99, info));  // the window's right edge moved
    info.srWindow = SMALL_RECT{0, 900, 79, 924};   // a window moved up, as a user scrolls it
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
        {"a window larger than a read", SMALL_RECT{0, 0, 127, 199}, -1, -1, 0, 1, 0, 125},
    };
    for (const Case& c : cases) {
        const ScrollRead read = PlanScrollRead(c.window, c.guess, c.last_mark, c.lead, c.attempt);
        EXPECT_EQ(read.top, c.top) << c.what;
        EXPECT_EQ(read.rows, c.rows) << c.what;
    }
}

TEST(ScrollPlanTest, AMarkThatMovedPastTheReadIsReadAgainAFewTimes) {
    EXPECT_TRUE(ReadAgain(-1, 993, 943, 1));
    EXPECT_TRUE(ReadAgain(-1, 993, 893, 3));
    EXPECT_FALSE(ReadAgain(-1, 993, 893, 4));  // the pass repaints instead
    EXPECT_FALSE(ReadAgain(950, 993, 943, 1));
    EXPECT_FALSE(ReadAgain(-1, -1, 1000, 1));  // the search did not find it: gone
    EXPECT_FALSE(ReadAgain(-1, 30, 0, 1));     // the read reached the buffer's top
}

TEST(ScrollPlanTest, ThePassEndsOnTheConsolesWindowOrRightAfterTheRowsTheReadHolds) {
    struct Case {
        const char* what;
        int found, lead;
        ScrollRead read;
        int scrolled, shown_top;
    };
    const std::vector<Case> cases = {
        {"idle", 1000, 0, {1000, 25}, 0, 1000},
        {"moved up 7 rows", 993, 0, {943, 82}, 7, 1000},
        {"and 3 rows left by the last pass", 993, 3, {940, 85}, 10, 1000},
        {"more than a read: the window after it", 30, 0, {0, 200}, 145, 175},
        {"no mark", -1, 0, {1000, 25}, 0, 1000},
        {"rows to send above the read", 945, 3, {943, 82}, 0, 1000},
    };
    for (const Case& c : cases) {
        const ScrollEnd end = PlanScrollEnd(c.found, c.lead, c.read, 1000, 25);
        EXPECT_EQ(end.scrolled, c.scrolled) << c.what;
        EXPECT_EQ(end.shown_top, c.shown_top) << c.what;
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
}

}  // namespace
