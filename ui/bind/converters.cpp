#include "ui/bind/converters.h"

#include "device/layouts/dev_iotable.h"

#include <QLocale>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

namespace {

constexpr double kSpeedOfSound = 343.59; // m/s
constexpr double kFeetPerMetre = 3.2808;

bool fitsInt32(double value)
{
    return value >= static_cast<double>(std::numeric_limits<int32_t>::min())
        && value <= static_cast<double>(std::numeric_limits<int32_t>::max());
}

// The text as a finite double whose whole part fits 32 bits.
bool parseNumber(const QString& text, double* out)
{
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(number) || !fitsInt32(std::trunc(number)))
        return false;
    *out = number;
    return true;
}

// One unit type's row: step, name, format, pattern.
struct DelayUnit {
    float step;
    const char* name;
    const char* format;
    const char* pattern;
};

const DelayUnit kDelayUnits[] = {
    {0.1f, "m", "%.1f", "\\d*[.]?\\d+"},
    {0.1f, "feet", "%.1f", "\\d*[.]?\\d+"},
    {1.0f, "sample", "%.0f", "\\d+"},
    {0.02f, "ms", "%.2f", "\\d*[.]?\\d+"},
    {0.01f, "frame", "%.2f", "\\d*[.]?\\d+"},
};

const DelayUnit* delayUnit(int type)
{
    if (type < 0 || type >= static_cast<int>(std::size(kDelayUnits)))
        return nullptr;
    return &kDelayUnits[type];
}

const float kFrameRates[] = {30.0f, 29.97f, 25.0f, 24.0f, 60.0f, 59.94f, 50.0f};

const int kMeterThresholds[41] = {66, 71, 76, 80, 85, 86, 90, 93, 96, 98, 99, 101, 102, 104, 105, 107, 108, 109, 110,
    111, 111, 112, 113, 114, 114, 115, 116, 117, 117, 118, 119, 120, 120, 121, 122, 123, 123, 124, 125, 126, 127};

// The number in a printf format (our own constants). The C library rounds
// exact halves to even on the binary value; Qt's asprintf would not.
QString formatNumber(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return QString::fromLatin1(text);
}

} // namespace

ParamConverterAGain* ParamConverterAGain::instance()
{
    static ParamConverterAGain converter;
    return &converter;
}

int32_t ParamConverterAGain::toString(int value, QString* out) const
{
    *out = QString::number(value);
    return CONV_OK;
}

int32_t ParamConverterAGain::fromString(const QString& text, int* value) const
{
    double number = 0;
    if (!parseNumber(text, &number))
        return CONV_E_FAIL;
    *value = static_cast<int>(std::trunc(number));
    return CONV_OK;
}

int32_t ParamConverterAGain::toDisplayString(int value, QString* out) const
{
    *out = QString::asprintf("%s%ddB", value > 0 ? "+" : "", value);
    return CONV_OK;
}

ParamConverterOutGain* ParamConverterOutGain::instance()
{
    static ParamConverterOutGain converter;
    return &converter;
}

int32_t ParamConverterOutGain::toString(int value, QString* out) const
{
    *out = QString::number(value / 100);
    return CONV_OK;
}

int32_t ParamConverterOutGain::fromString(const QString& text, int* value) const
{
    double number = 0;
    if (!parseNumber(text, &number))
        return CONV_E_FAIL;
    const double hundredths = std::trunc(number) * 100.0;
    if (!fitsInt32(hundredths))
        return CONV_E_FAIL;
    *value = static_cast<int>(hundredths);
    return CONV_OK;
}

int32_t ParamConverterOutGain::toDisplayString(int value, QString* out) const
{
    *out = QString::asprintf("%s%ddB", value > 0 ? "+" : "", value / 100);
    return CONV_OK;
}

ParamConverterHpfFreq* ParamConverterHpfFreq::instance()
{
    static ParamConverterHpfFreq converter;
    return &converter;
}

int32_t ParamConverterHpfFreq::toString(int value, QString* out) const
{
    *out = formatNumber("%.1f", Quil::hpfFrequencyAt(value));
    return CONV_OK;
}

int32_t ParamConverterHpfFreq::fromString(const QString& text, int* value) const
{
    double number = 0;
    if (!parseNumber(text, &number))
        return CONV_E_FAIL;
    *value = Quil::hpfNearestIndex(number);
    return CONV_OK;
}

int32_t ParamConverterHpfFreq::toDisplayString(int value, QString* out) const
{
    *out = displayName(value);
    return CONV_OK;
}

