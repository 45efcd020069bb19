#include "tests/fakes/fake_host.h"

#include <cstdio>
#include <cstring>

namespace quenlet {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

bool Matches(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') return Matches(pattern + 1, name) || (*name != '\0' && Matches(pattern, name + 1));
  if (*name == '\0') return false;
  auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  return (*pattern == '?' || fold(*pattern) == fold(*name)) && Matches(pattern + 1, name + 1);
}

}  // namespace

std::string Quoted(const char* text) {
  if (text == nullptr) return "null";
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p >= 0x20 && *p < 0x7F) {
      out += static_cast<char>(*p);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", *p);
      out += hex;
    }
  }
  return out + "\"";
}

std::vector<std::string> FakeHost::CallNames() const {
  std::vector<std::string> names;
  for (const std::string& call : calls_) names.push_back(call.substr(0, call.find('(')));
  return names;
}

bool FakeHost::Fails(const std::string& operation) {
  int count = ++call_counts_[operation];
  auto it = failing_.find(operation);
  return it != failing_.end() && count >= it->second;
}

std::string FakeHost::Parent(const std::string& path) const {
  size_t at = path.rfind(conventions_->separator);
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

void FakeHost::AddKey(const std::string& path) {
  std::string upper = Upper(path);
  for (size_t at = upper.find('\\'); at != std::string::npos; at = upper.find('\\', at + 1)) {
    keys_.insert(upper.substr(0, at));
  }
  keys_.insert(upper);
}

void FakeHost::SetValue(const std::string& keyPath, const std::string& name, const std::string& bytes) {
  AddKey(keyPath);
  values_[Upper(keyPath)][Upper(name)] = bytes;
}

void FakeHost::SetValueDword(const std::string& keyPath, const std::string& name, std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  SetValue(keyPath, name, bytes);
}

void FakeHost::AddFile(const std::string& path, bool folder) {
  std::string parent = Parent(path);
  if (!parent.empty() && !Exists(parent)) AddFile(parent, true);
  if (!Exists(path)) entries_.push_back({path, folder});
}

bool FakeHost::Exists(const std::string& path) const {
  for (const Entry& entry : entries_) {
    if (Upper(entry.path) == Upper(path)) return true;
  }
  return false;
}

std::string FakeHost::KeyName(RegKey key) const {
  if (key == kLocalMachine) return "HKLM";
  return "key" + std::to_string(key - 0x100 + 1);
}

std::uint32_t FakeHost::GetModuleFileNameA(char* buffer, std::uint32_t size) {
  Record("GetModuleFileNameA(null, " + std::to_string(size) + ")");
  if (Fails("GetModuleFileNameA") || size == 0) return 0;
  std::uint32_t length = static_cast<std::uint32_t>(module_file_name_.size());
  if (length >= size) {
    std::memcpy(buffer, module_file_name_.data(), size - 1);
    buffer[size - 1] = '\0';
    return size;
  }
  std::memcpy(buffer, module_file_name_.c_str(), length + 1);
  return length;
}

long FakeHost::RegOpenKeyExA(RegKey key, const char* subKey, std::uint32_t options, std::uint32_t access,
                             RegKey* result) {
  std::string line = "RegOpenKeyExA(" + KeyName(key) + ", " + Quoted(subKey) + ", " + std::to_string(options) +
                     ", " + Hex(access) + ")";
  long status = kErrorSuccess;
  std::string path;
  if (key == kLocalMachine) {
    path = Upper(subKey);
  } else if (open_keys_.count(key) != 0) {
    path = open_keys_[key] + "\\" + Upper(subKey);
  } else {
    status = 6;  // ERROR_INVALID_HANDLE
  }
  if (status == kErrorSuccess && Fails("RegOpenKeyExA")) status = 5;  // ERROR_ACCESS_DENIED
  if (status == kErrorSuccess && keys_.count(path) == 0) status = kErrorFileNotFound;
  if (status == kErrorSuccess) {
    RegKey handle = next_key_++;
    open_keys_[handle] = path;
    *result = handle;
    line += " = 0 -> " + KeyName(handle);
  } else {
    line += " = " + std::to_string(status);
  }
  Record(line);
  return status;
}

long FakeHost::RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                                std::uint32_t* size) {
  std::string line = "RegQueryValueExA(" + KeyName(key) + ", " + Quoted(valueName) + ", " +
                     (type != nullptr ? "type" : "null") + ", " + (size != nullptr ? std::to_string(*size) : "null") +
                     ")";
  long status = kErrorSuccess;
  auto key_it = open_keys_.find(key);
  const std::string* bytes = nullptr;
  if (key_it == open_keys_.end()) {
    status = 6;
  } else if (Fails("RegQueryValueExA")) {
    status = 5;
  } else {
    auto values = values_.find(key_it->second);
    if (values != values_.end()) {
      auto value = values->second.find(Upper(valueName));
      if (value != values->second.end()) bytes = &value->second;
    }
    if (bytes == nullptr) status = kErrorFileNotFound;
  }
  if (status == kErrorSuccess) {
    if (type != nullptr) *type = 3;  // REG_BINARY
    std::uint32_t length = static_cast<std::uint32_t>(bytes->size());
    if (data != nullptr && length > *size) {
      status = kErrorMoreData;
    } else if (data != nullptr) {
      std::memcpy(data, bytes->data(), length);
    }
    *size = length;
  }
  Record(line + " = " + std::to_string(status));
  return status;
}

long FakeHost::RegCloseKey(RegKey key) {
  Record("RegCloseKey(" + KeyName(key) + ")");
  if (open_keys_.erase(key) == 0) {
    ++bad_closes_;
    return 6;
  }
  return kErrorSuccess;
}

