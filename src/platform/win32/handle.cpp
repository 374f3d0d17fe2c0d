#include "platform/handle.h"
#include "platform/win32/native.h"

namespace relayon::os {

bool closeHandle(RawHandle handle) {
    return CloseHandle(toNative(handle)) != FALSE;
}

}  // namespace relayon::os
