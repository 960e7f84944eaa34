// The loopback telnet and rlogin hosts: stand in for the servers on this machine so that a real
// client can log in to the translator.  Built twice, once per protocol (HOST_PROTOCOL).  Each
// accepted connection gets a thread here and a login-console helper process, which makes a
// console of its own and starts the translator in it on three pipes that this program made; the
// thread relays between the connection and those pipes.
//
// The pipes and sockets here are never inheritable and the helper inherits nothing: it takes its
// three pipe ends out of this process with DuplicateHandle after it has made its console, so
// neither the helper's console host nor another login's helper ever holds them, and each pipe
// ends as soon as the translator lets go of it.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "login_protocol.h"
#include "tool_helpers.h"

#ifndef HOST_PROTOCOL
#error HOST_PROTOCOL must be "telnet" or "rlogin"
#endif

namespace {

const bool kTelnet = std::strcmp(HOST_PROTOCOL, "telnet") == 0;

const char kUsage[] =
    "usage: " HOST_PROTOCOL
    "-host [--port PORT] [--bind 127.0.0.1] [--translator PATH] [--helper PATH]\n"
    "\n"
    "A loopback " HOST_PROTOCOL
    " host for trying and testing the command translator on this machine.\n"
    "It accepts connections on 127.0.0.1 only and refuses any other address.  There is NO\n"
    "authentication: whoever can connect gets a command processor running as the Wine user\n"
    "(the user who runs this program).  Every connection gets a console of its own with the\n"
    "translator in it; the login ends when the command processor exits or the client goes.\n"
    "\n"
    "  --port PORT         the TCP port (default " HOST_DEFAULT_PORT
    ")\n"
    "  --bind ADDRESS      only 127.0.0.1 (or localhost) is accepted\n"
    "  --translator PATH   the translator (default: command-translator.exe beside this\n"
    "                      program, else ..\\..\\translator\\command-translator.exe from it)\n"
    "  --helper PATH       the per-login helper (default: login-console.exe beside this\n"
    "                      program)\n"
    "\n"
    "It prints one line with \"listening\" once it accepts connections, then a line per login\n"
    "started and ended, and runs until it is ended.\n";

// How long a telnet client gets to tell its terminal type and window size, and an rlogin client
// to send its start-up strings.
const DWORD kNegotiationLimit = 3000;
const DWORD kStartupLimit = 10000;
// How long the helper gets to take over its pipe ends, and to end after the translator.
const DWORD kHelperStartLimit = 15000;
const DWORD kHelperEndLimit = 15000;

HANDLE g_stdout;
CRITICAL_SECTION g_say_lock;

void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string line = tools::FormatV(format, arguments) + "\n";
    va_end(arguments);
    EnterCriticalSection(&g_say_lock);
    tools::WriteAll(g_stdout, line);
    LeaveCriticalSection(&g_say_lock);
}

struct Options {
    unsigned long port = std::strtoul(HOST_DEFAULT_PORT, nullptr, 10);
    std::string translator;
    std::string helper;
};

std::string ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (i + 1 >= argc) return word + " needs a value";
        std::string value = argv[++i];
        if (word == "--port") {
            if (!tools::ParseNumber(value, 65535, &options->port) || options->port == 0) {
                return "--port needs a number from 1 to 65535";
            }
        } else if (word == "--bind") {
            if (value != "127.0.0.1" && value != "localhost") {
                return "refusing to listen on " + value +
                       ": this host has no authentication, "
                       "so it accepts connections on 127.0.0.1 only";
            }
        } else if (word == "--translator") {
            options->translator = value;
        } else if (word == "--helper") {
            options->helper = value;
        } else {
            return "unknown option " + word;
        }
    }
    if (options->translator.empty()) {
        options->translator = tools::SiblingProgram("command-translator.exe", "translator");
    }
    if (options->helper.empty()) options->helper = tools::ProgramFolder() + "login-console.exe";
    if (!tools::FileExists(options->translator)) return "no translator at " + options->translator;
    if (!tools::FileExists(options->helper)) return "no helper at " + options->helper;
    return "";
}

Options g_options;
CRITICAL_SECTION g_count_lock;
unsigned long g_next_login = 1;
unsigned long g_running = 0;

