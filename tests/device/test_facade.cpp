// The device facade of one unit: the write refusal while the link connects,
// change flags, device information, peak hold, the address cache shared by
// two threads, and destruction with emissions still queued.
#include "tests/device/device_test.h"

#include "device/memory/dev_meters.h"
#include "device/memory/dev_object.h"
#include "mmsfield/mmsfield_block.h"
#include "tests/support/recording_dev.h"

#include <atomic>
#include <thread>

using namespace devtest;

namespace {

const QString kState = QString::fromLatin1(kConnectionStatePath);

QString path(const char* text)
{
    return QString::fromUtf8(text);
}

std::string readOf(DevObject& dev, const char* p)
{
    JLIB::JVariant value;
    const JResult r = dev.getValue(path(p), &value);
    return textOf(r, value);
}

// Records paramChanged and notifyData.
class Receiver : public QObject {
    Q_OBJECT
public:
    int changes = 0;
    int meterCalls = 0;
    uint8_t lastData = 0;
    uint8_t lastPeak = 0;
public slots:
    void onChanged(QString) { ++changes; }
    void onMeter(uint8_t peak, uint8_t data)
    {
        ++meterCalls;
        lastPeak = peak;
        lastData = data;
    }
};

TEST(DeviceFacade, WritesWhileConnectingAreRefusedOnlyForTheUserInterface)
{
    struct Case {
        int state;
        uint8_t source;
        const char* path;
        bool refused;
    };
    const Case cases[] = {
        {1, SOURCE_UI, "/Backup/MeterSetup:0/PeakHold:0", true},
        {1, SOURCE_LINK, "/Backup/MeterSetup:0/PeakHold:0", false},
        {1, 0, "/Backup/MeterSetup:0/PeakHold:0", false}, // the headphone selector's source
        {1, SOURCE_UI, "/DevState/devstate:0/ConnectReq:0", false},
        {1, SOURCE_UI, "/Current/Dev:0/MuteOn:0", true},
        {0, SOURCE_UI, "/Backup/MeterSetup:0/PeakHold:0", false},
        {2, SOURCE_UI, "/Backup/MeterSetup:0/PeakHold:0", false},
        {3, SOURCE_UI, "/Backup/MeterSetup:0/PeakHold:0", false},
    };
    for (const Case& c : cases) {
        DevObject dev(0, MODEL_BROXL_D);
        ASSERT_GE(dev.setValue(kState, JLIB::JVariant(c.state), SOURCE_LINK), 0);
        const std::string before = readOf(dev, c.path);
        const JResult r = dev.setValue(path(c.path), JLIB::JVariant(1), c.source);
        const JResult raw = dev.setRawValue(path(c.path), JLIB::JVariant(1), c.source);
        MemAddress address;
        ASSERT_EQ(0, parseMemPath(path(c.path), &address));
        const JResult at = dev.setValueAt(address, JLIB::JVariant(1), c.source);
        SCOPED_TRACE(std::string(c.path) + " state " + std::to_string(c.state) + " source " + std::to_string(c.source));
        EXPECT_EQ(r < 0, at < 0);
        if (c.refused) {
            EXPECT_EQ(DEV_E_FAIL, r);
            EXPECT_EQ(DEV_E_FAIL, raw);
            EXPECT_EQ(before, readOf(dev, c.path));
        } else if (std::string(c.path).rfind("/Current", 0) != 0) {
            EXPECT_GE(r, 0);
            EXPECT_EQ("1", readOf(dev, c.path));
        }
    }
}

// A binding's address calls reach the same element as the path calls, on
// the unit and through a facade that only knows paths (the defaults).
TEST(DeviceFacade, AddressCallsReachTheElementOfThePath)
{
    DevObject dev(0, MODEL_BROXL_D);
    qtest::RecordingDev wrapped(&dev);
    const char* const paths[]
        = {"/Backup/InCh:3/HAGain:0", "/Backup/MeterSetup:0/PeakHold:0", "/Backup/OutCh:23/DelayTime:0"};
    int32_t value = 7;
    for (const char* p : paths) {
        SCOPED_TRACE(p);
        MemAddress address;
        ASSERT_EQ(0, parseMemPath(path(p), &address));
        for (IZDev* facade : {static_cast<IZDev*>(&dev), static_cast<IZDev*>(&wrapped)}) {
            ASSERT_GE(facade->setValueAt(address, JLIB::JVariant(++value % 2), SOURCE_UI), 0);
            JLIB::JVariant read;
            ASSERT_GE(facade->getValueAt(address, &read), 0);
            EXPECT_EQ(std::to_string(value % 2), readOf(dev, p));
            EXPECT_EQ(value % 2, read.toInteger());
        }
        EXPECT_EQ(p, wrapped.writes.back().path);
        EXPECT_EQ(1, wrapped.readsOf[p]);
    }
    MemAddress unknown;
    ASSERT_EQ(0, parseMemPath(path("/NoSuchFunction/a:0/b:0"), &unknown));
    JLIB::JVariant read;
    EXPECT_EQ(DEV_E_FAIL, dev.getValueAt(unknown, &read));
    EXPECT_EQ(DEV_E_FAIL, dev.setValueAt(unknown, JLIB::JVariant(1), SOURCE_UI));
}

TEST(DeviceFacade, LoadSetupIsRefusedWhileConnecting)
{
    DevObject source(0, MODEL_BROXL_D);
    ASSERT_GE(source.setValue(path("/Backup/InCh:3/HAGain:0"), JLIB::JVariant(20), SOURCE_UI), 0);
    MMSFUNC::MBDFMMSFieldBlock block;
    ASSERT_GE(source.saveSetup(0, "Brox", &block), 0);
    EXPECT_EQ(1, source.setupBlockCount());

    DevObject target(1, MODEL_BROXL_D);
    ASSERT_GE(target.setValue(kState, JLIB::JVariant(1), SOURCE_LINK), 0);
    EXPECT_EQ(DEV_E_FAIL, target.loadSetup(&block));
    EXPECT_NE("20", readOf(target, "/Backup/InCh:3/HAGain:0"));
    ASSERT_GE(target.setValue(kState, JLIB::JVariant(2), SOURCE_LINK), 0);
    EXPECT_GE(target.loadSetup(&block), 0);
    EXPECT_EQ("20", readOf(target, "/Backup/InCh:3/HAGain:0"));
}

TEST(DeviceFacade, ChangeFlagsFollowTheSourceAndAreCleared)
{
    DevObject dev(0, MODEL_BROXL_D);
    const QString gain = path("/Backup/InCh:2/HAGain:0");
    bool changed = false;
    ASSERT_GE(dev.setValue(gain, JLIB::JVariant(5), SOURCE_UI), 0);
    EXPECT_GE(dev.readChangeFlag(gain, &changed, SOURCE_LINK), 0);
    EXPECT_TRUE(changed);
    EXPECT_GE(dev.readChangeFlag(gain, &changed, SOURCE_LINK), 0);
    EXPECT_FALSE(changed) << "the read clears the mark";

    // What the link wrote is not marked for the link: no echo.
    ASSERT_GE(dev.setValue(gain, JLIB::JVariant(6), SOURCE_LINK), 0);
    EXPECT_GE(dev.readChangeFlag(gain, &changed, SOURCE_LINK), 0);
    EXPECT_FALSE(changed);

    // An unparseable path fails and is not cached.
    EXPECT_EQ(DEV_E_FAIL, dev.readChangeFlag(path("Backup/InCh:2"), &changed, SOURCE_LINK));
    EXPECT_EQ(nullptr, dev.findAddress(path("Backup/InCh:2")));
    EXPECT_NE(nullptr, dev.findAddress(gain));
}

TEST(DeviceFacade, DeviceInfoBeforeAndAfterTheAddress)
{
    DevObject dev(7, MODEL_BROXM_D2);
    DevInfoRecord before;
    ASSERT_EQ(0, dev.getDeviceInfo(&before));
    EXPECT_EQ("BroxM-D2", before.productname.toStdString());
    EXPECT_TRUE(before.ipAddress.isEmpty());
    EXPECT_TRUE(before.deviceid.isEmpty());
    EXPECT_TRUE(before.runmode.isEmpty());

    ASSERT_GE(dev.setValue(path("/DevInfo/devstatus:0/runmode:0"), JLIB::JVariant("normal", 32), SOURCE_LINK), 0);
    ASSERT_EQ(0, dev.setAddress("192.168.0.9", 49280));
    DevInfoRecord after;
    ASSERT_EQ(0, dev.getDeviceInfo(&after));
    EXPECT_EQ("192.168.0.9", after.ipAddress.toStdString());
    EXPECT_EQ("49280", after.port.toStdString());
    EXPECT_EQ("normal", after.runmode.toStdString());
    // An empty product name read from memory falls back to the model name;
    // the deviceid read (empty) replaces the slot index.
    EXPECT_EQ("BroxM-D2", after.productname.toStdString());
    ASSERT_GE(dev.setValue(path("/DevInfo/devinfo:0/productname:0"), JLIB::JVariant("Unit", 32), SOURCE_LINK), 0);
    ASSERT_GE(dev.setValue(path("/DevInfo/devinfo:0/deviceid:0"), JLIB::JVariant("12", 4), SOURCE_LINK), 0);
    DevInfoRecord read;
    ASSERT_EQ(0, dev.getDeviceInfo(&read));
    EXPECT_EQ("Unit", read.productname.toStdString());
    EXPECT_EQ("12", read.deviceid.toStdString());
}

TEST(DeviceFacade, PeakHoldFollowsTheBackupSetting)
{
    DevObject dev(0, MODEL_BROXL_D);
    Receiver receiver;
    ASSERT_EQ(0, dev.connectMeter("Dev/PhonesLevel", 1, &receiver, SLOT(onMeter(uint8_t, uint8_t))));
    EXPECT_EQ(DEV_E_FAIL, dev.connectMeter("Dev/PhonesLevel", 2, &receiver, SLOT(onMeter(uint8_t, uint8_t))));
    const uint8_t high[2] = {0, 90};
    auto peakAfterOneTick = [&] {
        dev.meters()->update("Dev/PhonesLevel", high, 2);
        dev.meters()->notify();
        return receiver.lastPeak;
    };
    EXPECT_EQ(0, peakAfterOneTick()) << "peak hold starts off";

    ASSERT_GE(dev.setValue(path(kPeakHoldPath), JLIB::JVariant(1), SOURCE_UI), 0);
    // The facade's own subscription is queued; without the memory thread
    // the change walk runs by hand.
    dev.memory()->slotMemChanged();
    ASSERT_TRUE(spinUntil([&] { return peakAfterOneTick() == 90; }, 2000));

    ASSERT_GE(dev.setValue(path(kPeakHoldPath), JLIB::JVariant(0), SOURCE_UI), 0);
    dev.memory()->slotMemChanged();
    ASSERT_TRUE(spinUntil([&] { return peakAfterOneTick() == 0; }, 2000));
}

TEST(DeviceFacade, AUnitWithoutMemoryKeepsMetersAndRefusesTheRest)
{
    DevObject dev(3, 13);
    JLIB::JVariant value;
    bool changed = false;
    EXPECT_EQ(nullptr, dev.memory());
    EXPECT_EQ(0, dev.setupBlockCount());
    EXPECT_EQ(DEV_E_FAIL, dev.setValue(path(kPeakHoldPath), JLIB::JVariant(1), SOURCE_UI));
    EXPECT_EQ(DEV_E_FAIL, dev.getValue(path(kPeakHoldPath), &value));
    EXPECT_EQ(DEV_E_FAIL, dev.getDefault(path(kPeakHoldPath), &value, false));
    EXPECT_EQ(DEV_E_FAIL, dev.readChangeFlag(path(kPeakHoldPath), &changed, SOURCE_LINK));
    EXPECT_EQ(DEV_E_FAIL, dev.loadSetup(nullptr));
    EXPECT_EQ(DEV_E_FAIL, dev.onPeakHoldChanged());
    Receiver receiver;
    EXPECT_EQ(0, dev.connectMeter("Dev/InputLevel", 31, &receiver, SLOT(onMeter(uint8_t, uint8_t))));
    EXPECT_EQ(0, dev.setDeviceId(4));
    EXPECT_EQ(4, dev.deviceId());
}

TEST(DeviceFacade, SubscribeAndUnsubscribe)
{
    DevObject dev(0, MODEL_BROXL_D);
    Receiver receiver;
    const QString mute = path("/Backup/InCh:1/48VOn:0");
    ASSERT_EQ(0, dev.subscribe(mute, &receiver, 1, SLOT(onChanged(QString))));
    ASSERT_GE(dev.setValue(mute, JLIB::JVariant(1), SOURCE_LINK), 0);
    dev.memory()->slotMemChanged();
    EXPECT_TRUE(spinUntil([&] { return receiver.changes == 1; }, 2000));
    EXPECT_EQ(0, dev.unsubscribe(mute, &receiver, 1, SLOT(onChanged(QString))));
    EXPECT_EQ(DEV_E_FAIL, dev.unsubscribe(mute, &receiver, 1, SLOT(onChanged(QString))));
    EXPECT_EQ(DEV_E_FAIL, dev.unsubscribe(mute, &receiver, 7, SLOT(onChanged(QString))));
    ASSERT_GE(dev.setValue(mute, JLIB::JVariant(0), SOURCE_LINK), 0);
    dev.memory()->slotMemChanged();
    spinFor(50);
    EXPECT_EQ(1, receiver.changes);
}

TEST(DeviceFacade, TwoThreadsShareTheAddressCache)
{
    DevObject dev(0, MODEL_BROXL_D);
    constexpr int kPaths = 32;
    std::atomic<int> failures{0};
    auto work = [&](uint8_t source) {
        for (int round = 0; round < 20; ++round)
            for (int ch = 0; ch < kPaths; ++ch) {
                const QString p = QString("/Backup/InCh:%1/HAGain:0").arg(ch);
                JLIB::JVariant value;
                bool changed = false;
                if (dev.setValue(p, JLIB::JVariant(ch), source) < 0 || dev.getValue(p, &value) < 0
                    || dev.readChangeFlag(p, &changed, SOURCE_LINK) < 0 || !dev.findAddress(p))
                    ++failures;
            }
    };
    std::thread link(work, SOURCE_LINK);
    work(SOURCE_UI);
    link.join();
    EXPECT_EQ(0, failures.load());
    // Both threads resolved the same texts: one entry each (plus the paths
    // the facade itself read).
    EXPECT_LE(dev.addresses().size(), static_cast<size_t>(kPaths + 3));
}

TEST(DeviceFacade, DestructionWithQueuedEmissions)
{
    Receiver receiver;
    {
        DevObject dev(0, MODEL_BROXL_D);
        const QString p = path("/Backup/InCh:0/HAGain:0");
        ASSERT_EQ(0, dev.subscribe(p, &receiver, 1, SLOT(onChanged(QString))));
        ASSERT_GE(dev.setValue(p, JLIB::JVariant(3), SOURCE_LINK), 0);
        dev.memory()->slotMemChanged(); // queues paramChanged
        const uint8_t bytes[32] = {100};
        dev.meters()->update("Dev/InputLevel", bytes, 32);
    }
    // The queued emission came from a proxy that is gone; Qt dropped it or
    // delivers it to a live receiver; either way nothing touches freed memory.
    spinFor(20);
    EXPECT_LE(receiver.changes, 1);
}

} // namespace

#include "test_facade.moc"
