// The value decisions of a remote command start.
#include <gtest/gtest.h>

#include "CommandLine.h"

namespace {

TEST(ComposeCommandLine, UnflaggedCommandIsTheWholeCommandLineUnchanged) {
    CommandProcessorChoice choice;
    choice.command_processor = "never.exe";
    EXPECT_EQ(ComposeCommandLine("cmd.exe /c echo hello", choice), "cmd.exe /c echo hello");
}

TEST(ComposeCommandLine, FlaggedCommandRunsThroughSettingScriptOrCmd) {
    CommandProcessorChoice choice;
    choice.system_directory = "C:\\WINNT\\system32";
    choice.script_path = "H:\\users\\ann\\remote.cmd";
    EXPECT_EQ(ComposeCommandLine("\x01"
                                 "dir /w",
                                 choice),
              "\"C:\\WINNT\\system32\\cmd.exe\" /c dir /w");
    choice.script_readable = true;
    choice.script_path = "D:\\Home Dirs\\ann\\remote.cmd";
    EXPECT_EQ(
        ComposeCommandLine("\x01"
                           "dir \"a b\"",
                           choice),
        "\"C:\\WINNT\\system32\\cmd.exe\" /c call \"D:\\Home Dirs\\ann\\remote.cmd\"&dir \"a b\"");
    choice.command_processor = "C:\\tools\\sh.exe -c";
    EXPECT_EQ(ComposeCommandLine("\x01"
                                 "ls -l",
                                 choice),
              "C:\\tools\\sh.exe -c ls -l");
}

TEST(ComposeCommandLine, LongCommandsAreComposedWhole) {
    CommandProcessorChoice choice;
    choice.system_directory = "C:\\windows\\system32";
    std::string command(5000, 'x');
    std::string line = ComposeCommandLine(("\x01" + command).c_str(), choice);
    EXPECT_EQ(line.size(), std::string("\"C:\\windows\\system32\\cmd.exe\" /c ").size() + 5000);
    EXPECT_EQ(line.substr(line.size() - 5000), command);
}

TEST(RemoteScriptPath, FollowsTheHomeDirectoryOrTheCurrentDrivesRoot) {
    EXPECT_EQ(RemoteScriptPath("H:\\users\\ann"), "H:\\users\\ann\\remote.cmd");
    EXPECT_EQ(RemoteScriptPath(""), "\\remote.cmd");
}

TEST(SplitHomeDirectory, DriveLetterHomesGiveDriveAndPathOthersOnlyPath) {
    HomeLocation drive = SplitHomeDirectory("H:\\users\\ann");
    EXPECT_EQ(drive.drive, "H:");
    EXPECT_EQ(drive.path, "\\users\\ann");
    EXPECT_TRUE(drive.on_drive);

    HomeLocation network = SplitHomeDirectory("\\\\server\\homes\\ann");
    EXPECT_EQ(network.drive, "");
    EXPECT_EQ(network.path, "\\\\server\\homes\\ann");
    EXPECT_FALSE(network.on_drive);

    HomeLocation none = SplitHomeDirectory("");
    EXPECT_EQ(none.drive, "");
    EXPECT_EQ(none.path, "");
    EXPECT_FALSE(none.on_drive);

    HomeLocation bare = SplitHomeDirectory("H:");
    EXPECT_EQ(bare.drive, "H:");
    EXPECT_EQ(bare.path, "");
}

TEST(PlanHandles, AbsentValuesDecideWhatIsMoved) {
    EXPECT_EQ(PlanHandles(kNoHandle, kNoHandle, kNoHandle), HandlePlan::kNone);
    EXPECT_EQ(PlanHandles(8, 12, 16), HandlePlan::kAllThree);
    EXPECT_EQ(PlanHandles(8, 12, kNoHandle), HandlePlan::kErrorFromOutput);
    EXPECT_EQ(PlanHandles(kNoHandle, 12, 16), HandlePlan::kInvalid);
    EXPECT_EQ(PlanHandles(8, kNoHandle, 16), HandlePlan::kInvalid);
    EXPECT_EQ(PlanHandles(8, kNoHandle, kNoHandle), HandlePlan::kInvalid);
}

}  // namespace
