// Session recording: the file's name, lines and text, and whole logins recorded into the
// simulation's files, the bad roads included.
#include <gtest/gtest.h>

#include "SessionRecording.h"
#include "login_harness.h"

namespace {

// One line of a recording, read back: a JSON array of time, kind and string.
struct Line {
    double time = -1;
    std::string kind;
    std::string text;
};

// Reads a JSON string at `at` (its opening quote); false when it is none.
bool ReadJsonString(const std::string& line, size_t* at, std::string* out) {
    if (*at >= line.size() || line[*at] != '"') return false;
    for (size_t i = *at + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            *at = i + 1;
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20) return false;
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (++i >= line.size()) return false;
        switch (line[i]) {
            case 'n':
                *out += '\n';
                break;
            case 'r':
                *out += '\r';
                break;
            case 't':
                *out += '\t';
                break;
            case '"':
                *out += '"';
                break;
            case '\\':
                *out += '\\';
                break;
            case 'u': {
                if (i + 4 >= line.size() || line.compare(i + 1, 2, "00") != 0) return false;
                *out += static_cast<char>(std::stoi(line.substr(i + 3, 2), nullptr, 16));
                i += 4;
                break;
            }
            default:
                return false;
        }
    }
    return false;
}

// An event line, or a line with time -1 when it is none.
Line ParseEvent(const std::string& text) {
    Line line;
    size_t comma = text.find(", ");
    if (text.size() < 2 || text[0] != '[' || text.back() != ']' || comma == std::string::npos)
        return line;
    size_t at = comma + 2;
    std::string kind, body;
    if (!ReadJsonString(text, &at, &kind) || text.compare(at, 2, ", ") != 0) return line;
    at += 2;
    if (!ReadJsonString(text, &at, &body) || at != text.size() - 1) return line;
    line.time = std::stod(text.substr(1, comma - 1));
    line.kind = kind;
    line.text = body;
    return line;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the file ends inside a line";
    return lines;
}

TEST(RecordingTest, FileNamesTellProtocolAccountTimeAndProcessAndHoldNoBadCharacter) {
    EXPECT_EQ(UtcStamp(0), "19700101T000000Z");
    EXPECT_EQ(UtcStamp(1796830212), "20261209T153012Z");
    EXPECT_EQ(UtcStamp(1709251199), "20240229T235959Z");  // a leap day's last second
    EXPECT_EQ(UnixMicroseconds(134413038120000000ull + 12345670), 1796830212000000 + 1234567);
    EXPECT_EQ(RecordingFileName("telnet", "ann", 1796830212, 4242, 0),
              "telnet-ann-20261209T153012Z-4242.cast");
    EXPECT_EQ(RecordingFileName("rlogin", "a/b\\c:d*?\"<>|\x01", 0, 7, 2),
              "rlogin-a_b_c_d_______-19700101T000000Z-7-2.cast");
}

TEST(RecordingTest, JsonStringsEscapeQuotesBackslashesAndControlsAndKeepUtf8) {
    std::string out;
    AppendJsonString(&out, "a\"b\\c\r\n\t\x1b[0m\x7f\xc3\xa9");
    EXPECT_EQ(out, "\"a\\\"b\\\\c\\r\\n\\t\\u001b[0m\\u007f\xc3\xa9\"");
    EXPECT_EQ(RecordingHeader(WindowSize{132, 43}, 1796830212, "xterm", "telnet login of D\\ann"),
              "{\"version\": 2, \"width\": 132, \"height\": 43, \"timestamp\": 1796830212, "
              "\"env\": {\"TERM\": \"xterm\"}, \"title\": \"telnet login of D\\\\ann\"}\n");
}

