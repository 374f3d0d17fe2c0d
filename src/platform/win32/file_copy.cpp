#include "platform/file_copy.h"

#include <windows.h>

namespace relayon::os {

bool copyFile(const std::string& source, const std::string& target) {
    return CopyFileA(source.c_str(), target.c_str(), FALSE) != FALSE;
}

}  // namespace relayon::os
