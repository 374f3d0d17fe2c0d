#include <cstdio>
#include <cstring>

#include "platform/win32/native.h"

namespace relayon::os {

namespace {

// The environment variable that holds a helper's order: its role, then numbers.
constexpr char kHelperVariable[] = "RELAYON_HELPER";

// This program's own path in wide characters, which spell every path the ANSI code page cannot.
std::wstring modulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768) return std::wstring();  // cut short even in the largest buffer
        buffer.resize(32768);
    }
}

// In a helper, does its order and ends the process; elsewhere returns false.
bool runHelper() {
    char order[128];
    const DWORD length = GetEnvironmentVariableA(kHelperVariable, order, sizeof order);
    if (length == 0 || length >= sizeof order) return false;
    char role[16] = "";
    unsigned long n[4] = {0, 0, 0, 0};
    const int fields = std::sscanf(order, "%15s %lu %lu %lu %lu", role, &n[0], &n[1], &n[2], &n[3]);
    int code = 1;
    if (std::strcmp(role, "carry") == 0 && fields == 3) {
        code = deliverControlEvent(static_cast<unsigned>(n[0]), static_cast<DWORD>(n[1]));
    } else if (std::strcmp(role, "watch") == 0 && fields == 5) {
        code = resumeWhenLeftSuspended(ULongToHandle(n[0]), ULongToHandle(n[1]), ULongToHandle(n[2]),
                                       ULongToHandle(n[3]));
    }
    ExitProcess(static_cast<UINT>(code));
}

// A helper does its work before main, from here: every program that can start helpers (Relayon,
// a test of the code that starts them) is one when started so.
[[maybe_unused]] const bool notAHelper = !runHelper();

}  // namespace

DWORD startHelper(const std::string& order, std::vector<HANDLE> inherited, Handle& helper) {
    const std::wstring program = modulePath();
    if (program.empty()) return GetLastError() != 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    std::wstring commandLine = L"\"" + program + L"\"";
    std::string environment = std::string(kHelperVariable) + "=" + order;
    environment.push_back('\0');  // with the terminating zero of c_str(), the block's end
    InheritedHandles handles(std::move(inherited));
    if (handles.error() != 0) return handles.error();
    STARTUPINFOEXW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.lpAttributeList = handles.list();
    startup.StartupInfo.cb = startup.lpAttributeList ? sizeof startup : sizeof startup.StartupInfo;
    const DWORD flags = DETACHED_PROCESS | (startup.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, startup.lpAttributeList != nullptr,
                        flags, &environment[0], nullptr, &startup.StartupInfo, &info)) {
        return GetLastError();
    }
    CloseHandle(info.hThread);
    helper.reset(fromNative(info.hProcess));
    return 0;
}

}  // namespace relayon::os
