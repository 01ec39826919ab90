// The main of every benchmark program that paints widgets: an offscreen
// application with the pinned look and the painted skins, and the memory
// thread that carries unit changes to their subscribers.
#include "bench/bench_gui.h"
#include "device/memory/dev_memthread.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <utility>
#include <vector>

namespace {

std::vector<std::function<void()>>& releases()
{
    static std::vector<std::function<void()>> list;
    return list;
}

} // namespace

void bench_gui_atExit(std::function<void()> release)
{
    releases().push_back(std::move(release));
}

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
    for (auto& release : releases())
        release();
    releases().clear();
    Quil::destroyMemThread();
    return 0;
}
