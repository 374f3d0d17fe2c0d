#include "platform/file.h"
#include "platform/win32/native.h"

namespace relayon::os {

const int kFileNotFoundError = ERROR_FILE_NOT_FOUND;

RawHandle openFile(const std::string& name, std::uint32_t access, std::uint32_t share,
                   std::uint32_t creation, std::uint32_t flags) {
    return fromNative(CreateFileA(name.c_str(), access, share, nullptr, creation, flags, nullptr));
}

bool readFile(RawHandle file, void* buffer, std::size_t size, std::size_t& got) {
    DWORD count = 0;
    BOOL ok = ReadFile(toNative(file), buffer, static_cast<DWORD>(size), &count, nullptr);
    got = count;
    return ok != FALSE;
}

bool seekToEnd(RawHandle file) {
    LARGE_INTEGER none;
    none.QuadPart = 0;
    return SetFilePointerEx(toNative(file), none, nullptr, FILE_END) != FALSE;
}

bool isRegularFile(RawHandle file) {
    return GetFileType(toNative(file)) == FILE_TYPE_DISK;
}

std::string lastErrorText() {
    return errorText(static_cast<int>(GetLastError()));
}

std::string errorText(int code) {
    if (code == 0) return kNoErrorText;
    char buffer[256];
    buffer[0] = '\0';
    // Without arguments, a message with inserts such as %1 must not be expanded.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    // Without a text of the system's, the number still tells the user what to look up.
    if (length == 0) return "error " + std::to_string(static_cast<unsigned long>(code));
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

}  // namespace relayon::os
