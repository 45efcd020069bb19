// The launch from start to end: the class path from the exe folder and its
// build and lib jars, the heap from the registry, then the Java application.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_services.h"
#include "launcher/argument_list.h"

namespace quenlet {

// The main class, fixed when the launcher is built.
extern const char kMainClass[];

// Runs the Java application with the arguments; returns the exit status, 0 on
// every path (a failure has been shown in a dialog by then).
int RunLauncher(HostServices& host, const ArgumentList& arguments);

// The exe folder, then the jars of its build folder, then those of its lib
// folder, with both class path separators always written ("F;;" with no jars).
std::string BuildClassPath(HostServices& host);

// maxheap under HKEY_LOCAL_MACHINE\Software\Korvane: up to 4 bytes stored over
// the default 64 from the lowest byte up; 64 when the key or value is missing
// or the value holds more than 4 bytes.
std::uint32_t ReadHeapMegabytes(HostServices& host);

}  // namespace quenlet
