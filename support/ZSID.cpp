#include "ZSID.h"

#include <cstring>

#include "Reporter.h"
#include "Text.h"

namespace {

// The result of the last QualifiedName call, shared by the whole process.
char g_qualified_name[1024];

}  // namespace

int FormatSidText(const BYTE authority[6], const DWORD* sub_authorities, int count, char* out) {
    // The revision is always written as 1.
    int length = wsprintfA(out, "S-1-");
    ZASSERT(authority[0] == 0);
    ZASSERT(authority[1] == 0);
    DWORD value = (static_cast<DWORD>(authority[2]) << 24) |
                  (static_cast<DWORD>(authority[3]) << 16) |
                  (static_cast<DWORD>(authority[4]) << 8) | static_cast<DWORD>(authority[5]);
    length += wsprintfA(out + length, "%lu", value);
    for (int i = 0; i < count; ++i) length += wsprintfA(out + length, "-%lu", sub_authorities[i]);
    return length;
}

// ---- Token reader ------------------------------------------------------------------------------

TokenReader::TokenReader() : token_(INVALID_HANDLE_VALUE) {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token_)) {
        token_ = INVALID_HANDLE_VALUE;
    }
}

TokenReader::~TokenReader() {
    if (token_ != INVALID_HANDLE_VALUE) CloseHandle(token_);
}

PSID TokenReader::UserSid() {
    if (user_ == nullptr) {
        // Without a token the open's own last-error value is the one to report.
        if (token_ == INVALID_HANDLE_VALUE) return nullptr;
        DWORD size = 0;
        if (!GetTokenInformation(token_, TokenUser, nullptr, 0, &size) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return nullptr;
        }
        std::unique_ptr<BYTE[]> block(new BYTE[size != 0 ? size : 1]);
        if (!GetTokenInformation(token_, TokenUser, block.get(), size, &size)) return nullptr;
        user_ = std::move(block);
    }
    return reinterpret_cast<TOKEN_USER*>(user_.get())->User.Sid;
}

// ---- SID holder --------------------------------------------------------------------------------

SidHolder::SidHolder(PSID sid) : use_(SidTypeUnknown) {
    DWORD length = GetLengthSid(sid);
    sid_.reset(new BYTE[length]);
    if (!CopySid(length, sid_.get(), sid)) sid_.reset();
}

SidHolder::~SidHolder() = default;

const char* SidHolder::SidText() {
    if (text_ == nullptr) {
        char text[kSidTextSize] = "";
        if (sid_ != nullptr) {
            PSID sid = sid_.get();
            int count = *GetSidSubAuthorityCount(sid);
            // The sub-authorities are read one at a time, as the platform hands them out.
            DWORD sub_authorities[255];
            for (int i = 0; i < count; ++i) {
                sub_authorities[i] = *GetSidSubAuthority(sid, static_cast<DWORD>(i));
            }
            FormatSidText(GetSidIdentifierAuthority(sid)->Value, sub_authorities, count, text);
        }
        text_ = CopyText(text);
    }
    return text_.get();
}

const char* SidHolder::AccountName() {
    if (account_ == nullptr && !LookUpAccount()) return nullptr;
    return account_.get();
}

const char* SidHolder::DomainName() {
    if (domain_ == nullptr && !LookUpAccount()) return nullptr;
    return domain_.get();
}

bool SidHolder::LookUpAccount() {
    if (sid_ == nullptr) return false;
    DWORD account_size = 0;
    DWORD domain_size = 0;
    if (!LookupAccountSidA(nullptr, sid_.get(), nullptr, &account_size, nullptr, &domain_size,
                           &use_) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    // Sizes include the terminating zero; never allocate nothing.
    std::unique_ptr<char[]> account(new char[account_size != 0 ? account_size : 1]);
    std::unique_ptr<char[]> domain(new char[domain_size != 0 ? domain_size : 1]);
    if (!LookupAccountSidA(nullptr, sid_.get(), account.get(), &account_size, domain.get(),
                           &domain_size, &use_)) {
        return false;
    }
    account_ = std::move(account);
    domain_ = std::move(domain);
    return true;
}

const char* SidHolder::QualifiedName() {
    const char* account = AccountName();
    if (account != nullptr) {
        const char* domain = DomainName();
        wsprintfA(g_qualified_name, "%s\\%s", domain[0] != '\0' ? domain : ".", account);
    } else {
        wsprintfA(g_qualified_name, "%s", SidText());
    }
    return g_qualified_name;
}
