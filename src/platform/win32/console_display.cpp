#include "platform/console_display.h"
#include "platform/handle_kind.h"
#include "platform/win32/native.h"

namespace relayon::os {

RawHandle openDisplay() {
    // A process that already has a console keeps it; the new buffer is added to that console.
    BOOL allocated = AllocConsole();
    HANDLE buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                              CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (buffer == INVALID_HANDLE_VALUE) {
        if (allocated) FreeConsole();  // leave no empty console window behind
        return kNoHandle;
    }
    SetConsoleActiveScreenBuffer(buffer);
    return fromNative(buffer);
}

bool writeDisplay(RawHandle display, const char* text, std::size_t size, std::uint16_t attribute) {
    HANDLE buffer = toNative(display);
    SetConsoleTextAttribute(buffer, attribute);
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
    // The buffer is closed while the process is still attached to the console that owns it.
    CloseHandle(toNative(display));
    FreeConsole();
}

DisplayKind displayKind() {
    return DisplayKind::ScreenBuffer;
}

}  // namespace relayon::os
