#include "pbd/vsock/vsock_ring.h"

#include <cstring>

namespace {

uint32_t next(uint32_t index)
{
    return (index + 1) % VSOCK_RING_WORDS;
}

void putWords(VSockRing* ring, uint32_t* index, const uint8_t* bytes, uint32_t n)
{
    for (uint32_t off = 0; off < n; off += 4) {
        uint32_t word = 0;
        memcpy(&word, bytes + off, n - off < 4 ? n - off : 4);
        ring->words[*index] = word;
        *index = next(*index);
    }
}

void getWords(const VSockRing* ring, uint32_t* index, uint8_t* bytes, uint32_t n)
{
    for (uint32_t off = 0; off < n; off += 4) {
        const uint32_t word = ring->words[*index];
        memcpy(bytes + off, &word, n - off < 4 ? n - off : 4);
        *index = next(*index);
    }
}

// The length word of the record at the read index; the ring is not empty.
uint32_t headLength(const VSockRing* ring)
{
    return ring->words[(ring->read + 7) % VSOCK_RING_WORDS];
}

uint32_t wordsFor(uint32_t n)
{
    return (n + 3) / 4;
}

} // namespace

void vsock_ringReset(VSockRing* ring)
{
    ring->read = 0;
    ring->write = 0;
}

bool vsock_ringEmpty(const VSockRing* ring)
{
    return ring->read == ring->write;
}

uint32_t vsock_ringFree(const VSockRing* ring)
{
    return (ring->read + VSOCK_RING_WORDS - ring->write - 1) % VSOCK_RING_WORDS;
}

VSockResult vsock_ringAppend(VSockRing* ring, const VSockEndpoint* sender, const void* data, uint32_t n)
{
    if (n == 0 || !data || !sender)
        return VSOCK_E_PARAM;
    const uint64_t need = uint64_t{wordsFor(n)} + VSOCK_RING_HEADER_WORDS;
    if (vsock_ringFree(ring) < need)
        return VSOCK_E_RESOURCE;
    uint32_t index = ring->write;
    uint8_t header[sizeof(VSockEndpoint)];
    memcpy(header, sender, sizeof header);
    putWords(ring, &index, header, sizeof header);
    ring->words[index] = n;
    index = next(index);
    putWords(ring, &index, static_cast<const uint8_t*>(data), n);
    ring->write = index;
    return VSOCK_OK;
}

VSockResult vsock_ringPeekLength(const VSockRing* ring)
{
    if (vsock_ringEmpty(ring))
        return VSOCK_E_EMPTY;
    return static_cast<VSockResult>(headLength(ring));
}

VSockResult vsock_ringTake(VSockRing* ring, void* buffer, uint32_t size, VSockEndpoint* sender)
{
    if (vsock_ringEmpty(ring))
        return VSOCK_E_EMPTY;
    const uint32_t n = headLength(ring);
    if (size < n || (n > 0 && !buffer))
        return VSOCK_E_BUFFER;
    uint32_t index = ring->read;
    uint8_t header[sizeof(VSockEndpoint)];
    getWords(ring, &index, header, sizeof header);
    index = next(index);
    getWords(ring, &index, static_cast<uint8_t*>(buffer), n);
    ring->read = index;
    if (sender)
        memcpy(sender, header, sizeof header);
    return static_cast<VSockResult>(n);
}

VSockResult vsock_ringDrop(VSockRing* ring)
{
    if (vsock_ringEmpty(ring))
        return VSOCK_E_EMPTY;
    const uint32_t n = headLength(ring);
    ring->read = (ring->read + VSOCK_RING_HEADER_WORDS + wordsFor(n)) % VSOCK_RING_WORDS;
    return VSOCK_OK;
}
