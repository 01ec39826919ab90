// The receive path of one unit: arbitrary bytes from the unit into an
// associated SCP client attached to a unit's device object and adapters,
// then one memory wake (changes and requests), for a second-generation Brox,
// a Mavik and a Sorn unit in turn. Nothing may crash, and only paths of the
// family's tables reach the address cache, so the cache stays bounded.
#include "device/link/dev_brox.h"
#include "device/link/dev_family.h"
#include "device/link/dev_sequences.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "scp/scp_client.h"
#include "tests/support/memory_transport.h"

#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

using namespace Quil;

using qtest::MemoryTransport;

class NoSteps : public SCP::IScpConnectSequence {
public:
    int32_t stepCount() override { return 0; }
    JResult step(SCP::ScpConnectStep&, int32_t) override { return SEQ_E_FAIL; }
};

// Every path the unit's adapters and facade may resolve.
std::set<QString> tablePaths(ScpParameter_Quil& parameter)
{
    std::set<QString> paths;
    int32_t parameters = 0;
    parameter.getParameterCount(parameters);
    for (int32_t a = 0; a < parameters; ++a) {
        const ScpPathFormat* f = parameter.pathFormat(a);
        for (int32_t i = 0; i < f->collections; ++i)
            for (int32_t j = 0; j < f->elements; ++j) {
                QString p;
                formatMemPath(f->format, {i, j, 0, 0}, &p);
                paths.insert(p);
            }
    }
    int32_t count = 0;
    const ScpInfoRow* rows = infoRows(&count);
    for (int32_t i = 0; i < count; ++i)
        paths.insert(QString::fromLatin1(rows[i].path));
    for (const char* list : {"Cur", "Evt"})
        for (const char* name : {"NumReq", "NumReceived", "Num", "Start", "End", "ItemReq", "ItemReceived", "Item"})
            paths.insert(QString("/ListItem/listitem:0/%1Summary%2:0").arg(list).arg(name));
    paths.insert("/LogEvent/event:0/loggingSend:0");
    paths.insert("/LogEvent/event:0/TftpURISend:0");
    paths.insert(QString::fromLatin1(kConnectionStatePath));
    paths.insert(QString::fromLatin1(kPeakHoldPath));
    return paths;
}

struct Unit {
    explicit Unit(ModelType type)
        : dev(0, type)
        , parameter(createScpParameter(type))
        , reporter(createScpDeviceReporter(type))
        , meter(createScpMeterReporter(type))
        , allowed(tablePaths(*parameter))
    {
        parameter->bind(&dev, SOURCE_LINK);
        reporter->setParameterAdapter(parameter.get());
        meter->setRegistry(dev.meters());
    }
    DevObject dev;
    std::unique_ptr<ScpParameter_Quil> parameter;
    std::unique_ptr<ScpDeviceReporter_Quil> reporter;
    std::unique_ptr<ScpMeterReporter_Quil> meter;
    const std::set<QString> allowed;
};

void receive(Unit& unit, const uint8_t* data, size_t size)
{
    MemoryTransport transport;
    transport.writeResult = VCOM::VCOM_OK;
    transport.recordWrites = false;
    transport.input.assign(reinterpret_cast<const char*>(data), size);
    NoSteps none;
    SCP::ScpClient client;
    unit.reporter->bind(&unit.dev, SOURCE_LINK, &client);
    client.attach(nullptr, &transport, nullptr, unit.reporter.get(), unit.parameter.get(), unit.meter.get());
    client.OnConnected(1, 0);
    client.start(nullptr);
    client.startAssociation(SCP::SCP_ASSOCIATE_READ, &none);
    client.OnReceive(1, 0);
    unit.parameter->sendChanged();
    unit.reporter->pollRequests();
    client.stop();

    // Every cached path is a table path: as many cached as table paths found.
    size_t known = 0;
    for (const QString& p : unit.allowed)
        known += unit.dev.findAddress(p) ? 1 : 0;
    if (unit.dev.addresses().size() != known)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Loading a unit's memory is costly: one unit per family serves every input.
    static Unit brox2(MODEL_BROXL_D2);
    static Unit mavik(MODEL_MAVIK_D);
    static Unit sorn(MODEL_SORN_D);
    for (Unit* unit : {&brox2, &mavik, &sorn})
        receive(*unit, data, size);
    return 0;
}
