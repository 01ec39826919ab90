// The engine's cross-thread signals and the settings codec need a Qt
// application object on the main thread.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

namespace {

class QtEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test_updater";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            app_ = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QCoreApplication> app_;
};

const testing::Environment* const kQtEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