TEST(RecordingTest, AFullQueueDropsEventsAndMarksWhereOnceThereIsRoomAgain) {
    RecordingQueue queue(100);
    EXPECT_TRUE(queue.Push('o', 1, "0123456789", 10));
    EXPECT_TRUE(queue.Push('o', 20001, "0123456789", 10));
    EXPECT_FALSE(queue.Push('o', 30000, std::string(40, 'x').data(), 40));
    EXPECT_FALSE(queue.Push('i', 40000, std::string(40, 'x').data(), 40));
    EXPECT_EQ(queue.TakeAll().size(), 2u);
    EXPECT_TRUE(queue.Push('o', 50000, "z", 1));
    std::vector<RecordedEvent> events = queue.TakeAll();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, 'm');
    EXPECT_EQ(events[0].microseconds, 50000);
    EXPECT_NE(events[0].bytes.find("dropped 2 events"), std::string::npos);
    EXPECT_EQ(events[1].bytes, "z");
    EXPECT_TRUE(queue.Empty());
    // Within 10 ms the client's bytes join the event before of the same kind; nothing else does.
    queue.Push('o', 0, "ab", 2);
    queue.Push('o', 9999, "c", 1);
    queue.Push('i', 9999, "x", 1);
    queue.Push('o', 9999, "d", 1);
    queue.Push('r', 9999, "1x1", 3);
    queue.Push('r', 9999, "2x2", 3);
    queue.Push('o', 19999, "e", 1);
    events = queue.TakeAll();
    std::string seen;
    for (const RecordedEvent& event : events) seen += event.kind + (":" + event.bytes) + " ";
    EXPECT_EQ(seen, "o:abc i:x o:d r:1x1 r:2x2 o:e ");
}

TEST(RecordingTest, ClientBytesBecomeTheTextTheClientShowsWithCharactersJoinedAcrossWrites) {
    std::string lines;
    RecordingFormatter utf8(true);
    utf8.Append({'o', 1500000, "a\xe2\x82"}, 437, &lines);
    utf8.Append({'o', 2000001, "\xac\xff\"\n"}, 437, &lines);
    utf8.Append({'r', 2000002, "100x30"}, 437, &lines);
    EXPECT_EQ(lines,
              "[1.500000, \"o\", \"a\"]\n"
              "[2.000001, \"o\", \"\xe2\x82\xac\xef\xbf\xbd\\\"\\n\"]\n"
              "[2.000002, \"r\", \"100x30\"]\n");
    lines.clear();
    RecordingFormatter eight_bit(false);
    eight_bit.Append({'o', 0, "\x82\x81"}, 437, &lines);  // é ü
    eight_bit.Append({'i', 1, "\x83"}, 932, &lines);      // a lead byte: waits for its trail
    eight_bit.Append({'i', 2, "\x40"}, 932, &lines);
    EXPECT_EQ(lines,
              "[0.000000, \"o\", \"\xc3\xa9\xc3\xbc\"]\n"
              "[0.000002, \"i\", \"\xe3\x82\xa1\"]\n");
}

class RecordedLoginTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        RegisterFakeCommandProcessor();
        winsim::test::AddDirectory("C:\\rec");
        SetSetting("SessionRecordingFolder", REG_SZ, winsim::test::RegSz("C:\\rec"));
    }
    void TearDown() override { winsim::test::Reset(); }

    // The one file the login made, split in lines.
    std::vector<std::string> Recording() {
        std::vector<std::string> made = winsim::test::MadeFiles();
        EXPECT_EQ(made.size(), 1u);
        if (made.size() != 1) return {};
        return SplitLines(*winsim::test::FileContents(made[0]));
    }

    // Types, resizes and ends a simple-mode login; returns what the client got.
    std::string RunLogin(const std::string& typed) {
        SimLogin login;
        login.Send("n");
        login.Send(TelnetStateMessage(30, 100));
        login.Send(typed + "\rexit\r");
        login.Wait();
        return login.Output();
    }

    // The "o" events joined, checking every line on the way; the kinds seen go to `kinds`.
    std::string JoinedOutput(const std::vector<std::string>& lines, std::string* kinds) {
        std::string joined;
        double last = 0;
        for (size_t i = 1; i < lines.size(); ++i) {
            Line line = ParseEvent(lines[i]);
            EXPECT_GE(line.time, last) << lines[i];
            last = line.time;
            *kinds += line.kind;
            if (line.kind == "o") joined += line.text;
        }
        return joined;
    }
};

