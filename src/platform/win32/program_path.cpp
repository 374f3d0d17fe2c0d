#include "platform/program_path.h"

#include <cstdlib>
#include <vector>

#include "platform/path.h"
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

bool searchProgram(const std::string& name, std::string& out) {
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos) return false;
    // The folders in CreateProcessA's order; "System" is the 16-bit system folder beside the
    // system folder, which it still searches.
    std::string own = programPath("");
    own.erase(own.find_last_of("\\/") + 1);
    std::string current;
    char system[MAX_PATH] = "", windows[MAX_PATH] = "";
    GetSystemDirectoryA(system, MAX_PATH);
    GetWindowsDirectoryA(windows, MAX_PATH);
    const char* path = std::getenv("PATH");
    const std::string folders = own + ";" + (fullPath(".", current) ? current : std::string(".")) + ";" + system +
                                ";" + windows + "\\System;" + windows + ";" + (path ? path : "");
    std::vector<char> found(MAX_PATH);
    DWORD size = SearchPathA(folders.c_str(), name.c_str(), ".exe", static_cast<DWORD>(found.size()), found.data(),
                             nullptr);
    if (size >= found.size()) {  // the buffer was too small: size is the one needed
        found.resize(size);
        size = SearchPathA(folders.c_str(), name.c_str(), ".exe", size, found.data(), nullptr);
    }
    if (size == 0 || size >= found.size()) return false;
    out.assign(found.data(), size);
    return true;
}

}  // namespace relayon::os
