// RAW line decoding on a realistic mix of NOTIFY and OK lines, fed in
// 1500-byte reads as the receive loop does, against the floor of splitting
// the same bytes at LF with memchr (also as one row timing both in turn); JSON decoding against the same floor over
// its own bytes; and encoding bursts of SET lines against
// the floor of formatting the same lines with snprintf.
#include "scp/scp_codec.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kRead = 1500;

std::string makeStream(size_t targetBytes)
{
    std::string s;
    for (unsigned i = 0; s.size() < targetBytes; ++i) {
        const std::string ch = std::to_string(i % 64);
        switch (i % 8) {
        case 0:
        case 1:
        case 2:
            s += "NOTIFY set IO:Current/InCh/" + ch + "/Gain 0 0 " + std::to_string(int(i % 1441) - 720) + "\n";
            break;
        case 3:
            s += "NOTIFY mtr Meter/InCh 7f 3a 00 12 ff 80 7f 3a 00 12 ff 80 7f 3a 00 12\n";
            break;
        case 4:
            s += "OK get IO:Current/InCh/" + ch + "/48VOn 0 0 1\n";
            break;
        case 5:
            s += "OK gett IO:Current/InCh/" + ch + "/Name 0 0 \"Vocal \\\"" + ch + "\\\" \xc3\xa9\"\n";
            break;
        case 6:
            s += "NOTIFY setn IO:Current/OutCh/" + ch + "/Fader all 0 " + std::to_string(i % 1001) + " \"-inf\"\n";
            break;
        default:
            s += "OK set IO:Current/InCh/" + ch + "/Mute 0 0 0 \"off\"\n";
            break;
        }
    }
    return s;
}

const std::string& stream()
{
    static const std::string s = makeStream(1 << 20);
    return s;
}

size_t lineCount(const std::string& s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

// The floor: find every LF of every read with memchr.
void memchrSplit(benchmark::State& state, const std::string& s)
{
    for (auto _ : state) {
        size_t lines = 0;
        for (size_t at = 0; at < s.size(); at += kRead) {
            const size_t n = std::min(kRead, s.size() - at);
            const char* p = s.data() + at;
            const char* end = p + n;
            while ((p = static_cast<const char*>(std::memchr(p, '\n', end - p)))) {
                ++lines;
                ++p;
            }
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * s.size());
    state.SetItemsProcessed(int64_t(state.iterations()) * lineCount(s));
}

void BM_MemchrSplit(benchmark::State& state)
{
    memchrSplit(state, stream());
}
BENCHMARK(BM_MemchrSplit);

// Decodes every read of s; the number of lines decoded whole.
template <class Decoder> size_t decodeOnce(Decoder& decoder, const std::string& s, size_t* values)
{
    size_t lines = 0;
    for (size_t at = 0; at < s.size(); at += kRead) {
        const size_t n = std::min(kRead, s.size() - at);
        const auto* data = reinterpret_cast<const uint8_t*>(s.data()) + at;
        size_t pos = 0;
        while (pos < n) {
            size_t consumed = 0;
            const JResult r = decoder.feed(data + pos, n - pos, &consumed);
            pos += consumed;
            if (r != SCP::SCP_LINE_COMPLETE)
                break;
            ++lines;
            *values += decoder.values().count();
            decoder.resetAll();
        }
    }
    return lines;
}

// A row that decoded less than every line would measure a shortcut.
template <class Decoder> void decodeAll(benchmark::State& state, const std::string& s)
{
    Decoder decoder;
    const size_t expected = lineCount(s);
    for (auto _ : state) {
        size_t values = 0;
        const size_t lines = decodeOnce(decoder, s, &values);
        benchmark::DoNotOptimize(values);
        if (lines != expected) {
            state.SkipWithError("not every line decoded");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * s.size());
    state.SetItemsProcessed(int64_t(state.iterations()) * expected);
}

void BM_RawDecode(benchmark::State& state)
{
    decodeAll<SCP::ScpDecoderRAW>(state, stream());
}
BENCHMARK(BM_RawDecode);

// The LF count of s found read by read with memchr: the floor's work.
size_t splitLines(const std::string& s)
{
    size_t split = 0;
    for (size_t at = 0; at < s.size(); at += kRead) {
        const char* p = s.data() + at;
        const char* end = p + std::min(kRead, s.size() - at);
        while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p))))) {
            ++split;
            ++p;
        }
    }
    return split;
}

// Times fn in turn with the memchr split, same rounds, same bytes, and
// reports memchr split time ÷ fn's time (higher is better). fn returns the
// lines it handled and adds the values it stored to *values; a round that
// handled fewer lines than the bytes hold fails the row with `incomplete`.
template <class Fn> void againstMemchr(benchmark::State& state, const std::string& s, const char* incomplete, Fn fn)
{
    const size_t expected = lineCount(s);
    double ours = 0, floor = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        const size_t split = splitLines(s);
        benchmark::DoNotOptimize(split);
        auto t1 = std::chrono::steady_clock::now();
        size_t values = 0;
        const size_t lines = fn(&values);
        auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(values);
        if (lines != expected || split != expected) {
            state.SkipWithError(incomplete);
            return;
        }
        floor += std::chrono::duration<double>(t1 - t0).count();
        ours += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["ratio"] = floor / ours;
    state.SetBytesProcessed(int64_t(state.iterations()) * s.size());
}

