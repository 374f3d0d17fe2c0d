#include "platform/program_path.h"

#include <unistd.h>

#include <vector>

namespace relayon::os {

std::string executablePath(const std::string& fallback) {
    // readlink does not say when it truncates, so a buffer that fills up is grown and tried again.
    for (std::size_t size = 256; size <= 65536; size *= 4) {
        std::vector<char> buffer(size);
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return fallback;
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
    return fallback;
}

}  // namespace relayon::os
