// Entry point of the widget test programs: one QApplication for the run,
// with the same look, fonts and pictures as the program.
#include "tests/support/test_support.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

// Under the address sanitizer (test discovery runs this program at build
// time), objects Qt's platform plugin and screens keep until exit are not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen\nleak:libQt5Gui\nleak:libQt5Core\nleak:libQt5Widgets\nleak:libfontconfig\n";
}

int main(int argc, char** argv)
{
    ZLook::preferOffscreen();
    // Settings written by the code under test land in a folder of our own.
    const qtest::TempDir home;
    qputenv("HOME", home.path().c_str());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").c_str());
    const std::string runtime = home.path() + "/runtime";
    if (mkdir(runtime.c_str(), 0700) == 0)
        qputenv("XDG_RUNTIME_DIR", runtime.c_str());
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();
    ZSkins::init();
    return RUN_ALL_TESTS();
}
