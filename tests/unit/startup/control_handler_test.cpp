#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "platform/signals.h"
#include "probes.h"
#include "process/server_process.h"
#include "startup/control_handler.h"
#include "../process/test_support.h"

namespace {

relayon::ServerProcess server;
relayon::Settings settings;
// Installed before any test starts a thread, as start-up does.
const bool installed = relayon::installControlHandler(server, settings);

}  // namespace

TEST(ControlHandler, EventNames) {
    const char* names[] = {"CTRL-C\n", "BREAK\n", "CLOSE\n", "unknown\n", "unknown\n", "LOGOFF\n", "SHUTDOWN\n"};
    for (unsigned event = 0; event < 7; ++event) EXPECT_EQ(relayon::controlEventName(event), names[event]) << event;
}

TEST(ControlHandler, DecisionsForEventsServerAndDebugMask) {
    auto decided = [](unsigned event, std::uint32_t serverId, int debug) {
        const relayon::ControlDecision d = relayon::decideControlEvent(event, serverId, debug);
        return std::string(d.forward ? "forward " : "") + (d.toConsole ? "console " : "") + (d.toLog ? "log " : "") +
               (d.handled ? "handled " : "") + d.message;
    };
    // Debug 0: Ctrl-C and Break go to a known server only, silently; others are not handled.
    EXPECT_EQ(decided(0, 1234, 0), "forward handled ");
    EXPECT_EQ(decided(1, 1234, 0), "forward handled ");
    EXPECT_EQ(decided(0, 0, 0), "handled ");
    EXPECT_EQ(decided(2, 1234, 0), "");
    EXPECT_EQ(decided(6, 1234, 0), "");
    EXPECT_EQ(decided(1, 1234, 1), "forward console log handled Control signal BREAK\n");
    EXPECT_EQ(decided(1, 1234, 3), "forward console log handled Control signal BREAK\n");
    EXPECT_EQ(decided(0, 0, 1), "console log handled Control signal CTRL-C\n");
    EXPECT_EQ(decided(5, 1234, 1), "console log Control signal LOGOFF\n");
    EXPECT_EQ(decided(3, 1234, 3), "console log Control signal unknown\n");
    // Debug exactly 2: other events reach the log only.
    EXPECT_EQ(decided(2, 1234, 2), "log Control signal CLOSE\n");
    EXPECT_EQ(decided(0, 1234, 2), "forward console log handled Control signal CTRL-C\n");
}

TEST(ControlHandler, CtrlCAndBreakReachTheServersProcessGroup) {
    if (relayon::test::platformName() == "win32") {
        GTEST_SKIP() << "Wine cannot generate console control events for processes on pipes";
    }
    ASSERT_TRUE(installed);
    ASSERT_NE(server.start(relayon::test::testServerCommand("signals")), 0u);
    relayon::test::LineCollector lines(server.outputReader());
    ASSERT_EQ(lines.next(), "ready");
    ASSERT_TRUE(relayon::test::raiseControlEvent(relayon::os::kCtrlCEvent));
    EXPECT_EQ(lines.next(), "control 0");
    ASSERT_TRUE(relayon::test::raiseControlEvent(relayon::os::kCtrlBreakEvent));
    EXPECT_EQ(lines.next(), "control 1");
    server.stop(true);
}
