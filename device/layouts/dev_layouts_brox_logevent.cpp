// Brox and Pell "LogEvent": log requests and the log upload address.
// The text is part of the setup-file format: the images a setup file holds
// carry a digest of the layout, so nothing here may change.
#include "device/layouts/dev_layouts.h"

namespace Quil {

const char kLayoutBroxLogEvent[]
    = R"xml(<function name="LogEvent" collections="2" parameters="2" datasize="320" stringsize="0">
  <collections>
    <collection name="event" datasize="320" arraysize="1">
      <parameter name="loggingSend" type="string" arraysize="1">
        <maximum>64</maximum>
      </parameter>
      <parameter name="TftpURISend" type="string" arraysize="1">
        <maximum>256</maximum>
      </parameter>
    </collection>
  </collections>
</function>
)xml";

} // namespace Quil
