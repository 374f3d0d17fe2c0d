// OS-independent: the program's entry.
#include "startup/supervisor.h"

int main(int argc, char** argv) { return relayon::runRelayon(argc, argv); }
