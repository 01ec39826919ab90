#include "device/memory/dev_memobject.h"

#include "device/memory/dev_notifier.h"
#include "pbd/jlib/jvariant.h"

namespace Quil {
namespace {

uint32_t countOf(const MemAddress& address)
{
    return static_cast<uint32_t>(address.indexes.size());
}

} // namespace

ZMemObject::ZMemObject(QObject* parent, MMSArchiver* archiver)
    : QObject(parent)
    , m_archiver(archiver)
{
}

ZMemObject::~ZMemObject() = default;

void ZMemObject::setNotifier(MemNotifier* notifier)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_notifier = notifier;
}

MMSAccessor* ZMemObject::accessor(const QString& functionName) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_accessors.find(functionName);
    return it == m_accessors.end() ? nullptr : it->second.get();
}

MMSAccessor* ZMemObject::accessorOf(const MemAddress& address) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_byFunction.find(address.function);
    return it == m_byFunction.end() ? nullptr : it->second;
}

void ZMemObject::addAccessor(const QString& functionName, std::unique_ptr<MMSAccessor> accessor)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_byFunction[functionName.toStdString()] = accessor.get();
    m_accessors[functionName] = std::move(accessor);
}

JResult ZMemObject::setValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    return setRawValue(address, value, source);
}

JResult ZMemObject::setRawValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    MMSAccessor* accessor = accessorOf(address);
    if (!accessor)
        return DEV_E_FAIL;
    return accessor->write(value, address.namePath.c_str(), address.indexes.data(), countOf(address), source);
}

JResult ZMemObject::loadSetup(const FILECACHE::MBDFAbstractBlock*)
{
    return DEV_E_FAIL;
}

JResult ZMemObject::saveSetup(int, const QString&, MMSFUNC::MBDFMMSFieldBlock*)
{
    return DEV_E_FAIL;
}

JResult ZMemObject::getNominal(const MemAddress& address, JLIB::JVariant* out)
{
    MMSAccessor* accessor = accessorOf(address);
    return accessor ? accessor->getNominal(out, address.namePath.c_str()) : DEV_E_FAIL;
}

JResult ZMemObject::initAccessors(MMSArchiver*)
{
    return DEV_OK;
}

JResult ZMemObject::getValue(const MemAddress& address, JLIB::JVariant* out) const
{
    MMSAccessor* accessor = accessorOf(address);
    return accessor ? accessor->read(out, address.namePath.c_str(), address.indexes.data(), countOf(address))
                    : DEV_E_FAIL;
}

JResult ZMemObject::getMinimum(const MemAddress& address, JLIB::JVariant* out) const
{
    MMSAccessor* accessor = accessorOf(address);
    return accessor ? accessor->getMinimum(out, address.namePath.c_str()) : DEV_E_FAIL;
}

JResult ZMemObject::getMaximum(const MemAddress& address, JLIB::JVariant* out) const
{
    MMSAccessor* accessor = accessorOf(address);
    return accessor ? accessor->getMaximum(out, address.namePath.c_str()) : DEV_E_FAIL;
}

JResult ZMemObject::getDefault(const MemAddress& address, JLIB::JVariant* out, bool nominal)
{
    if (nominal)
        return getNominal(address, out);
    MMSAccessor* accessor = accessorOf(address);
    return accessor ? accessor->getDefault(out, address.namePath.c_str()) : DEV_E_FAIL;
}

JResult ZMemObject::readChangeFlag(const MemAddress& address, uint8_t* changed, uint8_t source) const
{
    MMSAccessor* accessor = accessorOf(address);
    return accessor
        ? accessor->readChangeFlag(changed, address.namePath.c_str(), address.indexes.data(), countOf(address), source)
        : DEV_E_FAIL;
}

bool ZMemObject::hasChangeMarks(const QString& functionName, uint8_t source) const
{
    const MMSAccessor* found = accessor(functionName);
    return found && found->hasChangeMarks(source);
}

JResult ZMemObject::changedElements(
    const QString& functionName, uint8_t source, size_t max, std::vector<MemAddress>* out) const
{
    const MMSAccessor* found = accessor(functionName);
    return found ? found->changedElements(source, max, out) : DEV_E_FAIL;
}

JResult ZMemObject::notify(
    const char* functionName, const char* namePath, const uint32_t* indexes, uint32_t indexCount, uint32_t key)
{
    // Called from the walk, which holds the lock already.
    if (!m_notifier)
        return DEV_E_FAIL;
    QString path;
    buildMemPath(functionName, namePath, indexes, indexCount, &path);
    m_notifier->notify(path, key);
    return DEV_OK;
}

void ZMemObject::slotMemChanged()
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& entry : m_accessors)
        entry.second->update();
}

} // namespace Quil
