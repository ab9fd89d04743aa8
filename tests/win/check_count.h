// The checks of the Windows test programs run under Wine: each failed check prints one
// line, and the program ends with a summary and the number of failures as its exit code.
#pragma once

#include <cstdio>

namespace installer::win_checks {

inline int g_failures = 0;
inline int g_checks = 0;

inline void Check(bool ok, const char* what) {
    ++g_checks;
    if (!ok) {
        ++g_failures;
        std::printf("FAILED: %s\n", what);
    }
}

// Prints "N checks, M failed" and returns M, the program's exit code.
inline int Summary() {
    std::printf("%d checks, %d failed\n", g_checks, g_failures);
    return g_failures;
}

}  // namespace installer::win_checks
