#include <gtest/gtest.h>

#include "platform/display_console.h"

namespace os = relayon::os;

// Only a console allocated for the display is freed at its end; a windowless console is left
// for one with a window unless the client reads or writes through it.
TEST(DisplayConsole, ChoiceForEachStartingPoint) {
    const struct {
        bool allocated, hasWindow, clientOnConsole;
        os::DisplayConsole choice;
    } cases[] = {
        {true, true, false, os::DisplayConsole::Own},
        {false, true, true, os::DisplayConsole::Shared},
        {false, true, false, os::DisplayConsole::Shared},
        {false, false, true, os::DisplayConsole::Shared},
        {false, false, false, os::DisplayConsole::Replace},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(os::chooseDisplayConsole(c.allocated, c.hasWindow, c.clientOnConsole), c.choice)
            << c.allocated << c.hasWindow << c.clientOnConsole;
    }
}
