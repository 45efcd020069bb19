// The host services on Linux and other POSIX systems. The registry is a folder
// tree (one folder a key, one file a value), the search follows the Windows
// wildcard rules case-insensitively, and dialogs go to standard error.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <link.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/host_services.h"
#include "host/text_decoding.h"

namespace quenlet {
namespace {

constexpr std::uint32_t kRegBinary = 3;
constexpr long kErrorInvalidHandle = 6;

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows wildcard match of one name: '*' any run, '?' any one byte, ASCII
// letters compared without case.
bool MatchesWildcard(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern != '\0' && FoldCase(*pattern) == FoldCase(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool SameIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (FoldCase(*a) != FoldCase(*b)) return false;
  }
  return *a == *b;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether a listed entry is a folder: the entry's own type where the file
// system gives it, so that a folder of many files costs no stat per file; a
// symbolic link or an unknown type is followed with stat.
bool IsFolderEntry(const std::string& folder, const dirent& entry) {
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
  return IsFolder(folder + "/" + entry.d_name);
}

// The entry of folder named like name: the exact name when it exists, else
// the first that differs only in ASCII case, as registry names do on Windows.
bool FindEntry(const std::string& folder, const std::string& name, std::string* found) {
  struct stat info;
  if (lstat((folder + "/" + name).c_str(), &info) == 0) {
    *found = name;
    return true;
  }
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool matched = false;
  while (dirent* entry = readdir(dir)) {
    if (SameIgnoringCase(entry->d_name, name.c_str())) {
      *found = entry->d_name;
      matched = true;
      break;
    }
  }
  closedir(dir);
  return matched;
}

// A registry name part may not climb out of the registry folder or name a
// file path of its own.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The bytes in the character set of the user's locale (LC_ALL, LC_CTYPE,
// LANG), read afresh so that the process's own locale, which the Java VM
// changes while it starts, plays no part. The C and POSIX locales read UTF-8.
std::u16string DecodeLocaleText(const char* bytes, size_t length) {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  const char* codeset = locale != nullptr ? nl_langinfo_l(CODESET, locale) : "ANSI_X3.4-1968";
  if (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "ANSI_X3.4-1968") == 0) {
    if (locale != nullptr) freelocale(locale);
    return DecodeUtf8(bytes, length);
  }
  locale_t previous = uselocale(locale);
  std::u16string text;
  std::mbstate_t state{};
  size_t at = 0;
  while (at < length) {
    wchar_t character = 0;
    size_t used = std::mbrtowc(&character, bytes + at, length - at, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      AppendCodePoint(0xFFFD, &text);  // a byte that does not decode
      state = std::mbstate_t{};
      ++at;
      continue;
    }
    AppendCodePoint(static_cast<char32_t>(character), &text);
    at += used == 0 ? 1 : used;
  }
  uselocale(previous);
  freelocale(locale);
  return text;
}

// The loader maps a library's segments from the file as its program headers
// describe them, and touching a page past the file's end raises SIGBUS: a
// library cut short would end the process instead of failing to load. Such a
// file (an ELF file of this machine's class whose loadable segments reach
// past its end) is refused before dlopen; any other file, and a bare name
// that dlopen looks for in the library path, is left to dlopen.
bool SegmentsFitTheFile(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  bool fit = true;
  struct stat info;
  ElfW(Ehdr) header;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
      header.e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
      header.e_phentsize == sizeof(ElfW(Phdr))) {
    const auto size = static_cast<std::uint64_t>(info.st_size);
    for (unsigned i = 0; fit && i < header.e_phnum; ++i) {
      ElfW(Phdr) segment;
      off_t at = static_cast<off_t>(header.e_phoff + static_cast<std::uint64_t>(i) * sizeof segment);
      if (pread(fd, &segment, sizeof segment, at) != static_cast<ssize_t>(sizeof segment)) {
        fit = false;
      } else if (segment.p_type == PT_LOAD && (segment.p_offset > size || segment.p_filesz > size - segment.p_offset)) {
        fit = false;
      }
    }
  }
  close(fd);
  return fit;
}

class PosixHost final : public HostServices {
 public:
  const PathConventions& Conventions() const override { return kPosixConventions; }

  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override {
    if (size == 0) return 0;
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) {
      buffer[0] = '\0';
      return 0;
    }
    if (static_cast<std::uint32_t>(length) >= size) {
      // Truncated as Windows truncates: size - 1 bytes, terminated, returns size.
      std::memcpy(buffer, path, size - 1);
      buffer[size - 1] = '\0';
      return size;
    }
    std::memcpy(buffer, path, static_cast<size_t>(length));
    buffer[length] = '\0';
    return static_cast<std::uint32_t>(length);
  }

