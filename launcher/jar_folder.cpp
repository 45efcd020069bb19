#include "launcher/jar_folder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quenlet {
namespace {

// Unsigned bytes, a prefix before the longer name; no case folding, no locale.
bool ByteOrder(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}

}  // namespace

std::string ListJarFolder(HostServices& host, const char* folder) {
  if (folder == nullptr) return std::string();
  const PathConventions& conventions = host.Conventions();

  // The search pattern must fit a path buffer; a folder too long for it
  // counts as absent.
  static const char kJarPattern[] = "*.jar";
  size_t folderLength = std::strlen(folder);
  if (folderLength + 1 + std::strlen(kJarPattern) + 1 > kMaxPath) return std::string();
  char pattern[kMaxPath];
  std::memcpy(pattern, folder, folderLength);
  pattern[folderLength] = conventions.separator;
  std::memcpy(pattern + folderLength + 1, kJarPattern, sizeof kJarPattern);

  // Every entry the search returns is taken: folders too, and names that
  // matched through a short name; the search's own matching is the filter.
  std::vector<std::string> names;
  FindData data;
  SearchHandle search = host.FindFirstFileA(pattern, &data);
  if (search != kInvalidSearch) {
    do {
      // The name is read up to its terminator, and never past the field.
      const void* end = std::memchr(data.cFileName, '\0', sizeof data.cFileName);
      names.emplace_back(data.cFileName, end != nullptr ? static_cast<const char*>(end) - data.cFileName
                                                        : sizeof data.cFileName);
    } while (host.FindNextFileA(search, &data) != 0);
    host.FindClose(search);
  }

  std::sort(names.begin(), names.end(), ByteOrder);
  std::string fragment;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) fragment += conventions.classPathSeparator;
    fragment.append(folder, folderLength);
    fragment += conventions.separator;
    fragment += names[i];
  }
  return fragment;
}

}  // namespace quenlet
