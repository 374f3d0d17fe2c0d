#include "platform/path.h"

#include <vector>

#include "platform/win32/native.h"

namespace relayon::os {

bool fullPath(const std::string& path, std::string& out) {
    std::vector<char> buffer(MAX_PATH);
    DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length >= buffer.size()) {  // too long for the buffer: the result says how long it is
        buffer.resize(length + 1);
        length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length >= buffer.size()) return false;
    }
    if (length == 0) return false;
    out.assign(buffer.data(), length);
    return true;
}

bool fileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

const char* executableSuffix() { return ".exe"; }

}  // namespace relayon::os
