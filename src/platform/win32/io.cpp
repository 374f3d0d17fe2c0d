#include "platform/io.h"
#include "platform/win32/native.h"

namespace relayon::os {

ReadResult readSome(RawHandle handle, void* buffer, std::size_t size) {
    DWORD got = 0;
    if (ReadFile(toNative(handle), buffer, static_cast<DWORD>(size), &got, nullptr)) {
        if (got > 0) return {ReadStatus::Data, got, 0};
        // A pipe never succeeds with no bytes; a file does at its end, a console at Ctrl-Z.
        return {GetFileType(toNative(handle)) == FILE_TYPE_CHAR ? ReadStatus::Empty : ReadStatus::End, 0,
                0};
    }
    DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) {
        return {ReadStatus::End, 0, static_cast<int>(error)};
    }
    return {ReadStatus::Error, 0, static_cast<int>(error)};
}

bool writeAll(RawHandle handle, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(toNative(handle), p, static_cast<DWORD>(size), &written, nullptr)) return false;
        if (written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}

RawHandle standardInput() { return fromNative(GetStdHandle(STD_INPUT_HANDLE)); }
RawHandle standardOutput() { return fromNative(GetStdHandle(STD_OUTPUT_HANDLE)); }
RawHandle standardError() { return fromNative(GetStdHandle(STD_ERROR_HANDLE)); }

}  // namespace relayon::os
