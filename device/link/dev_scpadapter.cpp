#include "device/link/dev_scpadapter.h"

#include "device/memory/dev_meters.h"
#include "mms/mms_paramtype.h"
#include "pbd/jlib/jvariant.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

namespace Quil {

namespace {

// One text per element: function, name path and indexes, as a walk of the
// memory and a parsed path both give them.
std::string elementKey(const MemAddress& address)
{
    std::string key = address.function;
    key += '\n';
    key += address.namePath;
    for (const uint32_t index : address.indexes) {
        key += ':';
        key += std::to_string(index);
    }
    return key;
}

constexpr ScpInfoRow kInfoRows[] = {
    {"runmode", "DevInfo", "/DevInfo/devstatus:0/runmode:0", 2},
    {"error", "DevInfo", "/DevInfo/devstatus:0/error:0", 2},
    {"keepalive", "DevInfo", "/DevInfo/scpmode:0/keepalive:0", 2},
    {"protocolver", "DevInfo", "/DevInfo/devinfo:0/protocolver:0", 2},
    {"paramsetver", "DevInfo", "/DevInfo/devinfo:0/paramsetver:0", 2},
    {"version", "DevInfo", "/DevInfo/devinfo:0/version:0", 2},
    {"productname", "DevInfo", "/DevInfo/devinfo:0/productname:0", 2},
    {"manufacturer", "DevInfo", "/DevInfo/devinfo:0/manufacturer:0", 2},
    {"category", "DevInfo", "/DevInfo/devinfo:0/category:0", 2},
    {"deviceid", "DevInfo", "/DevInfo/devinfo:0/deviceid:0", 2},
    {"devicename", "DevInfo", "/DevInfo/devinfo:0/devicename:0", 2},
    {"inputport", "DevInfo", "/DevInfo/devinfo:0/inputport:0", 2},
    {"outputport", "DevInfo", "/DevInfo/devinfo:0/outputport:0", 2},
};

// Information texts are kept to 63 characters of 8 bits.
constexpr size_t kInfoTextMax = 63;

QString path(const char* text)
{
    return QString::fromLatin1(text);
}

// The count a slot's value must stay below.
int32_t slotLimit(const ScpPathFormat& format, int32_t slot)
{
    return slot == SLOT_COLLECTION ? format.collections : format.elements;
}

bool textIs(const SCP::ScpText& text, const char* word)
{
    return SCP::scp_textEquals(text, word, true);
}

} // namespace

JResult formatMemPath(const char* format, const PathIndices& indices, QString* out)
{
    if (!format || !out)
        return ADAPTER_E_FAIL;
    std::string text;
    uint32_t used = 0;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            text.push_back(*p);
            continue;
        }
        if (p[1] == '%') {
            text.push_back('%');
            ++p;
        } else if (p[1] == 'd' && used < PATH_INDEX_COUNT) {
            text += std::to_string(indices[used++]);
            ++p;
        } else {
            return ADAPTER_E_FAIL;
        }
    }
    *out = QString::fromLatin1(text.data(), static_cast<int>(text.size()));
    return 0;
}

const ScpInfoRow* infoRows(int32_t* count)
{
    if (count)
        *count = static_cast<int32_t>(std::size(kInfoRows));
    return kInfoRows;
}

// ---- parameter adapter ----

ScpParameter_Quil::ScpParameter_Quil(QObject* parent)
    : QObject(parent)
{
}

JResult ScpParameter_Quil::bind(IZDev* device, uint8_t source)
{
    m_device = device;
    m_source = source;
    return 0;
}

JResult ScpParameter_Quil::findIndex(const char* function, const char* namePath, int32_t* index) const
{
    if (!function || !namePath || !index)
        return ADAPTER_E_FAIL;
    int32_t count = 0;
    const_cast<ScpParameter_Quil*>(this)->getParameterCount(count);
    for (int32_t i = 0; i < count; ++i) {
        const ScpParamRow* r = row(i);
        if (r && std::strcmp(r->function, function) == 0 && std::strcmp(r->namePath, namePath) == 0) {
            *index = i;
            return 0;
        }
    }
    return ADAPTER_E_FAIL;
}

