// Running the Java application in this process: load the runtime library,
// create the VM, call the main class's static main(String[]), destroy the VM.
#pragma once

#include <cstdint>

#include "host/host_services.h"

namespace quenlet {

// Returns 1 once main has run and the VM is gone; 0 after a failure, which
// has then been shown in one error dialog.
int RunJavaMain(HostServices& host, const char* mainClass, const char* classPath, int argumentCount,
                char** arguments, std::uint32_t heapMegabytes);

}  // namespace quenlet
