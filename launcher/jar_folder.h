// A folder's ".jar" entries as a class path fragment: their full paths in
// byte order, joined by the platform's class path separator.
#pragma once

#include <string>

#include "host/host_services.h"

namespace quenlet {

// folder has no trailing separator. Empty when the folder is missing, cannot
// be searched or holds no match.
std::string ListJarFolder(HostServices& host, const char* folder);

}  // namespace quenlet
