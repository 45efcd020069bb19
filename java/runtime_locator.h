// Finding the Java runtime library: the runtime beside the launcher, then the
// registered runtime (version not ordered before "1.4"), then JAVA_HOME.
#pragma once

#include <cstdint>

#include "host/host_services.h"

namespace quenlet {

// Writes the library's terminated path into runtimePath (size bytes) and
// returns 1, or returns 0 when no source yields one. Never writes past size.
int FindJavaRuntime(HostServices& host, char* runtimePath, std::uint32_t size);

}  // namespace quenlet
