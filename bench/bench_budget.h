// How long a benchmark runs. With QUILLON_BENCH_SMOKE set (CI) every
// program runs its rows once, to show that it builds and runs, not to
// measure: fixed round counts shrink to one and long waits to a second.
#pragma once

#include <cstdlib>

namespace benchbudget {

inline bool smoke()
{
    const char* v = std::getenv("QUILLON_BENCH_SMOKE");
    return v && *v && *v != '0';
}

// n rounds, or one in a smoke run.
inline int rounds(int n)
{
    return smoke() ? 1 : n;
}

// n of something that only makes a figure steadier (changes, seconds), or
// few in a smoke run.
inline int amount(int n, int few = 1)
{
    return smoke() ? few : n;
}

} // namespace benchbudget
