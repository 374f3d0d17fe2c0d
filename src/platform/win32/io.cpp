#include "platform/io.h"

#include <atomic>
#include <mutex>

#include "platform/handle_kind.h"
#include "platform/win32/native.h"

namespace relayon::os {

static_assert(kErrorHandleEof == ERROR_HANDLE_EOF && kErrorBrokenPipe == ERROR_BROKEN_PIPE &&
              kErrorMoreData == ERROR_MORE_DATA && kErrorOperationAborted == ERROR_OPERATION_ABORTED);

// The attached thread's own handle, through which its synchronous I/O is cancelled.
struct IoInterrupt::Native {
    std::mutex lock;  // guards thread against detach and interrupt meeting
    Handle thread;
    std::atomic<bool> interrupted{false};
};

namespace {

thread_local const IoInterrupt::Native* attached = nullptr;

bool interrupted(const IoInterrupt::Native* interrupt) { return interrupt != nullptr && interrupt->interrupted; }

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
    const IoInterrupt::Native* interrupt = attached;
    if (interrupted(interrupt)) return {ReadStatus::Interrupted, 0, 0};
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
    const int error = static_cast<int>(GetLastError());
    const ReadStatus status = failedReadStatus(error, interrupted(interrupt));
    if (status == ReadStatus::Data) return {status, got, 0};
    return {status, 0, status == ReadStatus::Interrupted ? 0 : error};
}

namespace {

// An Output's mode: kKnown with the handle's kind, and kDisk for a disk file (which takes its
// bytes at once, so that its writes are never interrupted).
constexpr int kKnown = 0x200;
constexpr int kDisk = 0x100;
constexpr int kKindBits = 0xFF;

int writeMode(HANDLE handle) {
    return kKnown | static_cast<int>(handleKind(handle)) | (GetFileType(handle) == FILE_TYPE_DISK ? kDisk : 0);
}

}  // namespace

Output::Output(RawHandle handle) : handle_(handle), mode_(writeMode(toNative(handle))) {}

bool Output::writeAll(const void* data, std::size_t size, std::size_t* written) const {
    HANDLE native = toNative(handle_);
    // A write that fits a console's piece needs no kind; only attached threads need the rest.
    const int mode = mode_ != kLookUpOnWrite                        ? mode_
                     : size > kConsolePiece || attached != nullptr ? writeMode(native)
                                                                    : kKnown | static_cast<int>(HandleKind::File);
    const auto kind = static_cast<HandleKind>(mode & kKindBits);
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    // Only writes that can wait for a peer are interrupted; a disk file takes its bytes at once.
    const IoInterrupt::Native* interrupt = attached != nullptr && (mode & kDisk) == 0 ? attached : nullptr;
    bool ok = true;
    while (done < size) {
        DWORD count = 0;
        if (interrupted(interrupt) ||
            !WriteFile(native, p + done, static_cast<DWORD>(transferSize(kind, size - done)), &count, nullptr) ||
            count == 0) {
            ok = false;
            break;
        }
        done += count;
    }
    if (written != nullptr) *written = done;
    return ok;
}

void setNonBlocking(RawHandle) {}

RawHandle standardInput() { return fromNative(GetStdHandle(STD_INPUT_HANDLE)); }
RawHandle standardOutput() { return fromNative(GetStdHandle(STD_OUTPUT_HANDLE)); }
RawHandle standardError() { return fromNative(GetStdHandle(STD_ERROR_HANDLE)); }

IoInterrupt::IoInterrupt() : native_(new Native) {}

IoInterrupt::~IoInterrupt() = default;

void IoInterrupt::attachCurrentThread() {
    HANDLE self = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
        std::lock_guard<std::mutex> guard(native_->lock);
        native_->thread.reset(fromNative(self));
    }
    attached = native_.get();
}

void IoInterrupt::detach() {
    if (attached == native_.get()) attached = nullptr;
    std::lock_guard<std::mutex> guard(native_->lock);
    native_->thread.close();
}

void IoInterrupt::interrupt() {
    native_->interrupted = true;
    std::lock_guard<std::mutex> guard(native_->lock);
    if (native_->thread) CancelSynchronousIo(toNative(native_->thread.get()));
}

void IoInterrupt::clear() { native_->interrupted = false; }

// A call that was only about to start when the cancel came is cancelled by the next one.
int interruptRepeatMs() { return 10; }

bool currentThreadWritesInterruptibly() { return false; }

bool currentThreadInterrupted() { return interrupted(attached); }

bool isTerminal(RawHandle handle) { return handleKind(toNative(handle)) == HandleKind::Console; }

const char kEndOfInputKeys[] = "Ctrl-Z, Enter";

}  // namespace relayon::os
