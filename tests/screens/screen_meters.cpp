// Both meter windows over a rack of every meter-carrying model, a Sorn and
// a Mavik slot (hidden, place kept) and empty slots, with levels from the
// units' meter stores.
#include "tests/screens/screens.h"

#include "app/app_quilobject.h"
#include "device/memory/dev_meters.h"
#include "ui/panels/meterall.h"

#include <QApplication>

#include <memory>

namespace screens {
namespace {

void feedLevels(Quil::IZDev* unit, int slot)
{
    Quil::MemMeters* meters = unit->meters();
    if (!meters)
        return;
    const struct {
        const char* path;
        uint32_t count;
    } blocks[] = {{"Dev/InputLevel", 32}, {"Dev/OutputLevel", 24}, {"Dev/PhonesLevel", 2}};
    for (const auto& block : blocks) {
        uint8_t bytes[32] = {};
        // A ramp that differs per slot, with a few channels over the top.
        for (uint32_t i = 0; i < block.count; ++i)
            bytes[i] = static_cast<uint8_t>(i % 7 == 3 ? 0xFF : 66 + (i * 5 + static_cast<uint32_t>(slot) * 9) % 61);
        meters->update(QString::fromLatin1(block.path), bytes, block.count);
    }
    meters->notify();
}

std::unique_ptr<QWidget> meterWindow(ZoomCode code, int mode)
{
    auto* core = new Quil::QuilObject;
    const Quil::ModelType models[] = {Quil::MODEL_BROXL_D3, Quil::MODEL_BROXM_D2, Quil::MODEL_SORN_D,
        Quil::MODEL_BROXI_D, Quil::MODEL_BROXO_D, Quil::MODEL_PELLM_D2, Quil::MODEL_MAVIK_D, Quil::MODEL_BROXM_D3,
        Quil::MODEL_BROXL_D, Quil::MODEL_NONE, Quil::MODEL_BROXL_D2, Quil::MODEL_BROXM_D, Quil::MODEL_PELLM_D};
    for (int slot = 0; slot < 24; ++slot)
        core->mountModel(slot, models[static_cast<size_t>(slot) % (sizeof models / sizeof models[0])]);
    QApplication::processEvents();

    auto window = std::make_unique<MeterAll>(nullptr, Qt::Dialog, core);
    // The rack lives as long as the window that shows it.
    core->setParent(window.get());
    window->setLayoutMode(mode);
    for (int slot = 0; slot < 24; ++slot)
        feedLevels(core->rackDevice(slot), slot);
    window->applyScale(code);
    return window;
}

const ScreenRegistrar oneLine(
    {QStringLiteral("meter_1line"), [](ZoomCode code) { return meterWindow(code, 0); }, nullptr});
const ScreenRegistrar twoLine(
    {QStringLiteral("meter_2line"), [](ZoomCode code) { return meterWindow(code, 1); }, nullptr});

} // namespace
} // namespace screens
