// OS-independent: line reading, CR LF writing and positioning of a TextFile.
#include "text/text_file.h"

#include <cstring>

#include "text/text_utils.h"
#include "platform/io.h"

namespace relayon {

namespace {

// Bytes read from the file at a time by readLine.
constexpr std::size_t kReadBlock = 4096;

}  // namespace

bool TextFile::open(const std::string& name, std::uint32_t access, bool append, std::uint32_t creation,
                    bool randomAccess) {
    close();
    name_ = trimBlanks(name);
    if (name_.empty()) return false;
    const std::uint32_t widened = access == os::kGenericWrite ? os::kGenericRead | os::kGenericWrite : access;
    const std::uint32_t flags =
        os::kFileAttributeNormal | (randomAccess ? os::kFlagRandomAccess : os::kFlagSequentialScan);
    append_ = append;
    const std::uint32_t appendData = append && (widened & os::kGenericWrite) ? os::kFileAppendData : 0;
    // A file only read lets others go on writing, renaming or deleting it (a growing data file, a
    // logger's file); one written keeps other writers out.
    const std::uint32_t share = (widened & os::kGenericWrite) != 0
                                    ? os::kFileShareRead
                                    : os::kFileShareRead | os::kFileShareWrite | os::kFileShareDelete;
    handle_.reset(os::openFile(name_, widened | appendData, share, creation, flags));
    if (!handle_.valid()) return false;
    if (append && !os::seekFile(handle_.get(), 0, os::SeekFrom::End, position_)) {
        // Writing anywhere but at the end would overwrite what the file holds.
        close();
        return false;
    }
    return true;
}

void TextFile::close() {
    handle_.close();
    position_ = 0;
    readBuffer_.clear();
    readNext_ = 0;
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
    for (;;) {
        if (readAheadBytes() == 0 && !readAhead()) return !out.empty();
        char byte = readBuffer_[readNext_++];
        ++position_;
        if (byte == '\r') continue;
        if (byte == '\n') return true;
        if (out.size() < kMaxLineBytes) out += byte;
    }
}

bool TextFile::seek(std::uint64_t pos) {
    if (!handle_.valid()) return false;
    if (pos == position_ && readAheadBytes() == 0) return true;
    readBuffer_.clear();
    readNext_ = 0;
    if (pos > static_cast<std::uint64_t>(INT64_MAX) ||
        !os::seekFile(handle_.get(), static_cast<std::int64_t>(pos), os::SeekFrom::Begin, position_)) {
        position_ = 0;
        return false;
    }
    return true;
}

bool TextFile::write(const void* data, std::size_t length, std::uint64_t pos) {
    if (!handle_.valid() || (!append_ && !seek(pos))) return false;
    std::size_t written = 0;
    bool ok = os::writeAll(handle_.get(), data, length, &written);
    position_ += written;
    return ok;
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
