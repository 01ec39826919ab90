// Benchmark programs that run inside a network namespace of their own, with
// the test bed's veth pair to a peer namespace, so nothing they send reaches
// a real network.
#pragma once

#include "tests/support/netns.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sched.h>

// Moves the program into a fresh namespace and builds the bed there. On
// failure it says why and gives the program's exit code (0 when namespaces
// are unavailable, so nothing runs; 1 when the bed failed).
inline std::unique_ptr<qtest::NetnsBed> benchNetnsBed(const char* program, int* exitCode)
{
    if (unshare(CLONE_NEWNET) != 0) {
        std::printf("%s: no network namespace: nothing run\n", program);
        *exitCode = 0;
        return nullptr;
    }
    setenv("QUILLON_IN_TEST_NETNS", "1", 1); // the bed is used in our own namespace
    auto bed = std::make_unique<qtest::NetnsBed>();
    if (!bed->ready()) {
        std::printf("%s: %s\n", program, bed->error().c_str());
        *exitCode = 1;
        return nullptr;
    }
    return bed;
}
