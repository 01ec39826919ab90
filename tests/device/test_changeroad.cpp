// The change road on a small layout: writers on their own threads, the
// memory thread, the change walk on the Qt event loop, subscribers of
// memory paths and a device-link poller of its own change marks.
#include "tests/device/device_test.h"

#include "device/memory/dev_memthread.h"

#include <QThread>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace devtest;

namespace {

// Two functions: a collection with an array and a nested collection, a
// string, and a second function with one value.
const char kAlpha[] = R"xml(<function name="Alpha" collections="3" parameters="3" datasize="0" stringsize="0">
  <collections>
    <collection name="ch" datasize="0" arraysize="4">
      <parameter name="gain" type="int16_t" arraysize="2">
        <minimum>-100</minimum><maximum>100</maximum><default>0</default>
      </parameter>
      <collection name="eq" datasize="0" arraysize="2">
        <parameter name="freq" type="uint16_t" arraysize="1">
          <minimum>0</minimum><maximum>20000</maximum><default>100</default>
        </parameter>
      </collection>
    </collection>
    <collection name="dev" datasize="0" arraysize="1">
      <parameter name="label" type="string" arraysize="1"><maximum>16</maximum></parameter>
    </collection>
  </collections>
</function>
)xml";
const char kBeta[] = R"xml(<function name="Beta" collections="2" parameters="1" datasize="0" stringsize="0">
  <collections>
    <collection name="dev" datasize="0" arraysize="1">
      <parameter name="on" type="uint8_t" arraysize="1"><minimum>0</minimum><maximum>200</maximum></parameter>
    </collection>
  </collections>
</function>
)xml";

constexpr FamilyFunction kTinyFunctions[] = {{"Alpha", kAlpha}, {"Beta", kBeta}};
constexpr FamilyLayout kTinyLayout{kTinyFunctions, 2};

// The family rules of the Brox units over the small layout.
class TinyMemObject final : public FamilyMemObject {
public:
    explicit TinyMemObject(MMSArchiver* archiver)
        : FamilyMemObject(kTinyLayout, 0, MODEL_BROXL_D, nullptr, archiver)
    {
        initAccessors(archiver);
    }

protected:
    bool acceptsModel(ModelType) const override { return false; }
};

struct TinyUnit {
    TinyUnit()
    {
        EXPECT_EQ(0, FamilyMemConstructor(kTinyLayout).load(&archiver));
        object = std::make_unique<TinyMemObject>(&archiver);
        object->setNotifier(&notifier);
    }
    MMSArchiver archiver;
    MemNotifier notifier;
    std::unique_ptr<TinyMemObject> object;
};

// Counts paramChanged per path and signalMemChanged.
class Recorder : public QObject {
    Q_OBJECT

public:
    std::map<QString, int> changes;
    std::atomic<int> broadcasts{0};
    int total() const
    {
        int n = 0;
        for (const auto& entry : changes)
            n += entry.second;
        return n;
    }

public slots:
    void onParamChanged(const QString& path) { ++changes[path]; }
    void slotMemChanged() { ++broadcasts; }
};

// One element of the small layout and the values its writer stores.
struct Element {
    const char* path;
    uint8_t source;
};

const Element kElements[] = {
    {"/Alpha/ch:0/gain:0", SOURCE_UI}, {"/Alpha/ch:0/gain:1", SOURCE_LINK}, {"/Alpha/ch:3/gain:1", SOURCE_UI},
    {"/Alpha/ch:1/eq:0/freq:0", SOURCE_LINK}, {"/Alpha/ch:2/eq:1/freq:0", SOURCE_UI},
    {"/Alpha/dev:0/label:0", SOURCE_LINK}, {"/Beta/dev:0/on:0", SOURCE_UI},
    {"/Beta/dev:0/on:0", SOURCE_LINK}, // both writers meet here
};

class DeviceMemoryChangeRoad : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, createMemThread()); }
    void TearDown() override { destroyMemThread(); }
};

JLIB::JVariant valueFor(const char* path, int round)
{
    if (std::string(path).find("label") != std::string::npos)
        return JLIB::JVariant(("text " + std::to_string(round)).c_str(), 64);
    return JLIB::JVariant(int32_t{10 + round});
}

} // namespace

