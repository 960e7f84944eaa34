// A minimal checker for the Windows test programs: each failed check prints where and what, and
// the program ends with a count line and a non-zero status when anything failed.
#pragma once

#include <cstdio>
#include <cstring>

namespace wincheck {
inline int passed = 0;
inline int failed = 0;

inline void Check(bool ok, const char* what, const char* file, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED %s:%d: %s\n", file, line, what);
        std::fflush(stdout);
    }
}

inline int Finish() {
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
}  // namespace wincheck

#define CHECK(condition) wincheck::Check((condition), #condition, __FILE__, __LINE__)
#define CHECK_STR(actual, expected) \
    wincheck::Check(std::strcmp((actual), (expected)) == 0, #actual " == " #expected, __FILE__, __LINE__)