// Sends everything; false once the connection is gone.
bool SendAll(SOCKET socket, const char* data, size_t size, int flags = 0) {
    while (size > 0) {
        int sent = send(socket, data, static_cast<int>(size), flags);
        if (sent <= 0) return false;
        data += sent;
        size -= sent;
    }
    return true;
}

// Waits at most limit ms for the socket to be readable; 1 readable, 0 not yet, -1 failure.
int Readable(SOCKET socket, DWORD limit) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait = {static_cast<long>(limit / 1000), static_cast<long>(limit % 1000 * 1000)};
    int ready = select(0, &readable, nullptr, nullptr, &wait);
    return ready < 0 ? -1 : ready;
}

class Login {
  public:
    Login(SOCKET socket, unsigned long number) : socket_(socket), number_(number) {}

    void Run() {
        std::string data;
        std::string terminal_type;
        if (!(kTelnet ? NegotiateTelnet(&data, &terminal_type)
                      : ReadRloginStartup(&data, &terminal_type))) {
            Close();
            return;
        }
        if (!StartHelper(terminal_type)) {
            const char text[] = "\r\nThe login could not be started.\r\n";
            SendAll(socket_, text, sizeof text - 1);
            Close();
            return;
        }
        HANDLE output_thread = CreateThread(nullptr, 0, OutputThread, this, 0, nullptr);
        HANDLE control_thread = CreateThread(nullptr, 0, ControlThread, this, 0, nullptr);
        if (output_thread == nullptr || control_thread == nullptr) {
            Say("login %lu: CreateThread failed: %lu", number_, GetLastError());
        }
        bool client_left = false;
        if (tools::WriteAll(input_, data)) client_left = RelayInput();
        // Without its socket input the translator ends its command processor and itself.
        CloseHandle(input_);
        input_ = nullptr;
        if (output_thread != nullptr) WaitForSingleObject(output_thread, INFINITE);
        if (control_thread != nullptr) WaitForSingleObject(control_thread, INFINITE);
        DWORD status = 0;
        if (WaitForSingleObject(helper_, kHelperEndLimit) != WAIT_OBJECT_0) {
            Say("login %lu: the helper did not end; ending it", number_);
            TerminateProcess(helper_, 1);
            WaitForSingleObject(helper_, 2000);
        }
        GetExitCodeProcess(helper_, &status);
        CloseHandle(helper_);
        CloseHandle(output_);
        CloseHandle(control_);
        if (output_thread != nullptr) CloseHandle(output_thread);
        if (control_thread != nullptr) CloseHandle(control_thread);
        Close();
        Say("login %lu ended (%s), translator status %lu", number_,
            client_left ? "the client left" : "the command processor exited", status);
    }

  private:
    // Waits for the client's answers to the greeting; the data typed meanwhile is kept for the
    // translator.
    bool NegotiateTelnet(std::string* data, std::string* terminal_type) {
        std::string greeting = hosts::TelnetGreeting();
        if (!SendAll(socket_, greeting.data(), greeting.size())) return false;
        DWORD began = GetTickCount();
        while (!telnet_.Settled()) {
            DWORD waited = GetTickCount() - began;
            if (waited >= kNegotiationLimit) break;
            int ready = Readable(socket_, kNegotiationLimit - waited);
            if (ready < 0) return false;
            if (ready == 0) break;
            char buffer[512];
            int got = recv(socket_, buffer, sizeof buffer, 0);
            if (got <= 0) return false;
            std::string reply;
            telnet_.Feed(buffer, got, data, &reply);
            if (!reply.empty() && !SendAll(socket_, reply.data(), reply.size())) return false;
        }
        *terminal_type = hosts::CleanTerminalType(telnet_.terminal_type());
        Say("login %lu: telnet, terminal type \"%s\" (sent \"%s\"), window %ux%u", number_,
            terminal_type->c_str(), telnet_.terminal_type().c_str(), telnet_.columns(),
            telnet_.rows());
        return true;
    }

