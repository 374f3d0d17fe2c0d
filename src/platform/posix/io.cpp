#include "platform/io.h"

#include <cerrno>
#include <unistd.h>

namespace relayon::os {

ReadResult readSome(RawHandle handle, void* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(static_cast<int>(handle), buffer, size);
        if (n > 0) return {ReadStatus::Data, static_cast<std::size_t>(n), 0};
        if (n == 0) return {ReadStatus::End, 0, 0};
        if (errno == EINTR || errno == EAGAIN) continue;
        if (errno == EPIPE || errno == EIO) return {ReadStatus::End, 0, errno};
        return {ReadStatus::Error, 0, errno};
    }
}

bool writeAll(RawHandle handle, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(handle), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

RawHandle standardInput() { return STDIN_FILENO; }
RawHandle standardOutput() { return STDOUT_FILENO; }
RawHandle standardError() { return STDERR_FILENO; }

}  // namespace relayon::os
