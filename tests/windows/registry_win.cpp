// Builds the registry settings store over the values that registry.sh wrote with the reg tool
// ("values"), or over a product key that registry.sh deleted ("missing"), and checks every lookup.
#include <cstdio>
#include <cstring>

#include "Reporter.h"
#include "ZREGENT.h"
#include "check.h"

const char* const kReporterName = "Registry Windows Test";

namespace {

bool HasString(const RegistrySettingsStore& store, const char* name, const char* expected) {
    const char* text = nullptr;
    return store.GetString(name, &text) && std::strcmp(text, expected) == 0;
}

bool HasNumber(RegistrySettingsStore& store, const char* name, DWORD expected) {
    DWORD number = 0;
    return store.GetNumber(name, &number, 9) && number == expected;
}

bool DefaultsTo(RegistrySettingsStore& store, const char* name, DWORD default_value) {
    DWORD number = 0;
    return !store.GetNumber(name, &number, default_value) && number == default_value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: registry_win values|missing\n");
        return 2;
    }
    RegistrySettingsStore store(0, "Orvane Software, Inc.", "Registry Test Server", "1");
    const char* text = nullptr;
    if (std::strcmp(argv[1], "values") == 0) {
        CHECK(HasString(store, "CommandProcessor", "cmd.exe /q"));  // written as COMMANDprocessor
        CHECK(HasString(store, "Empty", ""));
        CHECK(!store.GetString("Expand", &text));
        CHECK(!store.GetString("Multi", &text));
        CHECK(!store.GetString("Binary", &text));
        CHECK(HasNumber(store, "exitdetectiontimeout", 250));
        CHECK(HasNumber(store, "Large", 0xFFFFFFFE));
        CHECK(DefaultsTo(store, "Binary", 400));
        // A number written as a string: the default replaces it in the store.
        CHECK(DefaultsTo(store, "ModeSelection", 0));
        CHECK(!store.GetString("ModeSelection", &text));
    } else {
        CHECK(!store.GetString("CommandProcessor", &text));
        CHECK(DefaultsTo(store, "ExitDetectionTimeout", 400));
        CHECK(HasNumber(store, "ExitDetectionTimeout", 400));
    }
    return wincheck::Finish();
}
