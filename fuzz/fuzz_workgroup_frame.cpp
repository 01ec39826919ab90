// Arbitrary bytes through the workgroup framer over a socketpair, written in
// chunks whose size the first byte picks, then every framed message through
// the decoder in both session modes. The framer must end at the end of the
// stream, never read past a message and never keep more than its cap.
#include "fuzz/fuzz_check.h"

#include "fwupdate/workgroup/wg_frame.h"
#include "fwupdate/workgroup/wg_message.h"

#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint32_t kCap = 2048;

void onMessage(const uint8_t* message, uint32_t length, void*)
{
    fuzzCheck(length >= 8 && length <= kCap);
    // An exact-size copy, so that the decoder reading one byte too far is
    // caught.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length]);
    memcpy(copy.get(), message, length);
    for (WG::SessionMode mode : {WG::SessionMode::Management, WG::SessionMode::Interrupt}) {
        WG::WgMessage m;
        const WG::Decode d = WG::decodeMessage(copy.get(), length, mode, &m);
        if (d == WG::Decode::Message) {
            fuzzCheck(m.text.size() <= 255);
            fuzzCheck(m.payload.size() <= static_cast<int>(length));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t chunk = 1 + data[0] % 32;
    data++;
    size--;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return 0;
    std::thread writer([&] {
        for (size_t pos = 0; pos < size; pos += chunk) {
            const size_t n = size - pos < chunk ? size - pos : chunk;
            if (send(fds[1], data + pos, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n))
                break;
        }
        shutdown(fds[1], SHUT_WR);
    });
    // Every call consumes at least four bytes, so the stream ends within
    // size / 4 + 1 calls.
    WgFrameReader reader(fds[0], kCap);
    long result = 1;
    size_t calls = 0;
    while (result != WGFRAME_END) {
        result = wgframe_readOne(&reader, &onMessage, nullptr);
        fuzzCheck(++calls <= size / 4 + 2);
    }
    writer.join();
    close(fds[0]);
    close(fds[1]);
    return 0;
}
