#include "platform/program_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/path.h"

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

bool searchProgram(const std::string& name, std::string& out) {
    if (name.find('/') != std::string::npos) return fullPath(name, out);
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return fullPath(candidate, out);
        }
        start = end + 1;
    }
    return false;
}

}  // namespace relayon::os
