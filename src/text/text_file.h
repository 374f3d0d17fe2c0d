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

// One file, used by one thread at a time: read in lines, or appended to.
class TextFile {
public:
    TextFile() = default;
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // Opens the name trimmed of blanks (closing an open file first). Opened to read, the file is
    // shared for reading, writing and deletion; opened to write, for reading only. An access of
    // kGenericWrite alone is widened to read and write. Append makes every write land at the end
    // of the file, so that bytes others add meanwhile are kept (files of 4 GiB and more too). A
    // blank name fails without a system call.
    bool open(const std::string& name, std::uint32_t access, bool append, std::uint32_t creation);
    void close();
    bool isOpen() const { return handle_.valid(); }
    // True for a file on a disk, as opposed to a device or a pipe.
    bool isRegularFile() const { return handle_.valid() && os::isRegularFile(handle_.get()); }

    // The next line without its LF and with every CR dropped. A last line without LF counts;
    // false only when the end of the file (or a read error) comes before any byte. A line is
    // kept to kMaxLineBytes: it is returned once it holds that many bytes, and the rest of it is
    // read over only when the next line is asked for, so that a caller that stops there never
    // reads an over-long line to its end.
    bool readLine(std::string& out);

    // Writes all bytes (opened to append: at the end of the file).
    bool write(const void* data, std::size_t length);

    const std::string& name() const { return name_; }

private:
    bool readAhead();
    std::size_t readAheadBytes() const { return readBuffer_.size() - readNext_; }

    os::Handle handle_;
    std::string name_;
    std::string readBuffer_;  // bytes read from the file, from readNext_ on not yet returned
    std::size_t readNext_ = 0;
    bool skipping_ = false;  // the rest of a cut line comes next
};

// Appends text to out as CR LF lines: the empty text becomes CR LF, every LF (with or without a
// CR before it) becomes CR LF, a CR not followed by LF stays, and CR LF ends the result once.
void appendCrLfText(std::string& out, std::string_view text);

// The system's message text for the last error, as the system gives it (often ending in CR LF);
// empty when it has none. Call it right after the failing call.
std::string lastErrorText();

}  // namespace relayon
