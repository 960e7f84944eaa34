// Starts the remote user's command: environment, command line, the server's handles, process.
#pragma once

#include "Service.h"

// Sends SERVICE_RUNNING and SERVICE_STOPPED when the command's process was created; reports any
// failure and sends SERVICE_STOPPED.  Never waits for the command.
void StartRemoteCommand(const RemoteCommandArguments& arguments);