JResult ScpParameter_Quil::applyResetList()
{
    return ADAPTER_E_FAIL;
}

bool ScpParameter_Quil::needsPostAssociationFix()
{
    return false;
}

JResult ScpParameter_Quil::applyPostAssociationFix()
{
    return ADAPTER_E_FAIL;
}

bool ScpParameter_Quil::isValidIndex(int32_t) const
{
    return false;
}

const ScpParamRow* ScpParameter_Quil::row(int32_t) const
{
    return nullptr;
}

const ScpPathFormat* ScpParameter_Quil::pathFormat(int32_t) const
{
    return nullptr;
}

JResult ScpParameter_Quil::toDevice(JLIB::JVariant* out, int32_t, const JLIB::JVariant& value) const
{
    *out = value;
    return 0;
}

JResult ScpParameter_Quil::fromDevice(JLIB::JVariant* out, int32_t, const JLIB::JVariant& value) const
{
    *out = value;
    return 0;
}

JResult ScpParameter_Quil::indexOf(int32_t& index, const SCP::ScpText& address)
{
    int32_t count = 0;
    getParameterCount(count);
    for (int32_t i = 0; i < count; ++i) {
        const ScpParamRow* r = row(i);
        if (r && textIs(address, r->scpName)) {
            index = i;
            return 0;
        }
    }
    return ADAPTER_E_INDEX;
}

JResult ScpParameter_Quil::nameOf(SCP::ScpText& address, int32_t index)
{
    const ScpParamRow* r = isValidIndex(index) ? row(index) : nullptr;
    if (!r)
        return ADAPTER_E_INDEX;
    return address.assign(r->scpName, std::strlen(r->scpName));
}

JResult ScpParameter_Quil::getParameterCount(int32_t& count)
{
    count = 0;
    return 0;
}

JResult ScpParameter_Quil::pathOf(int32_t index, int32_t x, int32_t y, QString* out) const
{
    const ScpParamRow* r = row(index);
    const ScpPathFormat* format = pathFormat(index);
    if (!r || !format)
        return ADAPTER_E_INDEX;
    // The unit's x and y are checked before they reach a path: an unchecked
    // one would name an element that does not exist, and each distinct text
    // would stay in the unit's address cache.
    PathIndices indices = {0, 0, 0, 0};
    const int32_t slotOf[2] = {r->xSlot, r->ySlot};
    const int32_t values[2] = {x, y};
    for (int k = 0; k < 2; ++k) {
        const int32_t slot = slotOf[k];
        if (slot == SLOT_UNUSED)
            continue;
        if (slot < 0 || slot >= static_cast<int32_t>(PATH_INDEX_COUNT) || values[k] < 0
            || values[k] >= slotLimit(*format, slot))
            return ADAPTER_E_FAIL;
        indices[slot] = values[k];
    }
    return formatMemPath(format->format, indices, out);
}

JResult ScpParameter_Quil::storeValue(int32_t, int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value)
{
    const ScpParamRow* r = isValidIndex(index) ? row(index) : nullptr;
    if (!r)
        return ADAPTER_E_INDEX;
    if (!m_device || !(r->flags & ROW_RECEIVE))
        return 0;
    QString p;
    JResult result = pathOf(index, x, y, &p);
    if (result < 0)
        return result == ADAPTER_E_INDEX ? result : ADAPTER_E_FAIL;
    JLIB::JVariant stored;
    if (fromDevice(&stored, index, value) < 0)
        return ADAPTER_E_FAIL;
    // The unit's value replaces ours, so a mark left by an earlier local edit
    // (one made while disconnected, say) would only send the unit its own
    // value back. Cleared before the write: an edit landing after it keeps
    // its mark and is sent.
    bool stale = false;
    m_device->readChangeFlag(p, &stale, m_source);
    result = m_device->setValue(p, stored, m_source);
    if (result < 0)
        return ADAPTER_E_FAIL;
    return (result & MMS::MMS_CHANGED) ? 1 : 0;
}

