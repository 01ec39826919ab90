// The DataInfo record a unit's setup block carries as its option data:
// version, family text, unit id, model name and the function the block's
// image belongs to, held in a small memory function of its own.
//
//   "DataInfo/Version"    uint32  256
//   "DataInfo/ModelType"  text    "Brox" or "Sorn"
//   "DataInfo/UnitID"     uint32  slot index + 1 (0..31)
//   "DataInfo/ModelName"  text    "BroxL-D", ...
//   "DataInfo/MMSField"   text    "Backup"
#pragma once

#include "device/memory/dev_result.h"

#include <cstdint>
#include <memory>

namespace JLIB {
class JVariant;
}
namespace MMS {
class Field;
}

namespace Quil {

extern const char kDataInfoLayout[];

// Every operation gives DEV_E_FAIL when the record could not be built;
// otherwise the memory's own result.
class ZMBDFMMSOptionData {
public:
    ZMBDFMMSOptionData();
    ~ZMBDFMMSOptionData();
    ZMBDFMMSOptionData(const ZMBDFMMSOptionData&) = delete;
    ZMBDFMMSOptionData& operator=(const ZMBDFMMSOptionData&) = delete;

    bool isValid() const { return m_field != nullptr; }
    MMS::Field* field() const { return m_field.get(); }

    JResult setValue(const char* path, const JLIB::JVariant& value);
    JResult getValue(const char* path, JLIB::JVariant* out) const;
    // Size of the exported image, and the image into a buffer of that size.
    JResult dataSize(uint32_t* out) const;
    JResult exportData(uint8_t* buffer, uint32_t size) const;
    // Loads the record from an image (copied first: the caller's bytes stay
    // as they are). A refused image leaves the record as it was.
    JResult importData(const uint8_t* data, uint32_t length);

private:
    std::unique_ptr<MMS::Field> m_field;
};

} // namespace Quil
