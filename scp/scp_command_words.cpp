// The 26 client command words: each word's elements and its reply and
// notification handlers.
#include "pbd/jlib/jlib_text.h"
#include "scp/scp_command.h"
#include "scp/scp_command_cells.h"
#include "scp/scp_server_mode.h"
#include "scp/scp_session.h"

namespace SCP {

namespace {

// ---- helpers shared by the handlers ----

// A to Z become a to z, in place.
void lower(ScpElementText* element)
{
    if (!element)
        return;
    ScpText& t = element->mutableText();
    for (size_t i = 0; i < t.length(); ++i) {
        const uint32_t c = t[i].code();
        if (c >= 'A' && c <= 'Z')
            t[i] = JLIB::JUnicode(c + ('a' - 'A'));
    }
}

// "index" of a record-addressing reply; SCP_E_ARG when negative.
JResult recordIndex(const ScpClientCommand& c, int32_t& index)
{
    index = c.integer("index");
    return index < 0 ? SCP_E_ARG : SCP_OK;
}

int32_t nameIndex(const ScpNameTable& table, const ScpText& word)
{
    char ascii[SCP_ALNUM_MAX + 1];
    scp_textToAscii7(word, ascii, sizeof ascii);
    int32_t index = 0;
    scp_nameToIndex(table, ascii, &index);
    return index;
}

JResult meterIndex(const ScpClientCommand& c, const ScpInfoReporter& info, int32_t& index)
{
    index = -1;
    const JResult r = info.meter->indexOf(index, c.text("address"));
    return (r < 0 || index < 0) ? SCP_E_INDEX : SCP_OK;
}

// ---- handlers ----

// Two hexadecimal characters per item, one byte per meter.
JResult meterValues(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    const ScpElementArray<ScpElementString>* items = c.items();
    const size_t count = items ? items->size() : 0;
    if (count > SCP_METER_ITEMS_MAX)
        return SCP_E_MISSING;
    uint8_t bytes[SCP_METER_ITEMS_MAX] = {};
    for (size_t i = 0; i < count; ++i) {
        const ScpText& t = items->item(i)->text();
        uint32_t value = 0;
        for (size_t k = 0; k < 2; ++k) {
            const uint32_t ch = k < t.length() ? t[k].code() : 0;
            // A missing or non-hex digit counts as 0.
            const int digit = jlib_hexDigit(ch);
            value = value * 16 + static_cast<uint32_t>(digit < 0 ? 0 : digit);
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    int32_t meter = -1;
    const JResult found = info.meter->indexOf(meter, c.text("address"));
    if (found == SCP_E_INDEX)
        return SCP_OK; // an address the reporter does not know: dropped
    // A lookup that failed otherwise names no meter: the values would land
    // on whatever index the variable held.
    if (found < 0)
        return found;
    if (meter < 0)
        return SCP_E_INDEX;
    return info.meter->meterData(id, bytes, static_cast<int32_t>(count), meter);
}

JResult getReply(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    ScpCells cells;
    JResult r = scp_cellsOf(c, info, ScpAll::Refused, cells);
    if (r < 0)
        return r;
    return info.parameter->storeValue(id, cells.index, cells.x0, cells.y0, c.parameter("param"));
}

JResult getnReply(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    ScpCells cells;
    JResult r = scp_cellsOf(c, info, ScpAll::Refused, cells);
    if (r < 0)
        return r;
    return info.parameter->storeNormalized(
        id, cells.index, cells.x0, cells.y0, c.integer("nparam"), info.session->resolution());
}

JResult gettReply(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    ScpCells cells;
    JResult r = scp_cellsOf(c, info, ScpAll::Refused, cells);
    if (r < 0)
        return r;
    return info.parameter->storeText(id, cells.index, cells.x0, cells.y0, c.text("text"));
}

// set and setr replies acknowledge a change: the addressed cells are read
// back, nothing is stored.
JResult acknowledge(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    ScpCells cells;
    JResult r = scp_cellsOf(c, info, ScpAll::NotBoth, cells);
    if (r < 0)
        return r;
    return scp_forEachCell(cells, [&](int32_t x, int32_t y) {
        JLIB::JVariant value;
        return info.parameter->readValue(value, cells.index, x, y);
    });
}

// A changed value from the unit; "all" stores it in every cell it addresses.
JResult storeValues(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    ScpCells cells;
    JResult r = scp_cellsOf(c, info, ScpAll::Taken, cells);
    if (r < 0)
        return r;
    const JLIB::JVariant& value = c.parameter("param");
    return scp_forEachCell(
        cells, [&](int32_t x, int32_t y) { return info.parameter->storeValue(id, cells.index, x, y, value); });
}

JResult storeNormalizedCells(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info, ScpAll all)
{
    ScpCells cells;
    JResult r = scp_cellsOf(c, info, all, cells);
    if (r < 0)
        return r;
    const int32_t value = c.integer("nparam") < 0 ? 0 : c.integer("nparam");
    const uint32_t resolution = info.session->resolution();
    return scp_forEachCell(cells, [&](int32_t x, int32_t y) {
        return info.parameter->storeNormalized(id, cells.index, x, y, value, resolution);
    });
}

JResult setnReply(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    return storeNormalizedCells(c, id, info, ScpAll::NotBoth);
}

JResult setnNotify(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    return storeNormalizedCells(c, id, info, ScpAll::Taken);
}

JResult setrNotify(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    ScpCells cells;
    JResult r = scp_cellsOf(c, info, ScpAll::Refused, cells);
    if (r < 0)
        return r;
    const JLIB::JVariant value(c.integer("param"));
    return info.parameter->storeValue(id, cells.index, cells.x0, cells.y0, value);
}

JResult storeTexts(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    ScpCells cells;
    JResult r = scp_cellsOf(c, info, ScpAll::Taken, cells);
    if (r < 0)
        return r;
    const ScpText& text = c.text("text");
    return scp_forEachCell(
        cells, [&](int32_t x, int32_t y) { return info.parameter->storeText(id, cells.index, x, y, text); });
}

JResult eventReport(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    lower(c.textElement("eventid"));
    lower(c.textElement("data"));
    return info.device->event(id, c.text("eventid"), c.text("data"));
}

JResult meterStart(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    int32_t meter = 0;
    const JResult r = meterIndex(c, info, meter);
    // The subscription's interval is the client's own business: 0.
    return r < 0 ? r : info.session->addMeter(meter, 0);
}

JResult meterStop(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    int32_t meter = 0;
    const JResult r = meterIndex(c, info, meter);
    return r < 0 ? r : info.session->removeMeter(meter);
}

// The unit's protocol mode; the pair is read exactly as the server reads it.
JResult protocolMode(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    lower(c.textElement("tag"));
    lower(c.textElement("data"));
    ScpModeSetting setting;
    if (scp_modeParse(c.text("tag"), c.text("data"), &setting) < 0)
        return SCP_E_ARG;
    ScpSessionData& session = *info.session;
    switch (setting.tag) {
    case SCP_MODE_FORMAT:
        session.setDecoder(setting.value);
        break;
    case SCP_MODE_ENCODING:
        session.setEncoding(setting.value);
        break;
    case SCP_MODE_VALUETYPE:
        session.setValueType(setting.value);
        break;
    case SCP_MODE_RESOLUTION:
        session.setResolution(static_cast<uint32_t>(setting.value));
        break;
    case SCP_MODE_KEEPALIVE:
        session.setKeepAlive(static_cast<uint32_t>(setting.value));
        break;
    }
    return SCP_OK;
}

JResult deviceInfo(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    lower(c.textElement("tag"));
    ScpElementText* data = c.textElement("data");
    return info.device->deviceInfo(id, data->mutableText(), c.text("tag")) < 0 ? SCP_E_ARG : SCP_OK;
}

JResult deviceStatus(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    lower(c.textElement("tag"));
    ScpElementText* data = c.textElement("data");
    return info.device->deviceStatus(id, data->mutableText(), c.text("tag")) < 0 ? SCP_E_ARG : SCP_OK;
}

JResult deviceMode(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    lower(c.textElement("mode"));
    const JResult r = info.device->deviceMode(id, c.text("mode"));
    return r < 0 ? r : SCP_OK;
}

JResult parameterInfo(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    int32_t index = 0;
    if (recordIndex(c, index) < 0)
        return SCP_E_ARG;
    ScpParameterInfo record;
    scp_textToUtf16(c.text("address"), record.address, SCP_ALNUM_MAX + 1);
    record.xCount = c.integer("xnum");
    record.yCount = c.integer("ynum");
    record.minimum = c.integer("min");
    record.maximum = c.integer("max");
    record.defaultValue = c.integer("default");
    scp_textToAscii7(c.text("unit"), record.unit, sizeof record.unit);
    record.type = nameIndex(scp_parameterTypes, c.text("type"));
    record.uiType = nameIndex(scp_uiTypes, c.text("ui"));
    record.attribute = nameIndex(scp_accessAttributes, c.text("attrib"));
    record.scaling = c.integer("scaling");
    return info.parameter->storeParameterInfo(record, index);
}

JResult parameterCount(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    return info.parameter->parameterCount(c.integer("number"));
}

JResult meterInfo(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    int32_t index = 0;
    if (recordIndex(c, index) < 0)
        return SCP_E_ARG;
    ScpMeterInfo record;
    scp_textToUtf16(c.text("address"), record.address, sizeof record.address / sizeof record.address[0]);
    record.number = c.integer("num");
    record.type = nameIndex(scp_meterTypes, c.text("type"));
    return info.meter->meterInfo(id, record, index);
}

JResult meterCount(ScpClientCommand& c, int32_t id, const ScpInfoReporter& info)
{
    return info.meter->meterCount(id, c.integer("num"));
}

JResult currentScene(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    const ScpText& status = c.text("status");
    int32_t mark = 0;
    if (scp_textEquals(status, "modified", false))
        mark = 1;
    else if (!scp_textEquals(status, "unmodified", false))
        return SCP_E_MISSING;
    return info.parameter->storeCurrentScene(c.integer("index"), mark);
}

JResult sceneInfo(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    int32_t index = 0;
    if (recordIndex(c, index) < 0)
        return SCP_E_ARG;
    ScpSceneInfo record;
    scp_textToUtf16(c.text("numtext"), record.numberText, sizeof record.numberText / sizeof(char16_t));
    scp_textToUtf16(c.text("title"), record.title, sizeof record.title / sizeof(char16_t));
    scp_textToUtf16(c.text("comment"), record.comment, sizeof record.comment / sizeof(char16_t));
    record.attribute = nameIndex(scp_sceneAttributes, c.text("attrib"));
    return info.parameter->storeSceneInfo(record, index);
}

JResult sceneCount(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    return info.parameter->sceneCount(c.integer("number"));
}

JResult sceneRecalled(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    int32_t index = 0;
    if (recordIndex(c, index) < 0)
        return SCP_E_ARG;
    return info.parameter->sceneRecalled(index);
}

JResult sceneUpdated(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    info.parameter->sceneUpdated(c.integer("index"));
    return SCP_OK;
}

JResult listItemNumber(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    return info.device->listItemNumber(c.text("category"), c.integer("number"), c.integer("head"), c.integer("tail"));
}

JResult listItem(ScpClientCommand& c, int32_t, const ScpInfoReporter& info)
{
    return info.device->listItem(c.text("category"), c.integer("index"), c.parameter("data"));
}

// ---- the layouts ----

constexpr uint8_t RQ = 0x38; // sent in the request and read back from the reply
constexpr uint8_t RP = 0x30; // carried by the reply only
constexpr uint8_t AR = 0x20; // the meter items, read by their own rule

constexpr ScpKind A = ScpKind::AlNum;
constexpr ScpKind S = ScpKind::String;
constexpr ScpKind I = ScpKind::Integer;
constexpr ScpKind X = ScpKind::SubAddress;
constexpr ScpKind P = ScpKind::Parameter;

constexpr ScpCommandLayout kLayouts[SCP_WORD_COUNT] = {
    {"mtr", "ScpClientCommandMTR", {{"address", A, RP}, {"type", S, RP}, {"data", ScpKind::StringArray, AR}}, 3,
        meterValues, meterValues},
    {"set", "ScpClientCommandSET", {{"address", A, RQ}, {"x", X, RQ}, {"y", X, RQ}, {"param", P, RQ}, {"text", S, RP}},
        5, acknowledge, storeValues},
    {"get", "ScpClientCommandGET", {{"address", A, RQ}, {"x", I, RQ}, {"y", I, RQ}, {"param", P, RP}}, 4, getReply,
        nullptr},
    {"event", "ScpClientCommandEVENT", {{"eventid", A, RQ}, {"data", S, RQ}}, 2, eventReport, eventReport},
    {"mtrstart", "ScpClientCommandMTRSTART", {{"address", A, RQ}, {"interval", I, RQ}}, 2, meterStart, nullptr},
    {"mtrstop", "ScpClientCommandMTRSTOP", {{"address", A, RQ}}, 1, meterStop, nullptr},
    {"scpmode", "ScpClientCommandSCPMODE", {{"tag", A, RQ}, {"data", A, RQ}}, 2, protocolMode, protocolMode},
    {"devinfo", "ScpClientCommandDEVINFO", {{"tag", A, RQ}, {"data", S, RP}}, 2, deviceInfo, deviceInfo},
    {"devmode", "ScpClientCommandDEVMODE", {{"mode", A, RQ}}, 1, deviceMode, nullptr},
    {"devstatus", "ScpClientCommandDEVSTATUS", {{"tag", A, RQ}, {"data", S, RP}}, 2, deviceStatus, deviceStatus},
    {"setn", "ScpClientCommandSETN",
        {{"address", A, RQ}, {"x", X, RQ}, {"y", X, RQ}, {"nparam", I, RQ}, {"text", S, RP}}, 5, setnReply, setnNotify},
    {"setr", "ScpClientCommandSETR", {{"address", A, RQ}, {"x", I, RQ}, {"y", I, RQ}, {"param", I, RQ}}, 4, acknowledge,
        setrNotify},
    {"sett", "ScpClientCommandSETT", {{"address", A, RQ}, {"x", X, RQ}, {"y", X, RQ}, {"text", S, RQ}}, 4, storeTexts,
        storeTexts},
    {"getn", "ScpClientCommandGETN", {{"address", A, RQ}, {"x", I, RQ}, {"y", I, RQ}, {"nparam", I, RP}}, 4, getnReply,
        nullptr},
    {"gett", "ScpClientCommandGETT", {{"address", A, RQ}, {"x", I, RQ}, {"y", I, RQ}, {"text", S, RP}}, 4, gettReply,
        nullptr},
    {"prminfo", "ScpClientCommandPRMINFO",
        {{"index", I, RQ}, {"address", S, RP}, {"xnum", I, RP}, {"ynum", I, RP}, {"min", I, RP}, {"max", I, RP},
            {"default", I, RP}, {"unit", S, RP}, {"type", A, RP}, {"ui", A, RP}, {"attrib", A, RP}, {"scaling", I, RP}},
        12, parameterInfo, parameterInfo},
    {"prmnum", "ScpClientCommandPRMNUM", {{"number", I, RP}}, 1, parameterCount, parameterCount},
    {"mtrinfo", "ScpClientCommandMTRINFO", {{"index", I, RQ}, {"address", S, RP}, {"num", I, RP}, {"type", A, RP}}, 4,
        meterInfo, meterInfo},
    {"mtrnum", "ScpClientCommandMTRNUM", {{"num", I, RP}}, 1, meterCount, meterCount},
    {"sscurrent", "ScpClientCommandSSCURRENT", {{"index", I, RP}, {"status", A, RP}}, 2, currentScene, currentScene},
    {"ssinfo", "ScpClientCommandSSINFO",
        {{"index", I, RQ}, {"numtext", S, RP}, {"title", S, RP}, {"comment", S, RP}, {"attrib", A, RP}}, 5, sceneInfo,
        sceneInfo},
    {"ssnum", "ScpClientCommandSSNUM", {{"number", I, RP}}, 1, sceneCount, sceneCount},
    {"ssrecall", "ScpClientCommandSSRECALL", {{"index", I, RQ}}, 1, sceneRecalled, sceneRecalled},
    {"ssupdate", "ScpClientCommandSSUPDATE", {{"index", I, RP}}, 1, sceneUpdated, sceneUpdated},
    {"LISTITEMNUM", "ScpClientCommandLISTITEMNUM",
        {{"category", A, RQ}, {"number", I, RP}, {"head", I, RP}, {"tail", I, RP}}, 4, listItemNumber, listItemNumber},
    {"LISTITEM", "ScpClientCommandLISTITEM", {{"category", A, RQ}, {"index", I, RQ}, {"data", P, RP}}, 3, listItem,
        listItem},
};

// Each layout's count names exactly its listed elements.
constexpr bool countsMatch()
{
    for (const ScpCommandLayout& layout : kLayouts) {
        uint32_t n = 0;
        while (n < SCP_OWN_ELEMENTS_MAX && layout.own[n].name)
            ++n;
        if (n != layout.ownCount)
            return false;
    }
    return true;
}
static_assert(countsMatch(), "an element count does not match its layout");

} // namespace

const ScpCommandLayout* scp_commandLayout(int word)
{
    return (word >= 0 && word < SCP_WORD_COUNT) ? &kLayouts[word] : nullptr;
}

} // namespace SCP
