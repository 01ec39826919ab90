#include "device/link/dev_iofamily.h"

#include "pbd/jlib/jvariant.h"

#include <new>

namespace Quil {

IoAssoSeq::IoAssoSeq(const IoAssoRow* rows, size_t count)
{
    try {
        m_blocks.reserve(count);
    } catch (const std::bad_alloc&) {
        return;
    }
    int32_t first = 0;
    for (size_t i = 0; i < count; ++i) {
        // A block without its range would shift every later step.
        if (addRange(first, rows[i].elements) < 0)
            return;
        m_blocks.push_back({SCP::SCP_STEP_GET, rows[i].index});
        first += rows[i].elements;
    }
}

const AssoBlockRow* IoAssoSeq::blockRow(int32_t block) const
{
    return block >= 0 && block < blockCount() ? &m_blocks[static_cast<size_t>(block)] : nullptr;
}

int32_t IoAssoSeq::blockCount() const
{
    return static_cast<int32_t>(m_blocks.size());
}

ScpParameter_Io::ScpParameter_Io(const IoParamTables& tables, QObject* parent)
    : ScpParameter_Quil(parent)
    , m_tables(tables)
{
}

JResult ScpParameter_Io::getParameterCount(int32_t& count)
{
    count = m_tables.count;
    return 0;
}

bool ScpParameter_Io::isValidIndex(int32_t index) const
{
    return index >= 0 && index < m_tables.count;
}

const ScpParamRow* ScpParameter_Io::row(int32_t index) const
{
    return isValidIndex(index) ? &m_tables.rows[index] : nullptr;
}

const ScpPathFormat* ScpParameter_Io::pathFormat(int32_t index) const
{
    return isValidIndex(index) ? &m_tables.formats[index] : nullptr;
}

// Each listed row's default goes to every (collection, element) of the row;
// a row without a default is skipped.
JResult ScpParameter_Io::applyResetList()
{
    IZDev* dev = device();
    if (!dev)
        return ADAPTER_E_FAIL;
    for (size_t k = 0; k < m_tables.resetCount; ++k) {
        const ScpPathFormat* format = pathFormat(m_tables.resetList[k]);
        QString p;
        JLIB::JVariant value;
        if (!format || formatMemPath(format->format, {0, 0, 0, 0}, &p) < 0 || dev->getDefault(p, &value, false) < 0)
            continue;
        for (int32_t i = 0; i < format->collections; ++i)
            for (int32_t j = 0; j < format->elements; ++j)
                if (formatMemPath(format->format, {i, j, 0, 0}, &p) >= 0)
                    dev->setValue(p, value, source());
    }
    return 0;
}

bool ScpDeviceReporter_Io::acceptNegotiation()
{
    JLIB::JVariant error;
    if (readInfo("error", &error) < 0)
        return false;
    const char* text = error.getString();
    return text && qstricmp(text, "nothing") == 0;
}

} // namespace Quil
