// Sorn "Event": the identify request.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutSornEvent[] = R"xml(<function name="Event" collections="2" parameters="1" datasize="1" stringsize="0">
  <collections>
    <collection name="Dev" datasize="1" arraysize="1">
      <parameter name="Identify" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>1</maximum>
        <default>0</default>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
