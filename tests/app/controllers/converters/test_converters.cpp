// Value converters: gains, high-pass names, the meter scale and the delay
// units, with the delay rows compared against the reference peer.
#include "tests/support/test_support.h"
#include "ui/bind/converters.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

std::string shown(const IStringParamConverter* c, int value)
{
    QString text;
    c->toDisplayString(value, &text);
    return text.toStdString();
}

std::string edited(const IStringParamConverter* c, int value)
{
    QString text;
    c->toString(value, &text);
    return text.toStdString();
}

// "fail" for a refused text.
std::string parsed(const IStringParamConverter* c, const char* text)
{
    int value = 12345;
    const int32_t r = c->fromString(QString::fromUtf8(text), &value);
    if (r != CONV_OK) {
        EXPECT_EQ(CONV_E_FAIL, r);
        EXPECT_EQ(12345, value) << "a refused text leaves the value alone";
        return "fail";
    }
    return std::to_string(value);
}

TEST(Converters, GainsShowAndParse)
{
    const auto* in = ParamConverterAGain::instance();
    const auto* out = ParamConverterOutGain::instance();
    struct Row {
        const IStringParamConverter* c;
        int value;
        const char* display;
        const char* edit;
    };
    const Row rows[] = {
        {in, 10, "+10dB", "10"},
        {in, 0, "0dB", "0"},
        {in, -6, "-6dB", "-6"},
        {out, -50, "0dB", "0"},
        {out, 250, "+2dB", "2"},
        {out, -4950, "-49dB", "-49"},
        {out, 2400, "+24dB", "24"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.display, shown(r.c, r.value)) << r.value;
        EXPECT_EQ(r.edit, edited(r.c, r.value)) << r.value;
    }
    EXPECT_EQ("12", parsed(in, "12.9"));
    EXPECT_EQ("-5", parsed(in, "-5.7"));
    EXPECT_EQ("-4900", parsed(out, "-49.5"));
    EXPECT_EQ("fail", parsed(in, "abc"));
    EXPECT_EQ("fail", parsed(out, ""));
}

TEST(Converters, HighPassNamesAndNearestIndex)
{
    const auto* hpf = ParamConverterHpfFreq::instance();
    EXPECT_EQ("16.0Hz", shown(hpf, 0));
    EXPECT_EQ("21.2Hz", shown(hpf, 5));
    EXPECT_EQ("21.2", edited(hpf, 5));
    // Names follow the table: 10 kHz sits at 112, 10.6 kHz at 113.
    EXPECT_EQ("10.0kHz", shown(hpf, 112));
    EXPECT_EQ("10.6kHz", shown(hpf, 113));
    EXPECT_EQ("95.0Hz", shown(hpf, 31));
    EXPECT_EQ("100Hz", shown(hpf, 32));
    EXPECT_EQ("1.00kHz", shown(hpf, 72));
    EXPECT_EQ("23.6kHz", shown(hpf, 127));
    EXPECT_EQ("", shown(hpf, -1));
    EXPECT_EQ("", shown(hpf, 128));
    // Every name has three significant digits and its unit.
    for (int i = 0; i < 128; ++i) {
        const QString name = QString::fromStdString(shown(hpf, i));
        int digits = 0;
        for (const QChar ch : name)
            digits += ch.isDigit() ? 1 : 0;
        EXPECT_EQ(3, digits) << name.toStdString();
        EXPECT_TRUE(name.endsWith("Hz")) << name.toStdString();
    }
    const std::pair<const char*, const char*> texts[]
        = {{"100", "32"}, {"16.5", "1"}, {"5", "0"}, {"30000", "127"}, {"9999999", "127"}};
    for (const auto& [text, index] : texts)
        EXPECT_EQ(index, parsed(hpf, text)) << text;
}

