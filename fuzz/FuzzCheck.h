#pragma once

// What a fuzz target does when a property it checks does not hold: name it and abort,
// so that libFuzzer keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Expect(bool condition, const char* what) {
    if (!condition)
        Fail(what);
}
