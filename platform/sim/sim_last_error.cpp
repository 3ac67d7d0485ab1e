// The error code of the simulated system's last failed call.
#include "platform/sim/sim_box.h"
#include "platform/system.h"

std::uint32_t SystemLastError() { return sim::LastError(); }
