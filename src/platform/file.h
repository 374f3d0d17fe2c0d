// OS-independent: opening, reading, writing and positioning files, and the system's error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace relayon::os {

// Desired access, share mode, creation disposition and flags carry their Win32 values on every
// platform; the POSIX layer maps them onto open(2) and flock(2).
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kFileAppendData = 0x4;
constexpr std::uint32_t kFileShareRead = 0x1;
constexpr std::uint32_t kFileShareWrite = 0x2;
constexpr std::uint32_t kFileShareDelete = 0x4;
constexpr std::uint32_t kCreateNew = 1;
constexpr std::uint32_t kCreateAlways = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kOpenAlways = 4;
constexpr std::uint32_t kTruncateExisting = 5;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::uint32_t kFlagSequentialScan = 0x08000000u;

// Opens or creates a file; kNoHandle on failure, with the system's last error as the failing
// call left it. A share mode without kFileShareWrite keeps other writers out while the file is
// open with write access (POSIX: an exclusive flock, refused with EBUSY). Directories are refused.
// Write access with kFileAppendData makes every write land at the end of the file, after what
// others appended meanwhile (POSIX: O_APPEND; Windows: part of kGenericWrite, and other writers
// are kept out by the share mode).
RawHandle openFile(const std::string& name, std::uint32_t access, std::uint32_t share,
                   std::uint32_t creation, std::uint32_t flags);

// Reads up to size bytes at the file pointer; got is 0 at the end of the file.
bool readFile(RawHandle file, void* buffer, std::size_t size, std::size_t& got);

// Moves the file pointer to the end of the file (of any size, also beyond 4 GiB).
bool seekToEnd(RawHandle file);

// True for a file on a disk (POSIX: a regular file; Windows: FILE_TYPE_DISK), as opposed to a
// device, a pipe or a directory.
bool isRegularFile(RawHandle file);

// The system's message text for its last error (Win32: FormatMessageA into 256 bytes, usually
// ending in CR LF; POSIX: strerror of errno). Call it right after the failing call.
std::string lastErrorText();

// The system's message text for an error code (Windows: "error N" when the system has none).
// For no error at all it is kNoErrorText, never a text of success.
std::string errorText(int code);
inline constexpr char kNoErrorText[] = "the system gave no reason";

// The system's error code for a missing file.
extern const int kFileNotFoundError;

}  // namespace relayon::os
