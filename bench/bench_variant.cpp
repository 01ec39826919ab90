// Setting and reading text values, the most common variant traffic, against
// the floor of std::string doing the same assignment, read and copy.
#include "pbd/jlib/jvariant.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void BM_VariantSetString(benchmark::State& state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'v');
    JLIB::JVariant v;
    for (auto _ : state) {
        v.setString(text.c_str(), 1024);
        benchmark::DoNotOptimize(v.getString());
    }
}
BENCHMARK(BM_VariantSetString)->Arg(8)->Arg(64)->Arg(1023);

void BM_VariantGetString(benchmark::State& state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'v');
    const JLIB::JVariant v(text.c_str(), 1024);
    for (auto _ : state) {
        bool ok = false;
        benchmark::DoNotOptimize(v.getString(&ok));
        benchmark::DoNotOptimize(v.getStringSize(&ok));
    }
}
BENCHMARK(BM_VariantGetString)->Arg(8)->Arg(64)->Arg(1023);

void BM_VariantCopyString(benchmark::State& state)
{
    const JLIB::JVariant source("a typical parameter value", 1024);
    JLIB::JVariant target;
    for (auto _ : state) {
        target = source;
        benchmark::DoNotOptimize(target.getString());
    }
}
BENCHMARK(BM_VariantCopyString);

void BM_StdStringAssign(benchmark::State& state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'v');
    std::string v;
    v.reserve(1024);
    for (auto _ : state) {
        v.assign(text.c_str());
        benchmark::DoNotOptimize(v.c_str());
    }
}
BENCHMARK(BM_StdStringAssign)->Arg(8)->Arg(64)->Arg(1023);

void BM_StdStringRead(benchmark::State& state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'v');
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.c_str());
        benchmark::DoNotOptimize(text.size());
    }
}
BENCHMARK(BM_StdStringRead)->Arg(8)->Arg(64)->Arg(1023);

void BM_StdStringCopy(benchmark::State& state)
{
    const std::string source("a typical parameter value");
    std::string target;
    for (auto _ : state) {
        target = source;
        benchmark::DoNotOptimize(target.c_str());
    }
}
BENCHMARK(BM_StdStringCopy);

} // namespace

BENCHMARK_MAIN();