TEST_F(DeviceMemoryChangeRoad, WritersOnTwoThreadsReachSubscriberAndPoller)
{
    TinyUnit unit;
    Recorder recorder;
    ASSERT_EQ(0, registerMemArchiver(&unit.archiver));
    ASSERT_EQ(0, registerMemListener(unit.object.get()));
    std::set<QString> paths;
    for (const Element& e : kElements)
        paths.insert(QString::fromUtf8(e.path));
    for (const QString& path : paths)
        ASSERT_EQ(0, unit.notifier.subscribe(path, &recorder, SOURCE_UI, SLOT(onParamChanged(QString))));

    // The device link polls its own marks (key 2) while the writers run.
    std::atomic<bool> writing{true};
    std::mutex seenLock;
    std::set<std::string> seenByLink;
    std::thread poller([&] {
        auto pass = [&] {
            for (const Element& e : kElements) {
                uint8_t changed = 0;
                if (unit.object->readChangeFlag(addressOf(e.path), &changed, SOURCE_LINK) >= 0 && changed) {
                    std::lock_guard<std::mutex> guard(seenLock);
                    seenByLink.insert(e.path);
                }
            }
        };
        while (writing)
            pass();
        pass();
    });
    auto writer = [&](uint8_t source) {
        for (const Element& e : kElements) {
            if (e.source == source) {
                EXPECT_GE(unit.object->setValue(addressOf(e.path), valueFor(e.path, source), source), 0) << e.path;
            }
        }
    };
    std::thread ui(writer, SOURCE_UI);
    std::thread link(writer, SOURCE_LINK);
    ui.join();
    link.join();
    writing = false;
    poller.join();

    // Every written element reaches the key-1 subscriber; the one both wrote
    // may come once or twice, depending on the broadcasts between.
    ASSERT_TRUE(spinUntil([&] { return recorder.changes.size() == paths.size(); }));
    spinFor(50);
    for (const auto& entry : recorder.changes) {
        if (entry.first == "/Beta/dev:0/on:0")
            EXPECT_LE(entry.second, 2);
        else
            EXPECT_EQ(1, entry.second) << entry.first.toStdString();
    }
    // Only user-interface writes are marked for the device link.
    const std::set<std::string> expected{"/Alpha/ch:0/gain:0", "/Alpha/ch:3/gain:1", "/Alpha/ch:2/eq:1/freq:0"};
    std::set<std::string> linkSaw = seenByLink;
    linkSaw.erase("/Beta/dev:0/on:0"); // marked or not, by who wrote last
    EXPECT_EQ(expected, linkSaw);

    // A write of the stored value changes nothing and reaches nobody.
    const int before = recorder.total();
    EXPECT_EQ(0, unit.object->setValue(addressOf("/Alpha/ch:0/gain:0"), valueFor("", SOURCE_UI), SOURCE_UI));
    spinFor(50);
    EXPECT_EQ(before, recorder.total());
    EXPECT_EQ(0, unregisterMemListener(unit.object.get()));
    EXPECT_EQ(DEV_E_FAIL, unregisterMemListener(unit.object.get()));
}

TEST_F(DeviceMemoryChangeRoad, ManyWritesOneBroadcastAndEachChangeOnce)
{
    TinyUnit unit;
    Recorder recorder;
    Recorder counter;
    ASSERT_EQ(0, registerMemArchiver(&unit.archiver));
    ASSERT_EQ(0, registerMemListener(unit.object.get()));
    ASSERT_EQ(0, registerMemListener(&counter));
    ASSERT_EQ(0, unit.notifier.subscribe("/Alpha/ch:1/gain:0", &recorder, SOURCE_UI, SLOT(onParamChanged(QString))));
    // Written 100 times before the event loop runs: the walk reports the
    // element once. How many of the queued wake-ups collapse depends on when
    // the memory thread gets a core, so only "never more than one broadcast
    // per write" holds here; the collapse itself is pinned, free of
    // scheduling, by DeviceMemoryThread.WakeupsBeforeARunGiveOneBroadcast.
    for (int i = 0; i < 100; ++i)
        ASSERT_GE(unit.object->setValue(addressOf("/Alpha/ch:1/gain:0"), JLIB::JVariant(int32_t{i % 50 + 1}), 1), 0);
    ASSERT_TRUE(spinUntil([&] { return recorder.total() >= 1; }));
    spinFor(50);
    EXPECT_EQ(1, recorder.total());
    EXPECT_GE(counter.broadcasts, 1);
    EXPECT_LE(counter.broadcasts, 100);
}

// The device link skips its walk when a function holds no mark for it: the
// question must see a mark at every depth, only in its own function, and
// must leave the mark for the walk.
TEST_F(DeviceMemoryChangeRoad, AnyMarkQuestionSeesEveryMarkAndLeavesIt)
{
    for (const Element& e : kElements) {
        SCOPED_TRACE(e.path);
        const QString function = QString::fromLatin1(e.path).section(QLatin1Char('/'), 1, 1);
        const QString other = function == QLatin1String("Alpha") ? QStringLiteral("Beta") : QStringLiteral("Alpha");
        TinyUnit unit;
        EXPECT_FALSE(unit.object->hasChangeMarks(function, SOURCE_LINK));
        // The link's own writes are not marked for it.
        ASSERT_GE(unit.object->setValue(addressOf(e.path), valueFor(e.path, 1), SOURCE_LINK), 0);
        EXPECT_FALSE(unit.object->hasChangeMarks(function, SOURCE_LINK));
        ASSERT_GE(unit.object->setValue(addressOf(e.path), valueFor(e.path, 2), SOURCE_UI), 0);
        EXPECT_TRUE(unit.object->hasChangeMarks(function, SOURCE_LINK));
        EXPECT_TRUE(unit.object->hasChangeMarks(function, SOURCE_LINK));
        EXPECT_FALSE(unit.object->hasChangeMarks(other, SOURCE_LINK));
        EXPECT_FALSE(unit.object->hasChangeMarks(QStringLiteral("NoSuchFunction"), SOURCE_LINK));
        uint8_t changed = 0;
        ASSERT_GE(unit.object->readChangeFlag(addressOf(e.path), &changed, SOURCE_LINK), 0);
        EXPECT_EQ(1, changed);
        EXPECT_FALSE(unit.object->hasChangeMarks(function, SOURCE_LINK));
    }
}

