#include "platform/io.h"

#include <atomic>
#include <mutex>

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

// The reading thread's own handle, through which its synchronous read is cancelled.
struct ReadInterrupt::Native {
    std::mutex lock;  // guards thread against detach and terminate meeting
    Handle thread;
    std::atomic<bool> interrupted{false};
};

ReadInterrupt::ReadInterrupt() : native_(new Native) {}

ReadInterrupt::~ReadInterrupt() = default;

void ReadInterrupt::attachCurrentThread() {
    HANDLE self = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
        std::lock_guard<std::mutex> guard(native_->lock);
        native_->thread.reset(fromNative(self));
    }
}

void ReadInterrupt::detach() {
    std::lock_guard<std::mutex> guard(native_->lock);
    native_->thread.close();
}

ReadResult ReadInterrupt::read(RawHandle handle, void* buffer, std::size_t size) {
    if (native_->interrupted) return {ReadStatus::Interrupted, 0, 0};
    ReadResult result = readSome(handle, buffer, size);
    if (result.status == ReadStatus::Error && result.error == ERROR_OPERATION_ABORTED &&
        native_->interrupted) {
        return {ReadStatus::Interrupted, 0, 0};
    }
    return result;
}

void ReadInterrupt::interrupt() {
    native_->interrupted = true;
    std::lock_guard<std::mutex> guard(native_->lock);
    if (native_->thread) CancelSynchronousIo(toNative(native_->thread.get()));
}

void ReadInterrupt::clear() { native_->interrupted = false; }

bool ReadInterrupt::terminateThread() {
    std::lock_guard<std::mutex> guard(native_->lock);
    if (!native_->thread) return false;
    return TerminateThread(toNative(native_->thread.get()), 0) != FALSE;
}

}  // namespace relayon::os
