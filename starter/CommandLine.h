// The decisions of a remote command start that depend on values alone: the command line, the
// home directory's drive and path, and which of the server's handles are given.
#pragma once

#include <cstdint>
#include <string>

// The command line buffer of a command run through the command processor: the composed line
// must fit it with its terminating zero, or nothing is started.
constexpr size_t kCommandLineSize = 8192;

// First byte of a command argument that asks for the command processor.
constexpr char kCommandProcessorFlag = '\x01';

// How a flagged command is run.
struct CommandProcessorChoice {
    const char* command_processor = nullptr;  // the CommandProcessor setting, when present
    std::string system_directory;             // used without a setting
    std::string script_path;                  // home directory + "\remote.cmd"
    bool script_readable = false;
};

// The whole command line for a command argument: unflagged, the argument itself; flagged, the
// command after the flag run through the setting, or through cmd.exe after remote.cmd when
// that can be read, or through cmd.exe alone (cmd.exe and remote.cmd in quotation marks).
std::string ComposeCommandLine(const char* command_argument, const CommandProcessorChoice& choice);

// "\remote.cmd" after the home directory (the root of the current drive when it is empty).
std::string RemoteScriptPath(const char* home_directory);

// HOMEDRIVE and HOMEPATH from a home directory.
struct HomeLocation {
    std::string drive;  // "H:" for a home directory with a drive letter, else empty
    std::string path;   // the rest after the drive, or the whole home directory
    bool on_drive;      // the home directory can be made the current directory
};
HomeLocation SplitHomeDirectory(const char* home_directory);

// The server's handle values: 0xFFFFFFFF gives no handle.
constexpr uint32_t kNoHandle = 0xFFFFFFFFu;
enum class HandlePlan {
    kNone,             // all three absent: the command gets its new console's handles
    kAllThree,         // input, output and error moved from the server
    kErrorFromOutput,  // input and output moved; error is a second handle to the output
    kInvalid,          // input or output absent while another handle is given
};
HandlePlan PlanHandles(uint32_t input, uint32_t output, uint32_t error);
