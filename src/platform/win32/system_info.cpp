#include "platform/system_info.h"
#include "platform/win32/native.h"

namespace relayon::os {

std::string platformName() { return "win32"; }

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace relayon::os
