// Rack slots: what an empty slot answers, forwarding to the mounted device
// object, and mounting rules.
#include "app/app_rackobject.h"
#include "device/layouts/dev_iotable.h"
#include "mmsfield/mmsfield_block.h"
#include "pbd/jlib/jvariant.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Quil::DEV_E_FAIL;
using Quil::RackObject;

TEST(RackObject, EmptySlotAnswersWithoutDeviceObject)
{
    RackObject slot(3);
    const QString path = QStringLiteral("/Backup/InCh:0/HAGain:0");
    JLIB::JVariant v(int32_t{1});
    bool changed = false;
    Quil::DevInfoRecord info;
    MMSFUNC::MBDFMMSFieldBlock block;
    QObject receiver;
    Quil::MemAddress address;
    ASSERT_EQ(Quil::parseMemPath(path, &address), 0);
    const std::pair<const char*, std::function<JResult()>> failing[] = {
        {"setValue", [&] { return slot.setValue(path, v, 1); }},
        {"setRawValue", [&] { return slot.setRawValue(path, v, 1); }},
        {"getValue", [&] { return slot.getValue(path, &v); }},
        {"getValueAt", [&] { return slot.getValueAt(address, &v); }},
        {"setValueAt", [&] { return slot.setValueAt(address, v, 1); }},
        {"getMinimum", [&] { return slot.getMinimum(path, &v); }},
        {"getMaximum", [&] { return slot.getMaximum(path, &v); }},
        {"getDefault", [&] { return slot.getDefault(path, &v, true); }},
        {"loadSetup", [&] { return slot.loadSetup(&block); }},
        {"saveSetup", [&] { return slot.saveSetup(0, QStringLiteral("Brox"), &block); }},
        {"subscribe", [&] { return slot.subscribe(path, &receiver, 1, SLOT(deleteLater())); }},
        {"unsubscribe", [&] { return slot.unsubscribe(path, &receiver, 1, SLOT(deleteLater())); }},
        {"connectMeter", [&] { return slot.connectMeter(QStringLiteral("Dev/InputLevel"), 0, &receiver, "1x()"); }},
        {"connectMeterData",
            [&] { return slot.connectMeterData(QStringLiteral("Dev/InputLevel"), 0, &receiver, "1x()"); }},
        {"getDeviceInfo", [&] { return slot.getDeviceInfo(&info); }},
        {"setAddress", [&] { return slot.setAddress(QStringLiteral("10.0.0.2"), 7000); }},
        {"readChangeFlag", [&] { return slot.readChangeFlag(path, &changed, 1); }},
    };
    for (const auto& [name, call] : failing)
        EXPECT_EQ(call(), DEV_E_FAIL) << name;
    EXPECT_EQ(slot.setupBlockCount(), 0);
    EXPECT_EQ(slot.meters(), nullptr);
    EXPECT_EQ(slot.findAddress(path), nullptr);
    EXPECT_EQ(block.part2Size(), 0u);

    EXPECT_EQ(slot.deviceId(), -1);
    EXPECT_EQ(slot.setDeviceId(42), 0);
    EXPECT_EQ(slot.deviceId(), 42);
}

TEST(RackObject, MountedSlotForwardsToItsUnit)
{
    RackObject slot(2);
    slot.setDeviceId(7);
    ASSERT_EQ(slot.setModel(Quil::MODEL_BROXL_D3), 0);
    EXPECT_EQ(slot.modelType(), Quil::MODEL_BROXL_D3);
    EXPECT_EQ(slot.setupBlockCount(), 1);
    EXPECT_NE(slot.meters(), nullptr);

    const QString path = QStringLiteral("/Backup/OutCh:4/DelayTime:0");
    ASSERT_GE(slot.setValue(path, JLIB::JVariant(int32_t{1234}), 1), 0);
    JLIB::JVariant out;
    ASSERT_GE(slot.getValue(path, &out), 0);
    EXPECT_EQ(out.toInteger(), 1234u);
    EXPECT_NE(slot.findAddress(path), nullptr);

    // The device id stays the slot's own and reaches a new unit.
    EXPECT_EQ(slot.setDeviceId(9), 0);
    EXPECT_EQ(slot.deviceId(), 9);
    Quil::DevInfoRecord info;
    EXPECT_GE(slot.getDeviceInfo(&info), 0);

    // A mounted slot takes no other model until it is cleared.
    EXPECT_EQ(slot.setModel(Quil::MODEL_SORN_D), DEV_E_FAIL);
    EXPECT_EQ(slot.modelType(), Quil::MODEL_BROXL_D3);
    EXPECT_EQ(slot.setModel(Quil::MODEL_NONE), 0);
    EXPECT_EQ(slot.modelType(), Quil::MODEL_NONE);
    EXPECT_EQ(slot.getValue(path, &out), DEV_E_FAIL);
}

TEST(RackObject, ModelWithoutDeviceObjectLeavesSlotEmptyAndFails)
{
    for (const Quil::ModelType type : {Quil::MODEL_LAST + 1, -1, 255}) {
        RackObject slot(0);
        EXPECT_EQ(slot.setModel(type), DEV_E_FAIL) << type;
        EXPECT_EQ(slot.modelType(), Quil::MODEL_NONE) << type;
        EXPECT_EQ(slot.setupBlockCount(), 0) << type;
        // Still free for a real model.
        EXPECT_EQ(slot.setModel(Quil::MODEL_SORN_D), 0) << type;
    }
}

} // namespace
