#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relayon::os {

const int kFileNotFoundError = ENOENT;

namespace {

// Closes a descriptor that failed to become a usable file, keeping the error that made it fail.
RawHandle failWith(int fd, int error) {
    ::close(fd);
    errno = error;
    return kNoHandle;
}

// strerror_r comes in two shapes: the XSI one returns a status, the GNU one a text pointer.
[[maybe_unused]] const char* messageOf(int status, const char* buffer) { return status == 0 ? buffer : ""; }
[[maybe_unused]] const char* messageOf(const char* text, const char*) { return text; }

}  // namespace

RawHandle openFile(const std::string& name, std::uint32_t access, std::uint32_t share,
                   std::uint32_t creation, std::uint32_t flags) {
    bool reads = (access & kGenericRead) != 0;
    bool writes = (access & kGenericWrite) != 0;
    int mode = writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (writes && (access & kFileAppendData) != 0) mode |= O_APPEND;
    bool truncate = false;
    switch (creation) {
    case kCreateNew: mode |= O_CREAT | O_EXCL; break;
    case kCreateAlways: mode |= O_CREAT; truncate = true; break;
    case kOpenExisting: break;
    case kOpenAlways: mode |= O_CREAT; break;
    case kTruncateExisting: truncate = true; break;
    default: errno = EINVAL; return kNoHandle;
    }
    // Opened without waiting, so that a named pipe with no peer cannot hold the caller; reads
    // and writes wait as usual afterwards.
    int fd;
    do {
        fd = ::open(name.c_str(), mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kNoHandle;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return failWith(fd, errno);

    struct stat info;
    if (fstat(fd, &info) != 0) return failWith(fd, errno);
    if (S_ISDIR(info.st_mode)) return failWith(fd, EISDIR);
    if (writes && (share & kFileShareWrite) == 0) {
        // Another descriptor holding the lock plays the part of a sharing violation.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            return failWith(fd, errno == EWOULDBLOCK ? EBUSY : errno);
        }
    }
    // Truncating only now leaves a file that another writer holds untouched.
    if (truncate && ftruncate(fd, 0) != 0) return failWith(fd, errno);
    // A hint only; a refusal changes nothing.
    posix_fadvise(fd, 0, 0, (flags & kFlagSequentialScan) ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_NORMAL);
    return fd;
}

bool readFile(RawHandle file, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    for (;;) {
        ssize_t n = ::read(static_cast<int>(file), buffer, size);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return true;
        }
        if (errno != EINTR) return false;
    }
}

bool seekToEnd(RawHandle file) { return lseek(static_cast<int>(file), 0, SEEK_END) >= 0; }

bool isRegularFile(RawHandle file) {
    struct stat info;
    return fstat(static_cast<int>(file), &info) == 0 && S_ISREG(info.st_mode);
}

std::string lastErrorText() {
    return errorText(errno);
}

std::string errorText(int code) {
    if (code == 0) return kNoErrorText;
    char buffer[256] = {};
    return messageOf(strerror_r(code, buffer, sizeof buffer), buffer);
}

}  // namespace relayon::os
