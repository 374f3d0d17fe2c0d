#include "platform/handle.h"

#include <unistd.h>

namespace relayon::os {

bool closeHandle(RawHandle handle) {
    // A close interrupted by a signal has still released the descriptor on Linux: never retry.
    return ::close(static_cast<int>(handle)) == 0;
}

}  // namespace relayon::os