QString ParamConverterHpfFreq::displayName(int index)
{
    if (index < 0 || index >= Quil::kHpfCount)
        return QString();
    // Three significant digits in every decade.
    const double hz = Quil::hpfFrequencyAt(index);
    if (hz < 100.0)
        return formatNumber("%.1fHz", hz);
    if (hz < 1000.0)
        return formatNumber("%.0fHz", hz);
    if (hz < 10000.0)
        return formatNumber("%.2fkHz", hz / 1000.0);
    return formatNumber("%.1fkHz", hz / 1000.0);
}

ParamConverterMeter41pix* ParamConverterMeter41pix::instance()
{
    static ParamConverterMeter41pix converter;
    return &converter;
}

int32_t ParamConverterMeter41pix::convert(int value, int* out) const
{
    int steps = 0;
    for (const int threshold : kMeterThresholds)
        steps += threshold <= value ? 1 : 0;
    *out = steps;
    return CONV_OK;
}

int32_t ParamConverterMeter41pix::convertBack(int, int*) const
{
    return CONV_E_FAIL;
}

ParamConverterDelayTime::ParamConverterDelayTime(int ownType, int setting)
    : m_ownType(ownType)
    , m_unitType(ownType)
    , m_setting(setting)
{
}

int32_t ParamConverterDelayTime::resetUnitType()
{
    m_unitType = m_ownType;
    return CONV_OK;
}

QString ParamConverterDelayTime::unitName(int type) const
{
    const DelayUnit* unit = delayUnit(type);
    return unit ? QString::fromLatin1(unit->name) : QString();
}

QString ParamConverterDelayTime::numberFormat(int type) const
{
    const DelayUnit* unit = delayUnit(type);
    return unit ? QString::fromLatin1(unit->format) : QString();
}

QString ParamConverterDelayTime::inputPattern(int type) const
{
    const DelayUnit* unit = delayUnit(type);
    return unit ? QString::fromLatin1(unit->pattern) : QString();
}

int32_t ParamConverterDelayTime::toString(int value, QString* out) const
{
    out->clear();
    const DelayUnit* unit = delayUnit(m_unitType);
    int count = 0;
    if (!unit || !delayToUnitCount(this, &count, m_unitType, value))
        return CONV_E_FAIL;
    const float shown = static_cast<float>(count) * unit->step / 10.0f;
    *out = formatNumber(unit->format, shown);
    return CONV_OK;
}

int32_t ParamConverterDelayTime::toDisplayString(int value, QString* out) const
{
    out->clear();
    const DelayUnit* unit = delayUnit(m_unitType);
    int count = 0;
    const int rounded = static_cast<int>((static_cast<int64_t>(value) + 5) / 10);
    if (!unit || !delayToUnitCount(this, &count, m_unitType, rounded))
        return CONV_E_FAIL;
    const float shown = static_cast<float>(count) * unit->step;
    *out = formatNumber(unit->format, shown);
    return CONV_OK;
}

int32_t ParamConverterDelayTime::fromString(const QString& text, int* value) const
{
    const DelayUnit* unit = delayUnit(m_unitType);
    double number = 0;
    if (!unit || !parseNumber(text, &number))
        return CONV_E_FAIL;
    const double count = std::trunc(number / static_cast<double>(unit->step) * 10.0);
    if (!fitsInt32(count))
        return CONV_E_FAIL;
    // A delay outside the range is written as typed: the memory clamps it.
    int result = 0;
    if (!delayFromUnitCount(this, &result, m_unitType, static_cast<int>(count)))
        return CONV_E_FAIL;
    *value = result;
    return CONV_OK;
}

ParamConverterDelayMeter::ParamConverterDelayMeter()
    : ParamConverterDelayTime(DELAY_UNIT_METER, 0)
{
}

ParamConverterDelayMeter* ParamConverterDelayMeter::instance()
{
    static ParamConverterDelayMeter converter;
    return &converter;
}

ParamConverterDelayFeet::ParamConverterDelayFeet()
    : ParamConverterDelayTime(DELAY_UNIT_FEET, 0)
{
}

ParamConverterDelayFeet* ParamConverterDelayFeet::instance()
{
    static ParamConverterDelayFeet converter;
    return &converter;
}

ParamConverterDelayMs::ParamConverterDelayMs()
    : ParamConverterDelayTime(DELAY_UNIT_MS, 0)
{
}

ParamConverterDelayMs* ParamConverterDelayMs::instance()
{
    static ParamConverterDelayMs converter;
    return &converter;
}

namespace {

// One converter per setting, made on first use and kept for the process.
template <class Converter, class Make> Converter* converterFor(int setting, Make make)
{
    static std::mutex lock;
    static std::map<int, std::unique_ptr<Converter>> converters;
    const std::lock_guard<std::mutex> guard(lock);
    auto& slot = converters[setting];
    if (!slot)
        slot.reset(make(setting));
    return slot.get();
}

} // namespace

