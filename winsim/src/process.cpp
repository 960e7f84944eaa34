// Process creation, handle duplication, environment, directories, files and the service control
// manager of the simulated Win32.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "internal.h"

namespace winsim {

// What the service control manager knows of a service process.
struct ServiceState {
    std::string service_name;
    std::vector<std::string> arguments;
    bool connected = false;
    bool service_returned = false;
    LPHANDLER_FUNCTION handler = nullptr;
    std::string handler_name;
    std::vector<SERVICE_STATUS> statuses;
    std::vector<DWORD> pending_controls;
    int controls_handled = 0;
    std::function<void(const SERVICE_STATUS&)> hook;
};

namespace {

using detail::KernelLock;

// An absolute path from a path that may be relative to the process's current directory, without
// a trailing backslash except at a drive's root.
std::string Absolute(const std::string& path, const std::string& current) {
    std::string result;
    if (path.size() >= 2 && path[1] == ':') {
        result = path;
    } else if (path.rfind("\\\\", 0) == 0) {
        result = path;
    } else if (!path.empty() && path[0] == '\\') {
        result = current.substr(0, 2) + path;
    } else {
        result = current + (current.back() == '\\' ? "" : "\\") + path;
    }
    if (result.size() == 2 && result[1] == ':') result += '\\';
    while (result.size() > 3 && result.back() == '\\') result.pop_back();
    return result;
}

struct Files {
    std::set<std::string, detail::NoCaseLess> directories;
    std::set<std::string, detail::NoCaseLess> files;
    std::map<std::string, test::Program, detail::NoCaseLess> programs;
    std::vector<test::CreatedProcess> created;
    std::vector<std::shared_ptr<Process>> children;
    std::map<int, std::string> open_files;
    int next_file = 3;
    // Files made by CreateFileA, their bytes, and the room left on the disk.
    std::set<std::string, detail::NoCaseLess> read_only_directories;
    std::map<std::string, std::shared_ptr<std::string>, detail::NoCaseLess> made;
    std::vector<std::string> made_order;
    uint64_t space_left = UINT64_MAX;
};

Files& Fs() {
    static auto* files = new Files;
    return *files;
}

bool DirectoryExists(const std::string& absolute) {
    using detail::SameText;
    return SameText(absolute, "C:\\") || SameText(absolute, "C:\\windows") ||
           SameText(absolute, "C:\\windows\\system32") || Fs().directories.count(absolute) != 0;
}

// A handle to a file made by CreateFileA: writes go at its pointer, within the disk's room.
struct FileObject : Object {
    std::shared_ptr<std::string> bytes;
    size_t position = 0;

    BOOL Write(std::unique_lock<std::mutex>&, const void* data, DWORD length, DWORD* done) override;
};

auto FindVariable(Process& process, const std::string& name) {
    return std::find_if(process.environment.begin(), process.environment.end(),
                        [&](const auto& entry) { return detail::SameText(entry.first, name); });
}

// The process a handle of the current process names; the pseudo handle names the caller.
std::shared_ptr<Process> ProcessFromHandle(HANDLE handle) {
    Process& current = detail::CurrentProcess();
    if (handle == GetCurrentProcess()) return detail::FindProcess(current.id);
    auto object = detail::Lookup<ProcessObject>(handle);
    return object ? object->process : nullptr;
}

// The first word of a command line, without quotes, directory and ".exe".
std::string ProgramName(const std::string& command_line) {
    std::string word;
    if (!command_line.empty() && command_line[0] == '"') {
        word = command_line.substr(1, command_line.find('"', 1) - 1);
    } else {
        word = command_line.substr(0, command_line.find_first_of(" \t"));
    }
    size_t slash = word.find_last_of("\\/");
    if (slash != std::string::npos) word = word.substr(slash + 1);
    if (word.size() > 4 && detail::SameText(word.substr(word.size() - 4), ".exe"))
        word.resize(word.size() - 4);
    return word;
}

ServiceState* ServiceOf(SimProcess& process) {
    return process.process()->service.get();
}

}  // namespace

namespace detail {
void ResetProcesses() {
    std::vector<std::shared_ptr<Process>> children;
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        children.swap(Fs().children);
        for (auto& child : children) EndProcessLocked(*child, 0, false);
        Fs().directories.clear();
        Fs().files.clear();
        Fs().programs.clear();
        Fs().created.clear();
        Fs().open_files.clear();
        Fs().read_only_directories.clear();
        Fs().made.clear();
        Fs().made_order.clear();
        Fs().space_left = UINT64_MAX;
    }
    for (auto& child : children) WaitProcess(*child);
}
}  // namespace detail

