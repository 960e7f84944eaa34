// The command processor's command line, decided from values alone.
#pragma once

#include <string>

// The command line buffer handed to process creation: a command line must fit it with its
// terminating zero, or nothing is started.
constexpr size_t kCommandLineSize = 8192;

// The user's start-up script in the home directory (the root of the current drive when the
// account has no home directory).
std::string StartupScriptPath(const char* home_directory);

// The whole command line: the CommandProcessor setting unchanged when there is one; otherwise
// cmd.exe from the system directory, after the script when it exists, both paths in quotation
// marks.
std::string ComposeCommandProcessorLine(const char* setting, const char* system_directory,
                                        const std::string& script_path, bool script_exists);
