// The registry settings store: every value of one product key, read once into memory when the
// store is built and answered by name afterwards.  Nothing is ever written back to the registry.
#pragma once

#include <memory>

#include "win32.h"

class RegistrySettingsStore {
  public:
    // Reads Software\<company>\<product>\CurrentVersion under HKEY_LOCAL_MACHINE (root_selector
    // 0) or HKEY_CURRENT_USER (any other value), creating the key when it is missing.  The version
    // is kept but takes no part in the path.  A key that cannot be opened or enumerated ends the
    // process (exit code 1).
    RegistrySettingsStore(int root_selector, const char* company, const char* product,
                          const char* version);
    ~RegistrySettingsStore();
    RegistrySettingsStore(const RegistrySettingsStore&) = delete;
    RegistrySettingsStore& operator=(const RegistrySettingsStore&) = delete;

    // Finds a REG_SZ value by name (ignoring case).  On success *out points at zero-terminated
    // text owned by the store, valid while the store lives; otherwise *out is left alone.
    bool GetString(const char* name, const char** out) const;

    // Finds a REG_DWORD value by name (ignoring case).  When there is none (or its data is too
    // short to hold a number), the default takes its place in the store, replacing any value of
    // that name whatever its type, *out receives it and the result is false.
    bool GetNumber(const char* name, DWORD* out, DWORD default_value);

  private:
    struct Entry {
        DWORD type;
        std::unique_ptr<char[]> name;
        std::unique_ptr<BYTE[]> data;  // the registry's bytes and one zero byte after them
        DWORD length;
        std::unique_ptr<Entry> next;
    };

    const Entry* Find(const char* name, DWORD type) const;
    void Insert(const char* name, DWORD type, const BYTE* data, DWORD length);
    void ReadKey();

    // Everything is owned through smart pointers, so a report that ends the process while the
    // constructor runs leaves nothing behind in a simulated process either.
    std::unique_ptr<Entry> values_;  // newest first
    HKEY root_;
    std::unique_ptr<char[]> company_;
    std::unique_ptr<char[]> product_;
    std::unique_ptr<char[]> version_;
    int root_selector_;
};
