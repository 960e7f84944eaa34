// The release package's registry files on real Win32, after package.sh has imported them.
//
//   eventsource_win render SOURCE TEXT PATH
//     renders a report the way an event viewer does: reads the source's EventMessageFile,
//     expands it (it must name PATH), loads that program as a data file and formats the report
//     event with TEXT as its insertion string from the program's message table.
//   eventsource_win settings
//     reads the three products' keys as the programs do and finds the defaults there.
#include <cstdio>
#include <cstring>
#include <string>

#include "Reporter.h"
#include "ZREGENT.h"
#include "check.h"

extern const char* const kReporterName = "Orvane Command Translator";

namespace {

constexpr char kCompany[] = "Orvane Software, Inc.";

bool ReadValue(HKEY key, const char* name, DWORD* type, std::string* data) {
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    if (RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    data->assign(buffer, size);
    return true;
}

int Render(const char* source, const char* text, const char* expected_path) {
    std::string key_path =
        std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + source;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::printf("FAILED: no event source key %s\n", key_path.c_str());
        return 1;
    }
    DWORD type = 0;
    std::string file;
    CHECK(ReadValue(key, "EventMessageFile", &type, &file));
    CHECK(type == REG_EXPAND_SZ);
    std::string types;
    CHECK(ReadValue(key, "TypesSupported", &type, &types));
    CHECK(type == REG_DWORD && types.size() == 4);
    if (types.size() == 4) {
        DWORD supported;
        std::memcpy(&supported, types.data(), 4);
        CHECK(supported ==
              (EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE));
    }
    RegCloseKey(key);

    char path[MAX_PATH] = {};
    DWORD length = ExpandEnvironmentStringsA(file.c_str(), path, sizeof path);
    CHECK(length > 0 && length <= sizeof path);
    std::printf("%s: EventMessageFile %s -> %s\n", source, file.c_str(), path);
    CHECK(lstrcmpiA(path, expected_path) == 0);

    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("FAILED: cannot load %s as a data file: %lu\n", path, GetLastError());
        return 1;
    }
    // What an event viewer does with a stored event: the event id and its insertion strings.
    char insert[1024];
    lstrcpynA(insert, text, sizeof insert);
    char* inserts[] = {insert};
    char rendered[2048] = {};
    DWORD rendered_length = FormatMessageA(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, kReportEventId, 0,
        rendered, sizeof rendered, reinterpret_cast<va_list*>(inserts));
    if (rendered_length == 0) std::printf("FormatMessageA failed: %lu\n", GetLastError());
    CHECK_STR(rendered, (std::string(text) + "\r\n").c_str());
    std::printf("%s: rendered \"%s\"\n", source, std::string(rendered, rendered_length).c_str());
    FreeLibrary(module);
    return wincheck::Finish();
}

void CheckTranslatorDefaults(const char* product) {
    RegistrySettingsStore store(0, kCompany, product, "1");
    const char* text = nullptr;
    CHECK(!store.GetString("CommandProcessor", &text));
    CHECK(!store.GetString("ModeSelection", &text));
    DWORD number = 12345;
    CHECK(store.GetNumber("ExitDetectionTimeout", &number, 1));
    CHECK(number == 400);
    number = 12345;
    CHECK(store.GetNumber("SuppressColorSimulation", &number, 1));
    CHECK(number == 0);
}

int CheckSettings() {
    CheckTranslatorDefaults("Orvane Telnetd Server");
    CheckTranslatorDefaults("Orvane Rlogind Server");
    RegistrySettingsStore rexec(0, kCompany, "Orvane Rexecd Server", "1");
    const char* text = nullptr;
    CHECK(!rexec.GetString("CommandProcessor", &text));
    return wincheck::Finish();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "render") == 0) return Render(argv[2], argv[3], argv[4]);
    if (argc == 2 && std::strcmp(argv[1], "settings") == 0) return CheckSettings();
    std::printf("usage: eventsource_win render SOURCE TEXT PATH | settings\n");
    return 2;
}
