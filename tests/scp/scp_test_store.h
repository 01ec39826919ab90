// A small in-memory unit for SCP tests: parameters, scenes, a device
// reporter and meters, with switches that make single operations fail.
//
// Parameters (address, x count, y count, kind, range):
//   0 "IO:Current/InCh/48VOn"      8 x 1  integer 0..1          all 0
//   1 "IO:Current/InCh/Label"      8 x 1  text                  "Ch1".."Ch8"
//   2 "MIXER:Current/Fader/Level"  4 x 2  integer -13800..1000  all -13800
//   3 "IO:Current/Matrix/Send"   256 x 2  integer 0..100        all 0
// Addresses are found without regard to case; nameOf gives them as above.
// Normalized values are linear over the range: n = (v - min) * res / (max - min).
// Scenes: 3; current scene 1, modified. Meters: 0 "MIXER:Meter/InCh" (8,
// level), 1 "MIXER:Meter/StInCh" (2, gr).
#pragma once

#include "scp/scp_contracts.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace scptest {

using SCP::ScpText;

inline std::string toUtf8(const ScpText& text)
{
    std::string out;
    for (size_t i = 0; i < text.length(); ++i) {
        uint8_t bytes[6];
        size_t n = 0;
        text[i].toUtf8(bytes, sizeof bytes, &n);
        out.append(reinterpret_cast<const char*>(bytes), n);
    }
    return out;
}

inline void fromUtf8(ScpText& text, const std::string& s)
{
    text.clear();
    for (size_t i = 0; i < s.size();) {
        JLIB::JUnicode ch;
        size_t used = 0;
        ch.fromUtf8(reinterpret_cast<const uint8_t*>(s.data()) + i, s.size() - i, &used);
        text.append(ch);
        i += used ? used : 1;
    }
}

