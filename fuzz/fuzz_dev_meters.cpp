// Meter bytes and ticks from the fuzzer, checked against a small model of
// one channel. First byte: the channel count (0..15); then commands: 0 tick,
// 1/2 peak hold on/off, 3 reset, anything else a run of that many bytes
// (more than the channels hold is allowed; the rest is dropped).
#include "device/memory/dev_meters.h"
#include "fuzz/fuzz_check.h"

#include <QObject>

#include <algorithm>
#include <cstdint>

namespace {

class Receiver : public QObject {
    Q_OBJECT

public:
    int ticks = 0;
    uint8_t peak = 0;
    uint8_t data = 0;

public slots:
    void onData(uint8_t p, uint8_t d)
    {
        ++ticks;
        peak = p;
        data = d;
    }
};

// Level and over flag held apart, as the units' meter bytes mean them.
struct Model {
    uint8_t level = 0, over = 0, peakLevel = 0, peakOver = 0;
    bool hold = false, resetPending = false;

    void update(uint8_t b)
    {
        if (resetPending) {
            level = over = 0;
            resetPending = false;
        }
        level = std::max<uint8_t>(level, b & 0x7F);
        over = std::max<uint8_t>(over, b & 0x80);
        if (hold) {
            peakLevel = std::max<uint8_t>(peakLevel, b & 0x7F);
            peakOver = std::max<uint8_t>(peakOver, b & 0x80);
        }
    }
    void setHold(bool on)
    {
        if (on != hold)
            peakLevel = peakOver = 0;
        hold = on;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint32_t channels = data[0] % 16;
    Quil::MemMeters meters;
    Receiver receiver;
    fuzzCheck(meters.addMeter("Dev/InputLevel", channels) >= 0);
    const bool watched = meters.connect("Dev/InputLevel", 0, &receiver, SLOT(onData(uint8_t, uint8_t))) >= 0;
    fuzzCheck(watched == (channels > 0));
    Model model;
    int ticks = 0;
    size_t at = 1;
    while (at < size) {
        const uint8_t command = data[at++];
        if (command == 0) {
            meters.notify();
            ++ticks;
            fuzzCheck(!watched
                || (receiver.ticks == ticks && receiver.peak == (model.peakLevel | model.peakOver)
                    && receiver.data == (model.level | model.over)));
            model.resetPending = true;
        } else if (command == 1 || command == 2) {
            meters.setPeakHold(command == 1);
            model.setHold(command == 1);
        } else if (command == 3) {
            meters.resetAll();
            const bool hold = model.hold;
            model = Model();
            model.hold = hold;
        } else {
            const size_t n = std::min<size_t>(command, size - at);
            fuzzCheck(meters.update("Dev/InputLevel", data + at, static_cast<uint32_t>(n)) >= 0);
            if (n > 0 && channels > 0)
                model.update(data[at]);
            at += n;
        }
    }
    return 0;
}

#include "fuzz_dev_meters.moc"
