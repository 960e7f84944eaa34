// Start-up: the decisions of a login that depend on values alone.
#pragma once

#include "translator.h"

// The login protocol named by the first argument (either case); false for any other text.
bool ParseLoginProtocol(const char* argument, LoginProtocol* protocol);

// The settings key's product for the login protocol.
const char* SettingsProduct(LoginProtocol protocol);

// The start-up question's default: advanced mode for the ANSI terminal types and for those in
// `further_types` (the AdvancedTerminalTypes setting; null: none).
bool DefaultsToAdvanced(const char* terminal_type, const char* further_types = nullptr);

// Whether `terminal_type` is in `list`: names separated by blanks, each compared in either case,
// a trailing "*" matching any rest (none too).
bool TerminalTypeListed(const char* list, const char* terminal_type);

// What one answer byte to the start-up question decides: a mode, or kUndecided to ask again.
TranslatorMode ModeFromAnswer(BYTE answer, bool default_advanced);

// The start-up question with its default, as it is written to the client.
constexpr char kStartupQuestion[] =
    "Use advanced features (requires ANSI terminal emulation)? (y/n) [%s]? ";