TEST(Converters, MeterStepsIgnoreTheOverBit)
{
    const auto* meter = ParamConverterMeter41pix::instance();
    const std::pair<int, int> rows[] = {{0, 0}, {65, 0}, {66, 1}, {111, 21}, {126, 40}, {127, 41}, {500, 41}};
    for (const auto& [data, steps] : rows) {
        int out = -1;
        EXPECT_EQ(CONV_OK, meter->convert(data, &out));
        EXPECT_EQ(steps, out) << data;
    }
    int out = 0;
    EXPECT_EQ(CONV_E_FAIL, meter->convertBack(10, &out));
}

TEST(Converters, DelayUnitsBothWays)
{
    struct Row {
        const IStringParamConverter* c;
        int v;
        const char* edit;
        const char* display;
        const char* text;
        const char* parsed;
    };
    const Row rows[] = {
        {ParamConverterDelayMs::instance(), 1000, "1.00", "1.00", "1.00", "1000"},
        {ParamConverterDelayMeter::instance(), 1000, "0.3", "0.3", "100.0", "291016"},
        {ParamConverterDelayMeter::instance(), 291043, "100.0", "100.0", "0.3", "844"},
        {ParamConverterDelaySample::instance(48000), 1000, "48", "48", "48", "1000"},
        {ParamConverterDelayFrame::instance(0), 100000, "3.00", "3.00", "1.00", "33334"},
        {ParamConverterDelayFeet::instance(), 1000000, "1127.2", "1127.3", "1127.2", "999946"},
        {ParamConverterDelaySample::instance(0), 1000, "0", "0", "48", "fail"},
        {ParamConverterDelayFrame::instance(-1), 1000, "", "", "1.00", "fail"},
        {ParamConverterDelayFrame::instance(7), 1000, "", "", "1.00", "fail"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.v) + " " + r.text);
        EXPECT_EQ(r.edit, edited(r.c, r.v));
        EXPECT_EQ(r.display, shown(r.c, r.v));
        EXPECT_EQ(r.parsed, parsed(r.c, r.text));
    }
}

TEST(Converters, DelayTablesNameEveryUnit)
{
    const auto* c = ParamConverterDelayMs::instance();
    const char* names[] = {"m", "feet", "sample", "ms", "frame", ""};
    const char* formats[] = {"%.1f", "%.1f", "%.0f", "%.2f", "%.2f", ""};
    for (int type = 0; type < 6; ++type) {
        EXPECT_EQ(names[type], c->unitName(type).toStdString());
        EXPECT_EQ(formats[type], c->numberFormat(type).toStdString());
    }
    EXPECT_EQ("", c->unitName(-1).toStdString());
    float step = 0;
    EXPECT_TRUE(delayUnitStep(3, &step));
    EXPECT_EQ(0.02f, step);
    EXPECT_FALSE(delayUnitStep(5, &step));
    float fps = 0;
    EXPECT_TRUE(frameRateOf(1, &fps));
    EXPECT_EQ(29.97f, fps);
    EXPECT_FALSE(frameRateOf(7, &fps));
    EXPECT_FALSE(frameRateOf(-1, &fps));
}

// Texts beyond 32 bits or not finite were cast to int unchecked and wrote
// a wrapped delay; they are refused in every unit.
TEST(Converters, OutOfRangeTextsAreRefusedInEveryUnit)
{
    const IStringParamConverter* all[] = {ParamConverterDelayMeter::instance(), ParamConverterDelayFeet::instance(),
        ParamConverterDelaySample::instance(48000), ParamConverterDelaySample::instance(192000),
        ParamConverterDelayMs::instance(), ParamConverterDelayFrame::instance(0),
        ParamConverterDelayFrame::instance(6)};
    for (const IStringParamConverter* c : all) {
        for (const char* text : {"1e99", "-1e99", "nan", "inf", "-inf", "", "1.2.3", "J005", "99999999999"})
            EXPECT_EQ("fail", parsed(c, text)) << text;
    }
    // Seven nines: the count (ms, frames) or the value (metres, feet) leaves
    // 32 bits; in samples the value fits, beyond the delay range, and is
    // taken: the memory clamps it to its longest delay.
    for (const IStringParamConverter* c : all)
        if (c != all[2] && c != all[3]) {
            EXPECT_EQ("fail", parsed(c, "9999999"));
        }
    EXPECT_EQ("208333312", parsed(all[2], "9999999"));
    EXPECT_EQ("-998", parsed(all[4], "-1.00")) << "below the range: the memory clamps it";
    EXPECT_EQ("1000000", parsed(all[4], "1000"));
    EXPECT_EQ("1000100", parsed(all[4], "1000.1"));
    for (const IStringParamConverter* c : std::initializer_list<const IStringParamConverter*>{
             ParamConverterAGain::instance(), ParamConverterOutGain::instance(), ParamConverterHpfFreq::instance()}) {
        for (const char* text : {"1e99", "nan", "inf", "3000000000"})
            EXPECT_EQ("fail", parsed(c, text)) << text;
    }
    EXPECT_EQ("fail", parsed(ParamConverterOutGain::instance(), "99999999")) << "hundredths beyond 32 bits";
    // A value whose count does not fit is refused on the way out too.
    QString text;
    EXPECT_EQ(CONV_E_FAIL, ParamConverterDelaySample::instance(192000)->toString(2147483647, &text));
}

