#include "platform/file_copy.h"

#include "platform/file.h"
#include "platform/win32/native.h"

namespace relayon::os {

namespace {

// True when name opens as a file on a disk, not a device, pipe or directory; the open shares
// reading and writing so that a file another writer holds still counts.
bool isDiskFile(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool disk = isRegularFile(fromNative(file));
    CloseHandle(file);
    return disk;
}

}  // namespace

bool copyFile(const std::string& source, const std::string& target) {
    return isDiskFile(source) && CopyFileA(source.c_str(), target.c_str(), FALSE) != FALSE;
}

}  // namespace relayon::os