SearchHandle FakeHost::FindFirstFileA(const char* pattern, FindData* data) {
  std::string line = "FindFirstFileA(" + Quoted(pattern) + ")";
  std::string text = pattern;
  size_t at = text.rfind(conventions_->separator);
  std::string folder = at == std::string::npos ? std::string() : text.substr(0, at);
  std::string last = at == std::string::npos ? text : text.substr(at + 1);
  Search search;
  if (!Fails("FindFirstFileA")) {
    for (const Entry& entry : entries_) {
      if (Upper(Parent(entry.path)) != Upper(folder)) continue;
      std::string name = at == std::string::npos ? entry.path : entry.path.substr(folder.size() + 1);
      if (Matches(last.c_str(), name.c_str()) && name.size() < kMaxPath) {
        search.names.push_back(name);
        search.folders.push_back(entry.folder);
      }
    }
  }
  if (search.names.empty()) {
    Record(line + " = invalid");
    return kInvalidSearch;
  }
  SearchHandle handle = next_search_++;
  Record(line + " = search" + std::to_string(handle - 0x100 + 1));
  data->dwFileAttributes = search.folders[0] ? kAttributeDirectory : 0x80;
  std::memcpy(data->cFileName, search.names[0].c_str(), search.names[0].size() + 1);
  search.next = 1;
  open_searches_[handle] = search;
  return handle;
}

int FakeHost::FindNextFileA(SearchHandle handle, FindData* data) {
  std::string line = "FindNextFileA(search" + std::to_string(handle - 0x100 + 1) + ")";
  auto it = open_searches_.find(handle);
  if (it == open_searches_.end() || Fails("FindNextFileA") || it->second.next >= it->second.names.size()) {
    Record(line + " = 0");
    return 0;
  }
  Search& search = it->second;
  data->dwFileAttributes = search.folders[search.next] ? kAttributeDirectory : 0x80;
  std::memcpy(data->cFileName, search.names[search.next].c_str(), search.names[search.next].size() + 1);
  ++search.next;
  Record(line + " = 1");
  return 1;
}

int FakeHost::FindClose(SearchHandle handle) {
  Record("FindClose(search" + std::to_string(handle - 0x100 + 1) + ")");
  if (open_searches_.erase(handle) == 0) {
    ++bad_closes_;
    return 0;
  }
  return 1;
}

std::uint32_t FakeHost::GetEnvironmentVariableA(const char* name, char* buffer, std::uint32_t size) {
  std::string line = "GetEnvironmentVariableA(" + Quoted(name) + ", " + std::to_string(size) + ")";
  std::uint32_t result = 0;
  auto it = env_.find(name);
  if (it != env_.end() && !it->second.empty() && !Fails("GetEnvironmentVariableA")) {
    std::uint32_t length = static_cast<std::uint32_t>(it->second.size());
    if (length >= size) {
      result = length + 1;
    } else {
      std::memcpy(buffer, it->second.c_str(), length + 1);
      result = length;
    }
  }
  Record(line + " = " + std::to_string(result));
  return result;
}

int FakeHost::CreateDirectoryA(const char* path) {
  Record("CreateDirectoryA(" + Quoted(path) + ")");
  if (Fails("CreateDirectoryA") || Exists(path)) return 0;
  std::string parent = Parent(path);
  if (!parent.empty() && !Exists(parent)) return 0;
  entries_.push_back({path, true});
  created_.push_back(path);
  return 1;
}

int FakeHost::SetDllDirectoryA(const char* path) {
  Record("SetDllDirectoryA(" + Quoted(path) + ")");
  if (Fails("SetDllDirectoryA")) return 0;
  dll_directories_.push_back(path != nullptr ? path : "");
  return 1;
}

Module FakeHost::LoadLibraryA(const char* path) {
  auto it = modules_.find(path);
  Module module = (it == modules_.end() || Fails("LoadLibraryA")) ? nullptr : it->second;
  Record("LoadLibraryA(" + Quoted(path) + ")" + (module != nullptr ? " = module" : " = null"));
  return module;
}

ProcAddress FakeHost::GetProcAddress(Module module, const char* name) {
  auto it = procs_.find({module, name});
  ProcAddress address = (it == procs_.end() || Fails("GetProcAddress")) ? nullptr : it->second;
  Record("GetProcAddress(module, " + Quoted(name) + ")" + (address != nullptr ? " = proc" : " = null"));
  return address;
}

int FakeHost::MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  Record("MessageBoxA(null, " + Quoted(text) + ", " + Quoted(caption) + ", " + Hex(type) + ")");
  dialogs_.push_back({text, caption, type});
  return 1;
}

// Each byte is the code point of the same number (ISO 8859-1), so tests can
// predict the text of any argument.
int FakeHost::MultiByteToWideChar(const char* bytes, int length, char16_t* wide, int wideSize) {
  Record("MultiByteToWideChar(" + std::to_string(length) + ", " + std::to_string(wideSize) + ")");
  if (length <= 0 || Fails("MultiByteToWideChar")) return 0;
  if (wideSize == 0) return length;
  if (wideSize < length) return 0;
  for (int i = 0; i < length; ++i) wide[i] = static_cast<unsigned char>(bytes[i]);
  return length;
}

const char* FakeHost::GetCommandLineA() {
  Record("GetCommandLineA()");
  return command_line_.c_str();
}

int FakeHost::IsDBCSLeadByte(unsigned char byte) { return lead_bytes_.count(byte) != 0 ? 1 : 0; }

}  // namespace quenlet
