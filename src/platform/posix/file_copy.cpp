#include "platform/file_copy.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/handle.h"
#include "platform/io.h"

namespace relayon::os {

namespace {

int fd(const Handle& handle) { return static_cast<int>(handle.get()); }

// Copies the rest of in to out; false on the first failing read or write.
bool copyBytes(const Handle& in, const Handle& out) {
    char buffer[64 * 1024];
    for (;;) {
        const ReadResult got = readSome(in.get(), buffer, sizeof buffer);
        if (got.status == ReadStatus::End) return true;
        if (got.status != ReadStatus::Data || !writeAll(out.get(), buffer, got.count)) return false;
    }
}

// Creates a new, empty file beside path under a name no other file has; name receives it.
Handle createTemporaryBeside(const std::string& path, mode_t mode, std::string& name) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = directory + "." + base + ".copy-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter++);
        Handle out(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
        if (out || errno != EEXIST) return out;
    }
    return Handle();
}

}  // namespace

// The copy goes to a temporary file beside the target, which is renamed over the target only
// once it is complete, so a copy that fails leaves the target as it was.
bool copyFile(const std::string& source, const std::string& target) {
    // Not blocking in the open: a FIFO without a writer would hold the caller for ever.
    Handle in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat from;
    if (!in || ::fstat(fd(in), &from) != 0 || !S_ISREG(from.st_mode)) return false;

    // An existing target (followed through symbolic links) is replaced where it is, keeping its
    // permissions; only a regular file is replaced, and not while a writer of Relayon's holds it
    // (its exclusive lock), which keeps the live log intact.
    std::string path = target;
    mode_t mode = 0666;  // a new target: as the umask allows
    bool existing = false;
    Handle held;
    struct stat to;
    if (::stat(target.c_str(), &to) == 0) {
        char resolved[PATH_MAX];
        if (!S_ISREG(to.st_mode) || ::realpath(target.c_str(), resolved) == nullptr) return false;
        if (to.st_dev == from.st_dev && to.st_ino == from.st_ino) return false;  // onto itself
        path = resolved;
        existing = true;
        mode = to.st_mode & 07777;
        held.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!held || ::flock(fd(held), LOCK_EX | LOCK_NB) != 0) return false;
    } else if (errno != ENOENT) {
        return false;
    }

    std::string temporary;
    Handle out = createTemporaryBeside(path, mode, temporary);
    if (!out) return false;
    bool ok = copyBytes(in, out);
    if (ok && existing) {
        // The owner is kept where the system allows it (it changes the permissions after).
        int kept = ::fchown(fd(out), to.st_uid, to.st_gid);
        (void)kept;
        ok = ::fchmod(fd(out), mode) == 0;
    }
    ok = closeHandle(out.release()) && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace relayon::os
