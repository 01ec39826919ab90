// Arbitrary bytes through the RAW or JSON decoder (the first byte picks) and
// every completed line through the client's factory table and handlers, with
// a device side that checks what it is handed.
#include "scp/scp_command.h"
#include "scp/scp_factory.h"
#include "scp/scp_session.h"

#include <cstdlib>

using namespace SCP;

namespace {

// Cells are 4 x 3; every stored cell must lie inside.
class Parameter : public ScpParameter {
public:
    JResult indexOf(int32_t& index, const ScpText& address) override
    {
        index = address.length() % 3 == 0 ? -1 : 5;
        return index < 0 ? SCP_E_INDEX : SCP_OK;
    }
    JResult parameterInfo(ScpParameterInfo& info, int32_t) override
    {
        info.clear();
        info.xCount = 4;
        info.yCount = 3;
        return SCP_OK;
    }
    static JResult cell(int32_t x, int32_t y)
    {
        if (x < 0 || y < 0)
            std::abort();
        return SCP_OK;
    }
    JResult storeValue(int32_t, int32_t, int32_t x, int32_t y, const JLIB::JVariant&) override { return cell(x, y); }
    JResult storeNormalized(int32_t, int32_t, int32_t x, int32_t y, int32_t, uint32_t) override { return cell(x, y); }
    JResult storeText(int32_t, int32_t, int32_t x, int32_t y, const ScpText&) override { return cell(x, y); }
    JResult readValue(JLIB::JVariant&, int32_t, int32_t x, int32_t y) override { return cell(x, y); }
};

class Meter : public ScpMeterReporter {
public:
    JResult indexOf(int32_t& meterIndex, const ScpText&) override { return meterIndex = 0, SCP_OK; }
    JResult meterData(int32_t, const uint8_t*, int32_t count, int32_t) override
    {
        if (count < 0 || count > static_cast<int32_t>(SCP_METER_ITEMS_MAX))
            std::abort();
        return SCP_OK;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    ScpDeviceReporter device;
    Parameter parameter;
    Meter meter;
    ScpSessionData session;
    session.init(1);
    const ScpInfoReporter info{&device, &parameter, &meter, &session};
    ScpDecoderRAW raw;
    ScpDecoderJSON json;
    ScpAbstractDecoder& decoder = (data[0] & 1) ? static_cast<ScpAbstractDecoder&>(json) : raw;
    ++data;
    --size;
    size_t pos = 0;
    for (int lines = 0; pos < size && lines < 10000; ++lines) {
        size_t consumed = 0;
        const JResult r = decoder.feed(data + pos, size - pos, &consumed);
        pos += consumed;
        if (r != SCP_LINE_COMPLETE) {
            if (consumed == 0)
                break;
            continue;
        }
        const ScpText* word = scp_commandWord(decoder.keys(), decoder.values());
        const IScpClientCommandFactory* factory = word ? scp_findClientCommandFactory(*word) : nullptr;
        if (factory) {
            ScpClientCommand* command = factory->create();
            if (command) {
                command->dispatch(0, decoder.keys(), decoder.values(), info);
                factory->release(command);
            }
        }
        decoder.resetAll();
    }
    return 0;
}
