// OS-independent: how a 32-bit program on 64-bit Windows reaches the native system directory.
#pragma once

#include <cstddef>
#include <string>

namespace relayon::os {

// Under WOW64 the system takes a 32-bit program's System32 to its 32-bit copy, SysWOW64, where
// programs that exist only as 64-bit ones are missing and others are their 32-bit copies; the
// native directory is reached through the alias Sysnative beside it. Returns path with
// systemDirectory replaced by that alias when wow64 is true and path is systemDirectory or lies
// below it (ASCII letters compared without case), else path unchanged.
inline std::string nativeSystemPath(const std::string& path, const std::string& systemDirectory, bool wow64) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    std::size_t length = systemDirectory.size();
    while (length > 0 && separator(systemDirectory[length - 1])) --length;
    std::size_t name = length;
    while (name > 0 && !separator(systemDirectory[name - 1])) --name;
    if (!wow64 || name == 0 || path.size() < length) return path;
    if (path.size() > length && !separator(path[length])) return path;  // System32x is another directory
    for (std::size_t i = 0; i < length; ++i) {
        if (lower(path[i]) != lower(systemDirectory[i])) return path;
    }
    return systemDirectory.substr(0, name) + "Sysnative" + path.substr(length);
}

}  // namespace relayon::os
