// "DevState" of every family: connection state and requests of the device link.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutDevState[]
    = R"xml(<function name="DevState" collections="2" parameters="5" datasize="5" stringsize="0">
  <collections>
    <collection name="devstate" datasize="5" arraysize="1">
      <parameter name="ConnectionState" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>3</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SlotState" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>2</maximum>
        <default>0</default>
      </parameter>
      <parameter name="ConnectReq" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="DisconnectReq" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="DeviceNum" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>125</maximum>
        <default>0</default>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
