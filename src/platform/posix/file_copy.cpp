#include "platform/file_copy.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/copy_run.h"
#include "platform/handle.h"
#include "platform/io.h"

namespace relayon::os {

namespace {

constexpr std::size_t kBlock = 64 * 1024;

int fd(const Handle& handle) { return static_cast<int>(handle.get()); }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when the descriptor is open with write access to the file described by file.
bool writesTo(int descriptor, const struct stat& file) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    struct stat info;
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && ::fstat(descriptor, &info) == 0 && sameFile(info, file);
}

// True when a descriptor of this process other than except has the file open for writing (the
// log, the display, standard output and error, ...), whatever name the file was reached by.
bool heldForWriting(const struct stat& file, int except) {
    for (const char* list : {"/proc/self/fd", "/dev/fd"}) {
        DIR* directory = ::opendir(list);
        if (directory == nullptr) continue;
        bool held = false;
        while (const dirent* entry = ::readdir(directory)) {
            char* end = nullptr;
            const long n = std::strtol(entry->d_name, &end, 10);
            if (end == entry->d_name || *end != '\0' || n == except || n == ::dirfd(directory)) continue;
            held = held || writesTo(static_cast<int>(n), file);
        }
        ::closedir(directory);
        return held;
    }
    // No list of the open descriptors: each one there could be.
    const long most = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
    for (int n = 0; n < most; ++n) {
        if (n != except && writesTo(n, file)) return true;
    }
    return false;
}

// The largest file this process may write (RLIMIT_FSIZE): a write beyond it would fail part-way
// and raise SIGXFSZ, so a copy that large is refused before it starts.
std::uint64_t fileSizeLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return limit.rlim_cur;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a copy onto a missing target creates it: the target's name, or for a symbolic link to a
// file that does not exist, the name the links end at, so that the link stays (as cp does).
bool newTargetPath(const std::string& target, std::string& path) {
    path = target;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
        if (!S_ISLNK(info.st_mode)) return false;  // there after all: it came meanwhile
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), &link[0], link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return false;
        link.resize(static_cast<std::size_t>(length));
        path = link[0] == '/' ? link : directoryOf(path) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

// A new file without a name in directory, open for reading and writing. linkable: it can be
// given a name later (O_TMPFILE); otherwise it had one only for the moment of its creation.
Handle namelessFile(const std::string& directory, mode_t mode, bool& linkable) {
#ifdef O_TMPFILE
    Handle file(::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    linkable = file.valid();
    if (file) return file;
#else
    (void)mode;
    linkable = false;
#endif
    std::string name = directory + "/.relayon-copy-XXXXXX";
    Handle named(::mkostemp(&name[0], O_CLOEXEC));
    if (named) ::unlink(name.c_str());
    return named;
}

// Reads the rest of in into a file without a name, in directory where it can be made (then a new
// target can be linked there), else in the temporary directory; size receives its length.
// Gives up at a failing read or write, an interrupt of the thread, or the end of the process.
Handle readWhole(const Handle& in, const std::string& directory, mode_t mode, const CopyRun& run,
                 bool& linkable, std::uint64_t& size) {
    const char* tmp = std::getenv("TMPDIR");
    Handle copy;
    for (const std::string& place : {directory, std::string(tmp != nullptr && *tmp ? tmp : "/tmp"), std::string("/tmp")}) {
        copy = namelessFile(place, mode, linkable);
        linkable = linkable && place == directory;
        if (copy) break;
    }
    if (!copy) return Handle();
    const std::uint64_t limit = fileSizeLimit();
    char buffer[kBlock];
    for (size = 0;;) {
        if (run.cancelled()) return Handle();
        const ReadResult got = readSome(in.get(), buffer, sizeof buffer);
        if (got.status == ReadStatus::End) return copy;
        if (got.status != ReadStatus::Data || limit - size < got.count) return Handle();
        if (!writeAll(copy.get(), buffer, got.count)) return Handle();
        size += got.count;
    }
}

// Reserves room for size bytes in the file without changing its size or content, so that a full
// disk or quota shows before the content is touched; true where the system cannot reserve.
bool reserve(int file, std::uint64_t size) {
#ifdef FALLOC_FL_KEEP_SIZE
    if (size == 0) return true;
    int result;
    do {
        result = ::fallocate(file, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0 || errno == EOPNOTSUPP || errno == ENOSYS;
#else
    (void)file;
    (void)size;
    return true;
#endif
}

// Writes the first size bytes of from over the beginning of to, and ends to there. Not
// interrupted: a target written in place is finished once begun.
bool writeOver(int to, int from, std::uint64_t size) {
    char buffer[kBlock];
    for (std::uint64_t done = 0; done < size;) {
        const ssize_t got = ::pread(from, buffer, std::min<std::uint64_t>(sizeof buffer, size - done),
                                    static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::pwrite(to, buffer + put, static_cast<std::size_t>(got - put),
                                       static_cast<off_t>(done) + put);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            put += n;
        }
        done += static_cast<std::uint64_t>(got);
    }
    return ::ftruncate(to, static_cast<off_t>(size)) == 0;
}

// Gives the complete copy the new target's name: links the nameless file where it is, else
// writes a new file, removed again when it cannot be completed.
bool createTarget(const Handle& copy, bool linkable, std::uint64_t size, const std::string& path, mode_t mode) {
    if (linkable) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd(copy));
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno == EEXIST) return false;  // another file came meanwhile
    }
    Handle out(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
    if (!out) return false;
    if (writeOver(fd(out), fd(copy), size) && closeHandle(out.release())) return true;
    ::unlink(path.c_str());
    return false;
}

}  // namespace

bool copyFile(const std::string& source, const std::string& target) {
    const CopyRun run;
    if (source.empty() || target.empty() || run.cancelled()) return false;
    // Not blocking in the open: a FIFO without a writer would hold the caller for ever.
    Handle in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat from;
    if (!in || ::fstat(fd(in), &from) != 0 || !S_ISREG(from.st_mode)) return false;
    if (static_cast<std::uint64_t>(from.st_size) > fileSizeLimit()) return false;
    const mode_t mode = from.st_mode & 0777;  // a new target's, as the umask allows (cp)

    Handle out;
    std::string path;
    struct stat to;
    if (::stat(target.c_str(), &to) == 0) {
        // An existing target (through symbolic links) is written in place, as cp does: only a
        // regular file that the user may write, that is not the source, and that no writer of
        // this process holds, nor one of another Relayon (its lock).
        if (!S_ISREG(to.st_mode)) return false;
        out.reset(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!out || ::fstat(fd(out), &to) != 0 || !S_ISREG(to.st_mode) || sameFile(to, from) ||
            heldForWriting(to, fd(out)) || ::flock(fd(out), LOCK_EX | LOCK_NB) != 0) {
            return false;
        }
        char resolved[PATH_MAX];
        path = ::realpath(target.c_str(), resolved) != nullptr ? resolved : target;
    } else if (errno != ENOENT || !newTargetPath(target, path)) {
        return false;
    }

    // The whole source first: a source that fails to read, or the end of the process, leaves
    // the target untouched.
    bool linkable = false;
    std::uint64_t size = 0;
    const Handle copy = readWhole(in, directoryOf(path), mode, run, linkable, size);
    if (!copy) return false;
    if (!out) return createTarget(copy, linkable, size, path, mode);
    return reserve(fd(out), size) && writeOver(fd(out), fd(copy), size);
}

}  // namespace relayon::os
