// The locked field from several threads: a writer, a change walker and a
// definition reader on one field; two fields copying into each other in
// opposite directions; re-entry on a thread that holds the locks; and the
// two mutexes themselves.

#include "mms/mms_lockedfield.h"

#include "mms/mms_loader.h"
#include "pbd/jlib/jvariant.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace MMS;
using JLIB::JVariant;

namespace {

constexpr int kIterations = 2000;
constexpr auto kDeadline = std::chrono::seconds(60);

JResult load(IField* field, const char* listName)
{
    const std::string text = qtest::readFile(qtest::sourcePath("tests/mms/layouts/mixer.xml"));
    return mms_loadDefinitionFromMemory(field, nullptr, 0, listName, static_cast<uint32_t>(strlen(listName) + 1),
        text.data(), static_cast<uint32_t>(text.size()), LOAD_ACTIVATE);
}

JResult setVolume(IField* field, uint32_t channel, uint32_t value, uint32_t key = 2)
{
    const uint32_t indexes[] = {channel, 0};
    WriterOptions writer;
    writer.key = key;
    writer.source = 1;
    return field->setValueByName(JVariant(value), "Mixer", "ch/vol", 6, indexes, 2, writer);
}

// Runs the jobs on their own threads and waits for all of them within the
// deadline. A deadlock can't be joined, so it ends the program with a
// failure instead of hanging the test run.
void runBounded(std::vector<std::function<void()>> jobs)
{
    std::vector<std::future<void>> done;
    for (auto& job : jobs)
        done.push_back(std::async(std::launch::async, job));
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    for (auto& d : done) {
        if (d.wait_until(until) != std::future_status::ready) {
            ADD_FAILURE() << "threads did not finish in time (deadlock)";
            std::_Exit(1);
        }
    }
}

} // namespace

TEST(LockedField, WriterWalkerAndReaderOnThreeThreads)
{
    RecursiveMutex mutex;
    Field field(nullptr, &mutex);
    ASSERT_EQ(0, load(&field, "Mixer"));
    // Two pages, so that moving the read page really moves what writes mark.
    ASSERT_EQ(0, field.addNotifier(0, 1, 2, false));

    std::atomic<int> walked{0};
    std::atomic<bool> readerOk{true};
    runBounded({
        [&] {
            // Both keep going (bounded) until the walker has seen a change,
            // so a slow start of either thread cannot leave nothing to walk.
            for (int i = 0; i < kIterations || (walked == 0 && i < kIterations * 100); ++i)
                setVolume(&field, static_cast<uint32_t>(i % 3), static_cast<uint32_t>(i));
        },
        [&] {
            char path[64];
            uint32_t indexes[MMS_MAX_DEPTH], count = 0;
            for (int i = 0; i < kIterations || (walked == 0 && i < kIterations * 100); ++i) {
                for (int n = 0; n < 8; ++n) {
                    if (field.getNextChangedByName(path, sizeof path, indexes, &count, MMS_MAX_DEPTH, "Mixer", "", 0,
                            nullptr, 0, true, 1, false)
                        != 0)
                        break;
                    ++walked;
                }
                field.advanceReadPage(1);
            }
        },
        [&] {
            for (int i = 0; i < kIterations; ++i) {
                uint32_t tags[MMS_MAX_DEPTH], count = 0, size = 0;
                JVariant value(uint32_t{70000});
                bool ok = field.resolveNamePath(tags, &count, MMS_MAX_DEPTH, "Mixer", "ch/vol", 6) == 0
                    && field.convertValueByName(&value, "Mixer", "ch/vol", 6, 0) >= 0 && value.toInteger() == 65535
                    && field.getImageSize(&size, "Mixer", nullptr, 0) == 0 && size > 88;
                if (!ok)
                    readerOk = false;
            }
        },
    });
    EXPECT_TRUE(readerOk);
    EXPECT_GT(walked.load(), 0);
}

TEST(LockedField, OppositeCopiesFinish)
{
    RecursiveMutex mutexX, mutexY;
    Field x(nullptr, &mutexX), y(nullptr, &mutexY);
    ASSERT_EQ(0, load(&x, "Mixer"));
    ASSERT_EQ(0, load(&y, "Mixer"));
    std::atomic<int> failures{0};
    runBounded({
        [&] {
            for (int i = 0; i < kIterations; ++i)
                failures += x.copyFunctionToLocked("Mixer", &y, "Mixer", IMAGE_TRACK_CHANGES, 0) < 0;
        },
        [&] {
            for (int i = 0; i < kIterations; ++i)
                failures += y.copyFunctionToLocked("Mixer", &x, "Mixer", 0, 0) < 0;
        },
        [&] {
            for (int i = 0; i < kIterations; ++i)
                failures += y.copyFunctionTo("Mixer", &x, "Mixer", 0, 0) < 0;
        },
        // Writers on both sources while they are being read.
        [&] {
            for (int i = 0; i < kIterations; ++i)
                setVolume(&x, 1, static_cast<uint32_t>(i));
        },
        [&] {
            for (int i = 0; i < kIterations; ++i)
                setVolume(&y, 2, static_cast<uint32_t>(i));
        },
    });
    EXPECT_EQ(0, failures.load());
}

namespace {

// Reads a value from another field of the same unit from inside the trigger.
class ReadingTrigger : public IEventFlagTrigger {
public:
    JResult trigger(uint32_t, uint32_t, const TaskListIdentity&) override
    {
        if (other == nullptr)
            return 0;
        JVariant v;
        const uint32_t indexes[] = {1, 0};
        result = other->getValueByName(&v, nullptr, "Mixer", "ch/vol", 6, indexes, 2, false, 0);
        value = v.toInteger();
        return 0;
    }
    Field* other = nullptr;
    JResult result = -1;
    uint32_t value = 0;
};

} // namespace

TEST(LockedField, ReentryOnTheLockingThreadDoesNotBlock)
{
    RecursiveMutex mutex;
    ReadingTrigger trigger;
    Field first(&trigger, &mutex), second(nullptr, &mutex);
    ASSERT_EQ(0, load(&first, "Mixer"));
    ASSERT_EQ(0, load(&second, "Mixer"));
    ASSERT_EQ(MMS_CHANGED, setVolume(&second, 1, 42));
    trigger.other = &second;
    runBounded({[&] { setVolume(&first, 0, 7); }});
    EXPECT_EQ(0, trigger.result);
    EXPECT_EQ(42u, trigger.value);
}

TEST(LockedField, Mutexes)
{
    RecursiveMutex mutex;
    ASSERT_EQ(0, mutex.lockA());
    ASSERT_EQ(0, mutex.tryLockA()); // recursive on the owning thread
    JResult otherA = 0, otherB = -1;
    std::thread([&] {
        otherA = mutex.tryLockA();
        otherB = mutex.tryLockB(); // the two locks are independent
        if (otherB == 0)
            mutex.unlockB();
    }).join();
    EXPECT_EQ(static_cast<JResult>(0x80000000u), otherA);
    EXPECT_EQ(0, otherB);
    mutex.unlockA();
    mutex.unlockA();
    std::thread([&] {
        otherA = mutex.tryLockA();
        if (otherA == 0)
            mutex.unlockA();
    }).join();
    EXPECT_EQ(0, otherA);

    NullMutex none;
    EXPECT_EQ(0, none.lockA());
    EXPECT_EQ(0, none.tryLockB());
}
