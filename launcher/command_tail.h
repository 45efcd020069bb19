// Cutting the program's own name off the process command line, as the Windows
// start-up does, to give the tail that the argument list splits.
#pragma once

#include "host/host_services.h"

namespace quenlet {

// Returns a pointer into commandLine, at the first byte of the tail.
const char* CutCommandLineTail(HostServices& host, const char* commandLine);

}  // namespace quenlet
