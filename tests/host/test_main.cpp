// Runs the host tests.  The test program stands in for a program of the system: it names its
// reporter, and its static objects are built before the tests start.
#include <gtest/gtest.h>

#include "winsim/control.h"

extern const char* const kReporterName = "Test Program";

int main(int argc, char** argv) {
    winsim::test::EndStaticInitialisation();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
