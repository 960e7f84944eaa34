// What every fuzz target shares: the reporter's name (the targets stand in for a program of the
// system) and the simulation's start, done once before the first input.
#include <cstddef>
#include <cstdint>

#include "winsim/control.h"

extern const char* const kReporterName = "Fuzz Target";

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    winsim::test::EndStaticInitialisation();
    return 0;
}
