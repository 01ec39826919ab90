// Sorn "Backup": the user patch a setup file keeps.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutSornBackup[]
    = R"xml(<function name="Backup" collections="2" parameters="1" datasize="128" stringsize="0">
  <collections>
    <collection name="Patch" datasize="1" arraysize="128">
      <parameter name="UserPatchSrc" type="uint8_t" arraysize="1">
        <minimum>0</minimum>
        <maximum>255</maximum>
        <default>255</default>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
