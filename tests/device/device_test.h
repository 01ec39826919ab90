// Helpers of the device-layer tests: one unit's memory built like the
// device object builds it, value access by path text, and running the Qt
// event loop until something happened.
#pragma once

#include "device/link/dev_family.h"
#include "device/memory/dev_familymem.h"
#include "device/memory/dev_memconstructor.h"
#include "device/memory/dev_mempath.h"
#include "device/memory/dev_mmsarchiver.h"
#include "device/memory/dev_notifier.h"
#include "pbd/jlib/jvariant.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace devtest {

using namespace Quil;

inline MemAddress addressOf(const char* path)
{
    MemAddress address;
    EXPECT_EQ(0, parseMemPath(QString::fromUtf8(path), &address)) << path;
    return address;
}

// A value as text: "5", "-6", "\"text\"", or "error" when it can't be read.
inline std::string textOf(JResult result, const JLIB::JVariant& value)
{
    if (result < 0)
        return "error";
    switch (value.type()) {
    case JLIB::JVARIANT_INT32:
        return std::to_string(static_cast<int32_t>(value.toInteger()));
    case JLIB::JVARIANT_UINT32:
        return std::to_string(value.toInteger());
    case JLIB::JVARIANT_STRING:
        return std::string("\"") + value.getString() + "\"";
    default:
        return "type " + std::to_string(value.type());
    }
}

// A unit's memory: the archiver, the family object over it and a notifier.
struct Unit {
    explicit Unit(ModelType type, int slot = 0)
    {
        if (auto constructor = createMemConstructor(type))
            loadResult = constructor->load(&archiver);
        object.reset(createMemObject(type, slot, nullptr, &archiver));
        if (object)
            object->setNotifier(&notifier);
    }

    JResult write(const char* path, const JLIB::JVariant& value, uint8_t source)
    {
        return object->setValue(addressOf(path), value, source);
    }
    JResult write(const char* path, int32_t value, uint8_t source)
    {
        return write(path, JLIB::JVariant(value), source);
    }
    std::string read(const char* path) const
    {
        JLIB::JVariant value;
        const JResult r = object->getValue(addressOf(path), &value);
        return textOf(r, value);
    }
    // Whether the element is marked for the key (clears the mark); false
    // when the key is not registered with the function.
    bool marked(const char* path, uint8_t key) const
    {
        uint8_t changed = 0;
        return object->readChangeFlag(addressOf(path), &changed, key) >= 0 && changed != 0;
    }

    JResult loadResult = -1;
    MMSArchiver archiver; // declared before the object: it outlives it
    MemNotifier notifier;
    std::unique_ptr<ZMemObject> object;
};

// Runs the event loop until pred holds or timeoutMs passed.
template <class Pred> bool spinUntil(Pred pred, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs the event loop for a while (to show that nothing more arrives).
inline void spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
}

} // namespace devtest
