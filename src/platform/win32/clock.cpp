#include "platform/clock.h"
#include "platform/win32/native.h"

namespace relayon::os {

std::uint32_t tickCount() {
    return GetTickCount();
}

}  // namespace relayon::os
