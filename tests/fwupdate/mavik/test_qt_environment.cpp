// The Qt application object the server's sockets and timers need.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

namespace {

class QtEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test_mavik";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Before the exit handlers, which Qt's own statics do not survive.
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

const testing::Environment* const kQtEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
