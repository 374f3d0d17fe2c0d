#include "probes.h"

#include <windows.h>

#include <string>

namespace relayon::test {

std::string platformName() { return "win32"; }

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::int64_t threadProcessorTimeMs() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& t) { return (static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000;  // 100-ns units
}

bool messagePipe(std::intptr_t& readEnd, std::intptr_t& writeEnd) {
    const std::string name = "\\\\.\\pipe\\relayon-test-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                     1, 0, 0, 0, nullptr);
    if (server == INVALID_HANDLE_VALUE) return false;
    HANDLE client = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
        CloseHandle(server);
        return false;
    }
    readEnd = reinterpret_cast<std::intptr_t>(server);
    writeEnd = reinterpret_cast<std::intptr_t>(client);
    return true;
}

}  // namespace relayon::test