// The RAW ratio with its floor taken in the same rounds on the same bytes.
void BM_RawDecodeAgainstMemchr(benchmark::State& state)
{
    const std::string& s = stream();
    SCP::ScpDecoderRAW decoder;
    againstMemchr(state, s, "not every line decoded", [&](size_t* values) { return decodeOnce(decoder, s, values); });
}
BENCHMARK(BM_RawDecodeAgainstMemchr)->Unit(benchmark::kMillisecond);

// The ceiling that the values table sets on the row above: the same lines,
// split at blanks beforehand, only stored the way the decoder stores them
// (an entry opened, the token's bytes widened into its code points,
// committed; the table cleared after each line), timed in turn with the
// same memchr split. A decoder filling this table cannot beat this ratio.
void BM_RawValueStoreAgainstMemchr(benchmark::State& state)
{
    struct Token {
        uint32_t offset;
        uint32_t length;
        bool lineEnd;
    };
    const std::string& s = stream();
    std::vector<Token> tokens;
    for (size_t at = 0; at < s.size();) {
        const size_t end = s.find_first_of(" \n", at);
        if (end > at)
            tokens.push_back({uint32_t(at), uint32_t(end - at), false});
        if (s[end] == '\n') {
            if (tokens.empty() || tokens.back().lineEnd)
                tokens.push_back({uint32_t(end), 0, true});
            tokens.back().lineEnd = true;
        }
        at = end + 1;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    SCP::ScpUnicodeStringTable table;
    table.allocate(SCP::SCP_TABLE_ENTRIES, SCP::SCP_VALUE_MAX);
    againstMemchr(state, s, "not every line stored", [&](size_t* values) {
        size_t lines = 0;
        for (const Token& t : tokens) {
            if (t.length > 0) {
                SCP::ScpText* entry = table.openEntry();
                entry->appendAscii(bytes + t.offset, t.length, s.size() - t.offset);
                table.commitEntry();
            }
            if (t.lineEnd) {
                *values += table.count();
                ++lines;
                table.clear();
            }
        }
        return lines;
    });
}
BENCHMARK(BM_RawValueStoreAgainstMemchr)->Unit(benchmark::kMillisecond);

const std::string& jsonStream()
{
    static const std::string s = [] {
        std::string out;
        for (unsigned i = 0; out.size() < (1u << 20); ++i)
            out += "{\"result\":\"NOTIFY\",\"command\":\"set\",\"address\":\"IO:Current/InCh/" + std::to_string(i % 64)
                + "/Gain\",\"x\":0,\"y\":0,\"param\":" + std::to_string(int(i % 1441) - 720) + "}\n";
        return out;
    }();
    return s;
}

// The JSON decoder's floor: the same LF split over the same JSON bytes.
void BM_MemchrSplitJson(benchmark::State& state)
{
    memchrSplit(state, jsonStream());
}
BENCHMARK(BM_MemchrSplitJson);

void BM_JsonDecode(benchmark::State& state)
{
    decodeAll<SCP::ScpDecoderJSON>(state, jsonStream());
}
BENCHMARK(BM_JsonDecode);

// A burst of SET requests as the device link sends after an edit: fill the
// elements, encode, hand the ring's bytes on.
void BM_EncodeSetBurst(benchmark::State& state)
{
    SCP::ScpRing ring;
    ring.allocate(0, 2048);
    SCP::ScpElementAlNum result("result");
    SCP::ScpElementAlNum command("command", "set");
    SCP::ScpElementAlNum address("address");
    SCP::ScpElementSubAddress x("x");
    SCP::ScpElementSubAddress y("y");
    SCP::ScpElementParameter param("param");
    SCP::ScpElementString text("text");
    SCP::ScpElementList list;
    list.push(&result, 0x30);
    list.push(&command, 0x38);
    list.push(&address, 0x38);
    list.push(&x, 0x38);
    list.push(&y, 0x38);
    list.push(&param, 0x38);
    list.push(&text, 0x30);
    char name[64];
    char out[2048];
    size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i) {
            std::snprintf(name, sizeof name, "IO:Current/InCh/%d/Gain", i);
            address.set(name);
            x.set(0);
            y.set(0);
            param.set(JLIB::JVariant(int32_t(i * 10 - 320)));
            if (jlib_failed(SCP::scp_encodeRequest(list, false, false, ring)))
                state.SkipWithError("encode failed");
            bytes += ring.read(reinterpret_cast<unsigned char*>(out), sizeof out);
        }
    }
    state.SetBytesProcessed(int64_t(bytes));
    state.SetItemsProcessed(int64_t(state.iterations()) * 64);
}
BENCHMARK(BM_EncodeSetBurst);

void BM_SnprintfSetBurst(benchmark::State& state)
{
    char out[2048];
    size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i) {
            const int n = std::snprintf(out, sizeof out, "set IO:Current/InCh/%d/Gain 0 0 %d\n", i, i * 10 - 320);
            benchmark::DoNotOptimize(out);
            bytes += static_cast<size_t>(n);
        }
    }
    state.SetBytesProcessed(int64_t(bytes));
    state.SetItemsProcessed(int64_t(state.iterations()) * 64);
}
BENCHMARK(BM_SnprintfSetBurst);

} // namespace

BENCHMARK_MAIN();
