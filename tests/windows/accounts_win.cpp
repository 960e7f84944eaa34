// Who the user is, on real Win32: the token's user, its names and text form, a well-known SID,
// and the user account record built from the qualified name.  Prints what it found.
#include <cstdio>
#include <cstring>

#include "Reporter.h"
#include "ZSID.h"
#include "ZUSER.h"
#include "check.h"

extern const char* const kReporterName = "Accounts Windows Test";

int main() {
    TokenReader reader;
    PSID user = reader.UserSid();
    CHECK(user != nullptr);
    if (user == nullptr) return wincheck::Finish();
    SidHolder holder(user);
    CHECK(IsValidSid(holder.Sid()));
    const char* text = holder.SidText();
    std::printf("sid %s\n", text);
    CHECK(std::strncmp(text, "S-1-5-", 6) == 0);

    const char* account = holder.AccountName();
    const char* domain = holder.DomainName();
    CHECK(account != nullptr && domain != nullptr);
    if (account == nullptr || domain == nullptr) return wincheck::Finish();
    std::printf("account %s domain %s\n", account, domain);
    char expected_user[256] = "";
    GetEnvironmentVariableA("USERNAME", expected_user, sizeof expected_user);
    CHECK_STR(account, expected_user);

    char expected_name[1024];
    wsprintfA(expected_name, "%s\\%s", domain[0] != '\0' ? domain : ".", account);
    const char* qualified = holder.QualifiedName();
    std::printf("qualified %s\n", qualified);
    CHECK_STR(qualified, expected_name);

    // The user's own domain is this computer: a local account.
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof computer;
    CHECK(GetComputerNameA(computer, &size));
    std::printf("computer %s\n", computer);
    CHECK(ChooseServer(domain, computer) == ServerChoice::kLocalMachine);

    // User information at level 3 is not to be had here, so the home directory stays empty.
    UserAccount record(qualified);
    std::printf("home [%s]\n", record.HomeDirectory());
    CHECK_STR(record.HomeDirectory(), "");
    WCHAR wide_account[256];
    MultiByteToWideChar(CP_ACP, 0, account, -1, wide_account, 256);
    LPBYTE information = nullptr;
    NET_API_STATUS status = NetUserGetInfo(nullptr, wide_account, 3, &information);
    std::printf("NetUserGetInfo level 3: %lu\n", status);
    if (information != nullptr) NetApiBufferFree(information);

    SID_IDENTIFIER_AUTHORITY nt_authority = {{0, 0, 0, 0, 0, 5}};
    PSID system = nullptr;
    CHECK(AllocateAndInitializeSid(&nt_authority, 1, 18, 0, 0, 0, 0, 0, 0, 0, &system));
    if (system != nullptr) {
        SidHolder local_system(system);
        CHECK_STR(local_system.SidText(), "S-1-5-18");
        std::printf("system %s\n", local_system.QualifiedName());
        FreeSid(system);
    }

    // A SID nothing names: its text is its qualified name.
    SID_IDENTIFIER_AUTHORITY unused_authority = {{0, 0, 0, 0, 0, 5}};
    PSID stranger = nullptr;
    CHECK(AllocateAndInitializeSid(&unused_authority, 5, 21, 11, 22, 33, 4444, 0, 0, 0, &stranger));
    if (stranger != nullptr) {
        SidHolder unknown(stranger);
        CHECK_STR(unknown.QualifiedName(), "S-1-5-21-11-22-33-4444");
        CHECK(unknown.AccountName() == nullptr);
        FreeSid(stranger);
    }
    return wincheck::Finish();
}