  long RegOpenKeyExA(RegKey key, const char* subKey, std::uint32_t, std::uint32_t, RegKey* result) override {
    std::string path;
    if (!KeyPath(key, &path)) return kErrorInvalidHandle;
    std::string rest = subKey != nullptr ? subKey : "";
    size_t start = 0;
    while (start <= rest.size() && !rest.empty()) {
      size_t end = rest.find('\\', start);
      if (end == std::string::npos) end = rest.size();
      std::string part = rest.substr(start, end - start);
      std::string found;
      if (!IsPlainName(part) || !FindEntry(path, part, &found) || !IsFolder(path + "/" + found)) {
        return kErrorFileNotFound;
      }
      path += "/" + found;
      start = end + 1;
    }
    if (!IsFolder(path)) return kErrorFileNotFound;
    RegKey handle = next_key_++;
    open_keys_[handle] = path;
    *result = handle;
    return kErrorSuccess;
  }

  long RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                        std::uint32_t* size) override {
    std::string path;
    if (!KeyPath(key, &path)) return kErrorInvalidHandle;
    std::string name = valueName != nullptr ? valueName : "";
    std::string found;
    if (!IsPlainName(name) || !FindEntry(path, name, &found)) return kErrorFileNotFound;
    path += "/" + found;
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return kErrorFileNotFound;
    if (type != nullptr) *type = kRegBinary;
    if (size == nullptr) return data == nullptr ? kErrorSuccess : kErrorInvalidHandle;
    // The value's size is the file's; the file is read only when it fits the
    // caller's buffer, so a huge value costs nothing.
    const auto length = static_cast<std::uint64_t>(info.st_size);
    const std::uint32_t reported = length > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(length);
    if (data == nullptr) {
      *size = reported;
      return kErrorSuccess;
    }
    if (length > *size) {
      *size = reported;
      return kErrorMoreData;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return kErrorFileNotFound;
    size_t got = length > 0 ? std::fread(data, 1, static_cast<size_t>(length), file) : 0;
    std::fclose(file);
    *size = static_cast<std::uint32_t>(got);
    return kErrorSuccess;
  }

  long RegCloseKey(RegKey key) override {
    if (key == kLocalMachine) return kErrorSuccess;
    return open_keys_.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
  }

  SearchHandle FindFirstFileA(const char* pattern, FindData* data) override {
    std::string text = pattern;
    size_t slash = text.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : text.substr(0, slash));
    std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    Search search;
    if (last.find_first_of("*?") == std::string::npos) {
      // An exact name: an existence test for any kind of entry.
      struct stat info;
      if (last.empty() || last.size() >= kMaxPath || stat(text.c_str(), &info) != 0) return kInvalidSearch;
      search.Add(last.c_str(), last.size(), S_ISDIR(info.st_mode) != 0);
    } else {
      DIR* dir = opendir(folder.c_str());
      if (dir == nullptr) return kInvalidSearch;
      while (dirent* entry = readdir(dir)) {
        size_t length = std::strlen(entry->d_name);
        if (length >= kMaxPath || !MatchesWildcard(last.c_str(), entry->d_name)) continue;
        search.Add(entry->d_name, length, IsFolderEntry(folder, *entry));
      }
      closedir(dir);
    }
    if (search.entries.empty()) return kInvalidSearch;
    SearchHandle handle = next_search_++;
    searches_[handle] = std::move(search);
    return FindNextFileA(handle, data) != 0 ? handle : kInvalidSearch;
  }

  int FindNextFileA(SearchHandle handle, FindData* data) override {
    auto it = searches_.find(handle);
    if (it == searches_.end() || it->second.next >= it->second.entries.size()) return 0;
    Search& search = it->second;
    const Entry& entry = search.entries[search.next++];
    data->dwFileAttributes = entry.folder ? kAttributeDirectory : 0x80;  // FILE_ATTRIBUTE_NORMAL
    std::memcpy(data->cFileName, search.names.data() + entry.offset, entry.length);
    data->cFileName[entry.length] = '\0';
    return 1;
  }

  int FindClose(SearchHandle handle) override { return searches_.erase(handle) == 1 ? 1 : 0; }

  std::uint32_t GetEnvironmentVariableA(const char* name, char* buffer, std::uint32_t size) override {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') return 0;
    size_t length = std::strlen(value);
    if (length >= size) return static_cast<std::uint32_t>(length + 1);
    std::memcpy(buffer, value, length + 1);
    return static_cast<std::uint32_t>(length);
  }

  int CreateDirectoryA(const char* path) override { return mkdir(path, 0777) == 0 ? 1 : 0; }

  int SetDllDirectoryA(const char*) override { return 1; }  // dlopen never searches the current folder

  Module LoadLibraryA(const char* path) override {
    if (path == nullptr || path[0] == '\0') return nullptr;  // dlopen("") would give the executable
    if (std::strchr(path, '/') != nullptr && !SegmentsFitTheFile(path)) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_GLOBAL);
  }

  ProcAddress GetProcAddress(Module module, const char* name) override {
    return reinterpret_cast<ProcAddress>(dlsym(module, name));
  }

  int MessageBoxA(const char* text, const char* caption, std::uint32_t) override {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    return 1;  // IDOK
  }

  int MultiByteToWideChar(const char* bytes, int length, char16_t* wide, int wideSize) override {
    if (length <= 0) return 0;
    return CopyWideResult(DecodeLocaleText(bytes, static_cast<size_t>(length)), wide, wideSize);
  }

  const char* GetCommandLineA() override { return ""; }
  int IsDBCSLeadByte(unsigned char) override { return 0; }

 private:
  // A search's results: the names one after the other in one buffer, so that
  // a folder of many thousand entries costs no allocation per entry.
  struct Entry {
    size_t offset;
    size_t length;
    bool folder;
  };
  struct Search {
    std::string names;
    std::vector<Entry> entries;
    size_t next = 0;

    void Add(const char* name, size_t length, bool folder) {
      entries.push_back({names.size(), length, folder});
      names.append(name, length);
    }
  };

  bool KeyPath(RegKey key, std::string* path) const {
    if (key == kLocalMachine) {
      const char* root = std::getenv("QUENLET_REGISTRY");
      *path = (root != nullptr && root[0] != '\0') ? root : "/etc/quenlet/registry";
      return true;
    }
    auto it = open_keys_.find(key);
    if (it == open_keys_.end()) return false;
    *path = it->second;
    return true;
  }

  std::map<RegKey, std::string> open_keys_;
  std::map<SearchHandle, Search> searches_;
  RegKey next_key_ = 0x1000;
  SearchHandle next_search_ = 0x1000;
};

}  // namespace

HostServices& RealHost() {
  static PosixHost host;
  return host;
}

std::unique_ptr<HostServices> MakeRealHost() { return std::unique_ptr<HostServices>(new PosixHost()); }

}  // namespace quenlet
