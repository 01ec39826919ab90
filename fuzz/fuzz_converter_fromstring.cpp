// Typed text into every value converter: the raw text (at most 16 bytes) and,
// when the display's validator takes it, the seven characters a label
// holds. fromString answers 0 or 0x80000000; for a value the memory can hold
// (a delay outside the delay range is clamped there), writing it out and
// reading it back lands within one displayed step.
#include "fuzz/fuzz_check.h"
#include "ui/bind/converters.h"

#include <QRegularExpression>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::vector<const IStringParamConverter*> allConverters()
{
    std::vector<const IStringParamConverter*> all = {ParamConverterAGain::instance(), ParamConverterOutGain::instance(),
        ParamConverterHpfFreq::instance(), ParamConverterDelayMeter::instance(), ParamConverterDelayFeet::instance(),
        ParamConverterDelayMs::instance()};
    for (const int rate : {0, 44100, 48000, 96000, 192000})
        all.push_back(ParamConverterDelaySample::instance(rate));
    for (int index = -1; index <= 7; ++index)
        all.push_back(ParamConverterDelayFrame::instance(index));
    return all;
}

// The largest distance in delay values of one displayed step (ten counts).
int64_t delayStepSpan(const ParamConverterDelayTime* delay)
{
    int v = 0;
    if (!delayFromUnitCount(delay, &v, delay->unitType(), 10))
        return 0;
    return v + 2;
}

void check(const IStringParamConverter* c, const QString& text)
{
    int value = 0;
    const int32_t r = c->fromString(text, &value);
    fuzzCheck(r == CONV_OK || r == CONV_E_FAIL);
    if (r != CONV_OK)
        return;
    const auto* delay = dynamic_cast<const ParamConverterDelayTime*>(c);
    if (delay && (value < DELAY_VALUE_MIN || value > DELAY_VALUE_MAX))
        return;
    QString out;
    if (c->toString(value, &out) != CONV_OK)
        return;
    int again = 0;
    const int32_t back = c->fromString(out, &again);
    fuzzCheck(back == CONV_OK || (delay && value > DELAY_VALUE_MAX - delayStepSpan(delay)));
    if (back != CONV_OK)
        return;
    const int64_t span = delay ? delayStepSpan(delay) : (c == ParamConverterHpfFreq::instance() ? 1 : 0);
    fuzzCheck(std::llabs(static_cast<int64_t>(again) - value) <= span);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes;
    if (!fuzzText(data, size, 16, &bytes))
        return 0;
    static const std::vector<const IStringParamConverter*> converters = allConverters();
    static const QRegularExpression display(QStringLiteral("^[+-]?[0-9]+[.]?[0-9]*"));
    const QString text = QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
    const bool typed = display.match(text).hasMatch();
    for (const IStringParamConverter* c : converters) {
        check(c, text);
        if (typed)
            check(c, text.left(7));
    }
    return 0;
}
