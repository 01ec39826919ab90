// The browser's two in-process hot paths, each against its peer in the same
// run (throughput, higher is better):
// - building the device tree (200 devices, 2000 channels with a label each,
//   through the resolved handlers) against inserting the same keys into
//   std::map;
// - parsing SAP announcements (header check and SDP text) against only
//   splitting the same SDP text into lines with memchr.
#include "dante/browse/db_internal.h"
#include "dante/browse/db_sap.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kDevices = 200;
constexpr int kChannelsPerDevice = 10;

std::string txt(const std::vector<std::string>& entries)
{
    std::string out;
    for (const auto& e : entries)
        out += static_cast<char>(e.size()) + e;
    return out;
}

void resolved(db_browse* b, unsigned type, const std::string& name, const std::string& record)
{
    db_resolve r;
    r.browse = b;
    r.type = type;
    r.name = name;
    db_handle_resolved(
        &r, "host", 4440, static_cast<uint16_t>(record.size()), reinterpret_cast<const unsigned char*>(record.data()));
}

void TreeInsert(benchmark::State& state)
{
    db_browse* b = nullptr;
    db_browse_new(nullptr, 0x07, &b);
    const std::string conmon = txt({"id=0011223344556677", "process=4"});
    std::vector<std::string> channelTxt;
    for (int c = 0; c < kChannelsPerDevice; ++c)
        channelTxt.push_back(txt({"id=" + std::to_string(c + 1), "rate=48000", "enc=24", "default"}));
    const std::string label = txt({"id=1", "rate=48000", "enc=24"});
    for (auto _ : state) {
        for (int d = 0; d < kDevices; ++d) {
            const std::string device = "dev" + std::to_string(d * 7919 % kDevices);
            resolved(b, DB_BROWSE_TYPE_CONMON_DEVICE, device, conmon);
            for (int c = 0; c < kChannelsPerDevice; ++c)
                resolved(b, DB_BROWSE_TYPE_MEDIA_CHANNEL, std::to_string(c) + "@" + device, channelTxt[size_t(c)]);
        }
        db_tree_clear(b);
    }
    state.SetItemsProcessed(state.iterations() * kDevices * (1 + kChannelsPerDevice));
    db_browse_free(b);
}

void TreeInsertStdMap(benchmark::State& state)
{
    for (auto _ : state) {
        std::map<std::string, std::map<uint16_t, std::string>> tree;
        for (int d = 0; d < kDevices; ++d) {
            const std::string device = "dev" + std::to_string(d * 7919 % kDevices);
            auto& channels = tree[device];
            for (int c = 0; c < kChannelsPerDevice; ++c)
                channels[static_cast<uint16_t>(c + 1)] = std::to_string(c);
        }
        benchmark::DoNotOptimize(tree.size());
    }
    state.SetItemsProcessed(state.iterations() * kDevices * (1 + kChannelsPerDevice));
}

const std::string kSdp = "v=0\r\no=- 1311738121 1311738121 IN IP4 192.168.1.10\r\ns=Stage Left\r\n"
                         "i=2 channels: Left, Right\r\nc=IN IP4 239.69.1.10/32\r\nt=0 0\r\na=keywds:Dante\r\n"
                         "m=audio 5004 RTP/AVP 96\r\ni=Channels 1-2\r\na=rtpmap:96 L24/48000/2\r\na=recvonly\r\n"
                         "a=ptime:1\r\na=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-55:0\r\n"
                         "a=mediaclk:direct=0\r\n";

std::vector<uint8_t> packet()
{
    std::string p("\x20\x00\x12\x34\xC0\xA8\x01\x0A", 8);
    p += std::string("application/sdp", 16) + kSdp;
    return {p.begin(), p.end()};
}

void SapParse(benchmark::State& state)
{
    const auto p = packet();
    sdp_session s;
    for (auto _ : state)
        benchmark::DoNotOptimize(get_sdp_parsed_structure(p.data(), p.size(), &s));
    state.SetItemsProcessed(state.iterations());
}

void SapLineSplitMemchr(benchmark::State& state)
{
    const auto p = packet();
    for (auto _ : state) {
        const char* text = reinterpret_cast<const char*>(p.data()) + 24;
        const char* end = reinterpret_cast<const char*>(p.data()) + p.size();
        size_t lines = 0;
        while (text < end) {
            const void* lf = std::memchr(text, '\n', static_cast<size_t>(end - text));
            if (!lf)
                break;
            text = static_cast<const char*>(lf) + 1;
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(TreeInsert);
BENCHMARK(TreeInsertStdMap);
BENCHMARK(SapParse);
BENCHMARK(SapLineSplitMemchr);
BENCHMARK_MAIN();
