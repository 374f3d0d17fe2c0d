// OS-independent: an owned operating-system handle (a POSIX file descriptor or a Win32 HANDLE).
#pragma once

#include <cstdint>
#include <utility>

namespace relayon::os {

// A raw handle value. Both platforms use -1 for "no handle"; the Win32 layer maps a null
// HANDLE to it as well, so that callers test one value.
using RawHandle = std::intptr_t;
constexpr RawHandle kNoHandle = -1;

// Closes a raw handle; false when the system refuses.
bool closeHandle(RawHandle handle);

// Move-only owner of one handle, closed when the owner goes.
class Handle {
public:
    Handle() = default;
    explicit Handle(RawHandle raw) : raw_(raw) {}
    ~Handle() { close(); }
    Handle(Handle&& other) noexcept : raw_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    RawHandle get() const { return raw_; }
    bool valid() const { return raw_ != kNoHandle; }
    explicit operator bool() const { return valid(); }

    RawHandle release() { return std::exchange(raw_, kNoHandle); }
    void reset(RawHandle raw = kNoHandle) {
        RawHandle old = std::exchange(raw_, raw);
        if (old != kNoHandle) closeHandle(old);
    }
    void close() { reset(); }

private:
    RawHandle raw_ = kNoHandle;
};

}  // namespace relayon::os
