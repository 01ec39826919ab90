// Framing of the workgroup TCP stream: one message per call, read from a
// blocking socket. A message starts with a 4-byte magic ("VWMP", "VRSM" or
// "VRCP") and its 32-bit big-endian total length.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest message that is handed over. Longer ones are read and dropped so
// that a wrong length field costs no memory; framing goes on after them.
constexpr uint32_t WGFRAME_MAX_LENGTH = 64 * 1024;

// Called with one whole message: magic and length at its front.
using WgFrameHandler = void (*)(const uint8_t* message, uint32_t length, void* context);

constexpr long WGFRAME_END = 0; // the stream ended (a partial message is lost)
constexpr long WGFRAME_ERROR = -1; // a socket error, or a length below 8
constexpr long WGFRAME_SKIPPED_MAGIC = 4; // four bytes that were no magic, dropped

// Reads one message; on success returns its length L (> 8). A message longer
// than maxLength is consumed without calling the handler; handler may be
// null.
long wgframe_readOne(int fd, uint32_t maxLength, WgFrameHandler handler, void* context);

// True for the three magics the framer accepts.
bool wgframe_isMagic(const uint8_t bytes[4]);
