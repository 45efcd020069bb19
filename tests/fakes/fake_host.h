// An in-memory host for unit tests: registry, files, environment and modules
// held in maps. Every call is recorded, in order, as one line of text, each
// key and search handle is tracked until it is closed, and any operation can
// be told to fail.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/host_services.h"

namespace quenlet {

class FakeHost : public HostServices {
 public:
  explicit FakeHost(const PathConventions& conventions = kWindowsConventions) : conventions_(&conventions) {}

  // --- Setting the scene ---
  void SetModuleFileName(const std::string& path) { module_file_name_ = path; }
  void AddKey(const std::string& path);  // and its parents
  void SetValue(const std::string& keyPath, const std::string& name, const std::string& bytes);
  void SetValueDword(const std::string& keyPath, const std::string& name, std::uint32_t value);
  // A file (or, with folder, a folder) and its parent folders. Entries are
  // listed by a search in the order they were added.
  void AddFile(const std::string& path, bool folder = false);
  void SetEnv(const std::string& name, const std::string& value) { env_[name] = value; }
  void AddModule(const std::string& path, Module module) { modules_[path] = module; }
  void AddProc(Module module, const std::string& name, ProcAddress address) { procs_[{module, name}] = address; }
  void SetCommandLine(const std::string& line) { command_line_ = line; }
  void SetLeadBytes(const std::set<unsigned char>& bytes) { lead_bytes_ = bytes; }
  // The calls of that operation from the nth on (1-based) fail.
  void FailCall(const std::string& operation, int fromCall = 1) { failing_[operation] = fromCall; }

  // --- Looking at what happened ---
  // One line a call, e.g. RegOpenKeyExA(HKLM, "Software\Korvane", 0, 0x20019) = 0
  const std::vector<std::string>& Calls() const { return calls_; }
  std::vector<std::string>& MutableCalls() { return calls_; }  // for fakes that share the log
  std::vector<std::string> CallNames() const;
  int OpenKeys() const { return static_cast<int>(open_keys_.size()); }
  int OpenSearches() const { return static_cast<int>(open_searches_.size()); }
  int BadCloses() const { return bad_closes_; }  // closes of handles not open
  struct Dialog {
    std::string text, caption;
    std::uint32_t type;
  };
  const std::vector<Dialog>& Dialogs() const { return dialogs_; }
  bool Exists(const std::string& path) const;
  const std::vector<std::string>& CreatedDirectories() const { return created_; }
  const std::vector<std::string>& DllDirectories() const { return dll_directories_; }

  // --- HostServices ---
  const PathConventions& Conventions() const override { return *conventions_; }
  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override;
  long RegOpenKeyExA(RegKey key, const char* subKey, std::uint32_t options, std::uint32_t access,
                     RegKey* result) override;
  long RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                        std::uint32_t* size) override;
  long RegCloseKey(RegKey key) override;
  SearchHandle FindFirstFileA(const char* pattern, FindData* data) override;
  int FindNextFileA(SearchHandle search, FindData* data) override;
  int FindClose(SearchHandle search) override;
  std::uint32_t GetEnvironmentVariableA(const char* name, char* buffer, std::uint32_t size) override;
  int CreateDirectoryA(const char* path) override;
  int SetDllDirectoryA(const char* path) override;
  Module LoadLibraryA(const char* path) override;
  ProcAddress GetProcAddress(Module module, const char* name) override;
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;
  int MultiByteToWideChar(const char* bytes, int length, char16_t* wide, int wideSize) override;
  const char* GetCommandLineA() override;
  int IsDBCSLeadByte(unsigned char byte) override;

 private:
  struct Entry {
    std::string path;
    bool folder;
  };
  struct Search {
    std::vector<std::string> names;
    std::vector<bool> folders;
    size_t next = 0;
  };

  bool Fails(const std::string& operation);
  void Record(const std::string& line) { calls_.push_back(line); }
  std::string KeyName(RegKey key) const;
  std::string Parent(const std::string& path) const;

  const PathConventions* conventions_;
  std::string module_file_name_;
  std::set<std::string> keys_;                                      // upper-cased paths
  std::map<std::string, std::map<std::string, std::string>> values_;  // upper-cased key, upper-cased name
  std::vector<Entry> entries_;
  std::map<std::string, std::string> env_;
  std::map<std::string, Module> modules_;
  std::map<std::pair<Module, std::string>, ProcAddress> procs_;
  std::string command_line_;
  std::set<unsigned char> lead_bytes_;
  std::map<std::string, int> failing_;
  std::map<std::string, int> call_counts_;

  std::vector<std::string> calls_;
  std::map<RegKey, std::string> open_keys_;
  std::map<SearchHandle, Search> open_searches_;
  RegKey next_key_ = 0x100;
  SearchHandle next_search_ = 0x100;
  int bad_closes_ = 0;
  std::vector<Dialog> dialogs_;
  std::vector<std::string> created_;
  std::vector<std::string> dll_directories_;
};

// Quotes a byte string for call lines: printable ASCII as is, other bytes as \xNN.
std::string Quoted(const char* text);

}  // namespace quenlet
