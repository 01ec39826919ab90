// One unit's device object, adapters and sequences driving the real SCP
// client over a loopback socket, pumped by the test thread as the unit's
// connection thread would pump it. Shared by the loopback tests of every
// family.
#pragma once

#include "tests/device/device_test.h"

#include "device/link/dev_family.h"
#include "device/link/dev_scpadapter.h"
#include "device/link/dev_sequences.h"
#include "device/memory/dev_object.h"
#include "tests/sim/sim_client.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace devtest {

// What the device link does for one unit, reduced to the calls the
// adapters need: attach, negotiate, judge, associate, fix, then send
// changes and requests on every pass.
class Link : public SCP::IScpSynchronizeObserver {
public:
    explicit Link(ModelType type)
        : dev(0, type)
        , client(SCP::ScpClient::create())
        , parameter(createScpParameter(type))
        , reporter(createScpDeviceReporter(type))
        , meter(createScpMeterReporter(type))
        , negotiation(createNegoSeq(type))
        , association(createAssoSeq(type))
    {
        parameter->bind(&dev, SOURCE_LINK);
        reporter->bind(&dev, SOURCE_LINK, client);
        reporter->setParameterAdapter(parameter.get());
        meter->setRegistry(dev.meters());
    }
    ~Link() override
    {
        client->stop();
        SCP::ScpClient::release(client);
    }

    bool connect(uint16_t port)
    {
        socket.attach(1, &waker);
        if (client->attach(nullptr, &socket, this, reporter.get(), parameter.get(), meter.get()) < 0)
            return false;
        VCOM::VComSocketAddress local, remote;
        local.setAddressText(VSOCK_FAMILY_IPV4, "127.0.0.1");
        remote.setAddressText(VSOCK_FAMILY_IPV4, "127.0.0.1");
        dev.setValue(kConnectionStatePath, JLIB::JVariant(1), SOURCE_LINK);
        return socket.connect(local, remote, port) >= 0 && client->start(negotiation.get()) >= 0;
    }

    // One pass of the connection thread.
    void pump()
    {
        socket.processEvents(client);
        if (client->isAssociated()) {
            parameter->sendChanged();
            reporter->pollRequests();
        }
    }
    bool pumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            pump();
            QCoreApplication::processEvents();
            if (pred())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            waker.wait(5);
        }
    }
    bool connectAndAssociate(uint16_t port)
    {
        return connect(port) && pumpUntil([this] { return isAssociated || failed; }, 10000) && isAssociated;
    }

    JResult negotiated(SCP::ScpClient* c) override
    {
        if (!reporter->acceptNegotiation()) {
            failed = true;
            return 0;
        }
        return c->startAssociation(SCP::SCP_ASSOCIATE_READ, association.get());
    }
    JResult associated(SCP::ScpClient*) override
    {
        if (parameter->needsPostAssociationFix())
            parameter->applyPostAssociationFix();
        dev.setValue(kConnectionStatePath, JLIB::JVariant(2), SOURCE_LINK);
        isAssociated = true;
        return 0;
    }
    JResult sequenceFailed(SCP::ScpClient*, bool, int32_t, JResult) override
    {
        failed = true;
        return 0;
    }

    std::string read(const std::string& path)
    {
        JLIB::JVariant value;
        return textOf(dev.getValue(QString::fromStdString(path), &value), value);
    }

    DevObject dev;
    simtest::SimWaker waker;
    VCOM::VComTcpClientSocket socket;
    SCP::ScpClient* client;
    std::unique_ptr<ScpParameter_Quil> parameter;
    std::unique_ptr<ScpDeviceReporter_Quil> reporter;
    std::unique_ptr<ScpMeterReporter_Quil> meter;
    std::unique_ptr<SCP::IScpConnectSequence> negotiation;
    std::unique_ptr<SCP::IScpConnectSequence> association;
    bool isAssociated = false;
    bool failed = false;
};

} // namespace devtest
