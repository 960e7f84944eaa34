#include "ZREGENT.h"

#include <cstring>

#include "Reporter.h"
#include "Text.h"

namespace {

// Enumeration buffers: a value whose name or data does not fit cannot be read.
constexpr DWORD kNameBufferSize = 1024;
constexpr DWORD kDataBufferSize = 32768;

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(int root_selector, const char* company,
                                             const char* product, const char* version)
    : root_(root_selector == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER),
      company_(CopyText(company)),
      product_(CopyText(product)),
      version_(CopyText(version)),
      root_selector_(root_selector) {
    ReadKey();
}

RegistrySettingsStore::~RegistrySettingsStore() {
    // One entry at a time, rather than a chain of destructors as deep as the table.
    while (values_ != nullptr) values_ = std::move(values_->next);
}

void RegistrySettingsStore::ReadKey() {
    char path[1024];
    wsprintfA(path, "Software\\%s\\%s\\%s", company_.get(), product_.get(), "CurrentVersion");

    HKEY key;
    if (RegCreateKeyA(root_, path, &key) != ERROR_SUCCESS) {
        ReportFatal("Couldn't create/open key: %s\\%s",
                    root_selector_ == 0 ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER", path);
    }

    std::unique_ptr<char[]> name(new char[kNameBufferSize]);
    std::unique_ptr<BYTE[]> data(new BYTE[kDataBufferSize]);
    for (DWORD index = 0;; ++index) {
        DWORD name_length = kNameBufferSize;
        DWORD data_length = kDataBufferSize;
        DWORD type = REG_NONE;
        LSTATUS status = RegEnumValueA(key, index, name.get(), &name_length, nullptr, &type,
                                       data.get(), &data_length);
        if (status == ERROR_NO_MORE_ITEMS) break;
        // The registry functions return their error and leave the last-error value alone, so
        // the returned code is the one to report.
        if (status != ERROR_SUCCESS) {
            ReportFatal("Error enumerating registry values: %lu\n", static_cast<DWORD>(status));
        }
        if (type == REG_SZ || type == REG_BINARY || type == REG_DWORD) {
            Insert(name.get(), type, data.get(), data_length);
        }
    }

    ZASSERT(RegCloseKey(key) == ERROR_SUCCESS);
}

bool RegistrySettingsStore::GetString(const char* name, const char** out) const {
    const Entry* entry = Find(name, REG_SZ);
    if (entry == nullptr) return false;
    *out = reinterpret_cast<const char*>(entry->data.get());
    return true;
}

bool RegistrySettingsStore::GetNumber(const char* name, DWORD* out, DWORD default_value) {
    const Entry* entry = Find(name, REG_DWORD);
    // Data too short for a number is no number: the default replaces it.
    if (entry != nullptr && entry->length >= 4) {
        const BYTE* data = entry->data.get();
        *out = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
               (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
        return true;
    }

    const BYTE bytes[4] = {static_cast<BYTE>(default_value), static_cast<BYTE>(default_value >> 8),
                           static_cast<BYTE>(default_value >> 16),
                           static_cast<BYTE>(default_value >> 24)};
    Insert(name, REG_DWORD, bytes, sizeof bytes);
    ZASSERT(Find(name, REG_DWORD) != nullptr);
    *out = default_value;
    return false;
}

const RegistrySettingsStore::Entry* RegistrySettingsStore::Find(const char* name,
                                                                DWORD type) const {
    for (const Entry* entry = values_.get(); entry != nullptr; entry = entry->next.get()) {
        if (entry->type == type && lstrcmpiA(entry->name.get(), name) == 0) return entry;
    }
    return nullptr;
}

void RegistrySettingsStore::Insert(const char* name, DWORD type, const BYTE* data, DWORD length) {
    // Names are unique in the table whatever their type.
    for (std::unique_ptr<Entry>* link = &values_; *link != nullptr;) {
        if (lstrcmpiA((*link)->name.get(), name) == 0) {
            *link = std::move((*link)->next);
        } else {
            link = &(*link)->next;
        }
    }

    std::unique_ptr<Entry> entry(new Entry);
    entry->type = type;
    entry->name = CopyText(name);
    // One zero byte past the registry's data, so a string stored without its terminator still
    // reads as a terminated text; the length stays the registry's.
    entry->data.reset(new BYTE[length + 1]);
    std::memcpy(entry->data.get(), data, length);
    entry->data[length] = 0;
    entry->length = length;
    entry->next = std::move(values_);
    values_ = std::move(entry);
}
