#include "device/memory/dev_optiondata.h"

#include "mms/mms_loader.h"
#include "mms/mms_lockedfield.h"
#include "mms/mms_paramtype.h"
#include "mmsfield/mmsfield_block.h"
#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <vector>

namespace Quil {

const char kDataInfoLayout[]
    = R"xml(<function name="DataInfo" collections="2" parameters="5" datasize="56" stringsize="0">
  <collections>
    <collection name="DataInfo" datasize="56" arraysize="1">
      <parameter name="Version" type="uint32_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>0xffffffff</maximum>
        <default>0</default>
      </parameter>
      <parameter name="ModelType" type="string" arraysize="1">
        <maximum>12</maximum>
      </parameter>
      <parameter name="UnitID" type="uint32_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>31</maximum>
        <default>0</default>
      </parameter>
      <parameter name="ModelName" type="string" arraysize="1">
        <maximum>24</maximum>
      </parameter>
      <parameter name="MMSField" type="string" arraysize="1">
        <maximum>12</maximum>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

namespace {

constexpr const char* kFunction = "DataInfo";
// Every value sits at element 0 of collection element 0.
constexpr uint32_t kIndexes[2] = {0, 0};

uint32_t optionLengthOf(const char* text)
{
    return static_cast<uint32_t>(std::strlen(text));
}

} // namespace

ZMBDFMMSOptionData::ZMBDFMMSOptionData()
{
    // Private to this record: no trigger, no locks.
    auto field = std::make_unique<MMS::Field>(nullptr, nullptr);
    const JResult r
        = MMS::mms_loadDefinitionFromMemory(field.get(), nullptr, 0, kFunction, optionLengthOf(kFunction) + 1,
            kDataInfoLayout, static_cast<uint32_t>(sizeof kDataInfoLayout), MMS::LOAD_ACTIVATE);
    if (r >= 0)
        m_field = std::move(field);
}

ZMBDFMMSOptionData::~ZMBDFMMSOptionData() = default;

JResult ZMBDFMMSOptionData::setValue(const char* path, const JLIB::JVariant& value)
{
    if (!m_field || !path)
        return DEV_E_FAIL;
    return m_field->setValueByName(value, kFunction, path, optionLengthOf(path), kIndexes, 2, MMS::WriterOptions());
}

JResult ZMBDFMMSOptionData::getValue(const char* path, JLIB::JVariant* out) const
{
    if (!m_field || !path)
        return DEV_E_FAIL;
    uint8_t source = 0;
    return m_field->getValueByName(out, &source, kFunction, path, optionLengthOf(path), kIndexes, 2, false, 0);
}

JResult ZMBDFMMSOptionData::dataSize(uint32_t* out) const
{
    if (!m_field)
        return DEV_E_FAIL;
    return m_field->getImageSizeByName(out, kFunction, nullptr, 0);
}

JResult ZMBDFMMSOptionData::exportData(uint8_t* buffer, uint32_t size) const
{
    if (!m_field)
        return DEV_E_FAIL;
    uint32_t length = 0;
    return m_field->exportImageByName(
        buffer, &length, size, kFunction, nullptr, 0, nullptr, 0, MMSFUNC::MBDF_MMS_FIELD_ORDER);
}

JResult ZMBDFMMSOptionData::importData(const uint8_t* data, uint32_t length)
{
    if (!m_field)
        return DEV_E_FAIL;
    if (!data || length == 0)
        return MMS::MMS_E_ARG;
    std::vector<uint8_t> copy(data, data + length);
    return m_field->importImageByName(
        copy.data(), length, nullptr, 0, kFunction, nullptr, 0, nullptr, 0, 0, MMS::WriterOptions());
}

} // namespace Quil
