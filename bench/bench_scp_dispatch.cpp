// Decode and dispatch of received lines through the client's factory table:
// a NOTIFY set line and a full meter line (150 items), with a fresh command
// object per line (as the receive loop does) and with one reused object.
#include "scp/scp_command.h"
#include "scp/scp_factory.h"
#include "scp/scp_session.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace SCP;

namespace {

class Parameter : public ScpParameter {
public:
    JResult indexOf(int32_t& index, const ScpText&) override { return index = 7, SCP_OK; }
    JResult storeValue(int32_t, int32_t, int32_t, int32_t, const JLIB::JVariant& v) override
    {
        benchmark::DoNotOptimize(&v);
        return 1;
    }
};

class Meter : public ScpMeterReporter {
public:
    JResult indexOf(int32_t& meterIndex, const ScpText&) override { return meterIndex = 0, SCP_OK; }
    JResult meterData(int32_t, const uint8_t* values, int32_t count, int32_t) override
    {
        benchmark::DoNotOptimize(values);
        return count;
    }
};

std::string setLine()
{
    return "NOTIFY set IO:Current/InCh/48VOn 3 0 -120 \"-12.0 dB\"\n";
}

// As many items as the decoder keeps (150 once its table holds a full line).
std::string meterLine()
{
    const uint32_t room = ScpDecoderRAW().values().capacity() - 5;
    std::string line = "NOTIFY mtr MTR:1 level";
    for (uint32_t i = 0; i < room && i < SCP_METER_ITEMS_MAX; ++i)
        line += " 7f";
    return line + "\n";
}

struct Rig {
    ScpDeviceReporter device;
    Parameter parameter;
    Meter meter;
    ScpSessionData session;
    ScpInfoReporter info{&device, &parameter, &meter, &session};
    Rig() { session.init(1); }
};

void run(benchmark::State& state, const std::string& line, bool fresh)
{
    Rig rig;
    ScpDecoderRAW decoder;
    const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
    size_t consumed = 0;
    decoder.feed(bytes, line.size(), &consumed);
    const IScpClientCommandFactory* factory
        = scp_findClientCommandFactory(*scp_commandWord(decoder.keys(), decoder.values()));
    ScpClientCommand* kept = factory->create();
    for (auto _ : state) {
        decoder.resetAll();
        decoder.feed(bytes, line.size(), &consumed);
        const IScpClientCommandFactory* f
            = scp_findClientCommandFactory(*scp_commandWord(decoder.keys(), decoder.values()));
        ScpClientCommand* command = fresh ? f->create() : kept;
        benchmark::DoNotOptimize(command->dispatch(0, decoder.keys(), decoder.values(), rig.info));
        if (fresh)
            f->release(command);
    }
    factory->release(kept);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(decoder.values().count()) + " values");
}

void BM_SetLineFreshObject(benchmark::State& state)
{
    run(state, setLine(), true);
}
void BM_SetLineReusedObject(benchmark::State& state)
{
    run(state, setLine(), false);
}
void BM_MeterLineFreshObject(benchmark::State& state)
{
    run(state, meterLine(), true);
}
void BM_MeterLineReusedObject(benchmark::State& state)
{
    run(state, meterLine(), false);
}

BENCHMARK(BM_SetLineFreshObject);
BENCHMARK(BM_SetLineReusedObject);
BENCHMARK(BM_MeterLineFreshObject);
BENCHMARK(BM_MeterLineReusedObject);

} // namespace

BENCHMARK_MAIN();
