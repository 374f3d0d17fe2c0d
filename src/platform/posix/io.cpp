#include "platform/io.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace relayon::os {

namespace {

// One read; false (and no result) when a non-blocking descriptor has nothing yet.
bool readOnce(RawHandle handle, void* buffer, std::size_t size, ReadResult& result) {
    for (;;) {
        ssize_t n = ::read(static_cast<int>(handle), buffer, size);
        if (n > 0) {
            result = {ReadStatus::Data, static_cast<std::size_t>(n), 0};
        } else if (n == 0) {
            result = {ReadStatus::End, 0, 0};
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return false;
        } else if (errno == EPIPE || errno == EIO) {
            result = {ReadStatus::End, 0, errno};
        } else {
            result = {ReadStatus::Error, 0, errno};
        }
        return true;
    }
}

}  // namespace

ReadResult readSome(RawHandle handle, void* buffer, std::size_t size) {
    ReadResult result{ReadStatus::Error, 0, 0};
    while (!readOnce(handle, buffer, size, result)) {
        // A non-blocking descriptor with nothing in it: wait for data instead of spinning.
        pollfd p{static_cast<int>(handle), POLLIN, 0};
        ::poll(&p, 1, -1);
    }
    return result;
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

// A wake-up pipe: interrupt() leaves a byte in it, which every poll of read() then sees.
struct ReadInterrupt::Native {
    Handle wakeRead;
    Handle wakeWrite;
    std::atomic<bool> interrupted{false};
};

ReadInterrupt::ReadInterrupt() : native_(new Native) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        native_->wakeRead.reset(fds[0]);
        native_->wakeWrite.reset(fds[1]);
    }
}

ReadInterrupt::~ReadInterrupt() = default;

void ReadInterrupt::attachCurrentThread() {}
void ReadInterrupt::detach() {}

ReadResult ReadInterrupt::read(RawHandle handle, void* buffer, std::size_t size) {
    for (;;) {
        if (native_->interrupted) return {ReadStatus::Interrupted, 0, 0};
        pollfd p[2] = {{static_cast<int>(handle), POLLIN, 0},
                       {static_cast<int>(native_->wakeRead.get()), POLLIN, 0}};
        int n = ::poll(p, native_->wakeRead ? 2 : 1, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {ReadStatus::Error, 0, errno};
        }
        if (p[1].revents != 0 || native_->interrupted) return {ReadStatus::Interrupted, 0, 0};
        if (p[0].revents & POLLNVAL) return {ReadStatus::Error, 0, EBADF};
        ReadResult result{ReadStatus::Error, 0, 0};
        if (p[0].revents != 0 && readOnce(handle, buffer, size, result)) return result;
    }
}

void ReadInterrupt::interrupt() {
    native_->interrupted = true;
    if (native_->wakeWrite) {
        char byte = 1;
        // A full pipe already holds a wake-up byte, so a refused write loses nothing.
        ssize_t ignored = ::write(static_cast<int>(native_->wakeWrite.get()), &byte, 1);
        (void)ignored;
    }
}

void ReadInterrupt::clear() {
    char drain[64];
    if (native_->wakeRead) {
        while (::read(static_cast<int>(native_->wakeRead.get()), drain, sizeof drain) > 0) {
        }
    }
    native_->interrupted = false;
}

bool ReadInterrupt::terminateThread() { return false; }

}  // namespace relayon::os
