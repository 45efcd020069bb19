// The launcher's own folder: its module file name cut at the last separator.
// One helper for every caller, so they all agree on what the folder is.
#pragma once

#include "host/host_services.h"

namespace quenlet {

// Fills folder (kMaxPath bytes) with the exe folder, which never ends in a
// separator ("C:" for a launcher at a drive's root) and returns 1. Returns 0
// with folder empty when the module name cannot be had, did not fit the
// buffer or holds no separator: a truncated name would name the wrong folder.
int GetExeFolder(HostServices& host, char* folder);

}  // namespace quenlet
