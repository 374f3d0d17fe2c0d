#include "platform/program_path.h"

#include <vector>

#include "platform/win32/native.h"

namespace relayon::os {

const bool kReplaceExtensionOnly = false;

std::string programPath(const std::string& argument0) {
    // MAX_PATH holds nearly every path; a result that fills the buffer may be cut short, so
    // it is asked for again in the largest buffer the system allows.
    for (DWORD size : {DWORD{MAX_PATH}, DWORD{32768}}) {
        std::vector<char> buffer(size);
        DWORD n = GetModuleFileNameA(nullptr, buffer.data(), size);
        if (n == 0) return argument0;
        if (n < size) return std::string(buffer.data(), n);
    }
    return argument0;
}

}  // namespace relayon::os