TEST_F(RecordedLoginTest, ASimpleLoginIsRecordedAsTheClientSawItAndClosedAtItsEnd) {
    std::string output = RunLogin("echo caf\x82");
    std::vector<std::string> lines = Recording();
    ASSERT_GT(lines.size(), 3u);
    EXPECT_EQ(winsim::test::MadeFiles()[0].find("C:\\rec\\telnet-user-20261209T153012Z-"), 0u);
    EXPECT_EQ(
        lines[0],
        "{\"version\": 2, \"width\": 80, \"height\": 24, \"timestamp\": 1796830212, "
        "\"env\": {\"TERM\": \"vt100\"}, \"title\": \"telnet login of WORKSTATION\\\\user\"}");
    std::string kinds;
    std::string joined = JoinedOutput(lines, &kinds);
    // Code page 437's 0x82 is é.
    for (size_t at; (at = output.find('\x82')) != std::string::npos;)
        output.replace(at, 1, "\xc3\xa9");
    EXPECT_EQ(joined, output);
    EXPECT_NE(kinds.find('r'), std::string::npos);
    EXPECT_EQ(kinds.find('i'), std::string::npos);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RecordedLoginTest, AUtf8ClientsTypingIsRecordedOnlyWhenAskedFor) {
    SetSetting("Utf8Client", REG_DWORD, winsim::test::RegDword(1));
    SetSetting("SessionRecordingInput", REG_DWORD, winsim::test::RegDword(1));
    std::string output = RunLogin("echo \xc3\xa9");
    std::vector<std::string> lines = Recording();
    std::string kinds;
    EXPECT_EQ(JoinedOutput(lines, &kinds), output);
    std::string typed;
    for (size_t i = 1; i < lines.size(); ++i) {
        Line line = ParseEvent(lines[i]);
        if (line.kind == "i") typed += line.text;
        if (line.kind == "r") {
            EXPECT_EQ(line.text, "100x30");
        }
    }
    EXPECT_EQ(typed, "necho \xc3\xa9\rexit\r");
}

TEST_F(RecordedLoginTest, ANameThatExistsGetsASuffix) {
    // The console's input and output are opened first; the third file is the recording.
    winsim::test::FailCall("CreateFileA", ERROR_FILE_EXISTS, 2, 1);
    RunLogin("");
    std::vector<std::string> made = winsim::test::MadeFiles();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].substr(made[0].size() - 7), "-1.cast");
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RecordedLoginTest, AFolderThatCannotTakeTheFileIsReportedOnceAndTheLoginGoesOn) {
    for (const char* folder : {"C:\\missing", "C:\\locked"}) {
        winsim::test::Reset();
        RegisterFakeCommandProcessor();
        winsim::test::AddReadOnlyDirectory("C:\\locked");
        SetSetting("SessionRecordingFolder", REG_SZ, winsim::test::RegSz(folder));
        std::string output = RunLogin("echo hi");
        EXPECT_NE(output.find("hi\r\n"), std::string::npos);
        EXPECT_TRUE(winsim::test::MadeFiles().empty());
        std::vector<std::string> reports = Reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(
            reports[0].find(std::string("Session recording: no file could be made in ") + folder),
            0u);
    }
}

TEST_F(RecordedLoginTest, ADiskThatFillsHalfWayKeepsWholeLinesAndTheLoginGoesOn) {
    winsim::test::LimitFileSpace(400);
    SimLogin login;
    login.Send("n");
    winsim::test::Advance(100);  // the writer writes the start of the login
    login.Send("echo " + std::string(300, 'x') + "\r");
    winsim::test::Advance(100);
    login.Send("exit\r");
    login.Wait();
    std::string output = login.Output();
    EXPECT_NE(output.find("C:\\>exit"), std::string::npos) << output;  // the login went on
    std::vector<std::string> lines = Recording();
    ASSERT_GE(lines.size(), 2u);
    std::string kinds;
    std::string joined = JoinedOutput(lines, &kinds);
    EXPECT_EQ(output.compare(0, joined.size(), joined), 0);
    EXPECT_LT(joined.size(), output.size());
    std::vector<std::string> reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("stopped: write failed: 112"), std::string::npos);
}

}  // namespace
