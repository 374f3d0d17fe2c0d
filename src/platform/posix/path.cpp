#include "platform/path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace relayon::os {

bool fullPath(const std::string& path, std::string& out) {
    std::string joined;
    if (path.empty() || path[0] != '/') {
        std::vector<char> buffer(4096);
        if (::getcwd(buffer.data(), buffer.size()) == nullptr) return false;
        joined = buffer.data();
        joined += '/';
    }
    joined += path;

    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t end = joined.find('/', start);
        if (end == std::string::npos) end = joined.size();
        std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    out.clear();
    for (const std::string& part : parts) out += '/' + part;
    if (out.empty()) out = "/";
    return true;
}

bool fileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isPathSeparator(char c) { return c == '/'; }

const char* executableSuffix() { return ""; }

}  // namespace relayon::os
