// Parameter definitions: limits, admission, element reads and writes,
// change marking and imports of single parameters.
#include "mms/mms_dirty.h"
#include "mms/mms_param.h"
#include "mms/mms_wrap.h"
#include "pbd/jlib/jvariant.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace MMS;
using JLIB::JVariant;
using JLIB::JVariantArray;

namespace {

JVariant i32(int32_t v)
{
    return JVariant(v);
}
JVariant u32(uint32_t v)
{
    return JVariant(v);
}
JVariant f32(float v)
{
    JVariant r;
    r = v;
    return r;
}

// Limits of a test definition; empty = absent.
struct Limits {
    Limits(std::optional<JVariant> mn = {}, std::optional<JVariant> mx = {}, std::optional<JVariant> d = {},
        std::optional<JVariant> s = {}, std::optional<JVariant> n = {})
        : minimum(mn)
        , maximum(mx)
        , defaultValue(d)
        , step(s)
        , nominal(n)
    {
    }
    std::optional<JVariant> minimum, maximum, defaultValue, step, nominal;
};

ParameterNode make(uint32_t type, uint32_t arraySize = 1, const Limits& l = {})
{
    ParameterNode p;
    EXPECT_EQ(p.construct("p", arraySize, type, l.minimum ? &*l.minimum : nullptr, l.maximum ? &*l.maximum : nullptr,
                  l.defaultValue ? &*l.defaultValue : nullptr, l.step ? &*l.step : nullptr,
                  l.nominal ? &*l.nominal : nullptr, 0, 0, 0, 0),
        0);
    p.data = {0, p.elementWidth()};
    return p;
}

struct MarkLog : IDirtyFlagHolder {
    std::vector<uint32_t> changes;
    void markChange(uint32_t bit) override { changes.push_back(bit); }
    void markImportFlag(uint32_t) override { }
    void markImportSearch(uint32_t) override { }
};

} // namespace

TEST(ParamType, CodesWidthsAndSpellings)
{
    const struct {
        const char* spelling;
        uint32_t code, width;
    } table[] = {{"int8_t", 0x001, 1}, {"int16_t", 0x002, 2}, {"int32_t", 0x004, 4}, {"uint8_t", 0x101, 1},
        {"uint16_t", 0x102, 2}, {"uint32_t", 0x104, 4}, {"bit", 0x100, 0}, {"string", 0x201, 0}, {"float", 0x304, 4},
        {"double", 0x304, 4}};
    for (const auto& t : table) {
        EXPECT_EQ(paramTypeFromName(t.spelling, 24), t.code) << t.spelling;
        EXPECT_TRUE(paramTypeValid(t.code));
        EXPECT_EQ(paramTypeWidth(t.code), t.width);
    }
    EXPECT_EQ(paramTypeFromName("int", 3), 0u);
    EXPECT_EQ(paramTypeFromName("uint8_tx", 8), 0u);
    EXPECT_FALSE(paramTypeValid(0x103));
    EXPECT_FALSE(paramTypeValid(0x301));
}

TEST(ParameterDefinition, ConstructChecksNameSizeAndType)
{
    ParameterNode p;
    EXPECT_EQ(p.construct("gain", 65535, PARAM_INT16, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 7), 0);
    EXPECT_EQ(p.scaling(), 1u); // 0 is stored as 1
    EXPECT_EQ(p.kind(), 7u);
    const struct {
        const char* name;
        uint32_t size, type;
    } bad[] = {{"", 1, PARAM_INT8}, {"a b", 1, PARAM_INT8}, {"a/b", 1, PARAM_INT8}, {"gain", 0, PARAM_INT8},
        {"gain", 65536, PARAM_INT8}, {"gain", 1, 0x103}, {"abcdefghijklmnopqrstuvwx", 1, PARAM_INT8}};
    for (const auto& b : bad)
        EXPECT_EQ(
            p.construct(b.name, b.size, b.type, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0), MMS_E_INNER)
            << b.name << " " << b.size;
}

