#include "ZUSER.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "Reporter.h"
#include "Text.h"

namespace {

// Working room for names and for each converted text, in characters.
constexpr size_t kTextSize = 4096;

std::unique_ptr<WCHAR[]> CopyWide(const WCHAR* text) {
    size_t length = std::wcslen(text) + 1;
    std::unique_ptr<WCHAR[]> copy(new WCHAR[length]);
    std::memcpy(copy.get(), text, length * sizeof(WCHAR));
    return copy;
}

// Multibyte to wide with the run-time library; a text it cannot convert becomes empty.
std::unique_ptr<WCHAR[]> ToWide(const char* text) {
    std::unique_ptr<WCHAR[]> wide(new WCHAR[kTextSize]);
    size_t length = std::mbstowcs(wide.get(), text, kTextSize - 1);
    if (length == static_cast<size_t>(-1)) length = 0;
    wide[length] = 0;
    return wide;
}

// Wide to multibyte with the run-time library; a missing or unconvertible text becomes empty.
std::unique_ptr<char[]> ToNarrow(const WCHAR* text) {
    char narrow[kTextSize];
    size_t length = text != nullptr ? std::wcstombs(narrow, text, kTextSize - 1) : 0;
    if (length == static_cast<size_t>(-1)) length = 0;
    narrow[length] = '\0';
    return CopyText(narrow);
}

// The domain of the account `name` as the local machine knows it, or the empty text.
std::unique_ptr<char[]> LookUpDomain(const char* name) {
    BYTE sid[1024];
    DWORD sid_size = sizeof sid;
    DWORD domain_size = 0;
    SID_NAME_USE use;
    LookupAccountNameA(nullptr, name, sid, &sid_size, nullptr, &domain_size, &use);
    if (domain_size == 0) domain_size = 1;
    std::unique_ptr<char[]> domain(new char[domain_size]);
    sid_size = sizeof sid;
    if (!LookupAccountNameA(nullptr, name, sid, &sid_size, domain.get(), &domain_size, &use)) {
        domain[0] = '\0';
    }
    return domain;
}

}  // namespace

ServerChoice ChooseServer(const char* domain, const char* computer) {
    if (domain[0] == '\\' && domain[1] == '\\') return ServerChoice::kNamedMachine;
    if (lstrcmpiA(domain, computer) != 0) return ServerChoice::kDomainController;
    return ServerChoice::kLocalMachine;
}

UserAccount::UserAccount(const char* qualified_name) : status_(NERR_Success) {
    // Split at the last backslash: a domain can itself be "\\machine".
    std::unique_ptr<char[]> work(new char[kTextSize]);
    size_t length = std::strlen(qualified_name);
    if (length > kTextSize - 1) length = kTextSize - 1;
    std::memcpy(work.get(), qualified_name, length);
    work[length] = '\0';
    const char* user = work.get();
    char* backslash = std::strrchr(work.get(), '\\');
    if (backslash != nullptr) {
        *backslash = '\0';
        user = backslash + 1;
        domain_name_ = CopyText(work.get());
    } else {
        domain_name_ = LookUpDomain(user);
    }

    wide_user_ = ToWide(user);
    std::unique_ptr<WCHAR[]> wide_domain = ToWide(domain_name_.get());
    if (!FindServer(wide_domain.get())) return;

    // The empty server name stands for the local machine; it is handed on as no name at all,
    // which every implementation of the call takes for the local machine.
    LPBYTE buffer = nullptr;
    status_ =
        NetUserGetInfo(server_[0] != 0 ? server_.get() : nullptr, wide_user_.get(), 3, &buffer);
    if (status_ != NERR_Success) {
        DebugTrace("Failed to get user information: %lu\n", status_);
        return;
    }
    StoreInformation(*reinterpret_cast<USER_INFO_3*>(buffer));
    status_ = NetApiBufferFree(buffer);
    ZASSERT(status_ == NERR_Success);
}

UserAccount::~UserAccount() = default;

bool UserAccount::FindServer(const WCHAR* wide_domain) {
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof computer;
    if (!GetComputerNameA(computer, &size)) {
        DebugTrace("Failed to get computer name: %lu\n", GetLastError());
        return false;
    }

    switch (ChooseServer(domain_name_.get(), computer)) {
        case ServerChoice::kNamedMachine:
            server_ = CopyWide(wide_domain);
            return true;
        case ServerChoice::kLocalMachine:
            server_ = CopyWide(L"");
            return true;
        case ServerChoice::kDomainController:
            break;
    }

    LPBYTE controller = nullptr;
    status_ = NetGetDCName(nullptr, wide_domain, &controller);
    if (status_ == NERR_Success) {
        server_ = CopyWide(reinterpret_cast<const WCHAR*>(controller));
        ZASSERT(NetApiBufferFree(controller) == NERR_Success);
        return true;
    }
    if (status_ == NERR_DCNotFound) {
        // No domain of that name: take it for the name of a machine that holds the account.
        status_ = NERR_Success;
        size_t length = std::wcslen(wide_domain);
        server_.reset(new WCHAR[length + 3]);
        server_[0] = L'\\';
        server_[1] = L'\\';
        std::memcpy(server_.get() + 2, wide_domain, (length + 1) * sizeof(WCHAR));
        return true;
    }
    DebugTrace("Failed to get primary domain controller: %lu\n", status_);
    return false;
}

void UserAccount::StoreInformation(const USER_INFO_3& info) {
    user_name_ = ToNarrow(info.usri3_name);
    full_name_ = ToNarrow(info.usri3_full_name);
    comment_ = ToNarrow(info.usri3_comment);
    home_dir_ = ToNarrow(info.usri3_home_dir);
    home_dir_drive_ = ToNarrow(info.usri3_home_dir_drive);
    profile_ = ToNarrow(info.usri3_profile);
    script_path_ = ToNarrow(info.usri3_script_path);
}

const char* UserAccount::HomeDirectory() const {
    return home_dir_ != nullptr ? home_dir_.get() : "";
}
