#include "platform/pipe.h"
#include "platform/win32/native.h"

namespace relayon::os {

int createPipe(Handle& readEnd, Handle& writeEnd) {
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, 0)) return static_cast<int>(GetLastError());
    readEnd.reset(fromNative(read));
    writeEnd.reset(fromNative(write));
    return 0;
}

}  // namespace relayon::os
