// "DevInfo" of every family: what the unit reports about itself.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutDevInfo[]
    = R"xml(<function name="DevInfo" collections="4" parameters="13" datasize="100" stringsize="0">
  <collections>
    <collection name="devstatus" datasize="64" arraysize="1">
      <parameter name="runmode" type="string" arraysize="1">
        <maximum>32</maximum>
      </parameter>
      <parameter name="error" type="string" arraysize="1">
        <maximum>32</maximum>
      </parameter>
    </collection>
    <collection name="scpmode" datasize="4" arraysize="1">
      <parameter name="keepalive" type="uint32_t" arraysize="1">
        <minimum>1000</minimum>
        <maximum>600000</maximum>
        <default>10000</default>
      </parameter>
    </collection>
    <collection name="devinfo" datasize="32" arraysize="1">
      <parameter name="protocolver" type="string" arraysize="1">
        <maximum>32</maximum>
      </parameter>
      <parameter name="paramsetver" type="string" arraysize="0">
        <maximum>32</maximum>
      </parameter>
      <parameter name="version" type="string" arraysize="0">
        <maximum>16</maximum>
      </parameter>
      <parameter name="productname" type="string" arraysize="0">
        <maximum>32</maximum>
      </parameter>
      <parameter name="manufacturer" type="string" arraysize="0">
        <maximum>32</maximum>
      </parameter>
      <parameter name="category" type="string" arraysize="0">
        <maximum>16</maximum>
      </parameter>
      <parameter name="deviceid" type="string" arraysize="0">
        <maximum>4</maximum>
      </parameter>
      <parameter name="devicename" type="string" arraysize="0">
        <maximum>128</maximum>
      </parameter>
      <parameter name="inputport" type="string" arraysize="0">
        <maximum>4</maximum>
      </parameter>
      <parameter name="outputport" type="string" arraysize="0">
        <maximum>4</maximum>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