JResult ScpParameter_Quil::readValue(JLIB::JVariant& value, int32_t index, int32_t x, int32_t y)
{
    if (!isValidIndex(index))
        return ADAPTER_E_INDEX;
    if (!m_device)
        return 0;
    QString p;
    const JResult result = pathOf(index, x, y, &p);
    if (result < 0)
        return result == ADAPTER_E_INDEX ? result : ADAPTER_E_FAIL;
    JLIB::JVariant stored;
    if (m_device->getValue(p, &stored) < 0)
        return ADAPTER_E_FAIL;
    return toDevice(&value, index, stored) < 0 ? ADAPTER_E_FAIL : 0;
}

JResult ScpParameter_Quil::notifyChanged(
    const char* function, const char* namePath, const int32_t* indices, uint32_t count, uint8_t)
{
    if (!function || !namePath || !indices || !callback())
        return ADAPTER_E_FAIL;
    int32_t index = -1;
    if (findIndex(function, namePath, &index) < 0)
        return ADAPTER_E_FAIL;
    return notifyRow(index, indices, count);
}

JResult ScpParameter_Quil::notifyRow(int32_t index, const int32_t* indices, uint32_t count)
{
    const ScpParamRow* r = row(index);
    if (!r || !(r->flags & ROW_SEND) || !callback())
        return ADAPTER_E_FAIL;
    // Either used slot past the given indices would read beyond them.
    const auto outside = [count](int32_t slot) { return slot != SLOT_UNUSED && (slot < 0 || uint32_t(slot) >= count); };
    if (outside(r->xSlot) || outside(r->ySlot))
        return ADAPTER_E_FAIL;
    const int32_t x = r->xSlot == SLOT_UNUSED ? 0 : indices[r->xSlot];
    const int32_t y = r->ySlot == SLOT_UNUSED ? 0 : indices[r->ySlot];
    return callback()->parameterChanged(false, index, x, y);
}

JResult ScpParameter_Quil::notify(
    const char* functionName, const char* namePath, const uint32_t* indexes, uint32_t indexCount, uint32_t key)
{
    if (!indexes)
        return ADAPTER_E_FAIL;
    PathIndices indices = {0, 0, 0, 0};
    const uint32_t n = std::min(indexCount, PATH_INDEX_COUNT);
    for (uint32_t i = 0; i < n; ++i)
        indices[i] = static_cast<int32_t>(indexes[i]);
    return notifyChanged(functionName, namePath, indices, n, static_cast<uint8_t>(key));
}

const std::vector<ScpParameter_Quil::ScanElement>& ScpParameter_Quil::scanElements()
{
    // The tables are constant: their paths are formatted once, not on every
    // wake of every connection.
    if (!m_scan.empty())
        return m_scan;
    int32_t count = 0;
    getParameterCount(count);
    for (int32_t a = 0; a < count; ++a) {
        const ScpPathFormat* format = pathFormat(a);
        if (!row(a) || !format)
            continue;
        for (int32_t i = 0; i < format->collections; ++i)
            for (int32_t j = 0; j < format->elements; ++j) {
                const QString function = QString::fromLatin1(row(a)->function);
                if (!m_scanFunctions.contains(function))
                    m_scanFunctions.append(function);
                ScanElement element{QString(), a, i, j};
                if (formatMemPath(format->format, {i, j, 0, 0}, &element.path) < 0)
                    continue;
                MemAddress address;
                if (parseMemPath(element.path, &address) >= 0)
                    m_scanPositions.emplace(elementKey(address), m_scan.size());
                m_scan.push_back(std::move(element));
            }
    }
    return m_scan;
}

