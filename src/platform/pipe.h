// OS-independent: anonymous pipes.
#pragma once

#include "platform/handle.h"

namespace relayon::os {

// Creates an anonymous pipe whose two ends no child process inherits; spawnProcess hands an
// end to a child explicitly. Returns 0, or the system's error code.
int createPipe(Handle& readEnd, Handle& writeEnd);

}  // namespace relayon::os