namespace test {

void RegisterProgram(const std::string& name, Program program) {
    std::lock_guard<std::mutex> guard(KernelLock());
    Fs().programs[name] = std::move(program);
}

std::vector<CreatedProcess> CreatedProcesses() {
    std::lock_guard<std::mutex> guard(KernelLock());
    return Fs().created;
}

void WaitForCreatedProcesses() {
    std::vector<std::shared_ptr<Process>> children;
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        children = Fs().children;
    }
    for (auto& child : children) detail::WaitProcess(*child);
}

void AddDirectory(const std::string& path) {
    std::lock_guard<std::mutex> guard(KernelLock());
    Fs().directories.insert(Absolute(path, "C:\\"));
}

void AddFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(KernelLock());
    Fs().files.insert(Absolute(path, "C:\\"));
}

void AddReadOnlyDirectory(const std::string& path) {
    std::lock_guard<std::mutex> guard(KernelLock());
    Fs().directories.insert(Absolute(path, "C:\\"));
    Fs().read_only_directories.insert(Absolute(path, "C:\\"));
}

std::unique_ptr<std::string> FileContents(const std::string& path) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto it = Fs().made.find(Absolute(path, "C:\\"));
    if (it == Fs().made.end()) return nullptr;
    return std::make_unique<std::string>(*it->second);
}

std::vector<std::string> MadeFiles() {
    std::lock_guard<std::mutex> guard(KernelLock());
    return Fs().made_order;
}

void LimitFileSpace(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(KernelLock());
    Fs().space_left = bytes;
}

std::unique_ptr<std::string> EnvironmentOf(SimProcess& process, const std::string& name) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto it = FindVariable(*process.process(), name);
    if (it == process.process()->environment.end()) return nullptr;
    return std::make_unique<std::string>(it->second);
}

std::string CurrentDirectoryOf(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return process.process()->current_directory;
}

DWORD ProcessIdOf(SimProcess& process) {
    return process.process()->id;
}

bool HandleIsInheritable(SimProcess& process, HANDLE handle) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto& handles = process.process()->handles;
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    return it != handles.end() && it->second.inherit;
}

void StartAsService(SimProcess& process, const std::string& service_name,
                    const std::vector<std::string>& arguments, std::function<int()> entry) {
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        auto& state = process.process()->service;
        if (!state) state = std::make_shared<ServiceState>();
        state->service_name = service_name;
        state->arguments = arguments;
    }
    process.Start(std::move(entry));
}

std::vector<SERVICE_STATUS> ServiceStatuses(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto* service = ServiceOf(process);
    return service ? service->statuses : std::vector<SERVICE_STATUS>{};
}

std::string ServiceHandlerName(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto* service = ServiceOf(process);
    return service ? service->handler_name : std::string();
}

bool SendControl(SimProcess& process, DWORD control) {
    std::unique_lock<std::mutex> lock(KernelLock());
    auto* service = ServiceOf(process);
    if (service == nullptr || service->handler == nullptr) return false;
    int target = service->controls_handled + static_cast<int>(service->pending_controls.size()) + 1;
    service->pending_controls.push_back(control);
    detail::KernelChanged().notify_all();
    detail::Block(
        lock, [&] { return service->controls_handled >= target || process.process()->ended; },
        detail::kNoDeadline, "SendControl");
    return service->controls_handled >= target;
}

const void* ConsoleOf(DWORD process_id) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto process = detail::FindProcess(process_id);
    return process ? process->console.get() : nullptr;
}

bool IgnoresCtrlC(DWORD process_id) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto process = detail::FindProcess(process_id);
    return process && process->ignore_ctrl_c;
}

void OnServiceStatus(SimProcess& process, std::function<void(const SERVICE_STATUS&)> hook) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto& state = process.process()->service;
    if (!state) state = std::make_shared<ServiceState>();
    state->hook = std::move(hook);
}

}  // namespace test
}  // namespace winsim

using namespace winsim;

// ---- Processes and handles -----------------------------------------------------------------

DWORD GetCurrentProcessId() {
    std::lock_guard<std::mutex> guard(KernelLock());
    return detail::CurrentProcess().id;
}

HANDLE OpenProcess(DWORD, BOOL inherit, DWORD process_id) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (detail::TakeFaultLocked("OpenProcess")) return nullptr;
    auto target = detail::FindProcess(process_id);
    if (!target) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<ProcessObject>();
    object->process = target;
    return detail::AddHandle(detail::CurrentProcess(), object, inherit != FALSE);
}

