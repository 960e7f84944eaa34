// The message reporter: destinations, levels, the formatter's cut, and the assertion check.
#include <gtest/gtest.h>

#include <string>

#include "Reporter.h"
#include "winsim/control.h"

namespace {

using winsim::test::EventLog;

class ReporterTest : public testing::Test {
  protected:
    void SetUp() override {
        winsim::test::Reset();
        saved_error_ = GetStdHandle(STD_ERROR_HANDLE);
        SetStdHandle(STD_ERROR_HANDLE, stderr_.handle());
    }
    void TearDown() override { SetStdHandle(STD_ERROR_HANDLE, saved_error_); }

    winsim::test::Sink stderr_ = winsim::test::MakeSink();
    HANDLE saved_error_ = nullptr;
};

TEST_F(ReporterTest, EventLogDestinationWritesEachLevelAsOneEventAndNothingToStandardError) {
    {
        MessageReporter reporter("Orvane Command Starter", true);
        reporter.Warning("Unable to set terminal type: %lu", static_cast<DWORD>(87));
        reporter.Error("Couldn't find system directory: %lu", static_cast<DWORD>(5));
    }
    auto log = EventLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].source, "Orvane Command Starter");
    EXPECT_EQ(log[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(log[0].id, 0x40001999u);
    EXPECT_EQ(log[0].category, 0);
    EXPECT_EQ(log[0].strings, std::vector<std::string>{"Unable to set terminal type: 87"});
    EXPECT_EQ(log[1].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(log[1].strings, std::vector<std::string>{"Couldn't find system directory: 5"});
    EXPECT_EQ(stderr_.Text(), "");
}

TEST_F(ReporterTest, StandardErrorDestinationWritesPrefixAndTextWithoutLineEnd) {
    MessageReporter reporter("Orvane Command Starter", false);
    reporter.Error("Couldn't find system directory: %lu", static_cast<DWORD>(5));
    reporter.Warning("%s=%d", "n", -3);
    EXPECT_EQ(stderr_.Text(), "ERROR: Couldn't find system directory: 5WARNING: n=-3");
    EXPECT_TRUE(EventLog().empty());
}

TEST_F(ReporterTest, StandardErrorIsLookedUpAtEachReport) {
    MessageReporter reporter("x", false);
    auto later = winsim::test::MakeSink();
    SetStdHandle(STD_ERROR_HANDLE, later.handle());
    reporter.Error("moved");
    EXPECT_EQ(stderr_.Text(), "");
    EXPECT_EQ(later.Text(), "ERROR: moved");
}

TEST_F(ReporterTest, LongMessagesAreCutTo1023Characters) {
    MessageReporter reporter("x", false);
    std::string text(3000, 'a');
    reporter.Error("%s", text.c_str());
    EXPECT_EQ(stderr_.Text(), "ERROR: " + std::string(1023, 'a'));
}

TEST_F(ReporterTest, SourceIsRegisteredOnceAndDeregisteredOnDestruction) {
    auto before = winsim::test::RegisteredSources().size();
    {
        MessageReporter reporter("Orvane Command Translator", true);
        EXPECT_EQ(winsim::test::RegisteredSources().size(), before + 1);
    }
    EXPECT_EQ(winsim::test::RegisteredSources().size(), before);
    {
        MessageReporter reporter("to standard error", false);
        EXPECT_EQ(winsim::test::RegisteredSources().size(), before);
    }
}

TEST_F(ReporterTest, FailedRegistrationDropsReportsSilently) {
    winsim::test::FailCall("RegisterEventSourceA", ERROR_ACCESS_DENIED);
    MessageReporter reporter("x", true);
    reporter.Error("lost");
    EXPECT_TRUE(EventLog().empty());
    EXPECT_EQ(stderr_.Text(), "");
}

TEST_F(ReporterTest, GlobalReporterReportsToTheEventLogUnderTheProgramsName) {
    ASSERT_NE(GlobalReporter(), nullptr);
    ReportWarning("w %d", 1);
    ReportError("e %s", "two");
    auto log = EventLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].source, "Test Program");
    EXPECT_EQ(log[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(log[1].strings[0], "e two");
}

TEST_F(ReporterTest, FatalErrorEndsTheProcessWithExitCodeOneAndReportsAsError) {
    bool returned = false;
    auto status = winsim::RunProcess([&] {
        ReportFatal("Bad protocol type specified: %s", "ssh");
        returned = true;
        return 0;
    });
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(status.code, 1u);
    EXPECT_FALSE(returned);
    auto log = EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(log[0].strings[0], "Bad protocol type specified: ssh");
}

TEST_F(ReporterTest, FatalErrorOnStandardErrorHasItsPrefix) {
    winsim::SimProcess process;
    auto sink = winsim::test::MakeSink(&process);
    process.SetStdHandle(STD_ERROR_HANDLE, sink.handle());
    process.Start([] {
        MessageReporter reporter("x", false);
        reporter.FatalError("gone");
        return 0;
    });
    EXPECT_EQ(process.Wait().code, 1u);
    EXPECT_EQ(sink.Text(), "FATAL ERROR: gone");
}

TEST_F(ReporterTest, FailedAssertionReportsAtErrorLevelThenCrashesWithAccessViolation) {
    int line = 0;
    auto status = winsim::RunProcess([&] {
        SetLastError(1234);
        line = __LINE__ + 1;
        ZASSERT(1 + 1 == 3);
        return 0;
    });
    EXPECT_TRUE(status.crashed);
    EXPECT_EQ(status.code, EXCEPTION_ACCESS_VIOLATION);
    auto log = EventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(log[0].strings[0], "Assertion failed in file: reporter_test.cpp at line " +
                                     std::to_string(line) + ", Last error= 1234\n");
}

TEST_F(ReporterTest, AReportLeavesTheLastErrorAsItFoundIt) {
    // Both destinations failing: no event source, and a standard error that is no handle.
    winsim::test::FailCall("RegisterEventSourceA", ERROR_ACCESS_DENIED);
    MessageReporter to_log("x", true);
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
    MessageReporter to_stderr("x", false);
    for (MessageReporter* reporter : {&to_log, &to_stderr}) {
        SetLastError(1234);
        reporter->Error("first");
        EXPECT_EQ(GetLastError(), 1234u);
        reporter->Warning("second");
        EXPECT_EQ(GetLastError(), 1234u);
    }
}

TEST_F(ReporterTest, PassingAssertionDoesNothing) {
    auto status = winsim::RunProcess([] {
        ZASSERT(true);
        return 7;
    });
    EXPECT_FALSE(status.crashed);
    EXPECT_EQ(status.code, 7u);
    EXPECT_TRUE(EventLog().empty());
}

}  // namespace
