#include "launcher/jar_folder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quenlet {
namespace {

// A name in the buffer of names found.
struct Name {
  size_t offset;
  size_t length;
};

// Unsigned bytes, a prefix before the longer name; no case folding, no locale
// (memcmp compares bytes as unsigned char).
bool ByteOrder(const char* names, const Name& a, const Name& b) {
  int order = std::memcmp(names + a.offset, names + b.offset, std::min(a.length, b.length));
  return order != 0 ? order < 0 : a.length < b.length;
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
  // The names go one after the other into one buffer, and the sort moves
  // small records: a folder may hold many thousand jars.
  std::string names;
  std::vector<Name> found;
  FindData data;
  SearchHandle search = host.FindFirstFileA(pattern, &data);
  if (search != kInvalidSearch) {
    do {
      // The name is read up to its terminator, and never past the field.
      const void* end = std::memchr(data.cFileName, '\0', sizeof data.cFileName);
      size_t length = end != nullptr ? static_cast<const char*>(end) - data.cFileName : sizeof data.cFileName;
      found.push_back({names.size(), length});
      names.append(data.cFileName, length);
    } while (host.FindNextFileA(search, &data) != 0);
    host.FindClose(search);
  }

  const char* buffer = names.data();
  std::sort(found.begin(), found.end(), [buffer](const Name& a, const Name& b) { return ByteOrder(buffer, a, b); });
  std::string fragment;
  fragment.reserve(found.size() * (folderLength + 2) + names.size());
  for (size_t i = 0; i < found.size(); ++i) {
    if (i > 0) fragment += conventions.classPathSeparator;
    fragment.append(folder, folderLength);
    fragment += conventions.separator;
    fragment.append(buffer + found[i].offset, found[i].length);
  }
  return fragment;
}

}  // namespace quenlet
