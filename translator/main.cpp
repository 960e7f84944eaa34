// command-translator: bridges a remote terminal and a Windows console for one login.
#include "Reporter.h"
#include "translator.h"

extern const char* const kReporterName = "Orvane Command Translator";

int main(int argc, char** argv) {
    return TranslatorMain(argc, argv);
}
