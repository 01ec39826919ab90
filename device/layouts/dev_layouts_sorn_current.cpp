// Sorn "Current": unit state, network settings and the four card slots.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutSornCurrent[]
    = R"xml(<function name="Current" collections="3" parameters="26" datasize="65" stringsize="2">
  <collections>
    <collection name="Dev" datasize="37" arraysize="1">
      <parameter name="WordClockSelect" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>3</maximum>
        <default>0</default>
      </parameter>
      <parameter name="MasterWCLKLockStatus" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="RoutingPattern" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>7</maximum>
        <default>0</default>
      </parameter>
      <parameter name="PowerOn" type="uint8_t" arraysize="2">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="PanelLock" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="UserPatch" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>255</maximum>
        <default>0</default>
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
      <parameter name="SystemStatus" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>11</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SyncStatus" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>12</maximum>
        <default>0</default>
      </parameter>
      <parameter name="QuillonFWUpdateMode" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="QuillonFWUpdateProgress" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>100</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="Slot" datasize="7" arraysize="4">
      <parameter name="SRCOn" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SRCSource" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SLOTLockStatus" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>4</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CardName" type="string" arraysize="1">
        <minimum>0</minimum>
        <maximum>0x7f</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SLOTInputPortNum" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>16</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SLOTOutputPortNum" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>16</maximum>
        <default>0</default>
      </parameter>
      <parameter name="SRCLockStatus" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CardSRCEnable" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
