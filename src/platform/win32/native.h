// Conversions between the portable handle values and Win32 HANDLEs (Win32 layer only).
#pragma once

#include <windows.h>

#include <string>

#include "platform/handle.h"

namespace relayon::os {

inline HANDLE toNative(RawHandle handle) {
    return handle == kNoHandle ? nullptr : reinterpret_cast<HANDLE>(handle);
}

// Null and INVALID_HANDLE_VALUE both become kNoHandle.
inline RawHandle fromNative(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return kNoHandle;
    return reinterpret_cast<RawHandle>(handle);
}

// The path by which this process reaches the file that path names for the system's own
// programs: under WOW64, a path in the system directory goes through Sysnative.
std::string nativePath(const std::string& path);

// A new handle of a child process that a Process still holds (process.cpp), or null: the
// caller closes it. While it is open, the child's id is not given to another process.
HANDLE openHeldChild(DWORD processId);

}  // namespace relayon::os
