// A core application object on the main thread for test programs whose code
// under test queues connections and posts events; the tests pump its events.
// Compiled into each such program (QUILLON_QT_CORE_ENVIRONMENT_SOURCE).
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

namespace {

class QtEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "quillon_test";
        static char* argv[] = {name, nullptr};
        // Qt's own event dispatcher in every thread: glib's allocator hands
        // memory between threads on locks the race detector cannot see.
        qputenv("QT_NO_GLIB", "1");
        if (!QCoreApplication::instance())
            app_ = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QCoreApplication> app_;
};

const testing::Environment* const kQtEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