TEST(ParameterDefinition, SettersRefuseValuesThatBreakTheirRule)
{
    ParameterNode p = make(PARAM_INT16);
    JVariant v = i32(32767);
    EXPECT_EQ(p.setMaximum(&v), 0);
    v = i32(32768);
    EXPECT_EQ(p.setMinimum(&v), MMS_E_ARG);
    JVariant big = u32(256);
    ParameterNode u8 = make(PARAM_UINT8);
    EXPECT_EQ(u8.setMaximum(&big), MMS_E_ARG);
    EXPECT_FALSE(u8.has(PRESENT_MAXIMUM));

    // A maximum below an existing default is refused; the definition stands.
    ParameterNode d = make(PARAM_UINT8, 1, {std::nullopt, std::nullopt, u32(20)});
    JVariant ten = u32(10);
    EXPECT_EQ(d.setMaximum(&ten), MMS_E_ARG);
    JVariant thirty = u32(30);
    EXPECT_EQ(d.setMinimum(&thirty), MMS_E_ARG);
    JVariant out;
    EXPECT_EQ(d.getMaximum(&out), MMS_E_UNDEFINED);

    // Steps: 0, negative and any step of a bit are refused.
    JVariant zero = i32(0), negative = i32(-2), fzero = f32(0.0f);
    EXPECT_EQ(p.setStep(&zero), MMS_E_ARG);
    EXPECT_EQ(p.setStep(&negative), MMS_E_ARG);
    ParameterNode bit = make(PARAM_BIT);
    JVariant one = u32(1);
    EXPECT_EQ(bit.setStep(&one), MMS_E_ARG);
    EXPECT_FALSE(bit.has(PRESENT_STEP));
    ParameterNode real = make(PARAM_FLOAT);
    EXPECT_EQ(real.setStep(&fzero), MMS_E_ARG);

    // Construction keeps the definition when a value is refused.
    ParameterNode c = make(PARAM_UINT8, 1, {u32(5), u32(2)});
    EXPECT_TRUE(c.has(PRESENT_MINIMUM));
    EXPECT_FALSE(c.has(PRESENT_MAXIMUM));
}

TEST(ParameterDefinition, GettersGiveTheTypesOwnVariants)
{
    ParameterNode s = make(PARAM_INT8, 1, {i32(-5), i32(5), i32(0), i32(1)});
    JVariant v;
    ASSERT_EQ(s.getMinimum(&v), 0);
    EXPECT_EQ(v.type(), JLIB::JVARIANT_INT32);
    EXPECT_EQ(static_cast<int32_t>(v.toInteger()), -5);
    EXPECT_EQ(s.getNominal(&v, nullptr), MMS_E_UNDEFINED);
    ParameterNode b = make(PARAM_BIT, 1, {u32(0), u32(1)});
    ASSERT_EQ(b.getMaximum(&v), 0);
    EXPECT_EQ(v.type(), JLIB::JVARIANT_UINT32);
    ParameterNode f = make(PARAM_FLOAT, 1, {f32(-1.5f)});
    ASSERT_EQ(f.getMinimum(&v), 0);
    EXPECT_EQ(v.toFloat(), -1.5f);
    EXPECT_EQ(f.getStep(nullptr), MMS_E_ARG);
}

TEST(ParameterDefinition, StringValuesComeFromThePool)
{
    SharedMemWrapper wrapper;
    StringMemoryFactory pool;
    ASSERT_EQ(pool.create(&wrapper, 32), 0);
    uint32_t defaultOffset, unitOffset, length, unitLength;
    ASSERT_EQ(pool.add("hello", 8, false, &defaultOffset, &length), 0);
    ASSERT_EQ(pool.add("dB", 24, false, &unitOffset, &unitLength), 0);

    ParameterNode s;
    JVariant max = u32(8), def = u32(defaultOffset), min = i32(1);
    ASSERT_EQ(
        s.construct("label", 2, PARAM_STRING, &min, &max, &def, nullptr, nullptr, unitOffset, unitLength, 0, 0), 0);
    EXPECT_FALSE(s.has(PRESENT_MINIMUM)); // ignored for texts
    EXPECT_EQ(s.elementWidth(), 8u);
    JVariant out;
    ASSERT_EQ(s.getDefault(&out, &pool), 0);
    EXPECT_STREQ(out.getString(), "hello");
    EXPECT_EQ(s.getDefault(&out, nullptr), MMS_E_INNER);
    EXPECT_EQ(s.getMinimum(&out), MMS_E_ARG);
    char unit[8];
    EXPECT_EQ(s.getUnit(unit, sizeof unit, &pool), MMS_E_ARG);

    ParameterNode n = make(PARAM_INT16);
    ParameterNode withUnit;
    ASSERT_EQ(withUnit.construct(
                  "u", 1, PARAM_INT16, nullptr, nullptr, nullptr, nullptr, nullptr, unitOffset, unitLength, 0, 0),
        0);
    ASSERT_EQ(withUnit.getUnit(unit, sizeof unit, &pool), 0);
    EXPECT_STREQ(unit, "dB");
    ASSERT_EQ(n.getUnit(unit, sizeof unit, &pool), 0);
    EXPECT_STREQ(unit, "");

    ParameterNode noMax;
    ASSERT_EQ(noMax.construct("t", 1, PARAM_STRING, nullptr, nullptr, &def, nullptr, nullptr, 0, 0, 0, 0), 0);
    EXPECT_EQ(noMax.elementWidth(), 0u);
    EXPECT_EQ(noMax.getDefault(&out, &pool), MMS_E_UNDEFINED);
    pool.release(&wrapper);
}

