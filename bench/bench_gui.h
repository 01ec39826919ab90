// What the shared GUI main offers the benchmark programs that paint widgets.
#pragma once

#include <functional>

// Runs `release` after the benchmarks, while the application still exists:
// widgets a program keeps between runs must go before it does.
void bench_gui_atExit(std::function<void()> release);
