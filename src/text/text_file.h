// OS-independent: a file read in lines and written in CR LF lines, and the system's error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/handle.h"

namespace relayon {

// Win32 access masks and creation dispositions, the values TextFile::open takes.
using os::kCreateAlways;
using os::kCreateNew;
using os::kGenericRead;
using os::kGenericWrite;
using os::kOpenAlways;
using os::kOpenExisting;
using os::kTruncateExisting;

// One file, used by one thread at a time. Positions are 64-bit byte offsets from the start, so
// files of 4 GiB or more are appended to at their end.
class TextFile {
public:
    TextFile() = default;
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // Opens the name trimmed of blanks (closing an open file first). Opened to read, the file is
    // shared for reading, writing and deletion; opened to write, for reading only.
    // An access of kGenericWrite alone is widened to read and write. Append places the position
    // at the end of the file, otherwise at 0, and makes every write land at the end of the file,
    // so that bytes others add meanwhile are kept. A blank name fails without a system call.
    bool open(const std::string& name, std::uint32_t access, bool append, std::uint32_t creation,
              bool randomAccess);
    void close();
    bool isOpen() const { return handle_.valid(); }
    // True for a file on a disk, as opposed to a device or a pipe.
    bool isRegularFile() const { return handle_.valid() && os::isRegularFile(handle_.get()); }

    // The next line without its LF and with every CR dropped. A last line without LF counts;
    // false only when the end of the file (or a read error) comes before any byte. A line is
    // kept to kMaxLineBytes; the rest of it is skipped.
    bool readLine(std::string& out);

    // Moves to an absolute offset; on failure the position becomes 0.
    bool seek(std::uint64_t pos);

    // Writes length bytes at pos (opened to append: at the end); the position advances by the
    // bytes that reached the file.
    bool write(const void* data, std::size_t length, std::uint64_t pos);

    // The offset of the next byte that readLine returns or that a write at position() fills.
    std::uint64_t position() const { return position_; }
    const std::string& name() const { return name_; }

private:
    bool readAhead();
    std::size_t readAheadBytes() const { return readBuffer_.size() - readNext_; }

    os::Handle handle_;
    std::uint64_t position_ = 0;
    bool append_ = false;
    std::string name_;
    // Bytes read from the file beyond position_: the system's file pointer stands at
    // position_ + readAheadBytes().
    std::string readBuffer_;
    std::size_t readNext_ = 0;
};

// Appends text to out as CR LF lines: the empty text becomes CR LF, every LF (with or without a
// CR before it) becomes CR LF, a CR not followed by LF stays, and CR LF ends the result once.
void appendCrLfText(std::string& out, std::string_view text);

// The system's message text for the last error, as the system gives it (often ending in CR LF);
// empty when it has none. Call it right after the failing call.
std::string lastErrorText();

}  // namespace relayon