ParamConverterDelaySample::ParamConverterDelaySample(int sampleRate)
    : ParamConverterDelayTime(DELAY_UNIT_SAMPLE, sampleRate)
{
}

ParamConverterDelaySample* ParamConverterDelaySample::instance(int sampleRate)
{
    return converterFor<ParamConverterDelaySample>(
        sampleRate, [](int rate) { return new ParamConverterDelaySample(rate); });
}

ParamConverterDelayFrame::ParamConverterDelayFrame(int frameRateIndex)
    : ParamConverterDelayTime(DELAY_UNIT_FRAME, frameRateIndex)
{
}

ParamConverterDelayFrame* ParamConverterDelayFrame::instance(int frameRateIndex)
{
    return converterFor<ParamConverterDelayFrame>(
        frameRateIndex, [](int index) { return new ParamConverterDelayFrame(index); });
}

bool delayUnitStep(int unitType, float* step)
{
    const DelayUnit* unit = delayUnit(unitType);
    if (!unit)
        return false;
    *step = unit->step;
    return true;
}

bool frameRateOf(int index, float* framesPerSecond)
{
    if (index < 0 || index >= static_cast<int>(std::size(kFrameRates)))
        return false;
    *framesPerSecond = kFrameRates[index];
    return true;
}

int frameRateIndexOf(const IStringParamConverter* converter)
{
    const auto* frame = dynamic_cast<const ParamConverterDelayFrame*>(converter);
    return frame ? frame->setting() : -1;
}

int sampleRateOf(const IStringParamConverter* converter)
{
    const auto* sample = dynamic_cast<const ParamConverterDelaySample*>(converter);
    return sample ? sample->setting() : 0;
}

bool delayToUnitCount(const ParamConverterDelayTime* converter, int* count, int unitType, int v)
{
    // Double precision, in exactly this order of operations.
    const double seconds = v * 0.01 / 1000;
    double units = 0;
    switch (unitType) {
    case DELAY_UNIT_METER:
        units = seconds * kSpeedOfSound / static_cast<double>(0.1f);
        break;
    case DELAY_UNIT_FEET:
        units = seconds * kSpeedOfSound * kFeetPerMetre / static_cast<double>(0.1f);
        break;
    case DELAY_UNIT_SAMPLE:
        units = seconds * sampleRateOf(converter);
        break;
    case DELAY_UNIT_MS:
        units = v * 0.01 / static_cast<double>(0.02f);
        break;
    case DELAY_UNIT_FRAME: {
        float fps = 0;
        if (!frameRateOf(frameRateIndexOf(converter), &fps))
            return false;
        units = seconds * static_cast<double>(fps) / static_cast<double>(0.01f);
        break;
    }
    default:
        return false;
    }
    const double rounded = std::round(units); // half away from zero
    if (!std::isfinite(rounded) || !fitsInt32(rounded))
        return false;
    *count = static_cast<int>(rounded);
    return true;
}

bool delayFromUnitCount(const ParamConverterDelayTime* converter, int* v, int unitType, int count)
{
    double value = 0;
    switch (unitType) {
    case DELAY_UNIT_METER:
        value = count / kSpeedOfSound * 1000 * static_cast<double>(0.1f) / 0.01;
        break;
    case DELAY_UNIT_FEET:
        value = count / kFeetPerMetre / kSpeedOfSound * 1000 * static_cast<double>(0.1f) / 0.01;
        break;
    case DELAY_UNIT_SAMPLE: {
        const int rate = sampleRateOf(converter);
        if (rate == 0)
            return false;
        value = static_cast<double>(count) / rate * 1000 / 0.01;
        break;
    }
    case DELAY_UNIT_MS:
        value = count * static_cast<double>(0.02f) / 0.01;
        break;
    case DELAY_UNIT_FRAME: {
        float fps = 0;
        if (!frameRateOf(frameRateIndexOf(converter), &fps))
            return false;
        value = count / static_cast<double>(fps) * 1000 * static_cast<double>(0.01f) / 0.01;
        break;
    }
    default:
        return false;
    }
    const double truncated = std::trunc(value);
    if (!std::isfinite(truncated) || !fitsInt32(truncated))
        return false;
    // Made even by adding the lowest bit; 2^31 - 1 would step out of range.
    const int64_t whole = static_cast<int64_t>(truncated);
    const int64_t even = whole + (whole & 1);
    if (even > std::numeric_limits<int32_t>::max())
        return false;
    *v = static_cast<int>(even);
    return true;
}
