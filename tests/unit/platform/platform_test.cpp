#include <gtest/gtest.h>

#include "platform/display_console.h"
#include "platform/handle_kind.h"
#include "platform/system_directory.h"

namespace os = relayon::os;

// Only a console allocated for the display is freed at its end; a windowless console is left
// for one with a window unless the client reads or writes through it.
TEST(DisplayConsole, ChoiceForEachStartingPoint) {
    const struct {
        bool allocated, attached, hasWindow, clientOnConsole;
        os::DisplayConsole choice;
    } cases[] = {{true, false, true, false, os::DisplayConsole::Own},
                 {false, true, true, true, os::DisplayConsole::Shared},
                 {false, true, true, false, os::DisplayConsole::Shared},
                 {false, true, false, true, os::DisplayConsole::Shared},
                 {false, true, false, false, os::DisplayConsole::Replace},
                 {false, false, false, false, os::DisplayConsole::Shared}};  // nothing to leave
    for (const auto& c : cases) {
        EXPECT_EQ(os::chooseDisplayConsole(c.allocated, c.attached, c.hasWindow, c.clientOnConsole), c.choice)
            << c.allocated << c.attached << c.hasWindow << c.clientOnConsole;
    }
}

// A read without bytes ends only a file or a device (the null device); on a pipe it is a
// zero-byte write of the peer's, on a console its end-of-file key. Only console calls are cut.
TEST(HandleKind, EmptyReadsAndCallSizes) {
    const struct {
        os::HandleKind kind;
        os::ReadStatus emptyRead;
        std::size_t largeCall;
    } cases[] = {{os::HandleKind::File, os::ReadStatus::End, 65536},
                 {os::HandleKind::Pipe, os::ReadStatus::Empty, 65536},
                 {os::HandleKind::EndedPipe, os::ReadStatus::End, 65536},
                 {os::HandleKind::Console, os::ReadStatus::Empty, os::kConsolePiece},
                 {os::HandleKind::Device, os::ReadStatus::End, 65536}};
    for (const auto& c : cases) {
        EXPECT_EQ(os::emptyReadStatus(c.kind), c.emptyRead) << static_cast<int>(c.kind);
        EXPECT_EQ(os::transferSize(c.kind, 65536), c.largeCall) << static_cast<int>(c.kind);
        EXPECT_EQ(os::transferSize(c.kind, 100), 100u) << static_cast<int>(c.kind);
    }
    EXPECT_LT(os::kConsolePiece, 65536u / 2);  // a console's shared buffer holds it, also widened
    // A read that a pipe message overfills delivers its bytes; a cancel interrupts only when asked.
    EXPECT_EQ(os::failedReadStatus(os::kErrorMoreData, false), os::ReadStatus::Data);
    EXPECT_EQ(os::failedReadStatus(os::kErrorOperationAborted, false), os::ReadStatus::Error);
}

// Under WOW64 only paths in the system directory itself or below it go through Sysnative.
TEST(SystemDirectory, NativePathUnderWow64) {
    const std::string system = "C:\\Windows\\system32";
    const std::pair<const char*, const char*> cases[] = {  // a path, and its native one if it differs
        {"C:\\Windows\\system32\\wsl.exe", "C:\\Windows\\Sysnative\\wsl.exe"},
        {"c:\\WINDOWS\\System32\\OpenSSH\\ssh.exe", "C:\\Windows\\Sysnative\\OpenSSH\\ssh.exe"},
        {"C:\\Windows\\System32", "C:\\Windows\\Sysnative"}, {"C:\\Windows\\System32\\", "C:\\Windows\\Sysnative\\"},
        {"C:\\Windows\\System32/cmd.exe", "C:\\Windows\\Sysnative/cmd.exe"}, {"C:\\Windows\\System32x\\a.exe", nullptr},
        {"C:\\Windows\\SysWOW64\\cmd.exe", nullptr}, {"C:\\Windows\\System3", nullptr}, {"D:\\Windows\\System32\\a.exe", nullptr}};
    for (const auto& [path, native] : cases) {
        EXPECT_EQ(os::nativeSystemPath(path, system, true), native ? native : path) << path;
        EXPECT_EQ(os::nativeSystemPath(path, system + "\\", true), native ? native : path) << path;
        EXPECT_EQ(os::nativeSystemPath(path, system, false), path) << path;
    }
}
