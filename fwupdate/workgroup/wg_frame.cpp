#include "fwupdate/workgroup/wg_frame.h"

#include "pbd/jlib/jlib_bytes.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace {

constexpr size_t kMinBuffer = 4096;

// Makes `need` bytes available from reader->start: 1, or 0 at the end of the
// stream, -1 on an error. need never exceeds the buffer.
long fill(WgFrameReader* r, size_t need)
{
    while (r->end - r->start < need) {
        if (r->buffer.size() - r->start < need) {
            memmove(r->buffer.data(), r->buffer.data() + r->start, r->end - r->start);
            r->end -= r->start;
            r->start = 0;
        }
        const ssize_t n = ::recv(r->fd, r->buffer.data() + r->end, r->buffer.size() - r->end, 0);
        if (n > 0) {
            r->end += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return WGFRAME_END;
        if (errno != EINTR)
            return WGFRAME_ERROR;
    }
    return 1;
}

long discard(WgFrameReader* r, uint64_t count)
{
    while (count > 0) {
        if (r->end == r->start) {
            const long got = fill(r, 1);
            if (got != 1)
                return got;
        }
        const size_t take = static_cast<size_t>(std::min<uint64_t>(count, r->end - r->start));
        r->start += take;
        count -= take;
    }
    return 1;
}

} // namespace

WgFrameReader::WgFrameReader(int socket, uint32_t maxLength_)
    : fd(socket)
    , maxLength(maxLength_ < 8 ? 8 : maxLength_)
    , buffer(std::max<size_t>(maxLength, kMinBuffer))
{
}

bool wgframe_isMagic(const uint8_t bytes[4])
{
    return memcmp(bytes, "VWMP", 4) == 0 || memcmp(bytes, "VRSM", 4) == 0 || memcmp(bytes, "VRCP", 4) == 0;
}

long wgframe_readOne(WgFrameReader* r, WgFrameHandler handler, void* context)
{
    long got = fill(r, 4);
    if (got != 1)
        return got;
    if (!wgframe_isMagic(r->buffer.data() + r->start)) {
        r->start += 4;
        return WGFRAME_SKIPPED_MAGIC;
    }
    got = fill(r, 8);
    if (got != 1)
        return got;
    const uint32_t length = jlib_load32be(r->buffer.data() + r->start + 4);
    r->start += 8;
    if (length < 8)
        return WGFRAME_ERROR;
    if (length > r->maxLength) {
        got = discard(r, length - 8);
        return got == 1 ? static_cast<long>(length) : got;
    }
    // The header stays in front of the body: step back over it, so the
    // handler gets the message as one piece.
    r->start -= 8;
    got = fill(r, length);
    if (got != 1)
        return got;
    const uint8_t* message = r->buffer.data() + r->start;
    r->start += length;
    if (handler)
        handler(message, length, context);
    if (r->start == r->end)
        r->start = r->end = 0;
    return static_cast<long>(length);
}
