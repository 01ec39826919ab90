// Value converters: the text forms of unit parameters (input and output
// gain, high-pass frequency, output delay in five units) and the 41-step
// meter scale, plus the delay arithmetic behind the delay units.
//
// Every text that becomes a number is checked: text that is not a finite
// number, or a number, count or value outside 32 bits, is refused with
// CONV_E_FAIL and nothing is written.
#pragma once

#include <QString>

#include <cstdint>

constexpr int32_t CONV_OK = 0;
constexpr int32_t CONV_E_FAIL = static_cast<int32_t>(0x80000000u);

class IStringParamConverter {
public:
    virtual ~IStringParamConverter() = default;
    // The editable text.
    virtual int32_t toString(int value, QString* out) const = 0;
    // CONV_OK, or CONV_E_FAIL when the text is not a number in range.
    virtual int32_t fromString(const QString& text, int* value) const = 0;
    // The text shown in the label.
    virtual int32_t toDisplayString(int value, QString* out) const = 0;
};

template <typename T> class IParamConverter {
public:
    virtual ~IParamConverter() = default;
    virtual int32_t convert(T value, T* out) const = 0;
    virtual int32_t convertBack(T value, T* out) const = 0;
};

// Input gain in dB: "+10dB", "0dB", "-6dB".
class ParamConverterAGain : public IStringParamConverter {
public:
    static ParamConverterAGain* instance();
    int32_t toString(int value, QString* out) const override;
    int32_t fromString(const QString& text, int* value) const override;
    int32_t toDisplayString(int value, QString* out) const override;
};

// Output gain in hundredths of a dB, shown in whole dB.
class ParamConverterOutGain : public IStringParamConverter {
public:
    static ParamConverterOutGain* instance();
    int32_t toString(int value, QString* out) const override;
    int32_t fromString(const QString& text, int* value) const override;
    int32_t toDisplayString(int value, QString* out) const override;
};

// High-pass frequency: the value is an index into the 128-entry table.
class ParamConverterHpfFreq : public IStringParamConverter {
public:
    static ParamConverterHpfFreq* instance();
    int32_t toString(int value, QString* out) const override;
    int32_t fromString(const QString& text, int* value) const override;
    int32_t toDisplayString(int value, QString* out) const override;
    // "16.0Hz" .. "23.6kHz"; empty outside 0..127.
    static QString displayName(int index);
};

// Meter data (0..127) to a lit length of 0..41 steps.
class ParamConverterMeter41pix : public IParamConverter<int> {
public:
    static ParamConverterMeter41pix* instance();
    int32_t convert(int value, int* out) const override;
    int32_t convertBack(int value, int* out) const override;
};

enum DelayUnitType {
    DELAY_UNIT_METER = 0,
    DELAY_UNIT_FEET = 1,
    DELAY_UNIT_SAMPLE = 2,
    DELAY_UNIT_MS = 3,
    DELAY_UNIT_FRAME = 4,
};

// The memory's output-delay range.
constexpr int DELAY_VALUE_MIN = 0;
constexpr int DELAY_VALUE_MAX = 1000000;

// Base of the delay converters: the unit type selects the row of the delay
// tables; the setting is the sample rate (samples) or frame-rate index
// (frames) the converter was made for, and never changes.
class ParamConverterDelayTime : public IStringParamConverter {
public:
    ParamConverterDelayTime(const ParamConverterDelayTime&) = delete;
    ParamConverterDelayTime& operator=(const ParamConverterDelayTime&) = delete;

    int32_t toString(int value, QString* out) const override;
    // Also refuses a value outside the delay range: the memory would clamp
    // it to the longest delay.
    int32_t fromString(const QString& text, int* value) const override;
    int32_t toDisplayString(int value, QString* out) const override;

    virtual int32_t resetUnitType();
    virtual QString unitName(int type) const;
    virtual QString numberFormat(int type) const;
    virtual QString inputPattern(int type) const;

    int unitType() const { return m_unitType; }
    int setting() const { return m_setting; }

protected:
    ParamConverterDelayTime(int ownType, int setting);

private:
    const int m_ownType;
    int m_unitType;
    const int m_setting;
};

class ParamConverterDelayMeter : public ParamConverterDelayTime {
public:
    static ParamConverterDelayMeter* instance();

private:
    ParamConverterDelayMeter();
};

class ParamConverterDelayFeet : public ParamConverterDelayTime {
public:
    static ParamConverterDelayFeet* instance();

private:
    ParamConverterDelayFeet();
};

class ParamConverterDelayMs : public ParamConverterDelayTime {
public:
    static ParamConverterDelayMs* instance();

private:
    ParamConverterDelayMs();
};

// One converter per sample rate, kept for the process: a panel's converter
// keeps its own rate whatever rate another panel asks for later.
class ParamConverterDelaySample : public ParamConverterDelayTime {
public:
    static ParamConverterDelaySample* instance(int sampleRate);

private:
    explicit ParamConverterDelaySample(int sampleRate);
};

// One converter per frame-rate index (-1: no frame rate), kept for the process.
class ParamConverterDelayFrame : public ParamConverterDelayTime {
public:
    static ParamConverterDelayFrame* instance(int frameRateIndex);

private:
    explicit ParamConverterDelayFrame(int frameRateIndex);
};

// Delay arithmetic; v is the memory's delay value.
bool delayToUnitCount(const ParamConverterDelayTime* converter, int* count, int unitType, int v);
bool delayFromUnitCount(const ParamConverterDelayTime* converter, int* v, int unitType, int count);
bool delayUnitStep(int unitType, float* step);
bool frameRateOf(int index, float* framesPerSecond);
int frameRateIndexOf(const IStringParamConverter* converter);
int sampleRateOf(const IStringParamConverter* converter);
