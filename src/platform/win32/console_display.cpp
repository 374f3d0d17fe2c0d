#include "platform/console_display.h"
#include "platform/display_console.h"
#include "platform/handle_kind.h"
#include "platform/win32/native.h"

namespace relayon::os {

namespace {

// What closing the one display undoes: the console allocated for it, or the screen buffer that
// was active before it in a console shared with others.
bool consoleAllocated = false;
constexpr WORD kDefaultAttribute = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
HANDLE previouslyActive = INVALID_HANDLE_VALUE;

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != FALSE;
}

}  // namespace

RawHandle openDisplay() {
    const bool clientOnConsole =
        isConsole(GetStdHandle(STD_INPUT_HANDLE)) || isConsole(GetStdHandle(STD_OUTPUT_HANDLE));
    // AllocConsole fails when the process has a console already.
    bool allocated = AllocConsole() != FALSE;
    DWORD processes[1];
    const bool attached = !allocated && GetConsoleProcessList(processes, 1) != 0;
    DisplayConsole choice = chooseDisplayConsole(allocated, attached, GetConsoleWindow() != nullptr, clientOnConsole);
    if (choice == DisplayConsole::Replace) {
        // A console made without a window (CREATE_NO_WINDOW) can never show the display.
        FreeConsole();
        allocated = AllocConsole() != FALSE;
        if (!allocated) return kNoHandle;
        choice = DisplayConsole::Own;
    }
    HANDLE buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                              CONSOLE_TEXTMODE_BUFFER, nullptr);
    // A buffer that takes no attribute takes no text either (a console without a display).
    if (buffer != INVALID_HANDLE_VALUE && !SetConsoleTextAttribute(buffer, kDefaultAttribute)) {
        CloseHandle(buffer);
        buffer = INVALID_HANDLE_VALUE;
    }
    if (buffer == INVALID_HANDLE_VALUE) {
        if (allocated) FreeConsole();  // leave no empty console window behind
        return kNoHandle;
    }
    consoleAllocated = choice == DisplayConsole::Own;
    if (!consoleAllocated) {
        // CONOUT$ is the console's active screen buffer: the one to show again at the end.
        previouslyActive = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    }
    SetConsoleActiveScreenBuffer(buffer);
    return fromNative(buffer);
}

bool writeDisplay(RawHandle display, const char* text, std::size_t size, std::uint16_t attribute) {
    HANDLE buffer = toNative(display);
    SetConsoleTextAttribute(buffer, attribute != 0 ? attribute : kDefaultAttribute);
    while (size > 0) {
        DWORD count = 0;
        DWORD piece = static_cast<DWORD>(transferSize(HandleKind::Console, size));
        if (!WriteConsoleA(buffer, text, piece, &count, nullptr) || count == 0) return false;
        text += count;
        size -= count;
    }
    return true;
}

void closeDisplay(RawHandle display) {
    if (previouslyActive != INVALID_HANDLE_VALUE) {
        SetConsoleActiveScreenBuffer(previouslyActive);
        CloseHandle(previouslyActive);
        previouslyActive = INVALID_HANDLE_VALUE;
    }
    // The buffer is closed while the process is still attached to the console that owns it.
    CloseHandle(toNative(display));
    if (consoleAllocated) FreeConsole();  // a console the client shares stays as it is
    consoleAllocated = false;
}


}  // namespace relayon::os
