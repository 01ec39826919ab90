// MD5 message digest (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>

struct jlib_md5_ctx {
    uint32_t state[4];
    uint64_t bitCount;
    uint8_t block[64];
};

void jlib_md5Init(jlib_md5_ctx* context);
void jlib_md5Update(jlib_md5_ctx* context, const void* data, size_t length);
// Writes the 16-byte digest and clears the context.
void jlib_md5Final(uint8_t digest[16], jlib_md5_ctx* context);
