#include "fwupdate/workgroup/wg_frame.h"

#include "fwupdate/workgroup/wg_socket.h"
#include "pbd/jlib/jlib_bytes.h"

#include <cstring>
#include <memory>

namespace {

// end of stream -> 0, error -> -1, otherwise 1.
long partial(long got, size_t wanted)
{
    if (got < 0)
        return WGFRAME_ERROR;
    return static_cast<size_t>(got) < wanted ? WGFRAME_END : 1;
}

long discard(int fd, uint64_t count)
{
    uint8_t sink[4096];
    while (count > 0) {
        const size_t chunk = count < sizeof sink ? static_cast<size_t>(count) : sizeof sink;
        const long got = wgsock_recvExact(fd, sink, chunk);
        if (partial(got, chunk) != 1)
            return partial(got, chunk);
        count -= chunk;
    }
    return 1;
}

} // namespace

bool wgframe_isMagic(const uint8_t bytes[4])
{
    return memcmp(bytes, "VWMP", 4) == 0 || memcmp(bytes, "VRSM", 4) == 0 || memcmp(bytes, "VRCP", 4) == 0;
}

long wgframe_readOne(int fd, uint32_t maxLength, WgFrameHandler handler, void* context)
{
    uint8_t head[8];
    long got = wgsock_recvExact(fd, head, 4);
    if (partial(got, 4) != 1)
        return partial(got, 4);
    if (!wgframe_isMagic(head))
        return WGFRAME_SKIPPED_MAGIC;
    got = wgsock_recvExact(fd, head + 4, 4);
    if (partial(got, 4) != 1)
        return partial(got, 4);
    const uint32_t length = jlib_load32be(head + 4);
    if (length < 8)
        return WGFRAME_ERROR;
    if (length > maxLength) {
        const long skipped = discard(fd, length - 8);
        return skipped == 1 ? static_cast<long>(length) : skipped;
    }
    std::unique_ptr<uint8_t[]> message(new uint8_t[length]);
    memcpy(message.get(), head, 8);
    got = wgsock_recvExact(fd, message.get() + 8, length - 8);
    if (partial(got, length - 8) != 1)
        return partial(got, length - 8);
    if (handler)
        handler(message.get(), length, context);
    return static_cast<long>(length);
}
