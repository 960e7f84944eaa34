// The simulated account database and the security and network calls that read it: process
// tokens, SIDs in the platform's binary layout, account lookup by SID and by name, the computer
// name, domain controllers and user information.  Every call can be made to fail through fault
// injection under its own name.
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "internal.h"
#include "winsim/control.h"
#include "winsim/windows.h"

namespace {

struct Account {
    std::string domain;  // winsim::test::kLocalDomain: the computer's own name
    std::string name;
    std::vector<BYTE> sid;
    std::string home_dir;
};

struct DomainController {
    std::string name;
    DWORD error;
};

// Guarded by the kernel lock.
struct Accounts {
    std::string computer;
    std::vector<Account> accounts;
    std::vector<BYTE> process_user;
    std::map<std::string, DomainController, winsim::detail::NoCaseLess> controllers;
    std::vector<std::string> requests;
    std::map<void*, std::unique_ptr<BYTE[]>> net_buffers;
};

void ResetLocked(Accounts& state);

// Never destroyed: simulated threads may still use it while the host process ends.
Accounts& State() {
    static Accounts* accounts = [] {
        Accounts* state = new Accounts;
        ResetLocked(*state);
        return state;
    }();
    return *accounts;
}

using Guard = std::lock_guard<std::mutex>;
using winsim::detail::KernelLock;
using winsim::detail::SameText;

std::string DomainOf(const Accounts& state, const Account& account) {
    return account.domain == winsim::test::kLocalDomain ? state.computer : account.domain;
}

// Takes a fault that is due for the call (which counts it).
bool Enter(const char* api, DWORD* fault) {
    Guard guard(KernelLock());
    return winsim::detail::TakeFaultLocked(api, fault);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::string Narrow(LPCWSTR text) {
    std::string result;
    if (text == nullptr) return result;
    for (; *text != 0; ++text) result += static_cast<char>(*text);
    return result;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

DWORD SidLength(const void* sid) {
    return 8 + 4 * static_cast<DWORD>(static_cast<const BYTE*>(sid)[1]);
}

std::vector<BYTE> SidBytes(const void* sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + SidLength(sid));
}

// Whether `text` and its terminating zero fit a buffer of `available` characters.
bool FitText(const std::string& text, LPSTR buffer, DWORD available) {
    return buffer != nullptr && available > text.size();
}

// A process token: the user it was opened for and the access granted.
struct Token : winsim::Object {
    std::vector<BYTE> user;
    DWORD access = 0;
};

void ResetLocked(Accounts& state) {
    state.computer = "WORKSTATION";
    state.accounts.clear();
    state.accounts.push_back(Account{winsim::test::kLocalDomain, "user",
                                     winsim::test::MakeSid(winsim::test::kDefaultUserSid),
                                     "C:\\Users\\user"});
    state.accounts.push_back(
        Account{"NT AUTHORITY", "SYSTEM", winsim::test::MakeSid("S-1-5-18"), ""});
    state.process_user = winsim::test::MakeSid(winsim::test::kDefaultUserSid);
    state.controllers.clear();
    state.requests.clear();
    state.net_buffers.clear();
}

// Hands out a network buffer of `size` bytes; NetApiBufferFree takes it back.
BYTE* NewNetBuffer(Accounts& state, size_t size) {
    std::unique_ptr<BYTE[]> block(new BYTE[size]());
    BYTE* address = block.get();
    state.net_buffers[address] = std::move(block);
    return address;
}

}  // namespace

namespace winsim {
namespace detail {

void ResetAccounts() {
    Guard guard(KernelLock());
    ResetLocked(State());
}

}  // namespace detail

namespace test {

std::vector<BYTE> MakeSid(const std::string& text) {
    if (text.compare(0, 4, "S-1-") != 0) return {};
    std::vector<uint64_t> numbers;
    size_t position = 4;
    while (true) {
        size_t end = position;
        uint64_t value = 0;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
            value = value * 10 + static_cast<uint64_t>(text[end] - '0');
            if (value >= (uint64_t{1} << 48)) return {};
            ++end;
        }
        if (end == position) return {};
        numbers.push_back(value);
        if (end == text.size()) break;
        if (text[end] != '-') return {};
        position = end + 1;
    }
    if (numbers.size() > 16) return {};
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] > 0xFFFFFFFFu) return {};
    }
    std::vector<BYTE> sid(8 + 4 * (numbers.size() - 1));
    sid[0] = 1;
    sid[1] = static_cast<BYTE>(numbers.size() - 1);
    for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(numbers[0] >> (8 * (5 - i)));
    for (size_t i = 1; i < numbers.size(); ++i) {
        DWORD value = static_cast<DWORD>(numbers[i]);
        std::memcpy(&sid[8 + 4 * (i - 1)], &value, 4);
    }
    return sid;
}