BOOL DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process, PHANDLE target,
                     DWORD, BOOL inherit, DWORD options) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (target != nullptr) *target = nullptr;
    auto from = ProcessFromHandle(source_process);
    auto to = ProcessFromHandle(target_process);
    if (!from || !to) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto it = from->handles.find(reinterpret_cast<uintptr_t>(source));
    if (it == from->handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Object> object = it->second.object;
    bool failed = detail::TakeFaultLocked("DuplicateHandle");
    // The duplicate exists before the source goes, so moving the last handle to an object does
    // not close it; the source is closed whatever happens to the duplicate.
    HANDLE made = failed ? nullptr : detail::AddHandle(*to, object, inherit != FALSE);
    if (options & DUPLICATE_CLOSE_SOURCE) {
        if (--it->second.object->handle_count == 0) it->second.object->LastHandleClosed();
        from->handles.erase(it);
        detail::KernelChanged().notify_all();
    }
    if (failed) return FALSE;
    if (target != nullptr) *target = made;
    return TRUE;
}

BOOL CreateProcessA(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL inherit_handles, DWORD flags, LPVOID environment,
                    LPCSTR current_directory, LPSTARTUPINFOA startup_info,
                    LPPROCESS_INFORMATION information) {
    std::string line = command_line != nullptr ? command_line : (application ? application : "");
    test::Program program;
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        if (detail::TakeFaultLocked("CreateProcessA")) return FALSE;
        // A command line has at most 32766 characters before its terminating zero.
        if (line.size() >= 32767) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if ((flags & CREATE_NEW_CONSOLE) && (flags & DETACHED_PROCESS)) {
            SetLastError(ERROR_INVALID_PARAMETER);  // a new console, or none: not both
            return FALSE;
        }
        auto found = Fs().programs.find(ProgramName(line));
        if (found == Fs().programs.end() || environment != nullptr) {
            SetLastError(found == Fs().programs.end() ? ERROR_FILE_NOT_FOUND
                                                      : ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        program = found->second;
    }
    auto child = detail::NewProcess();
    std::lock_guard<std::mutex> guard(KernelLock());
    Process& parent = detail::CurrentProcess();
    // Inheritable handles appear in the child with the same values.
    if (inherit_handles) {
        for (auto& [value, entry] : parent.handles) {
            if (!entry.inherit || child->handles.count(value)) continue;
            ++entry.object->handle_count;
            child->handles[value] = entry;
        }
        child->next_handle = std::max(child->next_handle, parent.next_handle);
    }
    if (startup_info != nullptr && (startup_info->dwFlags & STARTF_USESTDHANDLES)) {
        child->std_handles[0] = startup_info->hStdInput;
        child->std_handles[1] = startup_info->hStdOutput;
        child->std_handles[2] = startup_info->hStdError;
    } else if (!(flags & CREATE_NEW_CONSOLE)) {
        std::copy(std::begin(parent.std_handles), std::end(parent.std_handles), child->std_handles);
    }
    child->environment = parent.environment;
    child->current_directory = current_directory != nullptr
                                   ? Absolute(current_directory, parent.current_directory)
                                   : parent.current_directory;
    child->error_mode = parent.error_mode;
    // The creator's console, a new one, or none.  A program in a new console whose standard
    // handles are not named gets handles to that console.
    if (flags & CREATE_NEW_CONSOLE) {
        detail::AttachConsoleLocked(*child, detail::NewConsoleLocked());
        if (startup_info == nullptr || !(startup_info->dwFlags & STARTF_USESTDHANDLES)) {
            child->std_handles[0] = detail::OpenConsoleHandleLocked(*child, true, false);
            child->std_handles[1] = detail::OpenConsoleHandleLocked(*child, false, false);
            child->std_handles[2] = detail::OpenConsoleHandleLocked(*child, false, false);
        }
    } else if (!(flags & DETACHED_PROCESS)) {
        detail::AttachConsoleLocked(*child, parent.console);
    }
    // Ctrl-C is ignored as by the creator, and always in a new process group.
    child->ignore_ctrl_c = parent.ignore_ctrl_c || (flags & CREATE_NEW_PROCESS_GROUP);
    child->started = true;

    test::CreatedProcess record{line,
                                inherit_handles != FALSE,
                                flags,
                                startup_info != nullptr ? *startup_info : STARTUPINFOA{},
                                child->environment,
                                child->current_directory,
                                child->error_mode,
                                child->id};
    Fs().created.push_back(record);
    Fs().children.push_back(child);

    Process* raw = child.get();
    detail::StartThreadLocked(*raw, [raw, program, line] {
        int code = program(line);
        std::lock_guard<std::mutex> inner(KernelLock());
        detail::EndProcessLocked(*raw, static_cast<DWORD>(code), false);
    });

    auto object = std::make_shared<ProcessObject>();
    object->process = child;
    auto thread = std::make_shared<ProcessObject>();  // stands in for the main thread's handle
    thread->process = child;
    information->hProcess = detail::AddHandle(parent, object, false);
    information->hThread = detail::AddHandle(parent, thread, false);
    information->dwProcessId = child->id;
    information->dwThreadId = child->id + 1;
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exit_code) {
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        if (detail::TakeFaultLocked("TerminateProcess")) return FALSE;
    }
    if (process == GetCurrentProcess()) {
        // Ends the caller's own process at once, unless its thread is already being unwound.
        {
            std::lock_guard<std::mutex> guard(KernelLock());
            Process& self = detail::CurrentProcess();
            if (detail::Unwinding(self) || &self == &detail::RunnerProcess()) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
            detail::EndProcessLocked(self, exit_code, false);
        }
        throw ThreadExit{};
    }
    std::lock_guard<std::mutex> guard(KernelLock());
    auto object = detail::Lookup<ProcessObject>(process);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->process->ended) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    detail::EndProcessLocked(*object->process, exit_code, false);
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto object = detail::Lookup<ProcessObject>(process);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exit_code = object->process->ended ? object->process->status.code : 259 /* STILL_ACTIVE */;
    return TRUE;
}

