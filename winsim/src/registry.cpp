// The simulated registry: a tree of keys below HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, names
// compared without regard to case, values kept in creation order with their bytes exactly as
// written.  Like the real registry functions these return their error and leave the last-error
// value alone.
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

constexpr LSTATUS kErrorBadPathname = 161;

struct Value {
    std::string name;
    DWORD type;
    std::string data;
};

struct Key {
    std::string name;
    std::vector<std::shared_ptr<Key>> subkeys;
    std::vector<Value> values;
    bool deleted = false;  // handles still open on a deleted key see ERROR_KEY_DELETED
};

// Guarded by the kernel lock.
struct Registry {
    std::shared_ptr<Key> local_machine = std::make_shared<Key>();
    std::shared_ptr<Key> current_user = std::make_shared<Key>();
    std::map<HKEY, std::shared_ptr<Key>> handles;
    uintptr_t next_handle = 0x1000;  // never reused, so a stale handle stays invalid
};

// Never destroyed: simulated threads may still use it while the host process ends.
Registry& State() {
    static Registry* registry = new Registry;
    return *registry;
}

using winsim::detail::SameText;

bool IsRoot(HKEY key) {
    return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER;
}

std::shared_ptr<Key> Resolve(Registry& registry, HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return registry.local_machine;
    if (key == HKEY_CURRENT_USER) return registry.current_user;
    auto found = registry.handles.find(key);
    return found == registry.handles.end() ? nullptr : found->second;
}

// Splits a key path at its backslashes; empty elements (a doubled or trailing backslash) are
// passed over, as the real registry does.
std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> elements;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) elements.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return elements;
}

std::shared_ptr<Key> Subkey(const Key& key, const std::string& name) {
    for (const auto& subkey : key.subkeys) {
        if (SameText(subkey->name, name)) return subkey;
    }
    return nullptr;
}

// Walks from `key` along `elements`; missing keys are created when `create` is set, otherwise
// the result is null.
std::shared_ptr<Key> Walk(std::shared_ptr<Key> key, const std::vector<std::string>& elements,
                          bool create) {
    for (const std::string& element : elements) {
        std::shared_ptr<Key> next = Subkey(*key, element);
        if (next == nullptr) {
            if (!create) return nullptr;
            next = std::make_shared<Key>();
            next->name = element;
            key->subkeys.push_back(next);
        }
        key = next;
    }
    return key;
}

void MarkDeleted(Key& key) {
    key.deleted = true;
    for (const auto& subkey : key.subkeys) MarkDeleted(*subkey);
}

}  // namespace

LSTATUS RegCreateKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
    std::lock_guard<std::mutex> lock(winsim::detail::KernelLock());
    DWORD fault;
    if (winsim::detail::TakeFaultLocked("RegCreateKeyA", &fault))
        return static_cast<LSTATUS>(fault);
    if (result == nullptr) return ERROR_INVALID_PARAMETER;

    Registry& registry = State();
    std::shared_ptr<Key> parent = Resolve(registry, key);
    if (parent == nullptr) return ERROR_INVALID_HANDLE;
    if (parent->deleted) return ERROR_KEY_DELETED;
    std::string path = sub_key != nullptr ? sub_key : "";
    if (path.empty() && IsRoot(key)) {
        *result = key;
        return ERROR_SUCCESS;
    }
    if (!path.empty() && path[0] == '\\') return kErrorBadPathname;

    HKEY handle = reinterpret_cast<HKEY>(registry.next_handle);
    registry.next_handle += 4;
    registry.handles[handle] = Walk(parent, SplitPath(path), true);
    *result = handle;
    return ERROR_SUCCESS;
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_length,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_length) {
    std::lock_guard<std::mutex> lock(winsim::detail::KernelLock());
    DWORD fault;
    if (winsim::detail::TakeFaultLocked("RegEnumValueA", &fault))
        return static_cast<LSTATUS>(fault);
    if (value_name == nullptr || value_name_length == nullptr || reserved != nullptr ||
        (data != nullptr && data_length == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }

    Registry& registry = State();
    std::shared_ptr<Key> found = Resolve(registry, key);
    if (found == nullptr) return ERROR_INVALID_HANDLE;
    if (found->deleted) return ERROR_KEY_DELETED;
    if (index >= found->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = found->values[index];

    // The name buffer must hold the name and its zero; its count comes back without the zero.
    if (value.name.size() >= *value_name_length) return ERROR_MORE_DATA;
    std::memcpy(value_name, value.name.c_str(), value.name.size() + 1);
    *value_name_length = static_cast<DWORD>(value.name.size());
    if (type != nullptr) *type = value.type;
    if (data_length != nullptr) {
        DWORD size = static_cast<DWORD>(value.data.size());
        bool fits = data == nullptr || size <= *data_length;
        if (data != nullptr && fits) std::memcpy(data, value.data.data(), size);
        *data_length = size;
        if (!fits) return ERROR_MORE_DATA;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    std::lock_guard<std::mutex> lock(winsim::detail::KernelLock());
    DWORD fault;
    if (winsim::detail::TakeFaultLocked("RegCloseKey", &fault)) return static_cast<LSTATUS>(fault);
    if (IsRoot(key)) return ERROR_SUCCESS;
    Registry& registry = State();
    return registry.handles.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace winsim {

void detail::ResetRegistry() {
    std::lock_guard<std::mutex> guard(detail::KernelLock());
    Registry& registry = State();
    MarkDeleted(*registry.local_machine);
    MarkDeleted(*registry.current_user);
    registry.local_machine = std::make_shared<Key>();
    registry.current_user = std::make_shared<Key>();
    registry.handles.clear();
}

namespace test {

void RegSetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const std::string& data) {
    std::lock_guard<std::mutex> guard(detail::KernelLock());
    Registry& registry = State();
    std::shared_ptr<Key> start = Resolve(registry, root);
    if (start == nullptr) return;
    std::shared_ptr<Key> key = Walk(start, SplitPath(path), true);
    for (Value& value : key->values) {
        if (SameText(value.name, name)) {
            value.type = type;
            value.data = data;
            return;
        }
    }
    key->values.push_back(Value{name, type, data});
}

void RegDeleteTree(HKEY root, const std::string& path) {
    std::lock_guard<std::mutex> guard(detail::KernelLock());
    Registry& registry = State();
    std::shared_ptr<Key> start = Resolve(registry, root);
    std::vector<std::string> elements = SplitPath(path);
    if (start == nullptr) return;
    if (elements.empty()) {  // the key itself stays; everything in it goes
        for (const auto& subkey : start->subkeys) MarkDeleted(*subkey);
        start->subkeys.clear();
        start->values.clear();
        return;
    }
    std::string last = elements.back();
    elements.pop_back();
    std::shared_ptr<Key> parent = Walk(start, elements, false);
    if (parent == nullptr) return;
    for (auto it = parent->subkeys.begin(); it != parent->subkeys.end(); ++it) {
        if (SameText((*it)->name, last)) {
            MarkDeleted(**it);
            parent->subkeys.erase(it);
            return;
        }
    }
}

bool RegKeyExists(HKEY root, const std::string& path) {
    std::lock_guard<std::mutex> guard(detail::KernelLock());
    Registry& registry = State();
    std::shared_ptr<Key> start = Resolve(registry, root);
    return start != nullptr && Walk(start, SplitPath(path), false) != nullptr;
}

std::string RegSz(const std::string& text) {
    return text + std::string(1, '\0');
}

std::string RegDword(DWORD value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
    return bytes;
}

}  // namespace test
}  // namespace winsim