// Each rate keeps its own converter: a later panel's rate never leaks into
// an earlier panel's converter.
TEST(Converters, SampleAndFrameConvertersKeepTheirOwnSetting)
{
    ParamConverterDelaySample* a = ParamConverterDelaySample::instance(48000);
    ParamConverterDelaySample* b = ParamConverterDelaySample::instance(96000);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, ParamConverterDelaySample::instance(48000));
    EXPECT_EQ("48", edited(a, 1000));
    EXPECT_EQ("96", edited(b, 1000));
    EXPECT_EQ(48000, sampleRateOf(a));
    ParamConverterDelayFrame* f0 = ParamConverterDelayFrame::instance(0);
    ParamConverterDelayFrame::instance(2);
    EXPECT_EQ(0, frameRateIndexOf(f0));
    EXPECT_EQ("3.00", edited(f0, 100000));
    EXPECT_EQ(-1, frameRateIndexOf(a));
    EXPECT_EQ(0, sampleRateOf(f0));
    EXPECT_EQ(CONV_OK, a->resetUnitType());
    EXPECT_EQ(DELAY_UNIT_SAMPLE, a->unitType());
}

const IStringParamConverter* converterFor(int unit, int setting)
{
    switch (unit) {
    case 0:
        return ParamConverterDelayMeter::instance();
    case 1:
        return ParamConverterDelayFeet::instance();
    case 2:
        return ParamConverterDelaySample::instance(setting);
    case 3:
        return ParamConverterDelayMs::instance();
    default:
        return ParamConverterDelayFrame::instance(setting);
    }
}

TEST(Converters, DelayRowsEqualTheReference)
{
    std::string output;
    ASSERT_EQ(0, qtest::runCommand("python3 " + qtest::peerPath("delay_ref.py") + " --sweep", &output));
    std::istringstream lines(output);
    std::string line;
    int rows = 0;
    int mismatches = 0;
    while (std::getline(lines, line)) {
        std::istringstream cells(line);
        int unit = 0, setting = 0, v = 0;
        std::string edit, display, back;
        cells >> unit >> setting >> v >> edit >> display >> back;
        const IStringParamConverter* c = converterFor(unit, setting);
        QString text;
        const bool ok = c->toString(v, &text) == CONV_OK;
        std::string ours = ok ? text.toStdString() : "-";
        std::string oursBack = "-";
        int value = 0;
        if (ok && c->fromString(text, &value) == CONV_OK)
            oursBack = std::to_string(value);
        const std::string oursDisplay = shown(c, v).empty() ? "-" : shown(c, v);
        if (ours != edit || oursDisplay != display || oursBack != back) {
            if (++mismatches <= 5)
                ADD_FAILURE() << line << " | ours " << ours << " " << oursDisplay << " " << oursBack;
        }
        ++rows;
    }
    EXPECT_GT(rows, 15000);
    EXPECT_EQ(0, mismatches);
}

} // namespace
