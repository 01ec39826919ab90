// Brox and Pell "Backup": the settings a setup file keeps (input and output
// channels, headphones, meter and output set-up).
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutBroxBackup[]
    = R"xml(<function name="Backup" collections="7" parameters="19" datasize="615" stringsize="6">
  <collections>
    <collection name="InCh" datasize="9" arraysize="32">
      <parameter name="48VOn" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="HPFOn" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="GainCompOn" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="HPFFreq" type="int16_t" arraysize="1">
        <minimum>4</minimum>
        <maximum>63</maximum>
        <default>28</default>
      </parameter>
      <parameter name="HAGain" type="int16_t" arraysize="1">
        <minimum>-6</minimum>
        <maximum>66</maximum>
        <default>-6</default>
        <unit>dB</unit>
        <nominal>0</nominal>
      </parameter>
      <parameter name="CompGain" type="int16_t" arraysize="1">
        <minimum>-6</minimum>
        <maximum>66</maximum>
        <default>-6</default>
        <unit>dB</unit>
        <nominal>0</nominal>
      </parameter>
    </collection>
    <collection name="OutCh" datasize="10" arraysize="24">
      <parameter name="DelayOn" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="DelayTime" type="int32_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1000000</maximum>
        <default>0</default>
      </parameter>
      <parameter name="Polarity" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="GainLevel" type="int32_t" arraysize="1">
        <minimum>-9600</minimum>
        <maximum>2400</maximum>
        <default>0</default>
        <nominal>0</nominal>
      </parameter>
    </collection>
    <collection name="OutChAES" datasize="10" arraysize="8">
      <parameter name="DelayOn" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="DelayTime" type="int32_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1000000</maximum>
        <default>0</default>
      </parameter>
      <parameter name="Polarity" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="GainLevel" type="int32_t" arraysize="1">
        <minimum>-9600</minimum>
        <maximum>2400</maximum>
        <default>0</default>
        <nominal>0</nominal>
      </parameter>
    </collection>
    <collection name="Headphone" datasize="2" arraysize="2">
      <parameter name="Mono" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>1</default>
      </parameter>
      <parameter name="Assign" type="int8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>58</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="MeterSetup" datasize="1" arraysize="1">
      <parameter name="PeakHold" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
    </collection>
    <collection name="OutputSetup" datasize="2" arraysize="1">
      <parameter name="DelayScale" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>4</maximum>
        <default>3</default>
      </parameter>
      <parameter name="DelayFrame" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>6</maximum>
        <default>0</default>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
