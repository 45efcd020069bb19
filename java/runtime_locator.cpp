#include "java/runtime_locator.h"

#include <algorithm>
#include <cstring>

#include "host/exe_folder.h"

namespace quenlet {
namespace {

const char kJavaKey[] = "Software\\JavaSoft\\Java Runtime Environment";
const char kOldestVersion[] = "1.4";
constexpr std::uint32_t kVersionCapacity = 10;

// Any entry of exactly that name counts, a folder included.
int EntryExists(HostServices& host, const char* path) {
  FindData data;
  SearchHandle search = host.FindFirstFileA(path, &data);
  if (search == kInvalidSearch) return 0;
  host.FindClose(search);
  return 1;
}

// Tests the candidate base + suffix and, when it exists and fits both a path
// buffer and the caller's, copies it there.
int TakeCandidate(HostServices& host, const char* base, const char* suffix, char* runtimePath, std::uint32_t size) {
  size_t baseLength = std::strlen(base);
  size_t suffixLength = std::strlen(suffix);
  size_t length = baseLength + suffixLength;
  if (length >= kMaxPath || length >= size) return 0;
  char candidate[kMaxPath];
  std::memcpy(candidate, base, baseLength);
  std::memcpy(candidate + baseLength, suffix, suffixLength + 1);
  if (!EntryExists(host, candidate)) return 0;
  std::memcpy(runtimePath, candidate, length + 1);
  return 1;
}

int FindBesideLauncher(HostServices& host, char* runtimePath, std::uint32_t size) {
  char folder[kMaxPath];
  if (!GetExeFolder(host, folder)) return 0;
  return TakeCandidate(host, folder, host.Conventions().bundledRuntime, runtimePath, size);
}

// Byte order: unsigned bytes, and a string that ends first comes first.
int CompareBytes(const char* left, const char* right) {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
  for (; *a != 0 && *a == *b; ++a, ++b) {
  }
  return static_cast<int>(*a) - static_cast<int>(*b);
}

// Reads RuntimeLib of the version's subkey straight into runtimePath. A value
// that fills the buffer counts only when its last byte already ends it.
int ReadRuntimeLib(HostServices& host, RegKey javaKey, const char* version, char* runtimePath,
                   std::uint32_t size) {
  RegKey versionKey = 0;
  if (host.RegOpenKeyExA(javaKey, version, 0, kKeyRead, &versionKey) != kErrorSuccess) return 0;
  int found = 0;
  std::uint32_t count = size;
  if (host.RegQueryValueExA(versionKey, "RuntimeLib", nullptr, reinterpret_cast<unsigned char*>(runtimePath),
                            &count) == kErrorSuccess &&
      count <= size) {
    if (count < size) {
      runtimePath[count] = '\0';
      found = 1;
    } else if (count > 0 && runtimePath[count - 1] == '\0') {
      found = 1;
    }
  }
  host.RegCloseKey(versionKey);
  return found;
}

int FindRegistered(HostServices& host, char* runtimePath, std::uint32_t size) {
  RegKey javaKey = 0;
  if (host.RegOpenKeyExA(kLocalMachine, kJavaKey, 0, kKeyRead, &javaKey) != kErrorSuccess) return 0;
  int found = 0;
  char version[kVersionCapacity + 1];
  std::uint32_t count = kVersionCapacity;
  if (host.RegQueryValueExA(javaKey, "CurrentVersion", nullptr, reinterpret_cast<unsigned char*>(version),
                            &count) == kErrorSuccess &&
      count <= kVersionCapacity) {
    version[count] = '\0';
    if (CompareBytes(version, kOldestVersion) >= 0) found = ReadRuntimeLib(host, javaKey, version, runtimePath, size);
  }
  host.RegCloseKey(javaKey);
  return found;
}

int FindBelowJavaHome(HostServices& host, char* runtimePath, std::uint32_t size) {
  // The value is read into the caller's buffer, never more than it holds.
  std::uint32_t capacity = std::min(size, kMaxPath);
  std::uint32_t length = host.GetEnvironmentVariableA("JAVA_HOME", runtimePath, capacity);
  if (length == 0 || length >= capacity) return 0;
  char home[kMaxPath];
  std::memcpy(home, runtimePath, length + 1);
  for (const char* suffix : host.Conventions().homeRuntimes) {
    if (TakeCandidate(host, home, suffix, runtimePath, size)) return 1;
  }
  return 0;
}

}  // namespace

int FindJavaRuntime(HostServices& host, char* runtimePath, std::uint32_t size) {
  return FindBesideLauncher(host, runtimePath, size) || FindRegistered(host, runtimePath, size) ||
         FindBelowJavaHome(host, runtimePath, size);
}

}  // namespace quenlet
