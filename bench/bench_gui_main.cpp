// The main of every benchmark program that paints widgets: an offscreen
// application with the pinned look and the painted skins, and the memory
// thread that carries unit changes to their subscribers.
#include "device/dev_memthread.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"

#include <QApplication>
#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    ZLook::preferOffscreen();
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();
    ZSkins::init();
    Quil::createMemThread();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Quil::destroyMemThread();
    return 0;
}
