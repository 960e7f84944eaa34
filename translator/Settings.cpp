// The translator's settings, read from the registry.
#include "Settings.h"

#include <cstring>

#include "Text.h"
#include "ZREGENT.h"

Settings ReadSettings(const char* product) {
    RegistrySettingsStore store(0, "Orvane Software, Inc.", product, "1");
    Settings settings;
    const char* text = nullptr;
    if (store.GetString("CommandProcessor", &text)) settings.command_processor = CopyText(text);
    const char* mode = nullptr;
    settings.mode = ModeFromSetting(store.GetString("ModeSelection", &mode) ? mode : nullptr);
    store.GetNumber("ExitDetectionTimeout", &settings.exit_detection_timeout, 400);
    store.GetNumber("SuppressColorSimulation", &settings.suppress_color_simulation, 0);
    store.GetNumber("InputSettleDelay", &settings.input_settle_delay, 30);
    store.GetNumber("KeySequences", &settings.key_sequences, 0);
    store.GetNumber("ColorMode", &settings.color_mode, 0);
    if (store.GetString("AdvancedTerminalTypes", &text))
        settings.advanced_terminal_types = CopyText(text);
    store.GetNumber("ScrollbackLines", &settings.scrollback_lines, 0);
    store.GetNumber("Utf8Client", &settings.utf8_client, 0);
    store.GetNumber("MouseInput", &settings.mouse_input, 0);
    store.GetNumber("InputBatching", &settings.input_batching, 0);
    store.GetNumber("BracketedPaste", &settings.bracketed_paste, 0);
    store.GetNumber("FullScreenPrograms", &settings.full_screen_programs, 0);
    if (store.GetString("SessionRecordingFolder", &text))
        settings.session_recording_folder = CopyText(text);
    store.GetNumber("SessionRecordingInput", &settings.session_recording_input, 0);
    if (store.GetString("MaxWindowSize", &text))
        settings.max_window_size = WindowSizeFromSetting(text);
    return settings;
}

TranslatorMode ModeFromSetting(const char* setting) {
    if (setting == nullptr) return TranslatorMode::kUndecided;
    if (lstrcmpiA(setting, "simple") == 0) return TranslatorMode::kSimple;
    if (std::strcmp(setting, "advanced") == 0) return TranslatorMode::kAdvanced;
    return TranslatorMode::kUndecided;
}

namespace {

// The decimal number at `*text` (1 to 32767) up to the first non-digit, which *text is left at;
// 0 when there is none or it is out of range.
SHORT SizePart(const char** text) {
    const char* at = *text;
    long value = 0;
    for (; *at >= '0' && *at <= '9'; ++at) {
        value = value * 10 + (*at - '0');
        if (value > 32767) return 0;
    }
    *text = at;
    return static_cast<SHORT>(value);
}

}  // namespace

COORD WindowSizeFromSetting(const char* setting) {
    if (setting == nullptr) return COORD{0, 0};
    const SHORT columns = SizePart(&setting);
    if (columns == 0 || *setting++ != 'x') return COORD{0, 0};
    const SHORT rows = SizePart(&setting);
    if (rows == 0 || *setting != '\0') return COORD{0, 0};
    return COORD{columns, rows};
}
