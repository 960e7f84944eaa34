// The user account record: the network account information of one user, chiefly the home
// directory, fetched from the machine that holds the account.
#pragma once

#include <memory>

#include "win32.h"

// Which machine holds the account of a user in `domain`, seen from the computer `computer`.
enum class ServerChoice {
    kNamedMachine,      // the domain is itself a machine name ("\\machine")
    kDomainController,  // another domain: ask its primary domain controller
    kLocalMachine,      // the computer's own domain: a local account
};
ServerChoice ChooseServer(const char* domain, const char* computer);

class UserAccount {
  public:
    // Looks up the user named by `qualified_name` ("domain\user", or a bare name whose domain is
    // looked up).  Nothing is reported: whatever could not be found stays empty.
    explicit UserAccount(const char* qualified_name);
    ~UserAccount();
    UserAccount(const UserAccount&) = delete;
    UserAccount& operator=(const UserAccount&) = delete;

    // The home directory, or the empty text when it was not obtained.
    const char* HomeDirectory() const;

  private:
    bool FindServer(const WCHAR* wide_domain);
    void StoreInformation(const USER_INFO_3& info);

    NET_API_STATUS status_;
    std::unique_ptr<char[]> user_name_;
    std::unique_ptr<char[]> domain_name_;
    std::unique_ptr<char[]> full_name_;
    std::unique_ptr<char[]> comment_;
    std::unique_ptr<char[]> home_dir_;
    std::unique_ptr<char[]> home_dir_drive_;
    std::unique_ptr<char[]> profile_;
    std::unique_ptr<char[]> script_path_;
    std::unique_ptr<WCHAR[]> server_;
    std::unique_ptr<WCHAR[]> wide_user_;
};
