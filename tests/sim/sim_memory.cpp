#include "tests/sim/sim_memory.h"

#include "mms/mms_loader.h"
#include "scp/scp_element.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace simtest {

using JLIB::JVariant;

std::string toUtf8(const SCP::ScpText& text)
{
    std::string out;
    for (size_t i = 0; i < text.length(); ++i) {
        uint8_t bytes[6];
        size_t n = 0;
        if (text[i].toUtf8(bytes, sizeof bytes, &n) >= 0)
            out.append(reinterpret_cast<const char*>(bytes), n);
    }
    return out;
}

void fromUtf8(SCP::ScpText& text, const std::string& utf8)
{
    text.clear();
    for (size_t i = 0; i < utf8.size() && text.length() < text.maxLength();) {
        JLIB::JUnicode ch;
        size_t used = 0;
        ch.fromUtf8(reinterpret_cast<const uint8_t*>(utf8.data()) + i, utf8.size() - i, &used);
        text.append(ch);
        i += used ? used : 1;
    }
}

int64_t simNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

JResult CountingTrigger::trigger(uint32_t, uint32_t, const MMS::TaskListIdentity&)
{
    m_lastNs = simNowNs();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_count;
    }
    m_cond.notify_all();
    return 0;
}

uint64_t CountingTrigger::waitBeyond(uint64_t seen, int timeoutMs)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_cond.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return m_count.load() > seen; });
    return m_count.load();
}

SimMemory::SimMemory()
    : m_field(std::make_unique<MMS::Field>(&m_trigger, &m_mutex))
{
}

JResult SimMemory::loadFile(const std::string& path, std::string* why)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || text.str().empty()) {
        *why = "cannot read " + path;
        return MMS::MMS_E_ARG;
    }
    return load(text.str(), why);
}

JResult SimMemory::load(const std::string& xml, std::string* why)
{
    static const char kRoot[] = "dev";
    JResult rc = MMS::mms_loadDefinitionFromMemory(m_field.get(), nullptr, 0, kRoot, sizeof kRoot, xml.data(),
        static_cast<uint32_t>(xml.size()), MMS::LOAD_ACTIVATE);
    if (rc < 0) {
        *why = "layout refused: " + std::to_string(static_cast<uint32_t>(rc));
        return rc;
    }
    // Keys of the two sources: mask 0, one page, nothing marked yet.
    for (uint32_t key : {uint32_t{SOURCE_LOCAL}, uint32_t{SOURCE_LINK}}) {
        rc = m_field->addNotifier(0, key, 1, false);
        if (rc < 0) {
            *why = "key " + std::to_string(key) + " refused";
            return rc;
        }
    }
    char name[MMS::MMS_NAME_SIZE + 1] = {};
    m_field->getFunctionName(name, nullptr);
    m_function = name[0] ? name : kRoot;

    m_params.clear();
    uint32_t tags[MMS::MMS_MAX_DEPTH] = {};
    return addParams(tags, 0, why);
}

namespace {

int64_t variantNumber(const JVariant& v, uint32_t type, int64_t fallback)
{
    if (v.type() == JLIB::JVARIANT_EMPTY || v.type() == JLIB::JVARIANT_STRING)
        return fallback;
    const uint32_t word = v.toInteger();
    return MMS::paramTypeSigned(type) ? static_cast<int64_t>(static_cast<int32_t>(word)) : static_cast<int64_t>(word);
}

void typeRange(uint32_t type, int64_t* lo, int64_t* hi)
{
    const uint32_t width = MMS::paramTypeWidth(type);
    if (type == MMS::PARAM_BIT) {
        *lo = 0;
        *hi = 1;
    } else if (MMS::paramTypeSigned(type)) {
        *hi = (int64_t{1} << (8 * width - 1)) - 1;
        *lo = -*hi - 1;
    } else {
        *lo = 0;
        *hi = (int64_t{1} << (8 * width)) - 1;
    }
}

void readLimits(MMS::Field& field, const uint32_t* tags, uint32_t count, SimParam* p)
{
    // A text's "maximum" is its length and a real has no integer range:
    // neither scales.
    if (p->type == MMS::PARAM_STRING || p->type == MMS::PARAM_FLOAT)
        return;
    int64_t lo = 0, hi = 0;
    typeRange(p->type, &lo, &hi);
    MMS::ParameterAttributes a;
    if (field.getAttributes(&a, nullptr, tags, count) < 0) {
        p->minimum = lo;
        p->maximum = hi;
        return;
    }
    p->minimum = variantNumber(a.minimum, p->type, lo);
    p->maximum = variantNumber(a.maximum, p->type, hi);
    p->defaultValue = variantNumber(a.defaultValue, p->type, 0);
}

} // namespace