void AddAccount(const std::string& domain, const std::string& name, const std::string& sid_text,
                const std::string& home_dir) {
    Guard guard(KernelLock());
    State().accounts.push_back(Account{domain, name, MakeSid(sid_text), home_dir});
}

void SetProcessUser(const std::string& sid_text) {
    Guard guard(KernelLock());
    State().process_user = MakeSid(sid_text);
}

void SetComputerName(const std::string& name) {
    Guard guard(KernelLock());
    State().computer = name;
}

void SetDomainController(const std::string& domain, const std::string& dc_name, DWORD error) {
    Guard guard(KernelLock());
    State().controllers[domain] = DomainController{dc_name, error};
}

std::vector<std::string> NetRequests() {
    Guard guard(KernelLock());
    return State().requests;
}

int OpenNetBuffers() {
    Guard guard(KernelLock());
    return static_cast<int>(State().net_buffers.size());
}

}  // namespace test
}  // namespace winsim

// ---- Tokens ----------------------------------------------------------------------------------

BOOL OpenProcessToken(HANDLE process, DWORD desired_access, PHANDLE token) {
    DWORD fault;
    if (Enter("OpenProcessToken", &fault)) return Fail(fault);
    if (token == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    // Only the calling process's own token is ever asked for.
    if (process != GetCurrentProcess()) return Fail(ERROR_INVALID_HANDLE);
    auto object = std::make_shared<Token>();
    object->access = desired_access;
    Guard guard(KernelLock());
    object->user = State().process_user;
    *token = winsim::detail::AddHandle(winsim::detail::CurrentProcess(), object, false);
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                         LPVOID information, DWORD length, PDWORD return_length) {
    DWORD fault;
    if (Enter("GetTokenInformation", &fault)) return Fail(fault);
    if (return_length == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<BYTE> user;
    {
        Guard guard(KernelLock());
        auto object = winsim::detail::Lookup<Token>(token);
        if (!object) return Fail(ERROR_INVALID_HANDLE);
        if ((object->access & TOKEN_QUERY) == 0) return Fail(ERROR_ACCESS_DENIED);
        user = object->user;
    }
    if (information_class != TokenUser) return Fail(ERROR_INVALID_PARAMETER);
    DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + user.size());
    *return_length = needed;
    if (information == nullptr || length < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    // The SID follows the record in the caller's buffer, as the platform lays it out.
    BYTE* sid = static_cast<BYTE*>(information) + sizeof(TOKEN_USER);
    std::memcpy(sid, user.data(), user.size());
    TOKEN_USER* record = static_cast<TOKEN_USER*>(information);
    record->User.Sid = sid;
    record->User.Attributes = 0;
    return TRUE;
}

// ---- SIDs ------------------------------------------------------------------------------------
// Like the platform's, these trust the SID they are given; only IsValidSid looks at it.

DWORD GetLengthSid(PSID sid) {
    return SidLength(sid);
}

BOOL CopySid(DWORD destination_length, PSID destination, PSID source) {
    DWORD fault;
    if (Enter("CopySid", &fault)) return Fail(fault);
    DWORD length = SidLength(source);
    if (destination_length < length) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(destination, source, length);
    return TRUE;
}

BOOL IsValidSid(PSID sid) {
    if (sid == nullptr) return FALSE;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return bytes[0] == 1 && bytes[1] <= 15;
}

PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID sid) {
    return &static_cast<SID*>(sid)->IdentifierAuthority;
}

PUCHAR GetSidSubAuthorityCount(PSID sid) {
    return &static_cast<SID*>(sid)->SubAuthorityCount;
}

PDWORD GetSidSubAuthority(PSID sid, DWORD index) {
    return reinterpret_cast<PDWORD>(static_cast<BYTE*>(sid) + 8 + 4 * index);
}

// ---- Account lookup --------------------------------------------------------------------------

BOOL LookupAccountSidA(LPCSTR, PSID sid, LPSTR name, LPDWORD name_length, LPSTR domain,
                       LPDWORD domain_length, PSID_NAME_USE use) {
    DWORD fault;
    if (Enter("LookupAccountSidA", &fault)) return Fail(fault);
    if (sid == nullptr || !IsValidSid(sid) || name_length == nullptr || domain_length == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::vector<BYTE> wanted = SidBytes(sid);
    std::string found_name;
    std::string found_domain;
    {
        Accounts& state = State();
        Guard guard(KernelLock());
        const Account* match = nullptr;
        for (const Account& account : state.accounts) {
            if (account.sid == wanted) {
                match = &account;
                break;
            }
        }
        if (match == nullptr) return Fail(ERROR_NONE_MAPPED);
        found_name = match->name;
        found_domain = DomainOf(state, *match);
    }
    if (!FitText(found_name, name, *name_length) ||
        !FitText(found_domain, domain, *domain_length)) {
        *name_length = static_cast<DWORD>(found_name.size() + 1);
        *domain_length = static_cast<DWORD>(found_domain.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(name, found_name.c_str(), found_name.size() + 1);
    std::memcpy(domain, found_domain.c_str(), found_domain.size() + 1);
    *name_length = static_cast<DWORD>(found_name.size());
    *domain_length = static_cast<DWORD>(found_domain.size());
    if (use != nullptr) *use = SidTypeUser;
    return TRUE;
}

BOOL LookupAccountNameA(LPCSTR, LPCSTR account_name, PSID sid, LPDWORD sid_length, LPSTR domain,
                        LPDWORD domain_length, PSID_NAME_USE use) {
    DWORD fault;
    if (Enter("LookupAccountNameA", &fault)) return Fail(fault);
    if (account_name == nullptr || sid_length == nullptr || domain_length == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::string wanted = account_name;
    std::string wanted_domain;
    size_t backslash = wanted.rfind('\\');
    if (backslash != std::string::npos) {
        wanted_domain = wanted.substr(0, backslash);
        wanted = wanted.substr(backslash + 1);
    }
    std::vector<BYTE> found_sid;
    std::string found_domain;
    {
        Accounts& state = State();
        Guard guard(KernelLock());
        // A bare name is looked for on the local machine first, then in every other domain.
        const Account* match = nullptr;
        for (int pass = 0; pass < 2 && match == nullptr; ++pass) {
            for (const Account& account : state.accounts) {
                if (!SameText(account.name, wanted)) continue;
                std::string account_domain = DomainOf(state, account);
                bool domain_fits = backslash != std::string::npos
                                       ? SameText(account_domain, wanted_domain)
                                       : pass == 1 || SameText(account_domain, state.computer);
                if (domain_fits) {
                    match = &account;
                    break;
                }
            }
        }
        if (match == nullptr) return Fail(ERROR_NONE_MAPPED);
        found_sid = match->sid;
        found_domain = DomainOf(state, *match);
    }
    if (sid == nullptr || *sid_length < found_sid.size() ||
        !FitText(found_domain, domain, *domain_length)) {
        *sid_length = static_cast<DWORD>(found_sid.size());
        *domain_length = static_cast<DWORD>(found_domain.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(sid, found_sid.data(), found_sid.size());
    std::memcpy(domain, found_domain.c_str(), found_domain.size() + 1);
    *sid_length = static_cast<DWORD>(found_sid.size());
    *domain_length = static_cast<DWORD>(found_domain.size());
    if (use != nullptr) *use = SidTypeUser;
    return TRUE;
}

BOOL GetComputerNameA(LPSTR buffer, LPDWORD size) {
    DWORD fault;
    if (Enter("GetComputerNameA", &fault)) return Fail(fault);
    if (size == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::string computer;
    {
        Guard guard(KernelLock());
        computer = State().computer;
    }
    if (buffer == nullptr || *size <= computer.size()) {
        *size = static_cast<DWORD>(computer.size() + 1);
        return Fail(ERROR_BUFFER_OVERFLOW);
    }
    std::memcpy(buffer, computer.c_str(), computer.size() + 1);
    *size = static_cast<DWORD>(computer.size());
    return TRUE;
}

// ---- Network API -----------------------------------------------------------------------------
// These return their status and leave the last-error value alone.

NET_API_STATUS NetGetDCName(LPCWSTR, LPCWSTR domain_name, LPBYTE* buffer) {
    DWORD fault;
    if (Enter("NetGetDCName", &fault)) return fault;
    if (buffer == nullptr) return ERROR_INVALID_PARAMETER;
    std::string domain = Narrow(domain_name);
    Accounts& state = State();
    Guard guard(KernelLock());
    state.requests.push_back("NetGetDCName(" + domain + ")");
    auto found = state.controllers.find(domain);
    if (found == state.controllers.end()) return NERR_DCNotFound;
    if (found->second.error != 0) return found->second.error;
    std::wstring name = Wide(found->second.name);
    BYTE* block = NewNetBuffer(state, (name.size() + 1) * sizeof(WCHAR));
    std::memcpy(block, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *buffer = block;
    return NERR_Success;
}

NET_API_STATUS NetUserGetInfo(LPCWSTR server_name, LPCWSTR user_name, DWORD level, LPBYTE* buffer) {
    DWORD fault;
    if (Enter("NetUserGetInfo", &fault)) return fault;
    std::string server = Narrow(server_name);
    std::string user = Narrow(user_name);
    Accounts& state = State();
    Guard guard(KernelLock());
    state.requests.push_back("NetUserGetInfo(" + server + ", " + user + ")");
    if (buffer == nullptr || user_name == nullptr || level != 3) return ERROR_INVALID_PARAMETER;

    // Which domain's accounts the server holds: the local machine holds the computer's own; a
    // domain controller those of its domain; any other machine those of the domain it names.
    std::string served;
    if (server.empty()) {
        served = state.computer;
    } else if (server.compare(0, 2, "\\\\") == 0) {
        served = server.substr(2);
        for (const auto& [domain, controller] : state.controllers) {
            if (controller.error == 0 && SameText(controller.name, server)) served = domain;
        }
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    const Account* match = nullptr;
    for (const Account& account : state.accounts) {
        if (SameText(account.name, user) && SameText(DomainOf(state, account), served)) {
            match = &account;
            break;
        }
    }
    if (match == nullptr) return NERR_UserNotFound;

    // The record and its texts in one block, the texts after the record.
    std::wstring texts[] = {
        Wide(match->name), Wide(match->home_dir), Wide(match->name), L"", L"", L""};
    size_t size = sizeof(USER_INFO_3);
    for (const std::wstring& text : texts) size += (text.size() + 1) * sizeof(WCHAR);
    BYTE* block = NewNetBuffer(state, size);
    USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(block);
    WCHAR* next = reinterpret_cast<WCHAR*>(block + sizeof(USER_INFO_3));
    LPWSTR placed[6];
    for (int i = 0; i < 6; ++i) {
        std::memcpy(next, texts[i].c_str(), (texts[i].size() + 1) * sizeof(WCHAR));
        placed[i] = next;
        next += texts[i].size() + 1;
    }
    info->usri3_name = placed[0];
    info->usri3_home_dir = placed[1];
    info->usri3_full_name = placed[2];
    info->usri3_comment = placed[3];
    info->usri3_script_path = placed[4];
    info->usri3_profile = placed[5];
    info->usri3_home_dir_drive = placed[5];
    info->usri3_password = nullptr;
    info->usri3_usr_comment = placed[4];
    info->usri3_parms = placed[4];
    info->usri3_workstations = placed[4];
    info->usri3_logon_server = placed[4];
    info->usri3_priv = 1;  // USER_PRIV_USER
    info->usri3_code_page = 0;
    *buffer = block;
    return NERR_Success;
}

NET_API_STATUS NetApiBufferFree(LPVOID buffer) {
    DWORD fault;
    if (Enter("NetApiBufferFree", &fault)) return fault;
    if (buffer == nullptr) return NERR_Success;
    Accounts& state = State();
    Guard guard(KernelLock());
    auto found = state.net_buffers.find(buffer);
    if (found == state.net_buffers.end()) return ERROR_INVALID_PARAMETER;
    state.net_buffers.erase(found);
    return NERR_Success;
}
