// Who the current user is: the token reader yields the SID of the process's user, and the SID
// holder keeps a copy of a SID and derives its text form and account names from it.
#pragma once

#include <memory>

#include "win32.h"

// Room for the text form of any SID: "S-1-", the authority and up to 255 sub-authorities of at
// most 10 digits each, each led by "-", and the terminating zero.
constexpr int kSidTextSize = 4 + 10 + 255 * 11 + 1;

// Writes the text form "S-1-<authority>-<sub>-..." of a SID into `out` (kSidTextSize bytes) and
// returns its length.  The authority must fit 32 bits: its first two bytes are checked to be zero.
int FormatSidText(const BYTE authority[6], const DWORD* sub_authorities, int count, char* out);

class TokenReader {
  public:
    // Opens the current process's token for reading; a failure shows in UserSid.
    TokenReader();
    ~TokenReader();
    TokenReader(const TokenReader&) = delete;
    TokenReader& operator=(const TokenReader&) = delete;

    // The SID of the token's user, owned by the reader, or null with the last-error value of the
    // call that failed.  Read from the token once and cached.
    PSID UserSid();

  private:
    HANDLE token_;
    std::unique_ptr<BYTE[]> user_;  // TOKEN_USER block as the token returns it
};

class SidHolder {
  public:
    // Keeps a copy of `sid`; the copy is absent (Sid() null) when it could not be made.  Callers
    // test Sid() with IsValidSid before asking for anything else.
    explicit SidHolder(PSID sid);
    ~SidHolder();
    SidHolder(const SidHolder&) = delete;
    SidHolder& operator=(const SidHolder&) = delete;

    PSID Sid() const { return sid_.get(); }

    // The text form, built once; empty when there is no copy.
    const char* SidText();
    // The account's name and its domain, or null when no account lookup names the SID.  The
    // first of the two asked looks both up; the other is then answered from the cache.
    const char* AccountName();
    const char* DomainName();
    // "domain\account" ("." for an empty domain), or the SID text when the account is unknown.
    // The text lives in one buffer per process, which the next call overwrites.
    const char* QualifiedName();

  private:
    bool LookUpAccount();

    std::unique_ptr<BYTE[]> sid_;
    SID_NAME_USE use_;
    std::unique_ptr<char[]> domain_;
    std::unique_ptr<char[]> account_;
    std::unique_ptr<char[]> text_;
};
