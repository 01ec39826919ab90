#include "device/dev_iofamily.h"

#include "jlib/jvariant.h"

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

JResult resetRowsToDefaults(
    IZDev* device, uint8_t source, const ScpPathFormat* formats, const int32_t* indices, size_t count)
{
    if (!device || !formats || !indices)
        return ADAPTER_E_FAIL;
    for (size_t k = 0; k < count; ++k) {
        const ScpPathFormat& format = formats[indices[k]];
        QString p;
        JLIB::JVariant value;
        if (formatMemPath(format.format, {0, 0, 0, 0}, &p) < 0 || device->getDefault(p, &value, false) < 0)
            continue;
        for (int32_t i = 0; i < format.collections; ++i)
            for (int32_t j = 0; j < format.elements; ++j)
                if (formatMemPath(format.format, {i, j, 0, 0}, &p) >= 0)
                    device->setValue(p, value, source);
    }
    return 0;
}

bool errorIsNothing(ScpDeviceReporter_Quil& reporter)
{
    JLIB::JVariant error;
    if (reporter.readInfo("error", &error) < 0)
        return false;
    const char* text = error.getString();
    return text && qstricmp(text, "nothing") == 0;
}

} // namespace Quil
