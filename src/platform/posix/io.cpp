#include "platform/io.h"

#include <atomic>
#include <cerrno>
#include <signal.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
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

namespace {

// The signal that interrupt() sends to the reading thread to end its blocked read. Its default
// action is to ignore it, so one sent from elsewhere changes nothing but a retried system call.
constexpr int kWakeSignal = SIGURG;

void onWakeSignal(int) {}

// Installed without SA_RESTART, so that a read it interrupts returns EINTR.
void installWakeHandler() {
    static const bool installed = [] {
        struct sigaction action = {};
        action.sa_handler = onWakeSignal;
        sigemptyset(&action.sa_mask);
        return ::sigaction(kWakeSignal, &action, nullptr) == 0;
    }();
    (void)installed;
}

}  // namespace

// The reading thread reads directly, in one system call per read; interrupt() signals it.
struct ReadInterrupt::Native {
    std::mutex lock;  // guards thread and attached against detach and interrupt meeting
    pthread_t thread{};
    bool attached = false;
    std::atomic<bool> interrupted{false};
};

ReadInterrupt::ReadInterrupt() : native_(new Native) { installWakeHandler(); }

ReadInterrupt::~ReadInterrupt() = default;

void ReadInterrupt::attachCurrentThread() {
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, kWakeSignal);
    ::pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    std::lock_guard<std::mutex> guard(native_->lock);
    native_->thread = ::pthread_self();
    native_->attached = true;
}

void ReadInterrupt::detach() {
    std::lock_guard<std::mutex> guard(native_->lock);
    native_->attached = false;
}

ReadResult ReadInterrupt::read(RawHandle handle, void* buffer, std::size_t size) {
    for (;;) {
        if (native_->interrupted) return {ReadStatus::Interrupted, 0, 0};
        ssize_t n = ::read(static_cast<int>(handle), buffer, size);
        if (n > 0) return {ReadStatus::Data, static_cast<std::size_t>(n), 0};
        if (n == 0) return {ReadStatus::End, 0, 0};
        const int error = errno;
        if (error == EINTR) continue;  // the flag says whether it was interrupt()
        if (error == EPIPE || error == EIO) return {ReadStatus::End, 0, error};
        if (error != EAGAIN && error != EWOULDBLOCK) return {ReadStatus::Error, 0, error};
        // A non-blocking descriptor with nothing in it: wait, as interruptibly as the read.
        pollfd p{static_cast<int>(handle), POLLIN, 0};
        ::poll(&p, 1, -1);
    }
}

void ReadInterrupt::interrupt() {
    native_->interrupted = true;
    std::lock_guard<std::mutex> guard(native_->lock);
    if (native_->attached) ::pthread_kill(native_->thread, kWakeSignal);
}

void ReadInterrupt::clear() { native_->interrupted = false; }

bool ReadInterrupt::terminateThread() { return false; }

}  // namespace relayon::os
