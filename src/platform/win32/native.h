// Conversions between the portable handle values and Win32 HANDLEs (Win32 layer only).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handle.h"

namespace relayon::os {

inline HANDLE toNative(RawHandle handle) {
    return handle == kNoHandle ? nullptr : reinterpret_cast<HANDLE>(handle);
}

// Null and INVALID_HANDLE_VALUE both become kNoHandle.
inline RawHandle fromNative(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return kNoHandle;
    return reinterpret_cast<RawHandle>(handle);
}

// The path by which this process reaches the file that path names for the system's own
// programs: under WOW64, a path in the system directory goes through Sysnative.
std::string nativePath(const std::string& path);

// Limits what a child inherits to handles, each inheritable, through the attribute list of
// STARTUPINFOEX (process.cpp). Without handles there is no list.
class InheritedHandles {
public:
    explicit InheritedHandles(std::vector<HANDLE> handles);
    ~InheritedHandles();
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    DWORD error() const { return error_; }  // 0, or why the list could not be made
    // For STARTUPINFOEX::lpAttributeList, with EXTENDED_STARTUPINFO_PRESENT; null without handles.
    LPPROC_THREAD_ATTRIBUTE_LIST list();

private:
    std::vector<HANDLE> handles_;
    std::vector<char> storage_;
    bool made_ = false;
    DWORD error_ = 0;
};

// Helpers are copies of this program started for work that has to happen in a process of its
// own (helper.cpp). Starts one, from this program's wide-character path, with an environment
// that holds only its order and with only the inherited handles; returns 0 or the system's
// error. Before main, a helper does its order and ends with the role's exit code.
DWORD startHelper(const std::string& order, std::vector<HANDLE> inherited, Handle& helper);
// How long a helper that was ended is waited for.
constexpr DWORD kHelperEndWaitMs = 2000;

// The roles. The carrier (signals.cpp) attaches to the console of the server with that id and
// raises the control event there; 0 when delivered. The suspension watcher (process.cpp) waits
// until Relayon or the server ends, and after Relayon's end resumes the server's main thread
// while the event suspended is set.
int deliverControlEvent(unsigned event, DWORD serverId);
int resumeWhenLeftSuspended(HANDLE relayon, HANDLE server, HANDLE thread, HANDLE suspended);

// Relayon's side of the carrier: while the caller holds the server's handle, so that its id
// stays the server's, starts a carrier and waits for it, ending one that does not finish in time.
bool carryControlEvent(HANDLE server, DWORD serverId, unsigned event);

}  // namespace relayon::os