UINT SetErrorMode(UINT mode) {
    std::lock_guard<std::mutex> guard(KernelLock());
    UINT previous = detail::CurrentProcess().error_mode;
    detail::CurrentProcess().error_mode = mode;
    return previous;
}

// ---- Environment, directories, files -------------------------------------------------------

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (detail::TakeFaultLocked("SetEnvironmentVariableA")) return FALSE;
    if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Process& process = detail::CurrentProcess();
    auto it = FindVariable(process, name);
    if (value == nullptr) {
        // Removing a variable that is not there succeeds.
        if (it != process.environment.end()) process.environment.erase(it);
    } else if (it != process.environment.end()) {
        it->second = value;
    } else {
        process.environment.emplace_back(name, value);
    }
    return TRUE;
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    std::lock_guard<std::mutex> guard(KernelLock());
    Process& process = detail::CurrentProcess();
    auto it = FindVariable(process, name);
    if (it == process.environment.end()) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    DWORD length = static_cast<DWORD>(it->second.size());
    if (size <= length) return length + 1;
    std::memcpy(buffer, it->second.c_str(), length + 1);
    return length;
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (detail::TakeFaultLocked("SetCurrentDirectoryA")) return FALSE;
    Process& process = detail::CurrentProcess();
    std::string absolute = Absolute(path, process.current_directory);
    if (!DirectoryExists(absolute)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    process.current_directory = absolute;
    return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    std::lock_guard<std::mutex> guard(KernelLock());
    const std::string& current = detail::CurrentProcess().current_directory;
    DWORD length = static_cast<DWORD>(current.size());
    if (size <= length) return length + 1;
    std::memcpy(buffer, current.c_str(), length + 1);
    return length;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        if (detail::TakeFaultLocked("GetSystemDirectoryA")) return 0;
    }
    static const char kSystem[] = "C:\\windows\\system32";
    UINT length = sizeof kSystem - 1;
    if (size <= length) return length + 1;
    std::memcpy(buffer, kSystem, length + 1);
    return length;
}

HFILE _lopen(LPCSTR path, int) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (detail::TakeFaultLocked("_lopen")) return HFILE_ERROR;
    std::string key = Absolute(path, detail::CurrentProcess().current_directory);
    if (Fs().files.count(key) == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return HFILE_ERROR;
    }
    int file = Fs().next_file++;
    Fs().open_files[file] = key;
    return file;
}

HFILE _lclose(HFILE file) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Fs().open_files.erase(file) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return HFILE_ERROR;
    }
    return 0;
}

BOOL FileObject::Write(std::unique_lock<std::mutex>&, const void* data, DWORD length, DWORD* done) {
    uint64_t room = Fs().space_left;
    DWORD count = room < length ? static_cast<DWORD>(room) : length;
    if (bytes->size() < position + count) bytes->resize(position + count);
    bytes->replace(position, count, static_cast<const char*>(data), count);
    position += count;
    if (room != UINT64_MAX) Fs().space_left -= count;
    *done = count;
    if (count < length) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return TRUE;
}

