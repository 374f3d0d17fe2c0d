// OS-independent: the main routine of a run: start-up, the main loop and shutdown.
#pragma once

namespace relayon {

// Parses the arguments, reads the translation file, and either prints the usage or runs the
// relay until the client or the server ends. Returns the exit code, which is always 0.
int runRelayon(int argc, char** argv);

}  // namespace relayon
