#include "device/memory/dev_mmsarchiver.h"

#include "mms/mms_loader.h"

#include <cstring>
#include <new>

namespace Quil {

MMSArchiver::MMSArchiver(QObject* parent)
    : QObject(parent)
    , m_mutex(new (std::nothrow) MMSMutex)
{
}

MMSArchiver::~MMSArchiver()
{
    m_fields.clear();
    m_mutex.reset();
}

template <class Load> JResult MMSArchiver::load(const char* functionName, Load loadInto)
{
    if (!functionName)
        return DEV_E_FAIL;
    const QString name = QString::fromUtf8(functionName);
    if (m_fields.count(name) || !m_mutex)
        return DEV_E_FAIL;
    auto field = std::make_unique<MMS::Field>(this, m_mutex.get());
    const JResult result = loadInto(field.get(), static_cast<uint32_t>(std::strlen(functionName) + 1));
    if (result < 0)
        return result;
    m_fields.emplace(name, std::move(field));
    return result;
}

JResult MMSArchiver::loadDefinitionFile(const char* directory, const char* file, const char* functionName)
{
    if (!directory || !file)
        return DEV_E_FAIL;
    return load(functionName, [&](MMS::Field* field, uint32_t nameLength) {
        return MMS::mms_loadDefinitionFromFile(field, nullptr, 0, functionName, nameLength, directory,
            static_cast<uint32_t>(std::strlen(directory)), file, static_cast<uint32_t>(std::strlen(file)),
            MMS::LOAD_ACTIVATE);
    });
}

JResult MMSArchiver::loadDefinitionText(const char* text, uint32_t length, const char* functionName)
{
    if (!text || length == 0)
        return DEV_E_FAIL;
    return load(functionName, [&](MMS::Field* field, uint32_t nameLength) {
        return MMS::mms_loadDefinitionFromMemory(
            field, nullptr, 0, functionName, nameLength, text, length, MMS::LOAD_ACTIVATE);
    });
}

MMS::Field* MMSArchiver::field(const QString& functionName) const
{
    const auto it = m_fields.find(functionName);
    return it == m_fields.end() ? nullptr : it->second.get();
}

JResult MMSArchiver::trigger(uint32_t, uint32_t, const MMS::TaskListIdentity&)
{
    emit update();
    return 0;
}

} // namespace Quil
