// Which Windows family this process runs on: NT (every hardware access
// through the access driver, the token consulted) or 9x (port instructions
// and direct reads of low memory, everyone an administrator).
#pragma once

namespace orr {

// True on every NT-family system, whatever its version report says. Both
// the detection's platform flag and the administrator check decide by it.
bool RunningOnNtFamily();

}  // namespace orr
