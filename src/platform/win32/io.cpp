#include "platform/io.h"

#include <atomic>
#include <mutex>

#include "platform/handle_kind.h"
#include "platform/win32/native.h"

namespace relayon::os {

namespace {

// A console answers GetConsoleMode; the null device and other character devices do not.
HandleKind handleKind(HANDLE handle) {
    DWORD mode = 0;
    switch (GetFileType(handle)) {
        case FILE_TYPE_PIPE: return HandleKind::Pipe;
        case FILE_TYPE_CHAR: return GetConsoleMode(handle, &mode) ? HandleKind::Console : HandleKind::Device;
        default: return HandleKind::File;
    }
}

}  // namespace

ReadResult readSome(RawHandle handle, void* buffer, std::size_t size) {
    HANDLE native = toNative(handle);
    // Only a read larger than a console takes needs the kind before it starts.
    const bool large = size > kConsolePiece;
    HandleKind kind = large ? handleKind(native) : HandleKind::File;
    DWORD got = 0;
    if (ReadFile(native, buffer, static_cast<DWORD>(transferSize(kind, size)), &got, nullptr)) {
        if (got > 0) return {ReadStatus::Data, got, 0};
        // A zero-byte write to a pipe ends the reader's read this way, and the pipe can still be
        // examined; at its end it cannot.
        if (!large) kind = handleKind(native);
        if (kind == HandleKind::Pipe && !PeekNamedPipe(native, nullptr, 0, nullptr, nullptr, nullptr)) {
            kind = HandleKind::EndedPipe;
        }
        return {emptyReadStatus(kind), 0, 0};
    }
    DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) {
        return {ReadStatus::End, 0, static_cast<int>(error)};
    }
    return {ReadStatus::Error, 0, static_cast<int>(error)};
}

bool writeAll(RawHandle handle, const void* data, std::size_t size) {
    HANDLE native = toNative(handle);
    const HandleKind kind = size > kConsolePiece ? handleKind(native) : HandleKind::File;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(native, p, static_cast<DWORD>(transferSize(kind, size)), &written, nullptr)) return false;
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