    bool ReadRloginStartup(std::string* data, std::string* terminal_type) {
        hosts::RloginStartup startup;
        DWORD began = GetTickCount();
        for (;;) {
            DWORD waited = GetTickCount() - began;
            int ready = waited >= kStartupLimit ? 0 : Readable(socket_, kStartupLimit - waited);
            if (ready <= 0) {
                Say("login %lu: no rlogin start-up from the client", number_);
                return false;
            }
            char buffer[512];
            int got = recv(socket_, buffer, sizeof buffer, 0);
            if (got <= 0) return false;
            hosts::RloginStartup::Status status = startup.Feed(buffer, got, data);
            if (status == hosts::RloginStartup::Status::kBad) {
                Say("login %lu: not an rlogin start-up", number_);
                return false;
            }
            if (status == hosts::RloginStartup::Status::kDone) break;
        }
        *terminal_type = hosts::CleanTerminalType(startup.terminal_type());
        Say("login %lu: rlogin, user \"%s\" as \"%s\", terminal type \"%s\"", number_,
            startup.client_user().c_str(), startup.server_user().c_str(), terminal_type->c_str());
        return SendAll(socket_, "", 1);
    }

    // Makes the three pipes and starts the helper, which takes the translator's ends out of this
    // process and says so through a named event; only then are this process's copies closed.
    bool StartHelper(const std::string& terminal_type) {
        HANDLE child_input = nullptr;
        HANDLE child_output = nullptr;
        HANDLE child_control = nullptr;
        if (!CreatePipe(&child_input, &input_, nullptr, 0) ||
            !CreatePipe(&output_, &child_output, nullptr, 0) ||
            !CreatePipe(&control_, &child_control, nullptr, 0)) {
            Say("login %lu: CreatePipe failed: %lu", number_, GetLastError());
            return false;
        }
        char event_name[96];
        std::snprintf(event_name, sizeof event_name, "Local\\loopback-%s-%lu-%lu", HOST_PROTOCOL,
                      GetCurrentProcessId(), number_);
        HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, event_name);
        char handles[160];
        std::snprintf(handles, sizeof handles, " %lu %llu %llu %llu %s ", GetCurrentProcessId(),
                      static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(child_input)),
                      static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(child_output)),
                      static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(child_control)),
                      event_name);
        std::string command_line = "\"" + g_options.helper + "\"" + handles + "\"" +
                                   g_options.translator + "\" " HOST_PROTOCOL " " + terminal_type;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        bool ok = taken != nullptr &&
                  CreateProcessA(nullptr, &command_line[0], nullptr, nullptr, FALSE,
                                 DETACHED_PROCESS, nullptr, nullptr, &startup, &process);
        if (!ok) {
            Say("login %lu: starting the helper failed: %lu", number_, GetLastError());
        } else {
            CloseHandle(process.hThread);
            helper_ = process.hProcess;
            HANDLE waits[2] = {taken, helper_};
            DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kHelperStartLimit);
            if (woke != WAIT_OBJECT_0) {
                DWORD status = 0;
                GetExitCodeProcess(helper_, &status);
                Say("login %lu: the helper did not start the translator (status %lu)", number_,
                    status);
                TerminateProcess(helper_, 1);
                CloseHandle(helper_);
                helper_ = nullptr;
                ok = false;
            } else {
                Say("login %lu: helper process %lu", number_, process.dwProcessId);
            }
        }
        if (taken != nullptr) CloseHandle(taken);
        CloseHandle(child_input);
        CloseHandle(child_output);
        CloseHandle(child_control);
        if (!ok) {
            CloseHandle(input_);
            CloseHandle(output_);
            CloseHandle(control_);
            input_ = output_ = control_ = nullptr;
        }
        return ok;
    }

    // Client bytes to the socket input until the client goes (true) or the translator has
    // ended (false).
    bool RelayInput() {
        for (;;) {
            if (WaitForSingleObject(helper_, 0) == WAIT_OBJECT_0 || ended_) return false;
            int ready = Readable(socket_, 200);
            if (ready < 0) return true;
            if (ready == 0) continue;
            char buffer[4096];
            int got = recv(socket_, buffer, sizeof buffer, 0);
            if (got <= 0) return true;
            std::string data;
            std::string reply;
            if (kTelnet) {
                telnet_.Feed(buffer, got, &data, &reply);
                if (!reply.empty()) SendAll(socket_, reply.data(), reply.size());
            } else {
                data.assign(buffer, got);
            }
            if (!tools::WriteAll(input_, data)) return false;
        }
    }

    // The translator's socket output to the client; its end is the end of the translator.
    static DWORD WINAPI OutputThread(void* parameter) {
        Login* login = static_cast<Login*>(parameter);
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(login->output_, buffer, sizeof buffer, &got, nullptr)) {
            if (got == 0) continue;
            std::string bytes =
                kTelnet ? hosts::TelnetEscapeOutput(buffer, got) : std::string(buffer, got);
            if (!SendAll(login->socket_, bytes.data(), bytes.size())) break;
        }
        login->ended_ = true;
        return 0;
    }

    // The control channel: in rlogin logins each byte goes to the client as urgent data, alone,
    // so that the client sees every one at its own mark.
    static DWORD WINAPI ControlThread(void* parameter) {
        Login* login = static_cast<Login*>(parameter);
        char buffer[64];
        DWORD got = 0;
        while (ReadFile(login->control_, buffer, sizeof buffer, &got, nullptr)) {
            for (DWORD i = 0; i < got && !kTelnet; ++i) {
                if (i > 0) Sleep(50);
                SendAll(login->socket_, buffer + i, 1, MSG_OOB);
            }
        }
        return 0;
    }

    // Ends the connection in order: what was sent still reaches the client before the end.
    void Close() {
        shutdown(socket_, SD_SEND);
        char buffer[512];
        DWORD began = GetTickCount();
        while (GetTickCount() - began < 1000 && Readable(socket_, 100) > 0 &&
               recv(socket_, buffer, sizeof buffer, 0) > 0) {
        }
        closesocket(socket_);
    }

    SOCKET socket_;
    unsigned long number_;
    hosts::TelnetInput telnet_;
    HANDLE helper_ = nullptr;
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    HANDLE control_ = nullptr;
    volatile bool ended_ = false;
};

