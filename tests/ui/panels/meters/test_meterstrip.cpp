// One slot's meter strip over offline-mounted units with the real memory
// thread: which channels each model shows, where the pictures sit, what a
// rebinding leaves behind, and the levels from the unit's meter store.
#include "tests/ui/panels/meters/meters_fixture.h"

#include "app/app_rackobject.h"
#include "device/memory/dev_meters.h"
#include "pbd/jlib/jvariant.h"
#include "ui/bind/controllers.h"
#include "ui/panels/imagepanel.h"
#include "ui/widgets/zmeter.h"

#include <QFrame>

#include <algorithm>

namespace {

using namespace Quil;
using Block = MeterStrip::Block;

template <class W> int shownCount(const QVector<W*>& widgets)
{
    return static_cast<int>(
        std::count_if(widgets.begin(), widgets.end(), [](const QWidget* w) { return !w->isHidden(); }));
}

QStringList shownTexts(const MeterStrip& strip, int block)
{
    QStringList texts;
    for (const ZScaledLabel* label : strip.channelLabels(block))
        if (!label->isHidden())
            texts << label->text();
    return texts;
}

TEST_F(MeterWindows, StripShowsTheChannelsOfEachModel)
{
    struct Row {
        ModelType model;
        bool shown;
        int meters[3]; // input, output, headphone
        int scales[3];
    };
    const Row rows[] = {
        {MODEL_BROXM_D, true, {16, 8, 0}, {3, 2, 0}},
        {MODEL_BROXM_D2, true, {16, 8, 0}, {3, 2, 0}},
        {MODEL_BROXL_D, true, {32, 24, 0}, {5, 4, 0}},
        {MODEL_BROXL_D3, true, {32, 24, 2}, {5, 4, 2}},
        {MODEL_BROXM_D3, true, {16, 8, 2}, {3, 2, 2}},
        {MODEL_BROXI_D, true, {8, 0, 0}, {2, 0, 0}},
        {MODEL_BROXO_D, true, {0, 8, 0}, {0, 2, 0}},
        {MODEL_PELLM_D2, true, {16, 0, 0}, {3, 0, 0}},
        {MODEL_SORN_D, false, {0, 0, 0}, {0, 0, 0}},
        {MODEL_MAVIK_D, false, {0, 0, 0}, {0, 0, 0}},
    };
    for (const Row& row : rows) {
        qtest::OfflineRack rack({row.model});
        MeterStrip strip(&host, &rack.unit(0), 3);
        const std::string model = modelNameOf(row.model);
        EXPECT_EQ(row.shown, !strip.isHidden()) << model;
        EXPECT_EQ(QStringLiteral("#3"), strip.numberText());
        // The name falls back to the product name while the unit has none.
        EXPECT_EQ(QString::fromLatin1(modelNameOf(row.model)), strip.nameText()) << model;
        for (int block = 0; block < MeterStrip::BlockCount; ++block) {
            EXPECT_EQ(row.meters[block], shownCount(strip.meterBases(block))) << model << " block " << block;
            EXPECT_EQ(row.meters[block], shownCount(strip.channelLabels(block))) << model << " block " << block;
            EXPECT_EQ(row.scales[block], shownCount(strip.scalePictures(block))) << model << " block " << block;
            // Every meter is fed, shown or not, so a later model change needs
            // no new wiring.
            EXPECT_EQ(strip.meters(block).size(), strip.controllers(block).size());
        }
    }
}

TEST_F(MeterWindows, StripLabelsAndPicturesSitWhereTheLayoutPutsThem)
{
    qtest::OfflineRack rack({MODEL_BROXL_D3});
    MeterStrip strip(&host, &rack.unit(0), 24);
    EXPECT_EQ(QSize(740, 67), strip.size());
    EXPECT_EQ(QStringLiteral("#24"), strip.numberText());
    EXPECT_EQ(
        (QStringList{"1", ".", ".", ".", "5", ".", ".", ".", "9"}), shownTexts(strip, Block::BlockInput).mid(0, 9));
    EXPECT_EQ(QStringLiteral("29"), shownTexts(strip, Block::BlockInput).at(28));
    EXPECT_EQ(QStringLiteral("21"), shownTexts(strip, Block::BlockOutput).at(20));
    EXPECT_EQ((QStringList{"L", "R"}), shownTexts(strip, Block::BlockPhones));

    // First and last meter base of each block, the first scale and the
    // closing scale (blocks end at 383, 676 and 719).
    struct Row {
        int block;
        int firstBase;
        int lastBase;
        int firstScale;
        int closingScale;
    };
    const Row rows[] = {{0, 11, 367, 5, 377}, {1, 399, 660, 393, 670}, {2, 692, 703, 686, 713}};
    for (const Row& row : rows) {
        const auto& bases = strip.meterBases(row.block);
        const auto& scales = strip.scalePictures(row.block);
        EXPECT_EQ(QRect(row.firstBase, 13, 9, 45), bases.first()->geometry()) << row.block;
        EXPECT_EQ(QRect(row.lastBase, 13, 9, 45), bases.last()->geometry()) << row.block;
        EXPECT_EQ(QRect(row.firstScale, 13, 5, 45), scales.first()->geometry()) << row.block;
        EXPECT_EQ(QRect(row.closingScale, 13, 5, 45), scales.last()->geometry()) << row.block;
        EXPECT_EQ(QRect(row.firstBase - 2, 57, 14, 8), strip.channelLabels(row.block).first()->geometry());
        EXPECT_EQ(QRect(2, 2, 5, 41), strip.meters(row.block).first()->geometry());
    }
    // Group boundaries: a scale picture between channel 8 and 9 of the input.
    EXPECT_EQ(88, strip.meterBases(0).at(7)->x());
    EXPECT_EQ(98, strip.scalePictures(0).at(1)->x());
    EXPECT_EQ(104, strip.meterBases(0).at(8)->x());

    // Nothing overlaps, nothing leaves the strip.
    std::vector<QRect> pictures;
    for (int block = 0; block < MeterStrip::BlockCount; ++block) {
        for (const ImagePanel* base : strip.meterBases(block))
            pictures.push_back(base->geometry());
        for (const ZScaledLabel* scale : strip.scalePictures(block))
            pictures.push_back(scale->geometry());
    }
    for (size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_TRUE(strip.rect().contains(pictures[i])) << i;
        for (size_t j = i + 1; j < pictures.size(); ++j)
            EXPECT_FALSE(pictures[i].intersects(pictures[j])) << i << " " << j;
    }
    // Two sunken separators before the output and headphone blocks.
    int separators = 0;
    for (const QFrame* frame : strip.findChildren<QFrame*>(QString(), Qt::FindDirectChildrenOnly))
        if (frame->frameShape() == QFrame::VLine) {
            EXPECT_EQ(QSize(2, 63), frame->size());
            EXPECT_TRUE(frame->x() == 387 || frame->x() == 680) << frame->x();
            ++separators;
        }
    EXPECT_EQ(2, separators);
}

TEST_F(MeterWindows, EmptySlotGivesAHiddenStripWithNoName)
{
    RackObject slot(4);
    MeterStrip strip(&host, &slot, 5);
    EXPECT_TRUE(strip.isHidden());
    EXPECT_TRUE(strip.nameText().isEmpty());
    EXPECT_FALSE(strip.setAccessor(nullptr));
}

TEST_F(MeterWindows, StripNameFollowsTheDeviceName)
{
    qtest::OfflineRack rack({MODEL_BROXM_D2});
    rack.unit(0).setAddress(QStringLiteral("127.0.0.1"), 0);
    MeterStrip strip(&host, &rack.unit(0), 1);
    ASSERT_EQ(QStringLiteral("BroxM-D2"), strip.nameText());
    const QString path = QStringLiteral("/DevInfo/devinfo:0/devicename:0");
    ASSERT_GE(rack.unit(0).setValue(path, JLIB::JVariant("Stage Left", 64), SOURCE_LINK), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return strip.nameText() == QStringLiteral("Stage Left"); }, 2000));
    ASSERT_GE(rack.unit(0).setValue(path, JLIB::JVariant("", 64), SOURCE_LINK), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return strip.nameText() == QStringLiteral("BroxM-D2"); }, 2000));
}

