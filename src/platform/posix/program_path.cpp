#include "platform/program_path.h"

#include <unistd.h>

#include <vector>

namespace relayon::os {

const bool kReplaceExtensionOnly = true;

std::string programPath(const std::string& argument0) {
    if (!argument0.empty()) return argument0;
    // Started without a name: the executable's path, which readlink may cut short without
    // saying so, so a buffer that fills up is grown and tried again.
    for (std::size_t size = 256; size <= 65536; size *= 4) {
        std::vector<char> buffer(size);
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
    return std::string();
}

}  // namespace relayon::os