DWORD WINAPI LoginThread(void* parameter) {
    Login* login = static_cast<Login*>(parameter);
    login->Run();
    delete login;
    EnterCriticalSection(&g_count_lock);
    --g_running;
    LeaveCriticalSection(&g_count_lock);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
    InitializeCriticalSection(&g_say_lock);
    InitializeCriticalSection(&g_count_lock);
    if (argc > 1 && tools::AsksForHelp(argv[1])) {
        Say("%s", kUsage);
        return 0;
    }
    std::string problem = ParseOptions(argc, argv, &g_options);
    if (!problem.empty()) {
        Say(HOST_PROTOCOL "-host: %s\n\n%s", problem.c_str(), kUsage);
        return 2;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        Say(HOST_PROTOCOL "-host: WSAStartup failed");
        return 1;
    }
    SOCKET listener = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                 WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (listener == INVALID_SOCKET) {
        Say(HOST_PROTOCOL "-host: socket failed: %d", WSAGetLastError());
        return 1;
    }
    // A port left in TIME_WAIT by an earlier run can be taken again at once.
    BOOL reuse = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
               sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(g_options.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 32) != 0) {
        Say(HOST_PROTOCOL "-host: cannot listen on 127.0.0.1:%lu: %d", g_options.port,
            WSAGetLastError());
        return 1;
    }
    Say(HOST_PROTOCOL "-host listening on 127.0.0.1:%lu", g_options.port);
    for (;;) {
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            Say(HOST_PROTOCOL "-host: accept failed: %d", WSAGetLastError());
            Sleep(100);
            continue;
        }
        SetHandleInformation(reinterpret_cast<HANDLE>(client), HANDLE_FLAG_INHERIT, 0);
        EnterCriticalSection(&g_count_lock);
        unsigned long number = g_next_login++;
        ++g_running;
        unsigned long running = g_running;
        LeaveCriticalSection(&g_count_lock);
        Say("login %lu: connected (%lu running)", number, running);
        HANDLE thread =
            CreateThread(nullptr, 0, LoginThread, new Login(client, number), 0, nullptr);
        if (thread == nullptr) {
            Say("login %lu: CreateThread failed: %lu", number, GetLastError());
            closesocket(client);
            continue;
        }
        CloseHandle(thread);
    }
}
