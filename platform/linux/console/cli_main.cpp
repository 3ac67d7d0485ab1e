// The console program's entry on Linux: the real boxes behind the hidraw backend.
#include "cli/cli_run.h"

int main(int argc, char** argv) { return RunConsoleProgram(argc, argv, "veltabox-cli", false); }
