// The decisions of a remote command start that depend on values alone.
#include "CommandLine.h"

std::string ComposeCommandLine(const char* command_argument, const CommandProcessorChoice& choice) {
    if (command_argument[0] != kCommandProcessorFlag) return command_argument;
    const char* command = command_argument + 1;
    if (choice.command_processor != nullptr) {
        return std::string(choice.command_processor) + " " + command;
    }
    // The paths are quoted so that a space in them does not cut them; the command stays as the
    // client sent it.
    const std::string program = "\"" + choice.system_directory + "\\cmd.exe\"";
    if (choice.script_readable) {
        return program + " /c call \"" + choice.script_path + "\"&" + command;
    }
    return program + " /c " + command;
}

std::string RemoteScriptPath(const char* home_directory) {
    return std::string(home_directory) + "\\remote.cmd";
}

HomeLocation SplitHomeDirectory(const char* home_directory) {
    if (home_directory[0] != '\0' && home_directory[1] == ':') {
        return {std::string(home_directory, 2), home_directory + 2, true};
    }
    return {"", home_directory, false};
}

HandlePlan PlanHandles(uint32_t input, uint32_t output, uint32_t error) {
    if (input == kNoHandle && output == kNoHandle && error == kNoHandle) return HandlePlan::kNone;
    if (input == kNoHandle || output == kNoHandle) return HandlePlan::kInvalid;
    return error == kNoHandle ? HandlePlan::kErrorFromOutput : HandlePlan::kAllThree;
}
