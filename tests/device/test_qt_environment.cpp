// The device layer's queued signals need a Qt application object on the main
// thread (the program's GUI thread); every test program of this folder gets one.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

namespace {

class QtEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test_device";
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