// Walks the tree in tag order (a collection's parameters, then its
// collections) and lists every parameter.
JResult SimMemory::addParams(uint32_t* tags, uint32_t depth, std::string* why)
{
    uint32_t children = 0;
    if (m_field->getChildCount(&children, nullptr, tags, depth) < 0) {
        *why = "no child count at depth " + std::to_string(depth);
        return MMS::MMS_E_PATH;
    }
    for (uint32_t tag = 0; tag < children; ++tag) {
        tags[depth] = tag;
        const uint32_t count = depth + 1;
        bool parameter = false;
        if (m_field->isParameter(&parameter, nullptr, tags, count) < 0) {
            *why = "no node at tag " + std::to_string(tag);
            return MMS::MMS_E_PATH;
        }
        if (!parameter) {
            if (count >= MMS::MMS_MAX_DEPTH)
                return MMS::MMS_E_DEPTH;
            const JResult rc = addParams(tags, count, why);
            if (rc < 0)
                return rc;
            continue;
        }
        char path[160] = {};
        SimParam p;
        if (m_field->buildNamePath(path, sizeof path, nullptr, tags, count, false) < 0
            || m_field->getType(&p.type, nullptr, tags, count) < 0) {
            *why = "parameter at tag " + std::to_string(tag) + " has no address";
            return MMS::MMS_E_PATH;
        }
        p.path = path;
        p.address = m_function + ":" + p.path;
        readLimits(*m_field, tags, count, &p);
        p.depth = count;
        uint32_t size = 1;
        m_field->getArraySize(&size, nullptr, tags, count);
        p.xCount = static_cast<int32_t>(size);
        if (count >= 2) {
            m_field->getArraySize(&size, nullptr, tags, count - 1);
            p.yCount = static_cast<int32_t>(size);
        }
        for (uint32_t level = 1; level + 2 <= count; ++level) {
            m_field->getArraySize(&size, nullptr, tags, level);
            if (size != 1) {
                *why = p.path + " nests arrays deeper than x and y";
                return MMS::MMS_E_UNSUPPORTED;
            }
        }
        m_params.push_back(p);
    }
    return 0;
}

int32_t SimMemory::indexOfPath(const std::string& path) const
{
    for (size_t i = 0; i < m_params.size(); ++i) {
        if (m_params[i].path == path)
            return static_cast<int32_t>(i);
    }
    return -1;
}

int32_t SimMemory::indexOfAddress(const std::string& address) const
{
    // Names are compared without regard to case, as SCP words are.
    for (size_t i = 0; i < m_params.size(); ++i) {
        if (strcasecmp(m_params[i].address.c_str(), address.c_str()) == 0)
            return static_cast<int32_t>(i);
    }
    return -1;
}

bool SimMemory::validCell(int32_t index, int32_t x, int32_t y) const
{
    return index >= 0 && static_cast<size_t>(index) < m_params.size() && x >= 0 && y >= 0
        && x < m_params[static_cast<size_t>(index)].xCount && y < m_params[static_cast<size_t>(index)].yCount;
}

bool SimMemory::indexesOf(const SimCell& cell, uint32_t* indexes, uint32_t* count) const
{
    if (!validCell(cell.index, cell.x, cell.y))
        return false;
    const SimParam& p = m_params[static_cast<size_t>(cell.index)];
    for (uint32_t i = 0; i < MMS::MMS_MAX_DEPTH; ++i)
        indexes[i] = 0;
    indexes[p.depth - 1] = static_cast<uint32_t>(cell.x);
    if (p.depth >= 2)
        indexes[p.depth - 2] = static_cast<uint32_t>(cell.y);
    *count = p.depth;
    return true;
}

bool SimMemory::cellOf(const std::string& path, const uint32_t* indexes, uint32_t count, SimCell* cell) const
{
    const int32_t index = indexOfPath(path);
    if (index < 0 || count != m_params[static_cast<size_t>(index)].depth)
        return false;
    cell->index = index;
    cell->x = static_cast<int32_t>(indexes[count - 1]);
    cell->y = count >= 2 ? static_cast<int32_t>(indexes[count - 2]) : 0;
    return validCell(cell->index, cell->x, cell->y);
}

