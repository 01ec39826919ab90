// Brox and Pell "ListItem": summary list requests and replies.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutBroxListItem[]
    = R"xml(<function name="ListItem" collections="2" parameters="16" datasize="538" stringsize="0">
  <collections>
    <collection name="listitem" datasize="538" arraysize="1">
      <parameter name="CurSummaryNumReq" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurSummaryNumReceived" type="int8_t" arraysize="1">
        <minimum>-1</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurSummaryNum" type="uint16_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>0xffff</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurSummaryStart" type="uint16_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>0xffff</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurSummaryEnd" type="uint16_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>0xffff</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurSummaryItemReq" type="int32_t" arraysize="1">
        <minimum>-1</minimum>
        <maximum>0xffff</maximum>
        <default>-1</default>
      </parameter>
      <parameter name="CurSummaryItemReceived" type="int8_t" arraysize="1">
        <minimum>-1</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="CurSummaryItem" type="string" arraysize="0">
        <maximum>256</maximum>
      </parameter>
      <parameter name="EvtSummaryNumReq" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="EvtSummaryNumReceived" type="int8_t" arraysize="1">
        <minimum>-1</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="EvtSummaryNum" type="uint16_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>0xffff</maximum>
        <default>0</default>
      </parameter>
      <parameter name="EvtSummaryStart" type="uint16_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>0xffff</maximum>
        <default>0</default>
      </parameter>
      <parameter name="EvtSummaryEnd" type="uint16_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>0xffff</maximum>
        <default>0</default>
      </parameter>
      <parameter name="EvtSummaryItemReq" type="int32_t" arraysize="1">
        <minimum>-1</minimum>
        <maximum>0xffff</maximum>
        <default>-1</default>
      </parameter>
      <parameter name="EvtSummaryItemReceived" type="int8_t" arraysize="1">
        <minimum>-1</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
      <parameter name="EvtSummaryItem" type="string" arraysize="0">
        <maximum>256</maximum>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
