#include "platform/io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relayon::os {

// A pipe whose read end is readable once interrupt() has written to it, so that one poll waits
// for a handle and for the interrupt together.
struct IoInterrupt::Native {
    int wake[2] = {-1, -1};
    std::atomic<bool> interrupted{false};
};

namespace {

thread_local const IoInterrupt::Native* attached = nullptr;

// Waits until handle reports one of events (or an error the next call will report); false when
// the interrupt was set first.
bool waitReady(int handle, short events, const IoInterrupt::Native* interrupt) {
    for (;;) {
        if (interrupt != nullptr && interrupt->interrupted) return false;
        pollfd fds[2] = {{handle, events, 0}, {interrupt ? interrupt->wake[0] : -1, POLLIN, 0}};
        int ready = ::poll(fds, interrupt ? 2 : 1, -1);
        if (interrupt != nullptr && interrupt->interrupted) return false;
        if (ready > 0 && fds[0].revents != 0) return true;
        if (ready < 0 && errno != EINTR) return true;  // the call that follows reports it
    }
}

// How writeAll treats a descriptor on a thread with an interrupt (an Output's mode).
enum WriteMode : int {
    kPlain = 1,        // a file or a disk: it takes the bytes at once, the interrupt does not apply
    kNonBlocking = 2,  // writes return instead of waiting; the wait for room is interruptible
    kPieces = 3,       // a blocking descriptor of a peer: pieces it takes whole once it reports room
    kPipe = 4,         // a blocking pipe: the same, or all it holds once its reader has taken everything
};

WriteMode writeMode(int handle) {
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags != -1 && (flags & O_NONBLOCK) != 0) return kNonBlocking;
    struct stat info;
    if (::fstat(handle, &info) != 0) return kPieces;
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) return kPlain;
    return S_ISFIFO(info.st_mode) ? kPipe : kPieces;
}

// The most a blocking pipe takes in one write without waiting once poll reported room: PIPE_BUF,
// or, when its reader has taken every byte, its whole capacity (a write of up to that fits in the
// pages that are all free then). One large write instead of many small ones saves a wait for
// room and a write call for each PIPE_BUF bytes.
std::size_t pipePiece(int fd) {
    int unread = -1;
    if (::ioctl(fd, FIONREAD, &unread) != 0 || unread != 0) return PIPE_BUF;
#ifdef F_GETPIPE_SZ
    const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
    if (capacity > PIPE_BUF) return static_cast<std::size_t>(capacity);
#endif
    return PIPE_BUF;
}

}  // namespace

ReadResult readSome(RawHandle handle, void* buffer, std::size_t size) {
    const int fd = static_cast<int>(handle);
    const IoInterrupt::Native* interrupt = attached;
    for (;;) {
        if (interrupt != nullptr && !waitReady(fd, POLLIN, interrupt)) return {ReadStatus::Interrupted, 0, 0};
        ssize_t n = ::read(fd, buffer, size);
        if (n > 0) return {ReadStatus::Data, static_cast<std::size_t>(n), 0};
        if (n == 0) return {ReadStatus::End, 0, 0};
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            // A non-blocking descriptor with nothing in it: wait instead of spinning.
            if (interrupt == nullptr) waitReady(fd, POLLIN, nullptr);
            continue;
        }
        if (error == EPIPE || error == EIO) return {ReadStatus::End, 0, error};
        return {ReadStatus::Error, 0, error};
    }
}

Output::Output(RawHandle handle) : handle_(handle), mode_(writeMode(static_cast<int>(handle))) {}

bool Output::writeAll(const void* data, std::size_t size, std::size_t* written) const {
    const int fd = static_cast<int>(handle_);
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    // A blocking descriptor is written in pieces that the system takes whole once it reports
    // room (PIPE_BUF for a pipe), so that no write waits where the interrupt cannot end it.
    const int mode = attached == nullptr ? kPlain : mode_ != kLookUpOnWrite ? mode_ : writeMode(fd);
    const IoInterrupt::Native* interrupt = mode != kPlain ? attached : nullptr;
    const bool pieces = mode == kPieces || mode == kPipe;
    bool ok = true;
    while (done < size) {
        if (pieces && !waitReady(fd, POLLOUT, interrupt)) {
            ok = false;
            break;
        }
        if (interrupt != nullptr && interrupt->interrupted) {
            ok = false;
            break;
        }
        std::size_t piece = size - done;
        if (pieces && piece > PIPE_BUF) piece = std::min(piece, mode == kPipe ? pipePiece(fd) : PIPE_BUF);
        ssize_t n = ::write(fd, p + done, piece);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitReady(fd, POLLOUT, interrupt)) continue;
        ok = false;
        break;
    }
    if (written != nullptr) *written = done;
    return ok;
}

void setNonBlocking(RawHandle handle) {
    const int fd = static_cast<int>(handle);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

RawHandle standardInput() { return STDIN_FILENO; }
RawHandle standardOutput() { return STDOUT_FILENO; }
RawHandle standardError() { return STDERR_FILENO; }

IoInterrupt::IoInterrupt() : native_(new Native) {
    if (::pipe2(native_->wake, O_CLOEXEC | O_NONBLOCK) != 0) native_->wake[0] = native_->wake[1] = -1;
}

IoInterrupt::~IoInterrupt() {
    for (int fd : native_->wake) {
        if (fd != -1) ::close(fd);
    }
}

void IoInterrupt::attachCurrentThread() { attached = native_.get(); }

void IoInterrupt::detach() {
    if (attached == native_.get()) attached = nullptr;
}

void IoInterrupt::interrupt() {
    native_->interrupted = true;
    // A full wake pipe is already readable, so a refused write changes nothing.
    const char byte = 1;
    if (native_->wake[1] != -1) {
        ssize_t ignored = ::write(native_->wake[1], &byte, 1);
        (void)ignored;
    }
}

void IoInterrupt::clear() {
    char drain[64];
    while (native_->wake[0] != -1 && ::read(native_->wake[0], drain, sizeof drain) > 0) {
    }
    native_->interrupted = false;
}

int interruptRepeatMs() { return 0; }

bool currentThreadWritesInterruptibly() { return attached != nullptr; }

bool currentThreadInterrupted() { return attached != nullptr && attached->interrupted; }

bool isTerminal(RawHandle handle) { return ::isatty(static_cast<int>(handle)) == 1; }

const char kEndOfInputKeys[] = "Ctrl-D";

}  // namespace relayon::os