JResult SimMemory::read(const SimCell& cell, JVariant* value)
{
    uint32_t indexes[MMS::MMS_MAX_DEPTH], count = 0;
    if (!indexesOf(cell, indexes, &count))
        return MMS::MMS_E_ARG;
    const SimParam& p = m_params[static_cast<size_t>(cell.index)];
    JVariant raw;
    const JResult rc = m_field->getValueByName(
        &raw, nullptr, nullptr, p.path.c_str(), static_cast<uint32_t>(p.path.size()), indexes, count, false, 0);
    if (rc < 0)
        return rc;
    switch (raw.type()) {
    case JLIB::JVARIANT_STRING:
        *value = raw;
        return 0;
    case JLIB::JVARIANT_INT32:
    case JLIB::JVARIANT_UINT32:
        // Every number of the layout fits in 32 signed bits (uint32 limits
        // stay below 2^31), which is what a line carries.
        value->setInt32(static_cast<int32_t>(raw.toInteger()));
        return 0;
    default:
        return MMS::MMS_E_UNSUPPORTED;
    }
}

JResult SimMemory::write(const SimCell& cell, const JVariant& value, uint8_t source)
{
    uint32_t indexes[MMS::MMS_MAX_DEPTH], count = 0;
    if (!indexesOf(cell, indexes, &count))
        return MMS::MMS_E_ARG;
    const SimParam& p = m_params[static_cast<size_t>(cell.index)];
    MMS::WriterOptions writer;
    writer.source = source;
    writer.own = false;
    writer.key = source;
    JVariant typed(value);
    if (p.type != MMS::PARAM_STRING && value.type() == JLIB::JVARIANT_INT32 && MMS::paramTypeUnsigned(p.type)) {
        const int32_t v = static_cast<int32_t>(value.toInteger());
        if (v < 0)
            return MMS::MMS_E_REFUSED;
        typed.setUInt32(static_cast<uint32_t>(v));
    }
    return m_field->setValueByName(
        typed, nullptr, p.path.c_str(), static_cast<uint32_t>(p.path.size()), indexes, count, writer);
}

std::string SimMemory::valueText(const SimCell& cell)
{
    JVariant v;
    if (read(cell, &v) < 0)
        return "?";
    if (v.type() == JLIB::JVARIANT_STRING) {
        const char* s = v.getString();
        return s ? s : "";
    }
    return std::to_string(static_cast<int32_t>(v.toInteger()));
}

bool SimMemory::nextChanged(uint32_t key, SimCell* cell)
{
    // With clear set, the walk from the start always finds the next one
    // still marked; an element the layout maps to no cell is skipped.
    for (size_t guard = 0; guard <= cellCount(); ++guard) {
        char path[160];
        uint32_t indexes[MMS::MMS_MAX_DEPTH], count = 0;
        if (m_field->getNextChangedByName(
                path, sizeof path, indexes, &count, MMS::MMS_MAX_DEPTH, nullptr, "", 0, nullptr, 0, true, key, false)
            < 0)
            return false;
        if (cellOf(path, indexes, count, cell))
            return true;
    }
    return false;
}

std::vector<SimCell> SimMemory::drainChanged(uint32_t key)
{
    std::vector<SimCell> out;
    SimCell cell;
    while (out.size() <= cellCount() && nextChanged(key, &cell))
        out.push_back(cell);
    return out;
}

size_t SimMemory::cellCount() const
{
    size_t n = 0;
    for (const SimParam& p : m_params)
        n += static_cast<size_t>(p.xCount) * static_cast<size_t>(p.yCount);
    return n;
}

// ---------------------------------------------------------------------------

JResult SimParameter::indexOf(int32_t& index, const SCP::ScpText& address)
{
    std::string a = toUtf8(address);
    // JSON lines may carry the name in quotes.
    if (a.size() >= 2 && a.front() == '"' && a.back() == '"')
        a = a.substr(1, a.size() - 2);
    index = m_memory.indexOfAddress(a);
    return index < 0 ? SCP::SCP_E_INDEX : SCP::SCP_OK;
}

JResult SimParameter::nameOf(SCP::ScpText& address, int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_memory.params().size())
        return SCP::SCP_E_INDEX;
    fromUtf8(address, m_memory.params()[static_cast<size_t>(index)].address);
    return SCP::SCP_OK;
}

JResult SimParameter::getParameterCount(int32_t& count)
{
    count = static_cast<int32_t>(m_memory.params().size());
    return SCP::SCP_OK;
}

JResult SimParameter::storeValue(int32_t, int32_t index, int32_t x, int32_t y, const JVariant& value)
{
    ++m_stores;
    const JResult rc = m_memory.write(SimCell{index, x, y}, value, m_source);
    if (rc < 0)
        return rc == MMS::MMS_E_ARG && !m_memory.validCell(index, x, y) ? SCP::SCP_E_INDEX : SCP::SCP_E_ARG;
    if (rc & MMS::MMS_CHANGED) {
        ++m_changed;
        return 1;
    }
    return 0;
}

