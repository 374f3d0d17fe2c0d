// OS-independent: reading the files of the readfile directive from disk.
#include "engine/file_source.h"

#include "text/text_utils.h"
#include "text/text_file.h"

namespace relayon {

bool DiskFileSource::readLines(const std::string& name, const LineSink& sink, std::string& errorText) {
    // A blank name fails without a system call, so the system's last error would tell of some
    // earlier call; report no text instead.
    if (trimBlanks(name).empty()) {
        errorText.clear();
        return false;
    }
    TextFile file;
    if (!file.open(name, kGenericRead, false, kOpenExisting)) {
        errorText = lastErrorText();
        return false;
    }
    if (!file.isRegularFile()) {
        errorText = "Not a regular file";
        return false;
    }
    std::string line;
    while (file.readLine(line) && sink(line)) {
    }
    return true;
}

}  // namespace relayon
