#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "platform/signals.h"
#include "platform/system_info.h"
#include "process/server_process.h"
#include "startup/control_handler.h"
#include "../process/test_support.h"

using relayon::ControlDecision;
using relayon::decideControlEvent;

namespace {

relayon::ServerProcess server;
relayon::Settings settings;
// Installed before any test starts a thread, as start-up does.
const bool installed = relayon::installControlHandler(server, settings);

std::string describe(const ControlDecision& d) {
    return std::string(d.forward ? "forward " : "") + (d.toConsole ? "console " : "") + (d.toLog ? "log " : "") +
           (d.handled ? "handled " : "") + d.message;
}

}  // namespace

TEST(ControlHandler, EventNames) {
    EXPECT_EQ(relayon::controlEventName(0), "CTRL-C\n");
    EXPECT_EQ(relayon::controlEventName(1), "BREAK\n");
    EXPECT_EQ(relayon::controlEventName(2), "CLOSE\n");
    EXPECT_EQ(relayon::controlEventName(5), "LOGOFF\n");
    EXPECT_EQ(relayon::controlEventName(6), "SHUTDOWN\n");
    EXPECT_EQ(relayon::controlEventName(3), "unknown\n");
    EXPECT_EQ(relayon::controlEventName(4), "unknown\n");
}

TEST(ControlHandler, DecisionsForEventsServerAndDebugMask) {
    // Debug 0: Ctrl-C and Break go to a known server only, silently; others are not handled.
    EXPECT_EQ(describe(decideControlEvent(0, 1234, 0)), "forward handled ");
    EXPECT_EQ(describe(decideControlEvent(1, 1234, 0)), "forward handled ");
    EXPECT_EQ(describe(decideControlEvent(0, 0, 0)), "handled ");
    EXPECT_EQ(describe(decideControlEvent(2, 1234, 0)), "");
    EXPECT_EQ(describe(decideControlEvent(6, 1234, 0)), "");

    EXPECT_EQ(describe(decideControlEvent(1, 1234, 1)), "forward console log handled Control signal BREAK\n");
    EXPECT_EQ(describe(decideControlEvent(1, 1234, 3)), "forward console log handled Control signal BREAK\n");
    EXPECT_EQ(describe(decideControlEvent(0, 0, 1)), "console log handled Control signal CTRL-C\n");
    EXPECT_EQ(describe(decideControlEvent(5, 1234, 1)), "console log Control signal LOGOFF\n");
    EXPECT_EQ(describe(decideControlEvent(3, 1234, 3)), "console log Control signal unknown\n");

    // Debug exactly 2: other events reach the log only.
    EXPECT_EQ(describe(decideControlEvent(2, 1234, 2)), "log Control signal CLOSE\n");
    EXPECT_EQ(describe(decideControlEvent(0, 1234, 2)), "forward console log handled Control signal CTRL-C\n");
}

TEST(ControlHandler, CtrlCAndBreakReachTheServersProcessGroup) {
    if (relayon::os::platformName() == "win32") {
        GTEST_SKIP() << "Wine cannot generate console control events for processes on pipes";
    }
    ASSERT_TRUE(installed);
    ASSERT_NE(server.start(relayon::test::testServerCommand("signals")), 0u);
    relayon::test::LineCollector lines(server.outputReader());
    ASSERT_EQ(lines.next(), "ready");

    ASSERT_TRUE(relayon::os::raiseControlEvent(relayon::os::kCtrlCEvent));
    EXPECT_EQ(lines.next(), "control 0");
    ASSERT_TRUE(relayon::os::raiseControlEvent(relayon::os::kCtrlBreakEvent));
    EXPECT_EQ(lines.next(), "control 1");
    server.stop(true);
}