// Admission over the types: clamping or refusing by the limits and by the
// type's own range, and snapping to the step.
TEST(Admission, TableOverTypesLimitsAndFlags)
{
    struct Case {
        const char* what;
        uint32_t type;
        Limits limits;
        JVariant value;
        uint32_t flags;
        JResult result;
        JVariant stored; // compared by value word / float
    };
    const uint32_t REFUSE_ALL = ADMIT_REFUSE_LOW | ADMIT_REFUSE_HIGH | ADMIT_REFUSE_STEP;
    const Case cases[] = {
        {"u8 in range", PARAM_UINT8, {u32(0), u32(10)}, u32(7), 0, 0, u32(7)},
        {"u8 above max clamps", PARAM_UINT8, {u32(0), u32(10)}, u32(12), 0, MMS_ADJUSTED, u32(10)},
        {"u8 above max refused", PARAM_UINT8, {u32(0), u32(10)}, u32(12), ADMIT_REFUSE_HIGH, MMS_E_REFUSED, {}},
        {"u8 beyond its width clamps", PARAM_UINT8, {}, u32(300), 0, MMS_ADJUSTED, u32(255)},
        {"u8 beyond its width refused", PARAM_UINT8, {}, u32(300), ADMIT_REFUSE_HIGH, MMS_E_REFUSED, {}},
        {"u16 negative clamps to 0", PARAM_UINT16, {}, i32(-1), 0, MMS_ADJUSTED, u32(0)},
        {"u16 negative refused on the low side", PARAM_UINT16, {}, i32(-1), ADMIT_REFUSE_LOW, MMS_E_REFUSED, {}},
        {"u32 full range", PARAM_UINT32, {}, u32(0xFFFFFFFF), REFUSE_ALL, 0, u32(0xFFFFFFFF)},
        {"i8 below its width", PARAM_INT8, {}, i32(-200), 0, MMS_ADJUSTED, i32(-128)},
        {"i16 above its width", PARAM_INT16, {}, i32(40000), 0, MMS_ADJUSTED, i32(32767)},
        {"i32 unsigned too large", PARAM_INT32, {}, u32(0x80000000u), 0, MMS_ADJUSTED, i32(0x7FFFFFFF)},
        {"i32 unsigned too large refused", PARAM_INT32, {}, u32(0x80000000u), ADMIT_REFUSE_HIGH, MMS_E_REFUSED, {}},
        {"i16 below min", PARAM_INT16, {i32(-10), i32(10)}, i32(-11), 0, MMS_ADJUSTED, i32(-10)},
        {"i16 below min refused", PARAM_INT16, {i32(-10), i32(10)}, i32(-11), ADMIT_REFUSE_LOW, MMS_E_REFUSED, {}},
        {"bit 2 clamps to 1", PARAM_BIT, {}, u32(2), 0, MMS_ADJUSTED, u32(1)},
        {"bit 2 refused", PARAM_BIT, {}, u32(2), ADMIT_REFUSE_HIGH, MMS_E_REFUSED, {}},
        {"float above max", PARAM_FLOAT, {f32(-1), f32(1)}, f32(2.5f), 0, MMS_ADJUSTED, f32(1)},
        {"float from an integer", PARAM_FLOAT, {}, i32(-3), 0, 0, f32(-3)},
        {"float infinity clamps", PARAM_FLOAT, {}, f32(INFINITY), 0, MMS_ADJUSTED, f32(FLT_MAX)},
        {"float NaN is no value", PARAM_FLOAT, {}, f32(NAN), 0, MMS_E_ARG, {}},
        {"float NaN is no value on a grid", PARAM_FLOAT, {f32(-1), f32(1), f32(0), f32(0.5f)}, f32(NAN), 0, MMS_E_ARG,
            {}},
        {"float into an integer type", PARAM_INT32, {}, f32(1.0f), 0, MMS_E_ARG, {}},
        {"text into a number", PARAM_UINT8, {}, JVariant("5", 2), 0, MMS_E_ARG, {}},
        {"empty into a number", PARAM_UINT8, {}, JVariant(), 0, MMS_E_ARG, {}},
        // Steps: the grid base is the nominal, else the default.
        {"step snaps down", PARAM_INT16, {{}, {}, i32(0), i32(3)}, i32(5), 0, MMS_ADJUSTED, i32(3)},
        {"step snaps down below the base", PARAM_INT16, {{}, {}, i32(0), i32(3)}, i32(-4), 0, MMS_ADJUSTED, i32(-6)},
        {"step refused", PARAM_INT16, {{}, {}, i32(0), i32(3)}, i32(5), ADMIT_REFUSE_STEP, MMS_E_REFUSED, {}},
        {"step refused below", PARAM_INT16, {{}, {}, i32(0), i32(3)}, i32(-4), ADMIT_REFUSE_STEP, MMS_E_REFUSED, {}},
        {"on the grid", PARAM_INT16, {{}, {}, i32(0), i32(3)}, i32(-6), ADMIT_REFUSE_STEP, 0, i32(-6)},
        {"nominal is the base", PARAM_UINT8, {{}, {}, u32(0), u32(4), u32(1)}, u32(7), 0, MMS_ADJUSTED, u32(5)},
        {"the maximum is never snapped", PARAM_UINT8, {u32(0), u32(10), u32(0), u32(3)}, u32(10), ADMIT_REFUSE_STEP, 0,
            u32(10)},
        {"a clamped value is at a limit", PARAM_UINT8, {u32(0), u32(10), u32(0), u32(3)}, u32(12), 0, MMS_ADJUSTED,
            u32(10)},
        // Snapping stays inside the limits: the grid point below the
        // minimum is not taken, the next one up is.
        {"snap stays above the minimum", PARAM_INT16, {i32(2), i32(10), {}, i32(3), i32(1)}, i32(3), 0, MMS_ADJUSTED,
            i32(4)},
        {"snap stays in the type", PARAM_INT8, {{}, {}, i32(0), i32(3)}, i32(-127), 0, MMS_ADJUSTED, i32(-126)},
        {"step without a base", PARAM_INT16, {{}, {}, {}, i32(3)}, i32(5), ADMIT_REFUSE_STEP, 0, i32(5)},
        // Reals: on-grid values stay, off-grid ones go to the point below.
        {"0.3 on a 0.1 grid stays", PARAM_FLOAT, {{}, {}, f32(0), f32(0.1f)}, f32(0.3f), ADMIT_REFUSE_STEP, 0,
            f32(0.3f)},
        {"0.25 goes down", PARAM_FLOAT, {{}, {}, f32(0), f32(0.1f)}, f32(0.25f), 0, MMS_ADJUSTED, f32(0.2f)},
        {"-0.25 goes down too", PARAM_FLOAT, {{}, {}, f32(0), f32(0.1f)}, f32(-0.25f), 0, MMS_ADJUSTED, f32(-0.3f)},
        {"-0.7 on the grid", PARAM_FLOAT, {{}, {}, f32(0), f32(0.1f)}, f32(-0.7f), ADMIT_REFUSE_STEP, 0, f32(-0.7f)},
        {"real snap above the minimum", PARAM_FLOAT, {f32(0.05f), f32(1), f32(0.1f), f32(0.1f)}, f32(0.07f), 0,
            MMS_ADJUSTED, f32(0.1f)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ParameterNode p = make(c.type, 1, c.limits);
        JVariant target;
        const JResult r = p.admit(&target, c.value, c.flags);
        EXPECT_EQ(r, c.result);
        if (r < 0)
            continue;
        if (c.type == PARAM_FLOAT) {
            ASSERT_EQ(target.type(), JLIB::JVARIANT_FLOAT);
            EXPECT_NEAR(target.toFloat(), c.stored.toFloat(), 1e-6);
        } else {
            EXPECT_EQ(target.type(), c.stored.type());
            EXPECT_EQ(target.toInteger(), c.stored.toInteger());
        }
    }
}

TEST(Admission, TextsFitTheMaximum)
{
    ParameterNode s;
    JVariant max = u32(8);
    ASSERT_EQ(s.construct("s", 1, PARAM_STRING, nullptr, &max, nullptr, nullptr, nullptr, 0, 0, 0, 0), 0);
    s.data = {0, 8};
    uint8_t data[8] = {};
    ElementPlace place{data, 0, 0};
    EXPECT_EQ(s.setElement(place, JVariant("abcdefgh", 9), 0, {}), MMS_CHANGED);
    EXPECT_EQ(std::memcmp(data, "abcdefgh", 8), 0); // no NUL when it fills the element
    EXPECT_EQ(s.setElement(place, JVariant("abcdefghi", 10), 0, {}), MMS_E_ARG);
    EXPECT_EQ(s.setElement(place, JVariant("ab", 3), 0, {}), MMS_CHANGED);
    EXPECT_EQ(std::memcmp(data, "ab\0\0\0\0\0\0", 8), 0);
    EXPECT_EQ(s.setElement(place, JVariant("ab", 3), 0, {}), 0);
    EXPECT_EQ(s.setElement(place, u32(1), 0, {}), MMS_E_ARG);
    JVariant out;
    ASSERT_EQ(s.readElement(&out, data, 0), 0);
    EXPECT_STREQ(out.getString(), "ab");
}

TEST(Elements, WidthsSignsAndBitsInHostOrder)
{
    uint8_t data[16] = {};
    ParameterNode s16 = make(PARAM_INT16, 2);
    ElementPlace place{data, 0, 0};
    EXPECT_EQ(s16.setElement(place, i32(-2), 1, {}), MMS_CHANGED);
    EXPECT_EQ(s16.setElement(place, i32(-2), 1, {}), 0); // same bytes
    int16_t raw;
    std::memcpy(&raw, data + 2, 2);
    EXPECT_EQ(raw, -2);
    JVariant out;
    ASSERT_EQ(s16.readElement(&out, data, 1), 0);
    EXPECT_EQ(out.type(), JLIB::JVARIANT_INT32);
    EXPECT_EQ(static_cast<int32_t>(out.toInteger()), -2);
    EXPECT_EQ(s16.readElement(&out, data, 2), MMS_E_ARG);

    // Bit i of an array is bit (offset + i) from the data start, LSB first.
    std::memset(data, 0, sizeof data);
    ParameterNode bits = make(PARAM_BIT, 10);
    bits.bitOffset = 3;
    for (uint32_t i : {0u, 4u, 9u})
        EXPECT_EQ(bits.setElement(place, u32(1), i, {}), MMS_CHANGED);
    EXPECT_EQ(data[0], 0x08 | 0x80);
    EXPECT_EQ(data[1], 0x10);
    EXPECT_EQ(bits.setElement(place, u32(1), 4, {}), 0);
    EXPECT_EQ(bits.setElement(place, u32(0), 4, {}), MMS_CHANGED);
    EXPECT_EQ(data[0], 0x08);
    ASSERT_EQ(bits.readElement(&out, data, 9), 0);
    EXPECT_EQ(out.toInteger(), 1u);
}

TEST(Elements, OutOfRangeStoredValuesReadAsTheDefault)
{
    uint8_t data[1] = {200};
    EXPECT_EQ(make(PARAM_UINT8, 1, {u32(0), u32(100), u32(7)}).readElement(nullptr, data, 0), MMS_E_ARG);
    JVariant out;
    ASSERT_EQ(make(PARAM_UINT8, 1, {u32(0), u32(100), u32(7)}).readElement(&out, data, 0), 0);
    EXPECT_EQ(out.toInteger(), 7u);
    ASSERT_EQ(make(PARAM_UINT8, 1, {u32(0), u32(100), {}, {}, u32(9)}).readElement(&out, data, 0), 0);
    EXPECT_EQ(out.toInteger(), 9u);
    ASSERT_EQ(make(PARAM_UINT8, 1, {u32(0), u32(100)}).readElement(&out, data, 0), 0);
    EXPECT_EQ(out.toInteger(), 100u);
}

namespace {
struct SkipFromSource : IWriteFilter {
    uint8_t blocked;
    explicit SkipFromSource(uint8_t b)
        : blocked(b)
    {
    }
    bool skipWrite(uint8_t last, uint8_t) override { return last == blocked; }
};
struct NumberLog : ISetOrderNotify {
    std::vector<uint32_t>* seen;
    explicit NumberLog(std::vector<uint32_t>* s)
        : seen(s)
    {
    }
    JResult notify(uint32_t n) override { return seen->push_back(n), 0; }
};
} // namespace

TEST(Elements, ChangesAreMarkedNotifiedAndSourced)
{
    uint8_t data[4] = {};
    uint8_t sources[32] = {};
    MarkLog marks;
    std::vector<uint32_t> order;
    SetOrderNotifyWrapper notify;
    notify.install(new NumberLog(&order));
    WriteContext context;
    context.dirty = &marks;
    context.notify = &notify;
    context.sources = sources;
    context.source = 2;
    const ParameterNode p = make(PARAM_UINT8, 4);
    const ElementPlace place{data, 10, 100};

    JVariant old;
    EXPECT_EQ(p.setElement(place, u32(5), 2, context, &old), MMS_CHANGED);
    EXPECT_EQ(old.toInteger(), 0u);
    EXPECT_EQ(p.setElement(place, u32(5), 2, context), 0); // unchanged: no mark
    EXPECT_EQ(marks.changes, std::vector<uint32_t>{12});
    EXPECT_EQ(order, std::vector<uint32_t>{102});
    EXPECT_EQ(sources[12], 2);

    SkipFromSource filter(2);
    context.filter = &filter;
    context.source = 1;
    EXPECT_EQ(p.setElement(place, u32(9), 2, context, &old), 0);
    EXPECT_EQ(old.toInteger(), 5u); // the old value is still returned
    EXPECT_EQ(data[2], 5);
}

TEST(Elements, ARunIsAdmittedWholeBeforeAnythingIsWritten)
{
    uint8_t data[4] = {1, 1, 1, 1};
    const ParameterNode p = make(PARAM_UINT8, 4, {u32(0), u32(10)});
    const ElementPlace place{data, 0, 0};
    JVariantArray values(JLIB::JVARIANT_UINT32, 4, 3);
    values.set(0, u32(2));
    values.set(1, u32(50));
    values.set(2, u32(3));
    WriteContext refuse;
    refuse.flags = ADMIT_REFUSE_HIGH;
    EXPECT_EQ(p.setElements(place, values, 1, 3, false, refuse), MMS_E_REFUSED);
    EXPECT_EQ(std::memcmp(data, "\1\1\1\1", 4), 0);
    // Clamping: the informative bits combine, no stray codes appear.
    EXPECT_EQ(p.setElements(place, values, 1, 3, false, {}), MMS_CHANGED | MMS_ADJUSTED);
    EXPECT_EQ(std::memcmp(data, "\1\2\12\3", 4), 0);
    EXPECT_EQ(p.setElements(place, values, 2, 3, false, {}), MMS_E_ARG); // past the end
    EXPECT_EQ(p.setElements(place, values, 0, 4, true, {}), MMS_CHANGED);
    EXPECT_EQ(std::memcmp(data, "\2\2\2\2", 4), 0);
}

TEST(Elements, ChangedReadsDefaultsAndFirstChanged)
{
    uint8_t data[6] = {};
    uint8_t page[4] = {};
    uint8_t sources[32] = {};
    const ParameterNode p = make(PARAM_INT16, 3, {i32(-5), i32(5), i32(-3)});
    const ElementPlace place{data, 4, 0};
    MarkLog marks;
    WriteContext context;
    context.dirty = &marks;
    context.sources = sources;
    context.source = 1;
    EXPECT_EQ(p.writeDefaults(place, context, true), MMS_CHANGED);
    EXPECT_EQ(marks.changes, (std::vector<uint32_t>{4, 5, 6}));
    EXPECT_EQ(p.writeDefaults(place, context, true), 0);
    EXPECT_EQ(make(PARAM_INT16, 3).writeDefaults(place, context, true), 0); // no default: nothing

    mms_setBit(page, 5);
    uint32_t index = 0;
    EXPECT_EQ(p.firstChanged(place, 0, page, &index), MMS_FOUND);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(p.firstChanged(place, 2, page, &index), MMS_E_NO_MATCH);
    JVariantArray out(JLIB::JVARIANT_INT32, 2, 3);
    uint8_t got[3];
    EXPECT_EQ(p.readChangedElements(place, 0, 3, &out, 0, got, sources, page, true), MMS_CHANGED);
    EXPECT_FALSE(mms_testBit(page, 5));
    EXPECT_EQ(got[1], 1);
    JVariant v;
    out.get(&v, 2);
    EXPECT_EQ(static_cast<int32_t>(v.toInteger()), -3);
    EXPECT_FALSE(p.isChanged(place, 1, page, true));
}

namespace {
// A parameter descriptor of a serialised image, host order.
std::vector<uint8_t> record(uint8_t swapClass, uint16_t width, uint16_t count, const char* name = "p")
{
    std::vector<uint8_t> r(32, 0);
    r[0] = 'P';
    r[1] = 'R';
    r[2] = 32;
    r[3] = swapClass;
    std::memcpy(&r[4], &width, 2);
    std::memcpy(&r[6], &count, 2);
    std::strncpy(reinterpret_cast<char*>(&r[8]), name, 23);
    return r;
}
} // namespace

TEST(ImportElements, EqualWidthsAreCheckedAndReported)
{
    // An image with a value outside today's limits: stored clamped, and the
    // import says so instead of passing it through.
    const ParameterNode p = make(PARAM_UINT8, 3, {u32(0), u32(100)});
    uint8_t data[3] = {};
    const uint8_t stored[3] = {5, 250, 7};
    MarkLog marks;
    WriteContext context;
    context.dirty = &marks;
    const JResult r = p.importElements({data, 1, 0}, record(2, 1, 3).data(), stored, 0, 3, nullptr, context);
    EXPECT_EQ(r, MMS_CHANGED | MMS_ADJUSTED);
    EXPECT_EQ(std::memcmp(data, "\5\144\7", 3), 0);
    EXPECT_EQ(marks.changes, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(p.importElements({data, 1, 0}, record(2, 1, 3).data(), stored, 0, 3, nullptr, {}), MMS_ADJUSTED);
}

TEST(ImportElements, WidthsConvertWithTheCurrentSignedness)
{
    uint8_t data[8] = {};
    const ParameterNode p = make(PARAM_INT16, 4);
    const int8_t stored[3] = {-1, 100, -128};
    EXPECT_EQ(p.importElements(
                  {data, 0, 0}, record(1, 1, 3).data(), reinterpret_cast<const uint8_t*>(stored), 0, 3, nullptr, {}),
        MMS_CHANGED);
    int16_t values[4];
    std::memcpy(values, data, 8);
    EXPECT_EQ(values[0], -1);
    EXPECT_EQ(values[1], 100);
    EXPECT_EQ(values[2], -128);
    EXPECT_EQ(values[3], 0); // beyond the stored count: untouched

    // Into an unsigned type, the same bytes read unsigned.
    uint8_t wide[8] = {};
    const ParameterNode u = make(PARAM_UINT16, 1);
    EXPECT_EQ(u.importElements(
                  {wide, 0, 0}, record(1, 1, 1).data(), reinterpret_cast<const uint8_t*>(stored), 0, 1, nullptr, {}),
        MMS_CHANGED);
    uint16_t w;
    std::memcpy(&w, wide, 2);
    EXPECT_EQ(w, 255);

    // Too few stored bytes for the record: refused, nothing read past them.
    EXPECT_EQ(p.importElements(
                  {data, 0, 0}, record(1, 2, 3).data(), reinterpret_cast<const uint8_t*>(stored), 0, 5, nullptr, {}),
        MMS_E_ARG);
    // A text can't become a number: skipped and reported.
    EXPECT_EQ(p.importElements(
                  {data, 0, 0}, record(0, 4, 1).data(), reinterpret_cast<const uint8_t*>(stored), 0, 4, nullptr, {}),
        MMS_ADJUSTED);
}

TEST(ImportElements, ProtectMasksAndBits)
{
    const ParameterNode bits = [] {
        ParameterNode b = make(PARAM_BIT, 4);
        b.bitOffset = 2;
        return b;
    }();
    uint8_t data[1] = {};
    const uint8_t stored[1] = {0x0F}; // four stored bits from bit 0
    const uint8_t protect[1] = {0x08}; // our element 1 (bit 3)
    EXPECT_EQ(bits.importElements({data, 0, 0}, record(2, 0, 4).data(), stored, 0, 1, protect, {}), MMS_CHANGED);
    EXPECT_EQ(data[0], 0x34); // bits 2, 4, 5

    const ParameterNode u16 = make(PARAM_UINT16, 2);
    uint8_t d16[4] = {};
    const uint16_t s16[2] = {0x1234, 0x5678};
    const uint8_t mask16[4] = {0, 0, 0, 1}; // element 1 protected
    EXPECT_EQ(u16.importElements(
                  {d16, 0, 0}, record(2, 2, 2).data(), reinterpret_cast<const uint8_t*>(s16), 0, 4, mask16, {}),
        MMS_CHANGED);
    uint16_t got[2];
    std::memcpy(got, d16, 4);
    EXPECT_EQ(got[0], 0x1234);
    EXPECT_EQ(got[1], 0);
}

TEST(ImportElements, AnImportedIntegerEndsAsASetOfTheSameValue)
{
    // Each stored value, read with its stored width and this parameter's
    // signedness, must be admitted and written exactly as setElement would.
    struct Case {
        uint32_t type;
        Limits limits;
        uint8_t swapClass;
        uint16_t width;
        uint32_t raw;
    };
    const Case cases[] = {
        {PARAM_INT16, {i32(-100), i32(100), i32(0), i32(3)}, 1, 2, 5}, // snapped down to the grid
        {PARAM_INT16, {i32(-100), i32(100), i32(0), i32(3)}, 1, 2, 0xFFFC}, // -4 -> -6
        {PARAM_INT16, {i32(-100), i32(100), i32(0), i32(3)}, 1, 1, 0x9C}, // -100: at a limit, not snapped
        {PARAM_INT16, {i32(-100), i32(100), i32(0), i32(3)}, 2, 4, 100000}, // clamped high
        {PARAM_INT32, {}, 2, 4, 0xFFFFFFFF}, // read signed: -1
        {PARAM_UINT32, {}, 1, 4, 0x80000000}, // read unsigned
        {PARAM_UINT8, {u32(10), u32(20), u32(10), u32(5)}, 1, 1, 0xFF}, // 255: clamped to 20
        {PARAM_UINT8, {u32(10), u32(20), u32(10), u32(5)}, 2, 2, 17}, // snapped to 15
        {PARAM_UINT16, {}, 2, 2, 0x1234},
        {PARAM_INT8, {}, 2, 1, 0x7F}, // the bytes already stand in memory: nothing to do
        {PARAM_UINT8, {u32(10), u32(20)}, 2, 1, 0x7F}, // already in memory, but outside the limits
        {PARAM_INT8, {}, 2, 4, 0x7F}, // unchanged from the start value below
        {PARAM_BIT, {}, 2, 1, 2}, // clamped to 1
        {PARAM_BIT, {}, 2, 0, 1}, // a stored bit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "type 0x" << c.type << " raw 0x" << c.raw);
        const ParameterNode p = make(c.type, 1, c.limits);
        const uint8_t start = 0x7F;
        uint8_t imported[4] = {start, start, start, start};
        uint8_t set[4] = {start, start, start, start};
        uint8_t stored[4];
        std::memcpy(stored, &c.raw, 4);
        MarkLog importMarks, setMarks;
        WriteContext importContext, setContext;
        importContext.dirty = &importMarks;
        setContext.dirty = &setMarks;
        const JResult r = p.importElements(
            {imported, 3, 0}, record(c.swapClass, c.width, 1).data(), stored, 0, 4, nullptr, importContext);

        uint32_t raw = c.raw;
        if (c.width == 1)
            raw &= 0xFF;
        else if (c.width == 2)
            raw &= 0xFFFF;
        else if (c.width == 0)
            raw &= 1;
        JVariant value;
        if (c.type == PARAM_INT8 || c.type == PARAM_INT16 || c.type == PARAM_INT32) {
            const int32_t s = c.width == 1 ? int8_t(raw) : c.width == 2 ? int16_t(raw) : int32_t(raw);
            value = i32(s);
        } else {
            value = u32(raw);
        }
        const JResult expected = p.setElement({set, 3, 0}, value, 0, setContext);
        ASSERT_GE(expected, 0);
        EXPECT_EQ(r, expected & (MMS_CHANGED | MMS_ADJUSTED));
        EXPECT_EQ(std::memcmp(imported, set, 4), 0);
        EXPECT_EQ(importMarks.changes, setMarks.changes);
    }
}

TEST(ImportElements, TextsLongerThanAVariantAreCopiedWhole)
{
    // A text element can be wider than a variant's text: an image must still
    // bring it in byte for byte, cut only at this parameter's maximum.
    const ParameterNode p = make(PARAM_STRING, 2, {{}, u32(2000)});
    std::vector<uint8_t> data(4000, 0);
    std::vector<uint8_t> stored(2 * 3000, 0);
    std::memset(stored.data(), 'a', 1500); // fits
    std::memset(stored.data() + 3000, 'b', 2500); // cut to 2000
    MarkLog marks;
    WriteContext context;
    context.dirty = &marks;
    EXPECT_EQ(p.importElements(
                  {data.data(), 4, 0}, record(0, 3000, 2).data(), stored.data(), 0, stored.size(), nullptr, context),
        MMS_CHANGED | MMS_ADJUSTED);
    // (Compared as booleans: a failure would print kilobytes.)
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(data.data()), 1501) == std::string(1500, 'a') + '\0');
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(data.data()) + 2000, 2000) == std::string(2000, 'b'));
    EXPECT_EQ(marks.changes, (std::vector<uint32_t>{4, 5}));
    // Again: equal texts change nothing.
    EXPECT_EQ(
        p.importElements({data.data(), 4, 0}, record(0, 3000, 1).data(), stored.data(), 0, stored.size(), nullptr, {}),
        0);
}