inline bool sameWord(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

struct TestParam {
    std::string name;
    int32_t xCount, yCount;
    bool text;
    int32_t minimum, maximum;
    std::vector<int32_t> values; // integer cells, y-major
    std::vector<std::string> texts; // text cells
};

class TestParameters : public SCP::ScpParameter {
public:
    TestParameters()
    {
        params.push_back({"IO:Current/InCh/48VOn", 8, 1, false, 0, 1, std::vector<int32_t>(8, 0), {}});
        std::vector<std::string> labels;
        for (int i = 1; i <= 8; ++i)
            labels.push_back("Ch" + std::to_string(i));
        params.push_back({"IO:Current/InCh/Label", 8, 1, true, 0, 0, {}, labels});
        params.push_back({"MIXER:Current/Fader/Level", 4, 2, false, -13800, 1000, std::vector<int32_t>(8, -13800), {}});
        params.push_back({"IO:Current/Matrix/Send", 256, 2, false, 0, 100, std::vector<int32_t>(512, 0), {}});
    }

    // Switches for failure paths.
    std::set<std::tuple<int32_t, int32_t, int32_t>> failRead; // (index, x, y)
    bool failCounts = false;
    bool failInfo = false;
    bool failStoreScene = false;

    std::vector<TestParam> params;
    int32_t currentSceneNumber = 1;
    int32_t sceneModified = 1;
    std::vector<int32_t> recalled;
    int storeCalls = 0;

    int32_t& cell(int32_t index, int32_t x, int32_t y) { return params[index].values[y * params[index].xCount + x]; }
    std::string& textCell(int32_t index, int32_t x, int32_t y)
    {
        return params[index].texts[y * params[index].xCount + x];
    }

    JResult indexOf(int32_t& index, const ScpText& address) override
    {
        const std::string a = toUtf8(address);
        for (size_t i = 0; i < params.size(); ++i) {
            if (sameWord(params[i].name, a)) {
                index = static_cast<int32_t>(i);
                return SCP::SCP_OK;
            }
        }
        index = -1;
        return SCP::SCP_E_INDEX;
    }
    JResult nameOf(ScpText& address, int32_t index) override
    {
        if (!valid(index))
            return SCP::SCP_E_INDEX;
        fromUtf8(address, params[index].name);
        return SCP::SCP_OK;
    }
    JResult getParameterCount(int32_t& count) override
    {
        count = static_cast<int32_t>(params.size());
        return failCounts ? SCP::SCP_E_FAIL : SCP::SCP_OK;
    }

    JResult storeValue(int32_t, int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value) override
    {
        ++storeCalls;
        if (!validCell(index, x, y))
            return SCP::SCP_E_INDEX;
        TestParam& p = params[index];
        if (p.text) {
            bool ok = false;
            const char* s = value.type() == JLIB::JVARIANT_STRING ? value.getString(&ok) : nullptr;
            if (!ok || !s)
                return SCP::SCP_E_ARG;
            return change(textCell(index, x, y), std::string(s));
        }
        if (value.type() != JLIB::JVARIANT_INT32)
            return SCP::SCP_E_ARG;
        const int32_t v = static_cast<int32_t>(value.toInteger());
        if (v < p.minimum || v > p.maximum)
            return SCP::SCP_E_ARG;
        return change(cell(index, x, y), v);
    }
    JResult storeNormalized(int32_t, int32_t index, int32_t x, int32_t y, int32_t value, uint32_t resolution) override
    {
        ++storeCalls;
        if (!validCell(index, x, y) || params[index].text)
            return SCP::SCP_E_INDEX;
        if (value < 0 || static_cast<uint32_t>(value) > resolution)
            return SCP::SCP_E_ARG;
        const TestParam& p = params[index];
        const int64_t span = static_cast<int64_t>(p.maximum) - p.minimum;
        return change(cell(index, x, y), static_cast<int32_t>(p.minimum + value * span / resolution));
    }
    JResult storeRelative(int32_t, int32_t index, int32_t x, int32_t y, int32_t step, int32_t, int32_t) override
    {
        ++storeCalls;
        if (!validCell(index, x, y) || params[index].text)
            return SCP::SCP_E_INDEX;
        const TestParam& p = params[index];
        int64_t v = static_cast<int64_t>(cell(index, x, y)) + step;
        v = v < p.minimum ? p.minimum : (v > p.maximum ? p.maximum : v);
        return change(cell(index, x, y), static_cast<int32_t>(v));
    }
    JResult storeText(int32_t, int32_t index, int32_t x, int32_t y, const ScpText& text) override
    {
        ++storeCalls;
        if (!validCell(index, x, y))
            return SCP::SCP_E_INDEX;
        if (params[index].text)
            return change(textCell(index, x, y), toUtf8(text));
        // An integer parameter takes its decimal text.
        const std::string s = toUtf8(text);
        char* end = nullptr;
        const long v = std::strtol(s.c_str(), &end, 10);
        if (s.empty() || *end || v < params[index].minimum || v > params[index].maximum)
            return SCP::SCP_E_ARG;
        return change(cell(index, x, y), static_cast<int32_t>(v));
    }

    JResult readValue(JLIB::JVariant& value, int32_t index, int32_t x, int32_t y) override
    {
        if (!validCell(index, x, y) || failRead.count({index, x, y}))
            return SCP::SCP_E_INDEX;
        if (params[index].text) {
            const std::string& s = textCell(index, x, y);
            return jlib_failed(value.setString(s.c_str(), static_cast<uint32_t>(s.size()))) ? SCP::SCP_E_ARG
                                                                                            : SCP::SCP_OK;
        }
        value.setInt32(cell(index, x, y));
        return SCP::SCP_OK;
    }
    JResult readNormalized(int32_t& value, uint32_t resolution, int32_t index, int32_t x, int32_t y) override
    {
        if (!validCell(index, x, y) || params[index].text || failRead.count({index, x, y}))
            return SCP::SCP_E_INDEX;
        const TestParam& p = params[index];
        const int64_t span = static_cast<int64_t>(p.maximum) - p.minimum;
        value = static_cast<int32_t>((static_cast<int64_t>(cell(index, x, y)) - p.minimum) * resolution / span);
        return SCP::SCP_OK;
    }
    JResult readText(ScpText& text, int32_t index, int32_t x, int32_t y) override
    {
        if (!validCell(index, x, y) || failRead.count({index, x, y}))
            return SCP::SCP_E_INDEX;
        fromUtf8(text, params[index].text ? textCell(index, x, y) : std::to_string(cell(index, x, y)));
        return SCP::SCP_OK;
    }
    JResult parameterInfo(SCP::ScpParameterInfo& info, int32_t index) override
    {
        info.clear();
        if (!valid(index) || failInfo)
            return SCP::SCP_E_INDEX;
        const TestParam& p = params[index];
        for (size_t i = 0; i < p.name.size() && i < SCP::SCP_ALNUM_MAX; ++i)
            info.address[i] = static_cast<char16_t>(p.name[i]);
        info.xCount = p.xCount;
        info.yCount = p.yCount;
        info.minimum = p.minimum;
        info.maximum = p.maximum;
        info.defaultValue = p.minimum;
        std::strcpy(info.unit, index == 2 ? "dB" : "");
        info.type = p.text ? 2 : 0; // binary, integer
        info.uiType = index == 2 ? 1 : 2; // fader, latchsw
        info.attribute = 0; // rw
        info.scaling = index == 2 ? 100 : 1;
        return SCP::SCP_OK;
    }

    JResult getSceneCount(int32_t& count) override
    {
        count = 3;
        return failCounts ? SCP::SCP_E_FAIL : SCP::SCP_OK;
    }
    JResult sceneInfo(SCP::ScpSceneInfo& info, int32_t number) override
    {
        info.clear();
        if (number < 0 || number >= 3)
            return SCP::SCP_E_INDEX;
        const std::string numberText = "00" + std::to_string(number);
        const std::string title = "Scene " + std::to_string(number);
        for (size_t i = 0; i < numberText.size(); ++i)
            info.numberText[i] = static_cast<char16_t>(numberText[i]);
        for (size_t i = 0; i < title.size(); ++i)
            info.title[i] = static_cast<char16_t>(title[i]);
        info.comment[0] = u'\u00e9'; // a character beyond 7 bits
        info.attribute = number == 0 ? 2 : 1; // preinst, user
        return SCP::SCP_OK;
    }
    JResult currentScene(int32_t& number, int32_t& flag) override
    {
        number = currentSceneNumber;
        flag = sceneModified;
        return SCP::SCP_OK;
    }
    JResult sceneRecalled(int32_t number) override
    {
        if (number < 0 || number >= 3)
            return SCP::SCP_E_INDEX;
        recalled.push_back(number);
        currentSceneNumber = number;
        sceneModified = 0;
        return SCP::SCP_OK;
    }
    JResult storeScene() override
    {
        if (failStoreScene)
            return SCP::SCP_E_FAIL;
        sceneModified = 0;
        return SCP::SCP_OK;
    }

private:
    bool valid(int32_t index) const { return index >= 0 && index < static_cast<int32_t>(params.size()); }
    bool validCell(int32_t index, int32_t x, int32_t y) const
    {
        return valid(index) && x >= 0 && y >= 0 && x < params[index].xCount && y < params[index].yCount;
    }
    template <class T> static JResult change(T& stored, const T& value)
    {
        if (stored == value)
            return 0;
        stored = value;
        return 1;
    }
};

class TestDevice : public SCP::ScpDeviceReporter {
public:
    std::string mode = "normal";
    std::vector<std::pair<std::string, std::string>> events;

    JResult deviceInfo(int32_t, ScpText& data, const ScpText& tag) override
    {
        const std::string t = toUtf8(tag);
        if (t == "productname")
            fromUtf8(data, "QX16 Stage Rack");
        else if (t == "version")
            fromUtf8(data, "2.1.0");
        else
            return SCP::SCP_E_INDEX;
        return SCP::SCP_OK;
    }
    JResult deviceStatus(int32_t, ScpText& data, const ScpText& tag) override
    {
        if (toUtf8(tag) != "runmode")
            return SCP::SCP_E_INDEX;
        fromUtf8(data, mode);
        return SCP::SCP_OK;
    }
    JResult deviceMode(int32_t, const ScpText& m) override
    {
        const std::string s = toUtf8(m);
        if (s != "normal" && s != "update")
            return SCP::SCP_E_INDEX;
        mode = s;
        return SCP::SCP_OK;
    }
    JResult event(int32_t, const ScpText& eventId, const ScpText& data) override
    {
        events.emplace_back(toUtf8(eventId), toUtf8(data));
        return SCP::SCP_OK;
    }
};

class TestMeters : public SCP::ScpMeterReporter {
public:
    bool failCounts = false;
    const char* names[2] = {"MIXER:Meter/InCh", "MIXER:Meter/StInCh"};

    JResult indexOf(int32_t& meterIndex, const ScpText& address) override
    {
        for (int32_t i = 0; i < 2; ++i) {
            if (sameWord(names[i], toUtf8(address))) {
                meterIndex = i;
                return SCP::SCP_OK;
            }
        }
        return SCP::SCP_E_INDEX;
    }
    JResult nameOf(ScpText& address, int32_t meterIndex) override
    {
        if (meterIndex < 0 || meterIndex >= 2)
            return SCP::SCP_E_INDEX;
        fromUtf8(address, names[meterIndex]);
        return SCP::SCP_OK;
    }
    JResult getMeterCount(int32_t& count) override
    {
        count = 2;
        return failCounts ? SCP::SCP_E_FAIL : SCP::SCP_OK;
    }
    JResult getMeterInfo(SCP::ScpMeterInfo& info, int32_t index) override
    {
        info.clear();
        if (index < 0 || index >= 2)
            return SCP::SCP_E_INDEX;
        for (size_t i = 0; names[index][i]; ++i)
            info.address[i] = static_cast<char16_t>(names[index][i]);
        info.number = index == 0 ? 8 : 2;
        info.type = index == 0 ? 0 : 2; // level, gr
        return SCP::SCP_OK;
    }
};

} // namespace scptest
