// Framing of the workgroup TCP stream: one message per call, read from a
// blocking socket. A message starts with a 4-byte magic ("VWMP", "VRSM" or
// "VRCP") and its 32-bit big-endian total length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Longest message that is handed over. Longer ones are read and dropped so
// that a wrong length field costs no memory; framing goes on after them.
constexpr uint32_t WGFRAME_MAX_LENGTH = 64 * 1024;

// Called with one whole message: magic and length at its front.
using WgFrameHandler = void (*)(const uint8_t* message, uint32_t length, void* context);

constexpr long WGFRAME_END = 0; // the stream ended (a partial message is lost)
constexpr long WGFRAME_ERROR = -1; // a socket error, or a length below 8
constexpr long WGFRAME_SKIPPED_MAGIC = 4; // four bytes that were no magic, dropped

// The stream's bytes already received but not yet framed: each recv takes
// what is there, so a burst of messages costs one call, not three each.
struct WgFrameReader {
    explicit WgFrameReader(int socket, uint32_t maxLength = WGFRAME_MAX_LENGTH);
    int fd;
    uint32_t maxLength;
    std::vector<uint8_t> buffer;
    size_t start = 0;
    size_t end = 0;
};

// Reads one message; on success returns its length L (>= 8). A message
// longer than the reader's maxLength is consumed without calling the
// handler; handler may be null. Blocks until the message is complete.
long wgframe_readOne(WgFrameReader* reader, WgFrameHandler handler, void* context);

// True when bytes wait in the reader, so a poll of the socket would not
// show them.
inline bool wgframe_hasBuffered(const WgFrameReader* reader)
{
    return reader->end > reader->start;
}

// True for the three magics the framer accepts.
bool wgframe_isMagic(const uint8_t bytes[4]);
