// The service shell of the command starter: program entry, service entry, control handler and
// status reports.
#pragma once

#include <cstdint>

#include "win32.h"

// The name in the dispatcher table and at the control handler's registration.  Its placeholder
// is never filled in: an own-process service need not match its installed name.
extern const char kServiceName[];

// What the server asked for, parsed from the service arguments.
struct RemoteCommandArguments {
    const char* command;  // first byte 0x01: run through the command processor
    uint32_t show_window;
    uint32_t server_process_id;
    uint32_t input;
    uint32_t output;
    uint32_t error;
};

// The program entry: banner, then the service dispatcher until the service has stopped.
int StarterMain();

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
void WINAPI ControlHandler(DWORD control);

// The status record sent for a state.
SERVICE_STATUS MakeServiceStatus(DWORD state);
void ReportStatus(DWORD state);