// Counts the name refreshes that reach the accessor.
class CountingDev : public qtest::RecordingDev {
public:
    using RecordingDev::RecordingDev;
    JResult getDeviceInfo(DevInfoRecord* out) override
    {
        ++infoReads;
        return RecordingDev::getDeviceInfo(out);
    }
    int infoReads = 0;
};

TEST_F(MeterWindows, RebindingLeavesOneControllerPerMeterAndOneNameSubscription)
{
    qtest::OfflineRack rack({MODEL_BROXL_D3});
    rack.unit(0).setAddress(QStringLiteral("127.0.0.1"), 0);
    CountingDev dev(&rack.unit(0));
    MeterStrip strip(&host, &dev, 1);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(strip.setAccessor(&dev));
    EXPECT_EQ(58, strip.findChildren<ControllerForZMeter*>().size());
    EXPECT_EQ(1, dev.subscriptions - dev.unsubscriptions);

    // One devicename change refreshes the name once.
    settle();
    dev.infoReads = 0;
    ASSERT_GE(rack.unit(0).setValue(
                  QStringLiteral("/DevInfo/devinfo:0/devicename:0"), JLIB::JVariant("FOH", 64), SOURCE_LINK),
        0);
    ASSERT_TRUE(qtest::waitUntil([&] { return strip.nameText() == QStringLiteral("FOH"); }, 2000));
    settle();
    EXPECT_EQ(1, dev.infoReads);

    // Bound to another unit, the old one no longer drives the meters.
    qtest::OfflineRack other({MODEL_BROXL_D3});
    ASSERT_TRUE(strip.setAccessor(&other.unit(0)));
    EXPECT_EQ(0, dev.subscriptions - dev.unsubscriptions);
    uint8_t bytes[32];
    std::fill(std::begin(bytes), std::end(bytes), uint8_t(127));
    ASSERT_GE(rack.unit(0).meters()->update(QStringLiteral("Dev/InputLevel"), bytes, 32), 0);
    rack.unit(0).meters()->notify();
    settle();
    EXPECT_EQ(0, strip.meters(0).at(0)->value());
    EXPECT_TRUE(dev.writes.empty());
}

