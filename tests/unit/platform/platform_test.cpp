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
}

// A failed read still delivers its bytes when a pipe message did not fit; only an interrupt
// that was asked for makes a cancelled read an interruption.
TEST(HandleKind, FailedReads) {
    const struct {
        int error;
        bool interrupted;
        os::ReadStatus status;
    } cases[] = {{os::kErrorMoreData, false, os::ReadStatus::Data},
                 {os::kErrorMoreData, true, os::ReadStatus::Data},
                 {os::kErrorOperationAborted, true, os::ReadStatus::Interrupted},
                 {os::kErrorOperationAborted, false, os::ReadStatus::Error},
                 {os::kErrorBrokenPipe, true, os::ReadStatus::End},
                 {os::kErrorHandleEof, false, os::ReadStatus::End},
                 {5, false, os::ReadStatus::Error}};
    for (const auto& c : cases) {
        EXPECT_EQ(os::failedReadStatus(c.error, c.interrupted), c.status) << c.error << c.interrupted;
    }
}

// Under WOW64 only paths in the system directory itself or below it go through Sysnative.
TEST(SystemDirectory, NativePathUnderWow64) {
    const std::string system = "C:\\Windows\\system32";
    const struct {
        const char* path;
        bool wow64;
        const char* expected;
    } cases[] = {{"C:\\Windows\\system32\\wsl.exe", true, "C:\\Windows\\Sysnative\\wsl.exe"},
                 {"c:\\WINDOWS\\System32\\OpenSSH\\ssh.exe", true, "C:\\Windows\\Sysnative\\OpenSSH\\ssh.exe"},
                 {"C:\\Windows\\System32", true, "C:\\Windows\\Sysnative"},
                 {"C:\\Windows\\System32\\", true, "C:\\Windows\\Sysnative\\"},
                 {"C:\\Windows\\System32/cmd.exe", true, "C:\\Windows\\Sysnative/cmd.exe"},
                 {"C:\\Windows\\System32x\\a.exe", true, "C:\\Windows\\System32x\\a.exe"},
                 {"C:\\Windows\\SysWOW64\\cmd.exe", true, "C:\\Windows\\SysWOW64\\cmd.exe"},
                 {"C:\\Windows\\System3", true, "C:\\Windows\\System3"},
                 {"D:\\Windows\\System32\\cmd.exe", true, "D:\\Windows\\System32\\cmd.exe"},
                 {"C:\\Windows\\System32\\cmd.exe", false, "C:\\Windows\\System32\\cmd.exe"}};
    for (const auto& c : cases) {
        EXPECT_EQ(os::nativeSystemPath(c.path, system, c.wow64), c.expected) << c.path << c.wow64;
        EXPECT_EQ(os::nativeSystemPath(c.path, system + "\\", c.wow64), c.expected) << c.path << c.wow64;
    }
    EXPECT_EQ(os::nativeSystemPath("C:\\Windows\\cmd.exe", "", true), "C:\\Windows\\cmd.exe");
}
