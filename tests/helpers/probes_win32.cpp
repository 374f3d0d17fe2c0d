#include "probes.h"

#include <windows.h>

#include <tlhelp32.h>  // needs the types of windows.h first

#include <cstdint>

namespace relayon::test {

namespace {

// Counts the entries of a system snapshot that belong to this process.
template <typename Entry, typename First, typename Next, typename Belongs>
int countInSnapshot(DWORD kind, First first, Next next, Belongs belongs) {
    HANDLE snapshot = CreateToolhelp32Snapshot(kind, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    Entry entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = first(snapshot, &entry); more; more = next(snapshot, &entry)) {
        if (belongs(entry)) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace

int openHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<int>(count);
    // Wine answers 0: count the handle values that are valid instead. Handle values are small
    // multiples of four there.
    int valid = 0;
    for (std::uintptr_t value = 4; value < 0x40000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++valid;
    }
    return valid > 0 ? valid : -1;
}

int threadCount() {
    const DWORD self = GetCurrentProcessId();
    return countInSnapshot<THREADENTRY32>(
        TH32CS_SNAPTHREAD, Thread32First, Thread32Next,
        [self](const THREADENTRY32& e) { return e.th32OwnerProcessID == self; });
}

int childProcessCount() {
    const DWORD self = GetCurrentProcessId();
    return countInSnapshot<PROCESSENTRY32>(
        TH32CS_SNAPPROCESS, Process32First, Process32Next,
        [self](const PROCESSENTRY32& e) { return e.th32ParentProcessID == self; });
}

std::int64_t threadProcessorTimeMs() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000;  // 100-ns units
}

std::string platformName() { return "win32"; }

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool raiseControlEvent(unsigned event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return false;
    return GenerateConsoleCtrlEvent(event, 0) != FALSE;
}

}  // namespace relayon::test