TEST_F(MeterWindows, LevelsClampToTheMeterAndMissingChannelsStayDark)
{
    qtest::OfflineRack rack({MODEL_BROXM_D2});
    MeterStrip strip(&host, &rack.unit(0), 1);
    MemMeters* meters = rack.unit(0).meters();
    ASSERT_NE(nullptr, meters);
    // More bytes than the unit has channels, levels beyond the scale, the
    // over bit.
    uint8_t in[32];
    for (int i = 0; i < 32; ++i)
        in[i] = static_cast<uint8_t>(i % 2 == 0 ? 0xFF : 111);
    uint8_t out[24];
    std::fill(std::begin(out), std::end(out), uint8_t(0x80 | 66));
    meters->update(QStringLiteral("Dev/InputLevel"), in, 32);
    meters->update(QStringLiteral("Dev/OutputLevel"), out, 24);
    meters->update(QStringLiteral("Dev/PhonesLevel"), out, 2);
    meters->notify();
    ASSERT_TRUE(qtest::waitUntil([&] { return strip.meters(0).at(0)->value() == 41; }, 2000));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(i % 2 == 0 ? 41 : 21, strip.meters(0).at(i)->value()) << i;
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(1, strip.meters(1).at(i)->value()) << i;
    // Channels the model lacks are never drawn, whatever the store holds.
    for (int i = 16; i < 32; ++i)
        EXPECT_FALSE(strip.meters(0).at(i)->isVisibleTo(&host)) << i;
    for (int i = 8; i < 24; ++i)
        EXPECT_FALSE(strip.meters(1).at(i)->isVisibleTo(&host)) << i;
    for (const ZMeter* meter : strip.meters(2))
        EXPECT_FALSE(meter->isVisibleTo(&host));
}

} // namespace
