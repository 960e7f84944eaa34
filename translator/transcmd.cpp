// The translator's main module: start-up and the end of a login.
#include "translator.h"

TranslatorState g_translator;

int TranslatorMain(int, char**) {
    return 1;
}
