// The service shell of the command starter.
#include "Service.h"

#include "Banner.h"
#include "RemoteCommand.h"
#include "Reporter.h"
#include "ZMATH.h"

const char kServiceName[] = "ZZZ Orvane Command Starter: %lu";

namespace {

// Written by the service thread before any control can arrive; read by both threads.
SERVICE_STATUS_HANDLE g_status_handle = nullptr;

}  // namespace

SERVICE_STATUS MakeServiceStatus(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status.dwWin32ExitCode = 0;
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 1 : 0;
    status.dwWaitHint = 500;
    return status;
}

void ReportStatus(DWORD state) {
    SERVICE_STATUS status = MakeServiceStatus(state);
    SetServiceStatus(g_status_handle, &status);
}

void WINAPI ControlHandler(DWORD control) {
    // A stop request does not interrupt the start; it is only acknowledged.
    ReportStatus(control == SERVICE_CONTROL_STOP ? SERVICE_STOP_PENDING : SERVICE_RUNNING);
}

void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
    if (argc != 7) {
        ReportError("Argc = %d", static_cast<int>(argc));
        return;
    }
    RemoteCommandArguments arguments;
    arguments.command = argv[1];
    arguments.show_window = ParseUnsigned(argv[2]);
    arguments.server_process_id = ParseUnsigned(argv[3]);
    arguments.input = ParseUnsigned(argv[4]);
    arguments.output = ParseUnsigned(argv[5]);
    arguments.error = ParseUnsigned(argv[6]);

    g_status_handle = RegisterServiceCtrlHandlerA(kServiceName, ControlHandler);
    if (g_status_handle == nullptr) {
        ReportError("RegisterServiceCtrlHandler = %lu", GetLastError());
        return;
    }
    ReportStatus(SERVICE_START_PENDING);
    StartRemoteCommand(arguments);
}

int StarterMain() {
    ShowBanner("Orvane Command Starter", "1.14", "Orvane Software, Inc.", kRightsLine, false);
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>(kServiceName), ServiceMain},
                                    {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        ReportError("StartServiceCtrlDispatcher = %lu", GetLastError());
    }
    // The global reporter is released by the run-time library's exit, after every other static
    // object.
    return 0;
}
