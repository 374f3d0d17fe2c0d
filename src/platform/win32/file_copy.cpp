#include "platform/file_copy.h"

#include <cstring>
#include <string>

#include "platform/copy_run.h"
#include "platform/file.h"
#include "platform/win32/native.h"

namespace relayon::os {

namespace {

// FILE_ID_INFO (Windows 8 and later), declared here for the Vista headers of this build.
struct FileIdInfo {
    ULONGLONG VolumeSerialNumber;
    BYTE FileId[16];
};
const auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// True when both handles are of one file, by whatever names they were opened (hard links
// included). The 128-bit identity where the system has it (Windows 8 and later), else the
// volume and the 64-bit index; a volume serial of 0 is unknown (Wine's for a handle that it was
// given by the host, such as a standard handle redirected to a file).
bool sameFile(HANDLE a, HANDLE b) {
    FileIdInfo x, y;
    if (GetFileInformationByHandleEx(a, kFileIdInfo, &x, sizeof x) &&
        GetFileInformationByHandleEx(b, kFileIdInfo, &y, sizeof y)) {
        return memcmp(x.FileId, y.FileId, sizeof x.FileId) == 0 &&
               (x.VolumeSerialNumber == y.VolumeSerialNumber || x.VolumeSerialNumber == 0 ||
                y.VolumeSerialNumber == 0);
    }
    BY_HANDLE_FILE_INFORMATION p, q;
    return GetFileInformationByHandle(a, &p) && GetFileInformationByHandle(b, &q) &&
           p.dwVolumeSerialNumber == q.dwVolumeSerialNumber && p.nFileIndexHigh == q.nFileIndexHigh &&
           p.nFileIndexLow == q.nFileIndexLow;
}

// The name that the file of a handle has, through symbolic links, without the "\\?\" prefix;
// empty when the system cannot tell.
std::string finalPath(HANDLE file) {
    char buffer[MAX_PATH + 8];
    const DWORD length = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof buffer) return "";
    const std::string path(buffer, length);
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + path.substr(7);
    return path.rfind("\\\\?\\", 0) == 0 ? path.substr(4) : path;
}

// The folder of a path, with its separator; "." for a bare name.
std::string folderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator + 1);
}

// Stops CopyFileExA once the process is ending; the copy then deletes what it wrote.
DWORD CALLBACK onProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE,
                          HANDLE, LPVOID run) {
    return static_cast<const CopyRun*>(run)->cancelled() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

}  // namespace

// CopyFileA writes an existing target in place, so a copy failing part-way would leave it
// partly overwritten. The copy goes to a temporary file in the target's folder instead and is
// moved over the target once complete.
bool copyFile(const std::string& source, const std::string& target) {
    const CopyRun run;
    if (source.empty() || target.empty() || run.cancelled()) return false;
    // The open shares reading and writing, so that a file another writer holds still counts.
    Handle from(fromNative(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!from || !isRegularFile(from.get())) return false;

    // The name's own attributes: on Windows those of a symbolic link itself, whose file is
    // looked at through the handle below; Wine follows links, and hides a file by its name.
    std::string destination = target;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    const bool existing = attributes != INVALID_FILE_ATTRIBUTES;
    if (existing) {
        // Reading attributes only, which no share mode refuses. A dangling link is refused.
        Handle to(fromNative(CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
        const HANDLE file = toNative(to.get());
        BY_HANDLE_FILE_INFORMATION info;
        if (!to || !isRegularFile(to.get()) || !GetFileInformationByHandle(file, &info)) return false;
        // What CopyFileA refuses: a read-only or hidden target (ERROR_ACCESS_DENIED), the source
        // itself; and the files this process writes to as its standard output and error.
        if ((attributes | info.dwFileAttributes) &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if (sameFile(file, toNative(from.get())) || sameFile(file, GetStdHandle(STD_OUTPUT_HANDLE)) ||
            sameFile(file, GetStdHandle(STD_ERROR_HANDLE))) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return false;
        }
        // Through a symbolic link the link stays and its file is replaced, as CopyFileA writes it.
        const std::string real = finalPath(file);
        if (!real.empty()) destination = real;
    }
    from.close();

    char temporary[MAX_PATH];
    if (GetTempFileNameA(folderOf(destination).c_str(), "rly", 0, temporary) == 0) return false;
    // A new target is not moved over a file that came meanwhile. The move of a complete copy
    // fails where the target is open without FILE_SHARE_DELETE, as the live log is.
    const BOOL ok = CopyFileExA(source.c_str(), temporary, onProgress, const_cast<CopyRun*>(&run), nullptr, 0) &&
                    MoveFileExA(temporary, destination.c_str(),
                                MOVEFILE_WRITE_THROUGH | (existing ? MOVEFILE_REPLACE_EXISTING : 0));
    if (!ok) {
        const DWORD error = GetLastError();
        SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);  // a read-only copy of a read-only source
        DeleteFileA(temporary);
        SetLastError(error);
    }
    return ok != FALSE;
}

}  // namespace relayon::os