JResult SimParameter::storeText(int32_t id, int32_t index, int32_t x, int32_t y, const SCP::ScpText& text)
{
    if (!m_memory.validCell(index, x, y))
        return SCP::SCP_E_INDEX;
    const std::string s = toUtf8(text);
    if (m_memory.params()[static_cast<size_t>(index)].type == MMS::PARAM_STRING)
        return storeValue(id, index, x, y, JVariant(s.c_str(), static_cast<uint32_t>(s.size())));
    // A number parameter takes its decimal text.
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || v < INT32_MIN || v > INT32_MAX)
        return SCP::SCP_E_ARG;
    return storeValue(id, index, x, y, JVariant(static_cast<int32_t>(v)));
}

const SimParam* SimParameter::scalable(int32_t index, int32_t x, int32_t y) const
{
    if (!m_memory.validCell(index, x, y))
        return nullptr;
    const SimParam& p = m_memory.params()[static_cast<size_t>(index)];
    return p.maximum > p.minimum ? &p : nullptr;
}

// Normalized values run from 0 to the resolution over the parameter's range,
// rounded to the nearest step.
JResult SimParameter::storeNormalized(
    int32_t id, int32_t index, int32_t x, int32_t y, int32_t value, uint32_t resolution)
{
    if (!m_memory.validCell(index, x, y))
        return SCP::SCP_E_INDEX;
    const SimParam* p = scalable(index, x, y);
    if (!p || resolution == 0 || value < 0 || static_cast<uint32_t>(value) > resolution)
        return SCP::SCP_E_ARG;
    // 128 bits: a 32-bit resolution times a 32-bit span does not fit 64.
    const __int128 span = p->maximum - p->minimum;
    const int64_t raw = p->minimum + static_cast<int64_t>((value * span + resolution / 2) / resolution);
    if (MMS::paramTypeSigned(p->type))
        return storeValue(id, index, x, y, JVariant(static_cast<int32_t>(raw)));
    return storeValue(id, index, x, y, JVariant(static_cast<uint32_t>(raw)));
}

JResult SimParameter::readNormalized(int32_t& value, uint32_t resolution, int32_t index, int32_t x, int32_t y)
{
    value = 0;
    if (!m_memory.validCell(index, x, y))
        return SCP::SCP_E_INDEX;
    const SimParam* p = scalable(index, x, y);
    JVariant raw;
    if (!p || resolution == 0 || m_memory.read(SimCell{index, x, y}, &raw) < 0)
        return SCP::SCP_E_ARG;
    const __int128 span = p->maximum - p->minimum;
    const __int128 offset = variantNumber(raw, p->type, p->minimum) - p->minimum;
    value = static_cast<int32_t>((offset * resolution + span / 2) / span);
    return SCP::SCP_OK;
}

JResult SimParameter::readValue(JVariant& value, int32_t index, int32_t x, int32_t y)
{
    if (!m_memory.validCell(index, x, y))
        return SCP::SCP_E_INDEX;
    return m_memory.read(SimCell{index, x, y}, &value) < 0 ? SCP::SCP_E_FAIL : SCP::SCP_OK;
}

JResult SimParameter::readText(SCP::ScpText& text, int32_t index, int32_t x, int32_t y)
{
    if (!m_memory.validCell(index, x, y))
        return SCP::SCP_E_INDEX;
    fromUtf8(text, m_memory.valueText(SimCell{index, x, y}));
    return SCP::SCP_OK;
}

JResult SimParameter::parameterInfo(SCP::ScpParameterInfo& info, int32_t index)
{
    info.clear();
    if (index < 0 || static_cast<size_t>(index) >= m_memory.params().size())
        return SCP::SCP_E_INDEX;
    const SimParam& p = m_memory.params()[static_cast<size_t>(index)];
    for (size_t i = 0; i < p.address.size() && i < SCP::SCP_ALNUM_MAX; ++i)
        info.address[i] = static_cast<char16_t>(p.address[i]);
    info.xCount = p.xCount;
    info.yCount = p.yCount;
    info.type = p.type == MMS::PARAM_STRING ? 2 : 0;
    info.minimum = static_cast<int32_t>(p.minimum);
    info.maximum = static_cast<int32_t>(p.maximum);
    info.defaultValue = static_cast<int32_t>(p.defaultValue);
    info.scaling = 1;
    return SCP::SCP_OK;
}

} // namespace simtest