bool ScpParameter_Quil::markedScanPositions(std::vector<size_t>* out) const
{
    // Past an eighth of the table the walk costs more than it saves.
    const size_t most = std::max<size_t>(1, m_scan.size() / 8);
    std::vector<MemAddress> marked;
    out->clear();
    for (const QString& function : m_scanFunctions) {
        if (!m_device->hasChangeMarks(function, m_source))
            continue;
        if (m_device->changedElements(function, m_source, most, &marked) < 0)
            return false;
        for (const MemAddress& address : marked) {
            const auto it = m_scanPositions.find(elementKey(address));
            if (it != m_scanPositions.end())
                out->push_back(it->second);
        }
        if (out->size() > most)
            return false;
    }
    std::sort(out->begin(), out->end());
    return true;
}

JResult ScpParameter_Quil::sendChanged()
{
    if (!m_device)
        return ADAPTER_E_FAIL;
    // Every unit hears every write in the rack; one whose scanned functions
    // hold no mark answers without walking its paths. (Marks in functions
    // the table does not scan, such as the connect request, stay unread.)
    const std::vector<ScanElement>& elements = scanElements();
    bool marked = false;
    for (const QString& function : m_scanFunctions)
        marked = marked || m_device->hasChangeMarks(function, m_source);
    if (!marked)
        return 0;
    const auto visit = [this](const ScanElement& element) {
        bool changed = false;
        if (m_device->readChangeFlag(element.path, &changed, m_source) < 0 || !changed)
            return;
        // The row is known: no search of the table by name.
        const PathIndices indices = {element.collection, element.element, 0, 0};
        notifyRow(element.row, indices, PATH_INDEX_COUNT);
    };
    // A few marks (one edit) are visited alone, in the scan's order, so the
    // unit hears the same requests in the same order as from the full scan.
    std::vector<size_t> positions;
    if (markedScanPositions(&positions)) {
        for (const size_t at : positions)
            visit(elements[at]);
        return 0;
    }
    for (const ScanElement& element : elements)
        visit(element);
    return 0;
}

// ---- device reporter ----

JResult ScpDeviceReporter_Quil::bind(IZDev* device, uint8_t source, SCP::IScpClient* client, NegotiatedProbe negotiated)
{
    m_device = device;
    m_source = source;
    m_client = client;
    m_negotiated = std::move(negotiated);
    return 0;
}

JResult ScpDeviceReporter_Quil::bind(IZDev* device, uint8_t source, SCP::ScpClient* client)
{
    NegotiatedProbe probe;
    if (client)
        probe = [client] { return client->isNegotiated(); };
    return bind(device, source, client, std::move(probe));
}

JResult ScpDeviceReporter_Quil::write(const char* p, const JLIB::JVariant& value)
{
    return m_device ? m_device->setValue(path(p), value, m_source) : ADAPTER_E_FAIL;
}

JResult ScpDeviceReporter_Quil::writeInt(const char* p, int32_t value)
{
    return write(p, JLIB::JVariant(value));
}

bool ScpDeviceReporter_Quil::readInt(const char* p, int32_t* out)
{
    JLIB::JVariant value;
    if (!m_device || m_device->getValue(path(p), &value) < 0)
        return false;
    bool ok = false;
    *out = static_cast<int32_t>(value.toInteger(&ok));
    return ok;
}

bool ScpDeviceReporter_Quil::readText(const char* p, std::string* out)
{
    JLIB::JVariant value;
    if (!m_device || m_device->getValue(path(p), &value) < 0)
        return false;
    bool ok = false;
    const char* text = value.getString(&ok);
    if (!ok || !text)
        return false;
    *out = text;
    return true;
}

JResult ScpDeviceReporter_Quil::storeRowText(const char* tag, const SCP::ScpText& value)
{
    if (!m_device)
        return ADAPTER_E_FAIL;
    char text[kInfoTextMax + 1] = {};
    const size_t n = std::min(value.length(), kInfoTextMax);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t code = value[i].code();
        text[i] = code >= 256 ? ' ' : static_cast<char>(code);
    }
    for (int32_t i = 0; i < infoRowCount(); ++i) {
        const ScpInfoRow* r = infoRow(i);
        if (r && qstricmp(tag, r->tag) == 0)
            return write(r->path, JLIB::JVariant(text, static_cast<uint32_t>(n))) < 0 ? ADAPTER_E_FAIL : 0;
    }
    return ADAPTER_E_FAIL;
}

