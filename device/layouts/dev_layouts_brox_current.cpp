// Brox and Pell "Current": unit-wide state and network settings.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutBroxCurrent[]
    = R"xml(<function name="Current" collections="2" parameters="17" datasize="41" stringsize="0">
  <collections>
    <collection name="Dev" datasize="41" arraysize="1">
      <parameter name="48VMasterOn" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="48VLeaderOn" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="48VActiveOn" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="MuteOn" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="WordclockFs" type="int32_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>192000</maximum>
        <default>96000</default>
      </parameter>
      <parameter name="OutputImpedance" type="string" arraysize="1">
        <maximum>4</maximum>
      </parameter>
      <parameter name="CurrIPSelectMode" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>3</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurrIPAddress" type="uint8_t" arraysize="4">
        <minimum>0</minimum>
        <maximum>255</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurrSubnetMask" type="uint8_t" arraysize="4">
        <minimum>0</minimum>
        <maximum>255</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurrDefaultGateway" type="uint8_t" arraysize="4">
        <minimum>0</minimum>
        <maximum>255</maximum>
        <default>0</default>
      </parameter>
      <parameter name="NextIPSelectMode" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>3</maximum>
        <default>0</default>
      </parameter>
      <parameter name="NextIPAddress" type="uint8_t" arraysize="4">
        <minimum>0</minimum>
        <maximum>255</maximum>
        <default>0</default>
      </parameter>
      <parameter name="NextSubnetMask" type="uint8_t" arraysize="4">
        <minimum>0</minimum>
        <maximum>255</maximum>
        <default>0</default>
      </parameter>
      <parameter name="NextDefaultGateway" type="uint8_t" arraysize="4">
        <minimum>0</minimum>
        <maximum>255</maximum>
        <default>0</default>
      </parameter>
      <parameter name="ExecMode" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>2</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SystemStatus" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>13</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SyncStatus" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>13</maximum>
        <default>0</default>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
