#include "device/memory/dev_mmsaccessor.h"

#include "mms/mms_lockedfield.h"
#include "mms/mms_paramtype.h"
#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <vector>

namespace Quil {
namespace {

uint32_t lengthOf(const char* text)
{
    return text ? static_cast<uint32_t>(std::strlen(text)) : 0;
}

// The walk's buffers: a name path of at most 255 characters, 10 indexes.
constexpr uint32_t kWalkPathSize = 256;
constexpr uint32_t kWalkIndexes = 10;

} // namespace

MMSAccessor::MMSAccessor(QObject* parent, MMS::Field* field, const char* function, uint32_t key)
    : QObject(parent)
    , m_key(key)
    , m_function(function ? function : "")
    , m_field(field)
{
}

JResult MMSAccessor::setNotifier(IMMSNotifier* notifier)
{
    m_notifier = notifier;
    return DEV_OK;
}

JResult MMSAccessor::setSourceMode(uint8_t source, uint8_t mode)
{
    m_sourceModes[source] = mode;
    return DEV_OK;
}

uint8_t MMSAccessor::sourceMode(uint8_t source) const
{
    const auto it = m_sourceModes.find(source);
    return it == m_sourceModes.end() ? static_cast<uint8_t>(MARK_ALL) : it->second;
}

JResult MMSAccessor::write(
    const JLIB::JVariant& value, const char* namePath, const uint32_t* indexes, uint32_t count, uint8_t source) const
{
    if (!m_field)
        return DEV_E_FAIL;
    MMS::WriterOptions writer;
    writer.source = source;
    writer.own = sourceMode(source) == MARK_ALL;
    writer.conv = 0; // clamp, never refuse, out-of-range values
    writer.key = source;
    return m_field->setValueByName(value, m_function.c_str(), namePath, lengthOf(namePath), indexes, count, writer);
}

JResult MMSAccessor::read(JLIB::JVariant* out, const char* namePath, const uint32_t* indexes, uint32_t count) const
{
    if (!m_field)
        return DEV_E_FAIL;
    uint8_t source = 0;
    return m_field->getValueByName(
        out, &source, m_function.c_str(), namePath, lengthOf(namePath), indexes, count, false, m_key);
}

JResult MMSAccessor::readChangeFlag(
    uint8_t* changed, const char* namePath, const uint32_t* indexes, uint32_t count, uint8_t source) const
{
    if (!m_field)
        return DEV_E_FAIL;
    return m_field->isChangedByName(
        changed, m_function.c_str(), namePath, lengthOf(namePath), indexes, count, true, source);
}

bool MMSAccessor::hasChangeMarks(uint8_t source) const
{
    if (!m_field)
        return false;
    uint32_t tags[kWalkIndexes] = {};
    uint32_t indexes[kWalkIndexes] = {};
    uint32_t count = 0;
    const JResult r = m_field->getNextChanged(
        tags, indexes, &count, kWalkIndexes, m_function.c_str(), nullptr, nullptr, 0, false, source);
    // "None", or no change page for the key in this function (a function
    // the key never listens to holds no marks for it). Any other answer
    // makes the caller look element by element, as it would without asking.
    return r != MMS::MMS_E_NO_MATCH && r != MMS::MMS_E_ARG;
}

JResult MMSAccessor::changedElements(uint8_t source, size_t max, std::vector<MemAddress>* out) const
{
    if (!m_field || !out)
        return DEV_E_FAIL;
    out->clear();
    char path[kWalkPathSize] = {};
    uint32_t indexes[kWalkIndexes] = {};
    uint32_t count = 0;
    const char* previous = "";
    const uint32_t* previousIndexes = nullptr;
    uint32_t previousCount = 0;
    while (m_field->getNextChangedByName(path, sizeof path, indexes, &count, kWalkIndexes, m_function.c_str(), previous,
               lengthOf(previous), previousIndexes, previousCount, false, source, false)
        >= 0) {
        if (out->size() >= max)
            return DEV_E_FAIL;
        out->push_back(MemAddress{m_function, path, std::vector<uint32_t>(indexes, indexes + count)});
        const MemAddress& last = out->back();
        previous = last.namePath.c_str();
        previousIndexes = last.indexes.data();
        previousCount = static_cast<uint32_t>(last.indexes.size());
    }
    return DEV_OK;
}

JResult MMSAccessor::getMinimum(JLIB::JVariant* out, const char* namePath) const
{
    return m_field ? m_field->getMinimumByName(out, m_function.c_str(), namePath, lengthOf(namePath)) : DEV_E_FAIL;
}

JResult MMSAccessor::getMaximum(JLIB::JVariant* out, const char* namePath) const
{
    return m_field ? m_field->getMaximumByName(out, m_function.c_str(), namePath, lengthOf(namePath)) : DEV_E_FAIL;
}

JResult MMSAccessor::getDefault(JLIB::JVariant* out, const char* namePath) const
{
    return m_field ? m_field->getDefaultByName(out, m_function.c_str(), namePath, lengthOf(namePath)) : DEV_E_FAIL;
}

JResult MMSAccessor::getNominal(JLIB::JVariant* out, const char* namePath) const
{
    return m_field ? m_field->getNominalByName(out, m_function.c_str(), namePath, lengthOf(namePath)) : DEV_E_FAIL;
}

JResult MMSAccessor::importImage(const uint8_t* data, uint32_t length) const
{
    if (!m_field)
        return DEV_E_FAIL;
    if (!data || length == 0)
        return MMS::MMS_E_ARG;
    // The import converts the bytes in place; the caller's stay as they are.
    std::vector<uint8_t> copy(data, data + length);
    MMS::WriterOptions writer;
    writer.source = SOURCE_UI;
    writer.own = sourceMode(SOURCE_UI) == MARK_ALL;
    writer.key = SOURCE_UI;
    return m_field->importImageByName(
        copy.data(), length, nullptr, 0, m_function.c_str(), nullptr, 0, nullptr, 0, 0, writer);
}

JResult MMSAccessor::notifyChange(
    const char* function, const char* namePath, const uint32_t* indexes, uint32_t count, uint32_t key)
{
    if (!m_notifier)
        return DEV_E_FAIL;
    m_notifier->notify(function, namePath, indexes, count, key);
    return DEV_OK;
}

void MMSAccessor::update()
{
    if (!m_field)
        return;
    uint32_t parameters = 0;
    if (m_field->getParameterCount(&parameters, m_function.c_str()) < 0)
        return;
    char path[kWalkPathSize] = {};
    char previous[kWalkPathSize] = {};
    uint32_t indexes[kWalkIndexes] = {};
    uint32_t previousIndexes[kWalkIndexes] = {};
    uint32_t count = 0;
    uint32_t previousCount = 0;
    // Each answer clears its mark, so the walk ends: at most once per
    // element, plus the final miss.
    while (m_field->getNextChangedByName(path, sizeof path, indexes, &count, kWalkIndexes, m_function.c_str(), previous,
               lengthOf(previous), previousIndexes, previousCount, true, m_key, false)
        >= 0) {
        notifyChange(m_function.c_str(), path, indexes, count, m_key);
        std::memcpy(previous, path, sizeof previous);
        std::memcpy(previousIndexes, indexes, sizeof previousIndexes);
        previousCount = count;
    }
}

} // namespace Quil
