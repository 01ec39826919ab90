// Datagram receive ring of a socket: records of 7 words of sender endpoint,
// 1 word of length in bytes, then the payload padded to whole words. Records
// wrap word by word at the end of the storage; one word always stays free.
#pragma once

#include "pbd/vsock/vsock.h"

#include <cstdint>

constexpr uint32_t VSOCK_RING_WORDS = 2048;
constexpr uint32_t VSOCK_RING_HEADER_WORDS = 8;

static_assert(sizeof(VSockEndpoint) == 7 * 4, "the sender endpoint fills 7 ring words");

struct VSockRing {
    uint32_t words[VSOCK_RING_WORDS];
    uint32_t read; // in words
    uint32_t write; // in words
};

void vsock_ringReset(VSockRing* ring);
bool vsock_ringEmpty(const VSockRing* ring);
uint32_t vsock_ringFree(const VSockRing* ring);
// Appends one datagram of n > 0 bytes; VSOCK_E_RESOURCE when it does not fit
// (nothing changes), else 0.
VSockResult vsock_ringAppend(VSockRing* ring, const VSockEndpoint* sender, const void* data, uint32_t n);
// Length of the oldest datagram, or VSOCK_E_EMPTY.
VSockResult vsock_ringPeekLength(const VSockRing* ring);
// Takes the oldest datagram: its length, VSOCK_E_EMPTY, or VSOCK_E_BUFFER
// when size is smaller than the datagram (it stays queued). sender may be null.
VSockResult vsock_ringTake(VSockRing* ring, void* buffer, uint32_t size, VSockEndpoint* sender);
// Removes the oldest datagram without reading it; VSOCK_E_EMPTY when none.
VSockResult vsock_ringDrop(VSockRing* ring);
