#include <gtest/gtest.h>

#include "platform/display_console.h"

namespace os = relayon::os;

// Only a console allocated for the display is freed at its end; a windowless console is left
// for one with a window unless the client reads or writes through it.
TEST(DisplayConsole, ChoiceForEachStartingPoint) {
    const struct {
        bool allocated, attached, hasWindow, clientOnConsole;
        os::DisplayConsole choice;
    } cases[] = {
        {true, false, true, false, os::DisplayConsole::Own},
        {false, true, true, true, os::DisplayConsole::Shared},
        {false, true, true, false, os::DisplayConsole::Shared},
        {false, true, false, true, os::DisplayConsole::Shared},
        {false, true, false, false, os::DisplayConsole::Replace},
        {false, false, false, false, os::DisplayConsole::Shared},  // nothing to leave
    };
    for (const auto& c : cases) {
        EXPECT_EQ(os::chooseDisplayConsole(c.allocated, c.attached, c.hasWindow, c.clientOnConsole), c.choice)
            << c.allocated << c.attached << c.hasWindow << c.clientOnConsole;
    }
}
