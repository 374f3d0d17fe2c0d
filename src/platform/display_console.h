// OS-independent: which console a Windows debug display goes to, decided apart from the calls.
#pragma once

namespace relayon::os {

enum class DisplayConsole {
    Own,      // a console allocated for the display: freed when the display closes
    Shared,   // the console the process had: the display's buffer is shown in its window until
              // the display closes, then the buffer shown before is shown again
    Replace,  // the process's console has no window and the client does not use it: leave it
              // and allocate one of Relayon's own, which has a window
};

// allocated: the process had no console and one was allocated for it; attached: otherwise, the
// process is attached to a console (allocating can fail without one, as under Wine); hasWindow:
// that console shows a window; clientOnConsole: the client's input or output is that console.
inline DisplayConsole chooseDisplayConsole(bool allocated, bool attached, bool hasWindow, bool clientOnConsole) {
    if (allocated) return DisplayConsole::Own;
    return !attached || hasWindow || clientOnConsole ? DisplayConsole::Shared : DisplayConsole::Replace;
}

}  // namespace relayon::os
