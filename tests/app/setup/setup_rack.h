// A rack of 24 real slots for the setup-file tests: mounting as the rack
// owner does it, a set of slots that count as connected, and the device ids
// a file reported.
#pragma once

#include "app/app_rackobject.h"
#include "app/app_setuprack.h"
#include "pbd/jlib/jvariant.h"

#include <QString>

#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace setup_test {

class TestRack : public Quil::SetupRack {
public:
    TestRack()
    {
        for (int i = 0; i < Quil::kRackSlotCount; ++i)
            m_slots.push_back(std::make_unique<Quil::RackObject>(i));
    }

    Quil::RackObject& slot(int i) const { return *m_slots.at(i); }

    Quil::IZDev* rackDevice(int i) const override
    {
        return i >= 0 && i < Quil::kRackSlotCount ? m_slots[i].get() : nullptr;
    }
    Quil::ModelType modelType(int i) const override { return slot(i).modelType(); }
    bool hasConnection(int i) const override { return connected.count(i) != 0; }
    JResult mountModel(int i, Quil::ModelType type) override
    {
        if (hasConnection(i))
            return Quil::DEV_E_FAIL;
        slot(i).setModel(Quil::MODEL_NONE);
        return slot(i).setModel(type);
    }
    void unmountUnconnected() override
    {
        for (int i = 0; i < Quil::kRackSlotCount; ++i)
            if (!hasConnection(i))
                slot(i).setModel(Quil::MODEL_NONE);
    }
    void reportDeviceId(int i, int deviceId) override
    {
        reported.emplace_back(i, deviceId);
        slot(i).setDeviceId(deviceId);
    }

    // Value of a path in a slot as a signed number; INT32_MIN when unread.
    int32_t value(int i, const char* path) const
    {
        JLIB::JVariant v;
        if (slot(i).getValue(QString::fromLatin1(path), &v) < 0)
            return INT32_MIN;
        return static_cast<int32_t>(v.toInteger());
    }
    JResult set(int i, const char* path, int32_t value)
    {
        return slot(i).setValue(QString::fromLatin1(path), JLIB::JVariant(value), 1);
    }

    // (model, device id) of every slot.
    std::vector<std::pair<int, int>> layout() const
    {
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < Quil::kRackSlotCount; ++i)
            out.emplace_back(slot(i).modelType(), slot(i).deviceId());
        return out;
    }

    std::set<int> connected;
    std::vector<std::pair<int, int>> reported;

private:
    std::vector<std::unique_ptr<Quil::RackObject>> m_slots;
};

} // namespace setup_test
