// What the library asks of the operating system directly.
#pragma once

#include "dante/support/aud_error.h"

#include <cstdint>

// Run by the first aud_env_setup: seeds the C library's random generator.
aud_error aud_platform_start();

// Kernel release (uname), e.g. 6 and 1 for "6.1.0-18-amd64", low bytes
// only. INVALIDPARAMETER on a null out, INVALIDDATA when the release text
// does not start with "major.minor", the converted errno when uname fails.
aud_error aud_os_release(uint32_t* major, uint32_t* minor);

// The current process id. INVALIDPARAMETER on null out.
aud_error aud_process_id(uint32_t* out);
