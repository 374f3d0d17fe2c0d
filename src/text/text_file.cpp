// OS-independent: line reading and appending of a TextFile.
#include "text/text_file.h"

#include <cstring>

#include "text/text_utils.h"
#include "platform/io.h"

namespace relayon {

namespace {

// Bytes read from the file at a time by readLine.
constexpr std::size_t kReadBlock = 64 * 1024;

}  // namespace

bool TextFile::open(const std::string& name, std::uint32_t access, bool append, std::uint32_t creation) {
    close();
    name_ = trimBlanks(name);
    if (name_.empty()) return false;
    const std::uint32_t widened = access == os::kGenericWrite ? os::kGenericRead | os::kGenericWrite : access;
    const std::uint32_t flags = os::kFileAttributeNormal | os::kFlagSequentialScan;
    const std::uint32_t appendData = append && (widened & os::kGenericWrite) ? os::kFileAppendData : 0;
    // A file only read lets others go on writing, renaming or deleting it (a growing data file, a
    // logger's file); one written keeps other writers out.
    const std::uint32_t share = (widened & os::kGenericWrite) != 0
                                    ? os::kFileShareRead
                                    : os::kFileShareRead | os::kFileShareWrite | os::kFileShareDelete;
    handle_.reset(os::openFile(name_, widened | appendData, share, creation, flags));
    if (!handle_.valid()) return false;
    if (append && !os::seekToEnd(handle_.get())) {
        // Writing anywhere but at the end would overwrite what the file holds.
        close();
        return false;
    }
    return true;
}

void TextFile::close() {
    handle_.close();
    readBuffer_.clear();
    readNext_ = 0;
    skipping_ = false;
}

bool TextFile::readAhead() {
    readBuffer_.resize(kReadBlock);
    readNext_ = 0;
    std::size_t got = 0;
    if (!handle_.valid() || !os::readFile(handle_.get(), &readBuffer_[0], kReadBlock, got)) got = 0;
    readBuffer_.resize(got);
    return got > 0;
}

bool TextFile::readLine(std::string& out) {
    out.clear();
    bool started = false;  // a byte of the line was read
    for (;;) {
        if (readAheadBytes() == 0 && !readAhead()) return started;
        const char* begin = readBuffer_.data() + readNext_;
        const char* feed = static_cast<const char*>(std::memchr(begin, '\n', readAheadBytes()));
        const std::size_t size = feed ? static_cast<std::size_t>(feed - begin) : readAheadBytes();
        const std::size_t used = size + (feed ? 1 : 0);
        readNext_ += used;
        if (skipping_) {
            // The rest of a line that was cut: read over, never kept.
            skipping_ = feed == nullptr;
            continue;
        }
        started = true;
        appendLineBytes(out, begin, begin + size);
        if (feed) return true;
        if (out.size() >= kMaxLineBytes) {
            // The caller has the line as far as it is kept; the rest is read over only if it
            // asks for the next line.
            skipping_ = true;
            return true;
        }
    }
}

bool TextFile::write(const void* data, std::size_t length) {
    return handle_.valid() && os::writeAll(handle_.get(), data, length);
}

void appendCrLfText(std::string& out, std::string_view text) {
    const std::size_t size = text.size();
    if (size == 0 ||
        (std::memchr(text.data(), '\n', size) == nullptr && std::memchr(text.data(), '\r', size) == nullptr)) {
        // One line without line ends (every relayed line is one): it only gains its CR LF.
        out.append(text);
        out += "\r\n";
        return;
    }
    for (std::size_t i = 0; i < size; ++i) {
        char byte = text[i];
        if (byte == '\r' && i + 1 < size && text[i + 1] == '\n') continue;  // the LF brings its own
        if (byte == '\n') out += '\r';
        out += byte;
    }
    if (text[size - 1] != '\n') out += "\r\n";
}

std::string lastErrorText() {
    return os::lastErrorText();
}

}  // namespace relayon
