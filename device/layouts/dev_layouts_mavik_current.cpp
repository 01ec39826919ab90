// Mavik "Current": unit state, network settings, clocks and rate converters.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutMavikCurrent[]
    = R"xml(<function name="Current" collections="16" parameters="47" datasize="47" stringsize="0">
  <collections>
    <collection name="Dev" datasize="36" arraysize="1">
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
      <collection name="MasterWCLK" datasize="2" arraysize="1">
        <parameter name="Sel" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>2</maximum>
          <default>0</default>
        </parameter>
        <parameter name="Fs" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>5</maximum>
          <default>1</default>
        </parameter>
      </collection>
      <collection name="MasterWCLK_Dante" datasize="2" arraysize="1">
        <parameter name="Fs" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>5</maximum>
          <default>1</default>
        </parameter>
        <parameter name="LockUnlock" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>1</maximum>
          <default>0</default>
        </parameter>
      </collection>
      <collection name="MasterWCLK_MADI" datasize="1" arraysize="1">
        <parameter name="LockUnlock" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>1</maximum>
          <default>0</default>
        </parameter>
      </collection>
      <collection name="MasterWCLK_WCLKIN" datasize="1" arraysize="1">
        <parameter name="LockUnlock" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>1</maximum>
          <default>0</default>
        </parameter>
      </collection>
      <collection name="ExtCtrl" datasize="1" arraysize="1">
        <parameter name="On" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>1</maximum>
          <default>0</default>
        </parameter>
      </collection>
      <collection name="Meter" datasize="1" arraysize="1">
        <parameter name="Select" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>4</maximum>
          <default>0</default>
        </parameter>
      </collection>
    </collection>
    <collection name="SRC" datasize="1" arraysize="1">
      <parameter name="On" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="SRCInputClock" datasize="1" arraysize="1">
      <parameter name="Source" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="SRCClock_MADI" datasize="1" arraysize="1">
      <parameter name="LockUnlock" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="SRCClock_WCLKIN" datasize="1" arraysize="1">
      <parameter name="LockUnlock" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="SRCOutputClock" datasize="1" arraysize="1">
      <parameter name="Source" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="InputRate" datasize="2" arraysize="1">
      <parameter name="Fs" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="FsRate" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>2</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="InStatus" datasize="2" arraysize="1">
      <parameter name="Frame" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>2</maximum>
        <default>2</default>
      </parameter>
      <parameter name="Channel" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>2</maximum>
        <default>2</default>
      </parameter>
    </collection>
    <collection name="OutStatus" datasize="2" arraysize="1">
      <parameter name="Frame" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>2</maximum>
        <default>0</default>
      </parameter>
      <parameter name="Channel" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>2</maximum>
        <default>0</default>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
