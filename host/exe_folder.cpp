#include "host/exe_folder.h"

#include <cstring>

namespace quenlet {

int GetExeFolder(HostServices& host, char* folder) {
  std::uint32_t length = host.GetModuleFileNameA(folder, kMaxPath);
  if (length == 0 || length >= kMaxPath || std::memchr(folder, '\0', kMaxPath) == nullptr) {
    folder[0] = '\0';
    return 0;
  }
  char* last = std::strrchr(folder, host.Conventions().separator);
  if (last == nullptr) {
    folder[0] = '\0';
    return 0;
  }
  *last = '\0';
  return 1;
}

}  // namespace quenlet
