// What a fuzz harness does when an input breaks one of its invariants: say which, and
// abort, so that the fuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void check(bool condition, const char* what)
{
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
