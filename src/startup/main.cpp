// OS-independent: the program's entry.
#include "platform/signals.h"
#include "startup/supervisor.h"

int main(int argc, char** argv) {
    // A copy of Relayon started only to carry a control event to the server does that alone.
    int carrierExitCode = 0;
    if (relayon::os::deliverRequestedControlEvent(carrierExitCode)) return carrierExitCode;
    return relayon::runRelayon(argc, argv);
}
