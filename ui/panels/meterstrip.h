// MeterStrip: one rack slot's row of the meter windows. It shows the unit's
// number and name, then the input, output and headphone meter blocks, each
// meter fed from the unit's meter store by a controller the strip owns.
//
// A strip is built once with every meter of the largest model and shows only
// the channels the bound unit has; a unit without meters (or an empty slot)
// hides the strip, which still keeps its place in the window. GUI thread only.
#pragma once

#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_izdev.h"
#include "device/memory/dev_subscribe.h"
#include "ui/widgets/zscaled.h"

#include <QVector>

#include <array>

class ControllerForZMeter;
class ImagePanel;
class ZMeter;

class MeterStrip : public ZScaledWidget {
    Q_OBJECT
public:
    // At 100 %.
    static constexpr int kWidth = 740;
    static constexpr int kHeight = 67;

    enum Block { BlockInput = 0, BlockOutput = 1, BlockPhones = 2, BlockCount = 3 };

    // The meter path and the meter and scale-picture counts of each block.
    struct BlockSpec {
        const char* path;
        int meters;
        int scales;
        int group; // meters between two scale pictures
        const char* basePicture;
        const char* meterPicture;
    };
    static const BlockSpec& blockSpec(int block);

    // Shown channels per block for a model type; all zero hides the strip.
    struct Channels {
        int counts[BlockCount];
        bool shown;
    };
    static Channels channelsOf(Quil::ModelType type);

    // unitNumber is the slot number shown, 1 to 24.
    // Controllers and the name subscription go with the strip (Qt drops
    // the connections), so the accessor need not outlive it.
    MeterStrip(QWidget* parent, Quil::IZDev* accessor, int unitNumber);
    MeterStrip(const MeterStrip&) = delete;
    MeterStrip& operator=(const MeterStrip&) = delete;

    // Binds the strip to a slot's unit (again): drops the previous binding's
    // controllers and name subscription, then shows the unit's channels and
    // attaches one controller to every meter, shown or not. False without an
    // accessor.
    bool setAccessor(Quil::IZDev* accessor);
    Quil::IZDev* accessor() const { return m_accessor; }

    // Read-backs for the windows and their tests.
    const QString nameText() const;
    const QString numberText() const;
    const QVector<ZMeter*>& meters(int block) const { return m_blocks.at(block).meters; }
    const QVector<ImagePanel*>& meterBases(int block) const { return m_blocks.at(block).bases; }
    const QVector<ZScaledLabel*>& channelLabels(int block) const { return m_blocks.at(block).labels; }
    const QVector<ZScaledLabel*>& scalePictures(int block) const { return m_blocks.at(block).scales; }
    const QVector<ControllerForZMeter*>& controllers(int block) const { return m_blocks.at(block).controllers; }

public slots:
    void updateDeviceName();

private:
    struct BlockWidgets {
        QVector<ZMeter*> meters;
        QVector<ImagePanel*> bases;
        QVector<ZScaledLabel*> labels;
        QVector<ZScaledLabel*> scales;
        QVector<ControllerForZMeter*> controllers;
    };

    ZScaledLabel* makeLabel(int pixelSize, const QRect& geometry, Qt::Alignment alignment);
    // Lays out one block from x = start; returns where it ends.
    int buildBlock(int block, int start);
    // 0, or DEV_E_FAIL for a count the block cannot show (nothing changes).
    JResult showChannels(int block, int count);
    void releaseBinding();

    Quil::IZDev* m_accessor = nullptr;
    Quil::Subscriptions m_nameSubscription;
    ZScaledLabel* m_number = nullptr;
    ZScaledLabel* m_name = nullptr;
    std::array<BlockWidgets, BlockCount> m_blocks;
};