JResult ScpDeviceReporter_Quil::storeInfo(const SCP::ScpText& tag, const SCP::ScpText& value)
{
    char name[SCP::SCP_ALNUM_MAX + 1] = {};
    if (tag.length() > SCP::SCP_ALNUM_MAX)
        return ADAPTER_E_FAIL;
    SCP::scp_textToAscii7(tag, name, sizeof name);
    return storeRowText(name, value);
}

JResult ScpDeviceReporter_Quil::storeMode(const SCP::ScpText& mode)
{
    return storeRowText("devmode", mode);
}

JResult ScpDeviceReporter_Quil::readInfo(const char* tag, JLIB::JVariant* out)
{
    if (!m_device || !tag || !out)
        return ADAPTER_E_FAIL;
    for (int32_t i = 0; i < infoRowCount(); ++i) {
        const ScpInfoRow* r = infoRow(i);
        if (r && std::strcmp(r->tag, tag) == 0)
            return m_device->getValue(path(r->path), out) < 0 ? ADAPTER_E_FAIL : 0;
    }
    return ADAPTER_E_FAIL;
}

bool ScpDeviceReporter_Quil::acceptNegotiation()
{
    return false;
}

JResult ScpDeviceReporter_Quil::pollRequests()
{
    return ADAPTER_E_FAIL;
}

const ScpInfoRow* ScpDeviceReporter_Quil::infoRow(int32_t index) const
{
    int32_t count = 0;
    const ScpInfoRow* rows = infoRows(&count);
    return index >= 0 && index < count ? &rows[index] : nullptr;
}

int32_t ScpDeviceReporter_Quil::infoRowCount() const
{
    int32_t count = 0;
    infoRows(&count);
    return count;
}

JResult ScpDeviceReporter_Quil::resetInfo()
{
    IZDev* dev = device();
    if (!dev)
        return ADAPTER_E_FAIL;
    for (int32_t i = 0; i < infoRowCount(); ++i) {
        const ScpInfoRow* r = infoRow(i);
        const QString p = QString::fromLatin1(r->path);
        JLIB::JVariant value;
        const JResult found = dev->getDefault(p, &value, false);
        if (found == ADAPTER_E_INDEX)
            value = JLIB::JVariant("", 0);
        else if (found < 0)
            continue;
        dev->setValue(p, value, source());
    }
    return 0;
}

JResult ScpDeviceReporter_Quil::deviceInfo(int32_t, SCP::ScpText& data, const SCP::ScpText& tag)
{
    return storeInfo(tag, data);
}

JResult ScpDeviceReporter_Quil::deviceStatus(int32_t, SCP::ScpText& data, const SCP::ScpText& tag)
{
    return storeInfo(tag, data);
}

JResult ScpDeviceReporter_Quil::deviceMode(int32_t, const SCP::ScpText& mode)
{
    return storeMode(mode);
}

JResult ScpDeviceReporter_Quil::event(int32_t, const SCP::ScpText& eventId, const SCP::ScpText& data)
{
    return storeEvent(eventId, data);
}

JResult ScpDeviceReporter_Quil::listItemNumber(const SCP::ScpText& category, int32_t number, int32_t head, int32_t tail)
{
    return storeListCount(category, number, head, tail);
}

JResult ScpDeviceReporter_Quil::listItem(const SCP::ScpText& category, int32_t index, const JLIB::JVariant& data)
{
    return storeListItem(category, index, data);
}

JResult ScpDeviceReporter_Quil::storeEvent(const SCP::ScpText&, const SCP::ScpText&)
{
    return 0;
}

