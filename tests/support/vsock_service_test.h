// A fixture that runs the OS wrapper and the socket service for one test;
// for test programs that link the socket service.
#pragma once

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"

#include <gtest/gtest.h>

namespace qtest {

class VsockServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        oswrap_init(); // once per program; later calls report "already"
        ASSERT_EQ(vsock_init(), VSOCK_OK);
    }
    void TearDown() override { vsock_term(); }
};

} // namespace qtest
