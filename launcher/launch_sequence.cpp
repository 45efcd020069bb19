#include "launcher/launch_sequence.h"

#include "host/exe_folder.h"
#include "java/vm_invocation.h"
#include "launcher/jar_folder.h"

namespace quenlet {

const char kMainClass[] = QUENLET_MAIN_CLASS;

namespace {
constexpr std::uint32_t kDefaultHeapMegabytes = 64;
}

std::string BuildClassPath(HostServices& host) {
  char folder[kMaxPath];
  int known = GetExeFolder(host, folder);
  const PathConventions& conventions = host.Conventions();
  std::string classPath = folder;
  classPath += conventions.classPathSeparator;
  // Without a known exe folder there are no jar folders to list: a bare
  // "\build" would name the root's folder instead.
  if (known) classPath += ListJarFolder(host, (folder + std::string(1, conventions.separator) + "build").c_str());
  classPath += conventions.classPathSeparator;
  if (known) classPath += ListJarFolder(host, (folder + std::string(1, conventions.separator) + "lib").c_str());
  return classPath;
}

std::uint32_t ReadHeapMegabytes(HostServices& host) {
  RegKey key = 0;
  if (host.RegOpenKeyExA(kLocalMachine, "Software\\Korvane", 0, kKeyRead, &key) != kErrorSuccess) {
    return kDefaultHeapMegabytes;
  }
  // The value's bytes go over the default's little-endian bytes.
  unsigned char bytes[4] = {kDefaultHeapMegabytes, 0, 0, 0};
  std::uint32_t count = sizeof bytes;
  long status = host.RegQueryValueExA(key, "maxheap", nullptr, bytes, &count);
  host.RegCloseKey(key);
  // A value of more than 4 bytes leaves the buffer undefined: keep the default.
  if (status != kErrorSuccess || count > sizeof bytes) return kDefaultHeapMegabytes;
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

int RunLauncher(HostServices& host, const ArgumentList& arguments) {
  std::string classPath = BuildClassPath(host);
  std::uint32_t heapMegabytes = ReadHeapMegabytes(host);
  // The array and its strings stay allocated for the rest of the process.
  char** array = arguments.ToCStringArray();
  RunJavaMain(host, kMainClass, classPath.c_str(), arguments.Count(), array, heapMegabytes);
  return 0;
}

}  // namespace quenlet