JResult ScpDeviceReporter_Quil::storeListCount(const SCP::ScpText&, int32_t, int32_t, int32_t)
{
    return 0;
}

JResult ScpDeviceReporter_Quil::storeListItem(const SCP::ScpText&, int32_t, const JLIB::JVariant&)
{
    return 0;
}

JResult ScpDeviceReporter_Quil::replyError(int32_t, const SCP::ScpText& command, const SCP::ScpText& subject)
{
    // The unit refused our value and kept its own, while memory holds what
    // the user asked for: read the unit's value back. After OK nothing is
    // done (a unit that clamps answers OK and reports its value itself).
    if (!textIs(command, "set") || !m_parameter || !m_client)
        return 0;
    int32_t index = -1;
    if (m_parameter->indexOf(index, subject) < 0)
        return 0;
    const ScpParamRow* r = m_parameter->row(index);
    const ScpPathFormat* format = m_parameter->pathFormat(index);
    if (!r || !format)
        return 0;
    const int32_t xCount = r->xSlot == SLOT_UNUSED ? 1 : slotLimit(*format, r->xSlot);
    const int32_t yCount = r->ySlot == SLOT_UNUSED ? 1 : slotLimit(*format, r->ySlot);
    JResult result = 0;
    for (int32_t x = 0; x < xCount; ++x)
        for (int32_t y = 0; y < yCount; ++y)
            if (m_client->get(index, x, y) < 0)
                result = ADAPTER_E_FAIL;
    return result;
}

// ---- meter reporter ----

JResult ScpMeterReporter_Quil::resetAllMeters()
{
    return m_registry ? m_registry->resetAll() : ADAPTER_E_FAIL;
}

const ScpParamRow* ScpMeterReporter_Quil::meterRow(int32_t) const
{
    return nullptr;
}

bool ScpMeterReporter_Quil::isValidMeter(int32_t index) const
{
    int32_t count = 0;
    const_cast<ScpMeterReporter_Quil*>(this)->getMeterCount(count);
    return index >= 0 && index < count;
}

JResult ScpMeterReporter_Quil::indexOf(int32_t& meterIndex, const SCP::ScpText& address)
{
    int32_t count = 0;
    getMeterCount(count);
    for (int32_t i = 0; i < count; ++i) {
        const ScpParamRow* r = meterRow(i);
        if (r && textIs(address, r->scpName)) {
            meterIndex = i;
            return 0;
        }
    }
    return ADAPTER_E_INDEX;
}

JResult ScpMeterReporter_Quil::nameOf(SCP::ScpText& address, int32_t meterIndex)
{
    const ScpParamRow* r = isValidMeter(meterIndex) ? meterRow(meterIndex) : nullptr;
    if (!r)
        return ADAPTER_E_INDEX;
    return address.assign(r->scpName, std::strlen(r->scpName));
}

JResult ScpMeterReporter_Quil::getMeterCount(int32_t& count)
{
    count = 0;
    return 0;
}

JResult ScpMeterReporter_Quil::meterData(int32_t, const uint8_t* values, int32_t count, int32_t meterIndex)
{
    const ScpParamRow* r = isValidMeter(meterIndex) ? meterRow(meterIndex) : nullptr;
    if (!r)
        return ADAPTER_E_INDEX;
    if (!m_registry || !values || count < 0)
        return ADAPTER_E_FAIL;
    MemMeter* meter = meterOf(meterIndex, r);
    return meter && m_registry->update(meter, values, static_cast<uint32_t>(count)) >= 0 ? 0 : ADAPTER_E_FAIL;
}

MemMeter* ScpMeterReporter_Quil::meterOf(int32_t index, const ScpParamRow* row)
{
    const size_t at = static_cast<size_t>(index);
    if (at >= m_meters.size())
        m_meters.resize(at + 1, nullptr);
    if (!m_meters[at])
        m_meters[at] = m_registry->meter(path(row->namePath));
    return m_meters[at];
}

} // namespace Quil
