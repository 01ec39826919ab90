// The generated skin pictures, compiled into the program as Qt resources
// under ":/images", ":common/images", ":display/images" and one prefix per
// family. A static library's resources register only when asked: call
// init() once after the application object exists (further calls are no-ops).
#pragma once

namespace ZSkins {

void init();

} // namespace ZSkins