namespace winsim {
namespace detail {
HANDLE CreateFileLocked(Process& process, const char* name, DWORD disposition, bool inherit) {
    std::string path = Absolute(name, process.current_directory);
    size_t slash = path.find_last_of('\\');
    std::string parent = path.substr(0, slash == 2 ? 3 : slash);
    DWORD error = 0;
    if (disposition != CREATE_NEW) {
        // Files are only made: there is none to open.
        error = ERROR_FILE_NOT_FOUND;
    } else if (!DirectoryExists(parent)) {
        error = ERROR_PATH_NOT_FOUND;
    } else if (Fs().read_only_directories.count(parent) != 0) {
        error = ERROR_ACCESS_DENIED;
    } else if (Fs().files.count(path) != 0 || Fs().made.count(path) != 0 || DirectoryExists(path)) {
        error = ERROR_FILE_EXISTS;
    }
    if (error != 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<FileObject>();
    file->bytes = std::make_shared<std::string>();
    Fs().made[path] = file->bytes;
    Fs().made_order.push_back(path);
    return AddHandle(process, file, inherit);
}
}  // namespace detail
}  // namespace winsim

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (detail::TakeFaultLocked("SetFilePointer")) return INVALID_SET_FILE_POINTER;
    auto object = detail::Lookup<FileObject>(file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    if (method != FILE_BEGIN || distance < 0 || (distance_high != nullptr && *distance_high != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    object->position = static_cast<size_t>(distance);
    return static_cast<DWORD>(distance);
}

BOOL SetEndOfFile(HANDLE file) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (detail::TakeFaultLocked("SetEndOfFile")) return FALSE;
    auto object = detail::Lookup<FileObject>(file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    uint64_t& room = Fs().space_left;
    if (room != UINT64_MAX && object->bytes->size() > object->position)
        room += object->bytes->size() - object->position;
    object->bytes->resize(object->position);
    return TRUE;
}

// ---- Services ------------------------------------------------------------------------------

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
    std::unique_lock<std::mutex> lock(KernelLock());
    Process& process = detail::CurrentProcess();
    std::shared_ptr<ServiceState> service = process.service;
    if (detail::TakeFaultLocked("StartServiceCtrlDispatcherA")) return FALSE;
    if (!service) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    if (service->connected) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    service->connected = true;
    LPSERVICE_MAIN_FUNCTIONA entry = table[0].lpServiceProc;
    detail::StartThreadLocked(process, [service, entry] {
        std::vector<std::string> texts{service->service_name};
        texts.insert(texts.end(), service->arguments.begin(), service->arguments.end());
        std::vector<char*> argv;
        for (auto& text : texts) argv.push_back(text.data());
        argv.push_back(nullptr);
        entry(static_cast<DWORD>(texts.size()), argv.data());
        std::lock_guard<std::mutex> guard(KernelLock());
        service->service_returned = true;
        detail::KernelChanged().notify_all();
    });
    // The dispatcher runs the control handler on this thread until the service has stopped (or
    // its entry has returned without saying so).
    for (;;) {
        detail::Block(
            lock, [&] { return !service->pending_controls.empty() || service->service_returned; },
            detail::kNoDeadline, "StartServiceCtrlDispatcherA");
        if (!service->pending_controls.empty()) {
            DWORD control = service->pending_controls.front();
            service->pending_controls.erase(service->pending_controls.begin());
            LPHANDLER_FUNCTION handler = service->handler;
            lock.unlock();
            if (handler != nullptr) handler(control);
            lock.lock();
            ++service->controls_handled;
            detail::KernelChanged().notify_all();
            continue;
        }
        return TRUE;
    }
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR name, LPHANDLER_FUNCTION handler) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (detail::TakeFaultLocked("RegisterServiceCtrlHandlerA")) return nullptr;
    auto& service = detail::CurrentProcess().service;
    if (!service || !service->connected) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return nullptr;
    }
    service->handler = handler;
    service->handler_name = name != nullptr ? name : "";
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(service.get());
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    std::function<void(const SERVICE_STATUS&)> hook;
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        auto& service = detail::CurrentProcess().service;
        if (!service || reinterpret_cast<SERVICE_STATUS_HANDLE>(service.get()) != handle) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        service->statuses.push_back(*status);
        hook = service->hook;
        detail::KernelChanged().notify_all();
    }
    if (hook) hook(*status);
    return TRUE;
}
