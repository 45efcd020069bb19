// The host services on Windows: each operation is the Win32 call of the same
// name, in its 8-bit form. The only file that includes <windows.h>.
#include <windows.h>

#include <cstring>

#include "host/host_services.h"

namespace quenlet {
namespace {

static_assert(sizeof(char16_t) == sizeof(WCHAR), "UTF-16 units are WCHARs on Windows");

HKEY ToKey(RegKey key) { return reinterpret_cast<HKEY>(key); }
HANDLE ToHandle(SearchHandle search) { return reinterpret_cast<HANDLE>(search); }

void CopyFindData(const WIN32_FIND_DATAA& found, FindData* data) {
  data->dwFileAttributes = found.dwFileAttributes;
  std::memcpy(data->cFileName, found.cFileName, sizeof data->cFileName);
  data->cFileName[kMaxPath - 1] = '\0';
}

class WindowsHost final : public HostServices {
 public:
  const PathConventions& Conventions() const override { return kWindowsConventions; }

  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override {
    DWORD length = ::GetModuleFileNameA(nullptr, buffer, size);
    // Windows XP leaves a truncated name unterminated.
    if (size > 0 && length >= size) buffer[size - 1] = '\0';
    return length;
  }

  long RegOpenKeyExA(RegKey key, const char* subKey, std::uint32_t options, std::uint32_t access,
                     RegKey* result) override {
    HKEY opened = nullptr;
    LONG status = ::RegOpenKeyExA(ToKey(key), subKey, options, access, &opened);
    if (status == ERROR_SUCCESS) *result = reinterpret_cast<RegKey>(opened);
    return status;
  }

  long RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                        std::uint32_t* size) override {
    DWORD valueType = 0;
    DWORD count = size != nullptr ? *size : 0;
    LONG status = ::RegQueryValueExA(ToKey(key), valueName, nullptr, type != nullptr ? &valueType : nullptr, data,
                                     size != nullptr ? &count : nullptr);
    if (type != nullptr) *type = valueType;
    if (size != nullptr) *size = count;
    return status;
  }

  long RegCloseKey(RegKey key) override { return ::RegCloseKey(ToKey(key)); }

  SearchHandle FindFirstFileA(const char* pattern, FindData* data) override {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return kInvalidSearch;
    CopyFindData(found, data);
    return reinterpret_cast<SearchHandle>(search);
  }

  int FindNextFileA(SearchHandle search, FindData* data) override {
    WIN32_FIND_DATAA found;
    if (!::FindNextFileA(ToHandle(search), &found)) return 0;
    CopyFindData(found, data);
    return 1;
  }

  int FindClose(SearchHandle search) override { return ::FindClose(ToHandle(search)); }

  std::uint32_t GetEnvironmentVariableA(const char* name, char* buffer, std::uint32_t size) override {
    return ::GetEnvironmentVariableA(name, buffer, size);
  }

  int CreateDirectoryA(const char* path) override { return ::CreateDirectoryA(path, nullptr); }

  int SetDllDirectoryA(const char* path) override { return ::SetDllDirectoryA(path); }

  Module LoadLibraryA(const char* path) override { return ::LoadLibraryA(path); }

  ProcAddress GetProcAddress(Module module, const char* name) override {
    return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), name));
  }

  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override {
    return ::MessageBoxA(nullptr, text, caption, type);
  }

  int MultiByteToWideChar(const char* bytes, int length, char16_t* wide, int wideSize) override {
    if (length <= 0) return 0;
    return ::MultiByteToWideChar(CP_ACP, 0, bytes, length, reinterpret_cast<LPWSTR>(wide), wideSize);
  }

  const char* GetCommandLineA() override { return ::GetCommandLineA(); }

  int IsDBCSLeadByte(unsigned char byte) override { return ::IsDBCSLeadByte(byte); }
};

}  // namespace

HostServices& RealHost() {
  static WindowsHost host;
  return host;
}

std::unique_ptr<HostServices> MakeRealHost() { return std::unique_ptr<HostServices>(new WindowsHost()); }

}  // namespace quenlet
