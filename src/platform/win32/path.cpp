#include "platform/path.h"

#include <vector>

#include "platform/system_directory.h"
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

std::string nativePath(const std::string& path) {
    struct System {
        bool wow64;
        std::string directory;
    };
    static const System system = [] {  // neither changes while the process runs
        BOOL wow64 = FALSE;
        char directory[MAX_PATH];
        const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
        return System{IsWow64Process(GetCurrentProcess(), &wow64) && wow64,
                      length > 0 && length < MAX_PATH ? std::string(directory, length) : std::string()};
    }();
    return nativeSystemPath(path, system.directory, system.wow64);
}

bool fileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

const char* executableSuffix() { return ".exe"; }

}  // namespace relayon::os
