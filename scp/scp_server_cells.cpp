// The commands that address cells of a parameter: the set family stores, the
// get family reads.
#include "scp/scp_server_commands.h"

namespace SCP {

namespace {

constexpr size_t kTextRoom = SCP_STRING_MAX;

// One cell's value, normalised value or text into an element, shared by the
// get family and the set family's read-back. The element is left as it was
// when the read fails.

// SCP_E_CONVERT when the value is of a type a line cannot carry.
JResult readValueCell(ScpInfoReporter& info, ScpElementParameter& element, int32_t index, int32_t x, int32_t y)
{
    JLIB::JVariant value;
    const JResult r = info.parameter->readValue(value, index, x, y);
    if (r < 0)
        return r;
    return element.set(value) < 0 ? SCP_E_CONVERT : r;
}

JResult readNormalizedCell(ScpInfoReporter& info, ScpElementInteger& element, int32_t index, int32_t x, int32_t y)
{
    const uint32_t resolution = info.session ? info.session->resolution() : SCP_RESOLUTION_DEFAULT;
    int32_t value = 0;
    const JResult r = info.parameter->readNormalized(value, resolution, index, x, y);
    if (r >= 0)
        element.set(value);
    return r;
}

JResult readTextCell(ScpInfoReporter& info, ScpElementString& element, int32_t index, int32_t x, int32_t y)
{
    ScpText text(kTextRoom);
    const JResult r = info.parameter->readText(text, index, x, y);
    if (r >= 0)
        element.set(text);
    return r;
}

// The read-back of set, setr and sett: the value, then the text.
JResult readValueAndText(
    ScpInfoReporter& info, ScpElementParameter& value, ScpElementString& text, int32_t index, int32_t x, int32_t y)
{
    const JResult r = readValueCell(info, value, index, x, y);
    return r < 0 ? r : readTextCell(info, text, index, x, y);
}

} // namespace

JResult scp_serverMergeResult(JResult result, JResult step)
{
    if (step < 0)
        return step;
    if (result < 0)
        return result;
    return step > result ? step : result;
}

// ---- address, x, y ----

ScpServerCellCommand::ScpServerCellCommand(const char* word)
    : ScpServerCommand(word)
{
    add(m_address, SCP_SERVER_REQUEST | SCP_SERVER_REPLY);
    add(m_x, SCP_SERVER_REQUEST | SCP_SERVER_REPLY);
    add(m_y, SCP_SERVER_REQUEST | SCP_SERVER_REPLY);
}

JResult ScpServerCellCommand::resolveCells(ScpInfoReporter& info, ScpCellRange* range)
{
    if (!info.parameter)
        return SCP_E_FAIL;
    int32_t index = -1;
    if (info.parameter->indexOf(index, m_address.text()) < 0 || index < 0)
        return SCP_E_INDEX;
    if (m_x.value() < 0 || m_y.value() < 0 || (m_x.isAll() && m_y.isAll()))
        return SCP_E_ARG;
    ScpCellRange r;
    r.index = index;
    r.xBegin = m_x.value();
    r.xEnd = int64_t{m_x.value()} + 1;
    r.yBegin = m_y.value();
    r.yEnd = int64_t{m_y.value()} + 1;
    if (m_x.isAll() || m_y.isAll()) {
        ScpParameterInfo shape;
        const JResult got = info.parameter->parameterInfo(shape, index);
        if (got < 0)
            return got;
        const int32_t count = m_x.isAll() ? shape.xCount : shape.yCount;
        if (count <= 0)
            return SCP_E_ARG; // "all" of nothing addresses no cell
        if (m_x.isAll()) {
            r.xBegin = 0;
            r.xEnd = count;
        } else {
            r.yBegin = 0;
            r.yEnd = count;
        }
    }
    *range = r;
    return SCP_OK;
}

void ScpServerCellCommand::writeCanonicalAddress(ScpInfoReporter& info, int32_t index)
{
    ScpText name(SCP_ALNUM_MAX);
    if (info.parameter && info.parameter->nameOf(name, index) >= 0 && name.length() > 0)
        m_address.set(name);
}

// ---- set family ----

JResult ScpServerStoreCommand::execute(int32_t context, ScpInfoReporter& info)
{
    ScpCellRange cells;
    JResult result = resolveCells(info, &cells);
    if (result < 0)
        return result;
    result = SCP_OK;
    bool stored = false;
    for (int64_t y = cells.yBegin; y < cells.yEnd; ++y) {
        for (int64_t x = cells.xBegin; x < cells.xEnd; ++x) {
            const JResult r = storeCell(context, info, cells.index, static_cast<int32_t>(x), static_cast<int32_t>(y));
            result = scp_serverMergeResult(result, r);
            if (r < 0)
                break;
            stored = true;
        }
    }
    if (stored && result >= 0) {
        const JResult back
            = readBack(info, cells.index, static_cast<int32_t>(cells.xBegin), static_cast<int32_t>(cells.yBegin));
        if (back < 0)
            result = back;
    }
    writeCanonicalAddress(info, cells.index);
    return finish(result);
}

ScpServerCommandSET::ScpServerCommandSET()
    : ScpServerStoreCommand("set")
{
    add(m_param, SCP_SERVER_REQUEST | SCP_SERVER_REPLY);
    add(m_text, SCP_SERVER_REPLY);
}

JResult ScpServerCommandSET::storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y)
{
    return info.parameter->storeValue(context, index, x, y, m_param.value());
}

