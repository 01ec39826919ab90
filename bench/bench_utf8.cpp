// UTF-8 to UTF-16 conversion through JUnicode, one code point at a time as
// the receive path does it, against iconv(3) on the same 1 MiB of mixed
// text. The ratio of the two bytes_per_second figures is the one to watch.
#include "pbd/jlib/junicode.h"

#include <benchmark/benchmark.h>

#include <iconv.h>

#include <string>
#include <vector>

namespace {

const std::string& mixedText()
{
    static const std::string text = [] {
        const std::string sample = "SET 1 \"Main/Gain\" -12.5 dB\r\n"
                                   "Größe der Ausgänge: Überblick, déjà vu, señal\n"
                                   "音声入出力ラック 第2チャンネル\n"
                                   "Κανάλι 3 · Канал 4 \xF0\x9F\x8E\x9B\xF0\x9F\x8E\x9A\n";
        std::string t;
        while (t.size() + sample.size() <= (1u << 20))
            t += sample;
        while (t.size() < (1u << 20))
            t += ' ';
        return t;
    }();
    return text;
}

size_t toUtf16(const std::string& in, std::vector<uint16_t>* out)
{
    const auto* data = reinterpret_cast<const uint8_t*>(in.data());
    const size_t length = in.size();
    uint16_t* units = out->data();
    size_t pos = 0, n = 0;
    JLIB::JUnicode ch;
    while (pos < length) {
        size_t used = 0;
        ch.fromUtf8(data + pos, length - pos, &used);
        if (used == 0)
            break;
        pos += used;
        size_t count = 0;
        ch.toUtf16(&units[n], &units[n + 1], &count);
        n += count;
    }
    return n;
}

void BM_JUnicodeUtf8ToUtf16(benchmark::State& state)
{
    const std::string& text = mixedText();
    std::vector<uint16_t> out(text.size() + 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(toUtf16(text, &out));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_JUnicodeUtf8ToUtf16);

void BM_IconvUtf8ToUtf16(benchmark::State& state)
{
    const std::string& text = mixedText();
    std::vector<uint16_t> out(text.size() + 2);
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    size_t inLeft = 0;
    for (auto _ : state) {
        char* in = const_cast<char*>(text.data());
        inLeft = text.size();
        char* dst = reinterpret_cast<char*>(out.data());
        size_t outLeft = out.size() * sizeof(uint16_t);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(iconv(cd, &in, &inLeft, &dst, &outLeft));
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    if (inLeft != 0)
        state.SkipWithError("iconv stopped before the end of the text");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_IconvUtf8ToUtf16);

} // namespace

BENCHMARK_MAIN();
