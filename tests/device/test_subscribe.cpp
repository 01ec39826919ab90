// Typed subscriptions on a real device object: member functions and lambdas
// hear each change once, a refused subscription leaves nothing behind, and
// neither a context nor a set that outlives its unit touches it again.
#include "tests/device/device_test.h"

#include "device/memory/dev_meters.h"
#include "device/memory/dev_object.h"
#include "device/memory/dev_subscribe.h"

#include <memory>

using namespace devtest;

namespace {

const QString kGain = QStringLiteral("/Backup/InCh:0/HAGain:0");
const QString kPhantom = QStringLiteral("/Backup/InCh:1/48VOn:0");

class Listener : public QObject {
public:
    int changes = 0;
    int meterCalls = 0;
    uint8_t peak = 0;
    uint8_t data = 0;
    // A handler with a result, as the panels' handlers have.
    int onChange() { return ++changes; }
    void onMeter(uint8_t p, uint8_t d)
    {
        ++meterCalls;
        peak = p;
        data = d;
    }
};

// A link write of `value` and the memory's change pass that announces it.
void change(DevObject& dev, const QString& path, int value)
{
    ASSERT_GE(dev.setValue(path, JLIB::JVariant(value), SOURCE_LINK), 0);
    dev.memory()->slotMemChanged();
}

TEST(Subscribe, MemberFunctionsAndLambdasHearEachChangeOnce)
{
    DevObject dev(0, MODEL_BROXL_D);
    Listener listener;
    int lambdaCalls = 0;
    ASSERT_EQ(DEV_OK, subscribe(&dev, kGain, &listener, &Listener::onChange));
    ASSERT_EQ(DEV_OK, subscribe(&dev, kGain, &listener, [&] { ++lambdaCalls; }));
    change(dev, kGain, 7);
    EXPECT_EQ(0, listener.changes) << "queued into the context's thread, not called from the change pass";
    EXPECT_TRUE(spinUntil([&] { return listener.changes == 1 && lambdaCalls == 1; }, 2000));
    change(dev, kPhantom, 1);
    spinFor(30);
    EXPECT_EQ(1, listener.changes) << "another element";
    EXPECT_EQ(1, lambdaCalls);
}

TEST(Subscribe, RefusalsLeaveNoRelayBehind)
{
    DevObject dev(0, MODEL_BROXL_D);
    Listener listener;
    Subscriptions set;
    EXPECT_EQ(DEV_E_FAIL, subscribe(nullptr, kGain, &listener, &Listener::onChange));
    EXPECT_EQ(DEV_E_FAIL, subscribe(&dev, kGain, static_cast<Listener*>(nullptr), &Listener::onChange));
    EXPECT_EQ(DEV_E_FAIL, connectMeter(&dev, QStringLiteral("Dev/PhonesLevel"), 2, &listener, &Listener::onMeter))
        << "no such channel";
    EXPECT_EQ(DEV_E_FAIL, set.addMeter(&dev, QStringLiteral("Dev/NoSuchLevel"), 0, &listener, &Listener::onMeter));
    EXPECT_TRUE(listener.children().isEmpty());
    EXPECT_TRUE(set.empty());
}

TEST(Subscribe, ClearEndsChangesAndMetersAndSubscribingAgainDoesNotMultiply)
{
    DevObject dev(0, MODEL_BROXL_D);
    Listener listener;
    Subscriptions set;
    for (int i = 0; i < 3; ++i) {
        set.clear();
        ASSERT_EQ(DEV_OK, set.add(&dev, kGain, &listener, &Listener::onChange));
        ASSERT_EQ(DEV_OK, set.addMeter(&dev, QStringLiteral("Dev/InputLevel"), 3, &listener, &Listener::onMeter));
    }
    change(dev, kGain, 9);
    const uint8_t bytes[32] = {0, 0, 0, 0x85};
    ASSERT_GE(dev.meters()->update(QStringLiteral("Dev/InputLevel"), bytes, 32), 0);
    dev.meters()->notify();
    EXPECT_TRUE(spinUntil([&] { return listener.changes >= 1 && listener.meterCalls >= 1; }, 2000));
    spinFor(30);
    EXPECT_EQ(1, listener.changes);
    // The process-wide meter tick may notify once more on a loaded machine;
    // three subscriptions would give three calls per notify.
    EXPECT_TRUE(listener.meterCalls == 1 || listener.meterCalls == 2) << listener.meterCalls;
    EXPECT_EQ(0x85, listener.data);

    set.clear();
    EXPECT_TRUE(set.empty());
    EXPECT_TRUE(listener.children().isEmpty());
    const int meterCalls = listener.meterCalls;
    change(dev, kGain, 10);
    dev.meters()->notify();
    spinFor(30);
    EXPECT_EQ(1, listener.changes);
    EXPECT_EQ(meterCalls, listener.meterCalls);
}

// The unit goes first: the set and the context are destroyed (and the set
// is not cleared) without calling the accessor that is gone; the sanitizer
// runs catch a call.
TEST(Subscribe, ContextAndSetOutliveTheirUnit)
{
    Listener listener;
    auto set = std::make_unique<Subscriptions>();
    {
        DevObject dev(0, MODEL_BROXL_D);
        ASSERT_EQ(DEV_OK, set->add(&dev, kGain, &listener, &Listener::onChange));
        ASSERT_EQ(DEV_OK, set->addMeter(&dev, QStringLiteral("Dev/InputLevel"), 0, &listener, &Listener::onMeter));
        ASSERT_EQ(DEV_OK, subscribe(&dev, kPhantom, &listener, &Listener::onChange));
        change(dev, kGain, 4); // queued when the unit goes
    }
    spinFor(20);
    EXPECT_LE(listener.changes, 1);
    set.reset();
    EXPECT_EQ(1, listener.children().size()) << "the set's relays went with it, the plain one stays";
}

// The context goes first: the set skips what went with it.
TEST(Subscribe, SetOutlivesItsContext)
{
    DevObject dev(0, MODEL_BROXL_D);
    Subscriptions set;
    {
        Listener listener;
        ASSERT_EQ(DEV_OK, set.add(&dev, kGain, &listener, &Listener::onChange));
        change(dev, kGain, 5); // queued for a relay about to go
    }
    EXPECT_TRUE(set.empty());
    spinFor(20);
    set.clear();
    change(dev, kGain, 6);
    spinFor(20);
}

} // namespace
