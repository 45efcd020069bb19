// The one interface between the launcher's logic and the operating system.
// Operations keep the Windows names and the results callers rely on; the header
// stays platform-neutral (no <windows.h>), so the logic compiles everywhere.
#pragma once

#include <cstdint>
#include <memory>

namespace quenlet {

// Size of a path buffer, terminator included (MAX_PATH).
constexpr std::uint32_t kMaxPath = 260;

// Registry key handle. kLocalMachine has the bits of HKEY_LOCAL_MACHINE.
using RegKey = std::uintptr_t;
constexpr RegKey kLocalMachine = static_cast<RegKey>(static_cast<std::intptr_t>(INT32_C(-2147483646)));
constexpr std::uint32_t kKeyRead = 0x20019;  // KEY_READ

// Win32 error codes that the hosts hand back.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorMoreData = 234;

// Directory search handle; kInvalidSearch is INVALID_HANDLE_VALUE (all bits set).
using SearchHandle = std::uintptr_t;
constexpr SearchHandle kInvalidSearch = ~static_cast<SearchHandle>(0);

// The part of WIN32_FIND_DATAA that callers read.
constexpr std::uint32_t kAttributeDirectory = 0x10;
struct FindData {
  std::uint32_t dwFileAttributes = 0;
  char cFileName[kMaxPath] = {};
};

using Module = void*;
using ProcAddress = void (*)();

constexpr std::uint32_t kMbIconError = 0x10;  // MB_ICONERROR

// Path spellings that differ between platforms. The logic never spells a
// separator or a runtime layout inline; it asks the host for these.
struct PathConventions {
  char separator;             // between folder and name
  char classPathSeparator;    // between class path entries
  const char* bundledRuntime;  // below the exe folder
  const char* homeRuntimes[2];  // below JAVA_HOME, in the order tried
};

// Windows: the values the launcher is specified with.
constexpr PathConventions kWindowsConventions = {
    '\\', ';', "\\jre\\bin\\client\\jvm.dll", {"\\jre\\bin\\client\\jvm.dll", "\\bin\\client\\jvm.dll"}};
// POSIX: an OpenJDK runtime's layout.
constexpr PathConventions kPosixConventions = {
    '/', ':', "/jre/lib/server/libjvm.so", {"/jre/lib/server/libjvm.so", "/lib/server/libjvm.so"}};

class HostServices {
 public:
  virtual ~HostServices() = default;

  virtual const PathConventions& Conventions() const = 0;

  // The launcher's own file name (no module handle: always the executable).
  // Returns the characters stored; on truncation, size, with the buffer
  // still terminated.
  virtual std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) = 0;

  virtual long RegOpenKeyExA(RegKey key, const char* subKey, std::uint32_t options, std::uint32_t access,
                             RegKey* result) = 0;
  // type may be null (no type wanted). On success *size holds the bytes stored;
  // a value larger than *size fails with kErrorMoreData.
  virtual long RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                                std::uint32_t* size) = 0;
  virtual long RegCloseKey(RegKey key) = 0;

  // pattern: an exact path, or '*' and '?' in its last element.
  virtual SearchHandle FindFirstFileA(const char* pattern, FindData* data) = 0;
  virtual int FindNextFileA(SearchHandle search, FindData* data) = 0;
  virtual int FindClose(SearchHandle search) = 0;

  // Characters stored without the terminator; 0 when unset or empty; the size
  // needed (terminator included) when the value does not fit.
  virtual std::uint32_t GetEnvironmentVariableA(const char* name, char* buffer, std::uint32_t size) = 0;

  // No security attributes. Nonzero when the folder was made.
  virtual int CreateDirectoryA(const char* path) = 0;

  // Adds a folder to the DLL search and takes the current folder out of it.
  virtual int SetDllDirectoryA(const char* path) = 0;
  virtual Module LoadLibraryA(const char* path) = 0;
  virtual ProcAddress GetProcAddress(Module module, const char* name) = 0;

  // No owner window. Returns when dismissed.
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;

  // Decodes bytes of the system's multibyte encoding to UTF-16 (CP_ACP on
  // Windows). With wideSize 0 returns the length needed; otherwise the
  // characters written, or 0 when they do not fit.
  virtual int MultiByteToWideChar(const char* bytes, int length, char16_t* wide, int wideSize) = 0;

  // For cutting the program name off the command line.
  virtual const char* GetCommandLineA() = 0;
  virtual int IsDBCSLeadByte(unsigned char byte) = 0;
};

// The real host of this build, Windows or POSIX, chosen when building: the
// process's one instance, and fresh ones for tests.
HostServices& RealHost();
std::unique_ptr<HostServices> MakeRealHost();

}  // namespace quenlet
