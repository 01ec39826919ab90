// The datagram ring against a deque model: same results, same contents.
#include "pbd/vsock/vsock_ring.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        abort();
}

struct Item {
    VSockEndpoint from;
    std::vector<uint8_t> payload;
};

uint32_t wordsOf(const Item& i)
{
    return 8 + static_cast<uint32_t>((i.payload.size() + 3) / 4);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static auto ring = std::make_unique<VSockRing>();
    vsock_ringReset(ring.get());
    std::deque<Item> model;
    uint32_t used = 0;
    uint8_t counter = 0;

    size_t pos = 0;
    auto next = [&]() -> uint32_t { return pos < size ? data[pos++] : 0; };
    // Start anywhere, so that records wrap early.
    const uint32_t start = (next() << 8 | next()) % VSOCK_RING_WORDS;
    ring->read = ring->write = start;

    for (int step = 0; step < 4096 && pos < size; ++step) {
        const uint32_t op = next() % 4;
        const uint32_t arg = (next() << 8 | next());
        if (op <= 1) {
            Item item;
            item.from = VSockEndpoint{};
            item.from.port = static_cast<uint16_t>(arg);
            item.from.address.family = VSOCK_FAMILY_IPV4;
            item.from.address.scopeId = arg * 2654435761u;
            memset(item.from.address.addr, counter, sizeof item.from.address.addr);
            item.payload.resize(arg % 2049 + 1);
            for (auto& b : item.payload)
                b = ++counter;
            const bool fits = used + wordsOf(item) <= VSOCK_RING_WORDS - 1;
            const VSockResult rc = vsock_ringAppend(
                ring.get(), &item.from, item.payload.data(), static_cast<uint32_t>(item.payload.size()));
            check(rc == (fits ? VSOCK_OK : VSOCK_E_RESOURCE));
            if (fits) {
                used += wordsOf(item);
                model.push_back(std::move(item));
            }
        } else if (op == 2) {
            const uint32_t cap = arg % 2100;
            std::vector<uint8_t> out(cap + 1, 0xEE);
            VSockEndpoint from;
            const VSockResult rc = vsock_ringTake(ring.get(), out.data(), cap, &from);
            if (model.empty()) {
                check(rc == VSOCK_E_EMPTY);
            } else if (cap < model.front().payload.size()) {
                check(rc == VSOCK_E_BUFFER);
            } else {
                const Item& want = model.front();
                check(rc == static_cast<VSockResult>(want.payload.size()));
                check(memcmp(out.data(), want.payload.data(), want.payload.size()) == 0);
                check(out[cap] == 0xEE);
                check(memcmp(&from, &want.from, sizeof from) == 0);
                used -= wordsOf(want);
                model.pop_front();
            }
        } else {
            const VSockResult rc = vsock_ringDrop(ring.get());
            check(rc == (model.empty() ? VSOCK_E_EMPTY : VSOCK_OK));
            if (!model.empty()) {
                used -= wordsOf(model.front());
                model.pop_front();
            }
        }
        check(vsock_ringEmpty(ring.get()) == model.empty());
        check(vsock_ringFree(ring.get()) == VSOCK_RING_WORDS - 1 - used);
    }
    return 0;
}