JResult ScpServerCommandSET::readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y)
{
    return readValueAndText(info, m_param, m_text, index, x, y);
}

ScpServerCommandSETN::ScpServerCommandSETN()
    : ScpServerStoreCommand("setn")
{
    add(m_nparam, SCP_SERVER_REQUEST | SCP_SERVER_REPLY);
    add(m_text, SCP_SERVER_REPLY);
}

JResult ScpServerCommandSETN::storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y)
{
    const int32_t value = m_nparam.value() < 0 ? 0 : m_nparam.value();
    const uint32_t resolution = info.session ? info.session->resolution() : SCP_RESOLUTION_DEFAULT;
    return info.parameter->storeNormalized(context, index, x, y, value, resolution);
}

JResult ScpServerCommandSETN::readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y)
{
    const JResult r = readNormalizedCell(info, m_nparam, index, x, y);
    return r < 0 ? r : readTextCell(info, m_text, index, x, y);
}

JResult ScpServerCommandSETN::execute(int32_t context, ScpInfoReporter& info)
{
    // Judged before the read-back replaces the requested value.
    m_raised = m_nparam.value() < 0;
    return ScpServerStoreCommand::execute(context, info);
}

JResult ScpServerCommandSETN::finish(JResult result)
{
    return m_raised && result >= 0 ? 1 : result;
}

ScpServerCommandSETR::ScpServerCommandSETR()
    : ScpServerStoreCommand("setr")
{
    add(m_step, SCP_SERVER_REQUEST);
    add(m_param, SCP_SERVER_REPLY);
    add(m_text, SCP_SERVER_REPLY);
}

JResult ScpServerCommandSETR::storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y)
{
    return info.parameter->storeRelative(context, index, x, y, m_step.value(), 0, 0);
}

JResult ScpServerCommandSETR::readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y)
{
    return readValueAndText(info, m_param, m_text, index, x, y);
}

ScpServerCommandSETT::ScpServerCommandSETT()
    : ScpServerStoreCommand("sett")
{
    add(m_text, SCP_SERVER_REQUEST | SCP_SERVER_REPLY);
    add(m_param, SCP_SERVER_REPLY);
}

JResult ScpServerCommandSETT::storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y)
{
    return info.parameter->storeText(context, index, x, y, m_text.text());
}

JResult ScpServerCommandSETT::readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y)
{
    return readValueAndText(info, m_param, m_text, index, x, y);
}

// ---- get family ----

template <class Item>
ScpServerReadCommand<Item>::ScpServerReadCommand(const char* word, const char* arrayName)
    : ScpServerCellCommand(word)
    , m_values(arrayName, SCP_SERVER_ARRAY_MAX)
{
    add(m_values, SCP_SERVER_REPLY);
}

template <class Item> JResult ScpServerReadCommand<Item>::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    ScpCellRange cells;
    JResult result = resolveCells(info, &cells);
    if (result < 0)
        return result;
    writeCanonicalAddress(info, cells.index);
    m_values.reset();
    result = SCP_OK;
    for (int64_t y = cells.yBegin; y < cells.yEnd; ++y) {
        for (int64_t x = cells.xBegin; x < cells.xEnd; ++x) {
            Item item(m_values.name());
            const JResult r = readCell(info, cells.index, static_cast<int32_t>(x), static_cast<int32_t>(y), item);
            if (r < 0) {
                result = r;
                break;
            }
            Item* slot = m_values.appendItem();
            if (!slot)
                return SCP_E_INDEX; // more values than a reply holds: the reply is cut
            *slot = std::move(item);
            result = scp_serverMergeResult(result, r);
        }
    }
    return result;
}

template class ScpServerReadCommand<ScpElementParameter>;
template class ScpServerReadCommand<ScpElementInteger>;
template class ScpServerReadCommand<ScpElementString>;

ScpServerCommandGET::ScpServerCommandGET()
    : ScpServerReadCommand("get", "param")
{
}

JResult ScpServerCommandGET::readCell(
    ScpInfoReporter& info, int32_t index, int32_t x, int32_t y, ScpElementParameter& item)
{
    return readValueCell(info, item, index, x, y);
}

ScpServerCommandGETN::ScpServerCommandGETN()
    : ScpServerReadCommand("getn", "nparam")
{
}

JResult ScpServerCommandGETN::readCell(
    ScpInfoReporter& info, int32_t index, int32_t x, int32_t y, ScpElementInteger& item)
{
    return readNormalizedCell(info, item, index, x, y);
}

ScpServerCommandGETT::ScpServerCommandGETT()
    : ScpServerReadCommand("gett", "text")
{
}

JResult ScpServerCommandGETT::readCell(
    ScpInfoReporter& info, int32_t index, int32_t x, int32_t y, ScpElementString& item)
{
    return readTextCell(info, item, index, x, y);
}

} // namespace SCP