TEST(DeviceMemoryThread, WakeupsBeforeARunGiveOneBroadcast)
{
    MemThread thread;
    std::atomic<int> broadcasts{0};
    QObject::connect(&thread, &MemThread::signalMemChanged, [&] { ++broadcasts; });
    for (int i = 0; i < 50; ++i)
        thread.wakeup();
    thread.start();
    ASSERT_TRUE(qtest::waitFor([&] { return broadcasts == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(1, broadcasts);
}

TEST(DeviceMemoryThread, WakeupDuringTheBroadcastIsNotLost)
{
    MemThread thread;
    std::atomic<int> broadcasts{0};
    std::thread late;
    QObject::connect(
        &thread, &MemThread::signalMemChanged, &thread,
        [&] {
            if (++broadcasts == 1) {
                // Another thread wakes the memory thread while it emits.
                late = std::thread([&] { thread.wakeup(); });
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        },
        Qt::DirectConnection);
    thread.start();
    thread.wakeup();
    ASSERT_TRUE(qtest::waitFor([&] { return broadcasts == 2; }));
    late.join();
}

TEST(DeviceMemoryThread, ProcessInstance)
{
    Recorder listener;
    MMSArchiver archiver;
    EXPECT_EQ(DEV_E_FAIL, registerMemArchiver(&archiver));
    EXPECT_EQ(DEV_E_FAIL, registerMemListener(&listener));
    EXPECT_EQ(DEV_E_FAIL, unregisterMemListener(&listener));
    ASSERT_EQ(0, createMemThread());
    EXPECT_EQ(DEV_E_FAIL, createMemThread());
    EXPECT_EQ(0, registerMemListener(&listener));
    EXPECT_EQ(DEV_E_FAIL, registerMemListener(nullptr));
    QObject noSlot;
    EXPECT_EQ(DEV_E_FAIL, registerMemListener(&noSlot));
    EXPECT_EQ(0, destroyMemThread());
    EXPECT_EQ(DEV_E_FAIL, registerMemListener(&listener));
    EXPECT_EQ(0, destroyMemThread());
}

TEST(DeviceMemoryNotifier, OneProxyPerPathAndKeyAndNothingForOthers)
{
    MemNotifier notifier;
    Recorder a;
    Recorder b;
    const QString path = QStringLiteral("/Backup/MeterSetup:0/PeakHold:0");
    ASSERT_EQ(0, notifier.subscribe(path, &a, 1, SLOT(onParamChanged(QString)), Qt::DirectConnection));
    MemNotifierProxy* proxy = notifier.proxy(path + "/1");
    ASSERT_TRUE(proxy);
    ASSERT_EQ(0, notifier.subscribe(path, &b, 1, SLOT(onParamChanged(QString)), Qt::DirectConnection));
    EXPECT_EQ(proxy, notifier.proxy(path + "/1"));
    EXPECT_EQ(nullptr, notifier.proxy(path + "/2"));
    EXPECT_EQ(DEV_E_FAIL, notifier.subscribe(path, &a, 1, SLOT(noSuchSlot(QString))));

    EXPECT_EQ(0, notifier.notify(path, 1));
    EXPECT_EQ(1, a.changes[path]);
    EXPECT_EQ(1, b.changes[path]);
    // Another key, another path: nobody.
    EXPECT_EQ(0, notifier.notify(path, 2));
    EXPECT_EQ(0, notifier.notify("/Backup/MeterSetup:0/PeakHold:1", 1));
    EXPECT_EQ(2, a.total() + b.total());
}

TEST(DeviceMemoryNotifier, UnbuildablePathReachesNobody)
{
    TinyUnit unit;
    Recorder recorder;
    // Even a subscriber of the empty path hears nothing of it.
    ASSERT_EQ(0, unit.notifier.subscribe(QString(), &recorder, 1, SLOT(onParamChanged(QString)), Qt::DirectConnection));
    ASSERT_EQ(0,
        unit.notifier.subscribe(
            "/Alpha/ch:0/gain:0", &recorder, 1, SLOT(onParamChanged(QString)), Qt::DirectConnection));
    const uint32_t indexes[] = {0, 0};
    EXPECT_EQ(0, unit.object->notify("Alpha", "ch/gain", indexes, 1, 1));
    EXPECT_EQ(0, recorder.total());
    EXPECT_EQ(0, unit.object->notify("Alpha", "ch/gain", indexes, 2, 1));
    EXPECT_EQ(1, recorder.total());
    // Without a notifier the memory object reports it.
    TinyUnit bare;
    bare.object->setNotifier(nullptr);
    EXPECT_EQ(DEV_E_FAIL, bare.object->notify("Alpha", "ch/gain", indexes, 2, 1));
}

#include "test_changeroad.moc"
