// The registry value table over values of any type, name and length, set in the simulated
// registry and read back by name as the programs read their settings.  A value too large for the
// enumeration buffers ends the program with its report; every other key reads back whole.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ZREGENT.h"
#include "winsim/control.h"

namespace {

namespace test = winsim::test;

constexpr char kCompany[] = "Fuzz Company";
constexpr char kProduct[] = "Fuzz Product";
constexpr char kPath[] = "Software\\Fuzz Company\\Fuzz Product\\CurrentVersion";

struct Value {
    std::string name;  // as last set
    DWORD type;
    std::string data;
};

std::string Folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

std::string Name(FuzzedDataProvider& input) {
    // Few letters, so that names meet in different case; now and then any bytes but zero.
    std::string name;
    if (input.ConsumeIntegralInRange(0, 3) == 0) {
        name = input.ConsumeRandomLengthString(40);
        name = name.substr(0, name.find('\0'));
    } else {
        static const char kLetters[] = "aAbB";
        for (int n = input.ConsumeIntegralInRange(1, 3); n > 0; --n)
            name += kLetters[input.ConsumeIntegralInRange(0, 3)];
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    test::Reset();
    std::map<std::string, Value> model;  // by folded name
    for (int n = input.ConsumeIntegralInRange(0, 12); n > 0; --n) {
        Value value;
        value.name = Name(input);
        static const DWORD kTypes[] = {REG_SZ, REG_DWORD, REG_BINARY, REG_EXPAND_SZ, REG_NONE};
        value.type = input.ConsumeBool() ? kTypes[input.ConsumeIntegralInRange(0, 4)]
                                         : input.ConsumeIntegral<DWORD>();
        size_t length = input.ConsumeIntegralInRange(0, 24);
        if (input.ConsumeIntegralInRange(0, 63) == 0) length = 32768 + input.ConsumeBool();
        value.data = input.ConsumeBytesAsString(length);
        value.data.resize(length, 'x');
        test::RegSetValue(HKEY_LOCAL_MACHINE, kPath, value.name, value.type, value.data);
        model[Folded(value.name)] = value;
    }
    // Each name once (a number asked for leaves its default behind), and one more that may be
    // unknown.
    std::vector<std::string> asked;
    for (const auto& entry : model) asked.push_back(entry.second.name);
    std::string other = Name(input);
    if (model.count(Folded(other)) == 0) asked.push_back(other);

    // A value set again in other case replaces the one before, oversized or not.
    bool oversized = false;
    for (const auto& entry : model) oversized |= entry.second.data.size() > 32768;
    if (oversized) {
        winsim::ExitStatus status = winsim::RunProcess([] {
            RegistrySettingsStore store(0, kCompany, kProduct, "1");
            return 0;
        });
        std::vector<test::EventRecord> log = test::EventLog();
        if (status.code != 1 || status.crashed || log.size() != 1 ||
            log[0].strings !=
                std::vector<std::string>{"Error enumerating registry values: 234\n"}) {
            std::fprintf(stderr, "exit %lu, %zu reports: %s\n",
                         static_cast<unsigned long>(status.code), log.size(),
                         log.empty() || log[0].strings.empty() ? "" : log[0].strings[0].c_str());
            abort();
        }
        return 0;
    }

    RegistrySettingsStore store(0, kCompany, kProduct, "1");
    for (const std::string& name : asked) {
        auto found = model.find(Folded(name));
        const Value* value = found == model.end() ? nullptr : &found->second;
        const char* text = nullptr;
        bool is_text = value != nullptr && value->type == REG_SZ;
        if (store.GetString(name.c_str(), &text) != is_text) abort();
        if (is_text && std::strcmp(text, value->data.c_str()) != 0) abort();

        bool is_number = value != nullptr && value->type == REG_DWORD && value->data.size() >= 4;
        DWORD number = 0;
        if (store.GetNumber(name.c_str(), &number, 0xC0FFEE) != is_number) abort();
        DWORD expected = 0xC0FFEE;
        if (is_number) std::memcpy(&expected, value->data.data(), 4);
        if (number != expected) abort();
        // A default once given is the value from then on, and no text any more.
        if (!store.GetNumber(name.c_str(), &number, 1) || number != expected) abort();
        if (!is_number && store.GetString(name.c_str(), &text)) abort();
    }
    return 0;
}
