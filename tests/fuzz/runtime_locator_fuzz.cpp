// Fuzz target for FindJavaRuntime over the fake host: any module name, any
// registry data (CurrentVersion and RuntimeLib of any bytes and sizes, up to
// 1,000,000 bytes), any JAVA_HOME (up to 10,000 characters), any caller
// buffer size, runtimes present or not, and any operation failing from any
// call on. The result must be the one the three sources give in order, and
// nothing may be written outside the caller's buffer: it sits between canary
// bytes, checked after every call.
//
// Input (FuzzedDataProvider): the conventions, the buffer size, the failures,
// the module name, the registry, JAVA_HOME and which runtimes exist.
// Long run: see README.md here.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "java/runtime_locator.h"
#include "tests/fakes/fake_host.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const char kJavaKey[] = "Software\\JavaSoft\\Java Runtime Environment";
constexpr size_t kGuard = 64;
constexpr unsigned char kCanary = 0xA5;

// Random bytes up to limit, padded with up to pad bytes of 'x' (or, for one
// pad byte in 32, exactly huge of them), zero bytes taken out when noZero.
std::string Bytes(FuzzedDataProvider& input, size_t limit, int pad, size_t huge, bool noZero) {
  std::string text = input.ConsumeRandomLengthString(limit);
  if (noZero) text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  int choice = input.ConsumeIntegralInRange(0, 31);
  size_t extra = choice == 31 ? huge : static_cast<size_t>(pad * choice / 30);
  return text + std::string(extra, 'x');
}

std::string CString(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// A failure of an operation from the nth call on, as the fake applies it.
struct Failure {
  int from = 0;  // 0: never
  int calls = 0;
  bool Next() { return ++calls >= from && from != 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const quenlet::PathConventions& conventions =
      input.ConsumeBool() ? quenlet::kPosixConventions : quenlet::kWindowsConventions;
  const char sep = conventions.separator;
  std::uint32_t bufferSize =
      input.ConsumeBool() ? quenlet::kMaxPath : input.ConsumeIntegralInRange<std::uint32_t>(0, 300);

  Failure module, open, query, find, env;
  // Each fails in about one run of three, from its first, second... call.
  module.from = input.ConsumeIntegralInRange(0, 5) == 5 ? 1 : 0;
  open.from = std::max(0, input.ConsumeIntegralInRange(-5, 3));
  query.from = std::max(0, input.ConsumeIntegralInRange(-5, 3));
  find.from = std::max(0, input.ConsumeIntegralInRange(-7, 4));
  env.from = input.ConsumeIntegralInRange(0, 5) == 5 ? 1 : 0;

  // The module: a folder and a name, or any bytes at all.
  std::uint8_t layout = input.ConsumeIntegral<std::uint8_t>();
  std::string moduleName = (layout & 1) != 0 ? Bytes(input, 300, 300, 300, true)
                                             : Bytes(input, 40, 300, 240, true) + sep + "quenlet";
  std::string folder;
  bool haveFolder = false;
  if (!moduleName.empty() && moduleName.size() < quenlet::kMaxPath) {
    size_t last = moduleName.rfind(sep);
    haveFolder = last != std::string::npos;
    if (haveFolder) folder = moduleName.substr(0, last);
  }
  std::string bundled = folder + conventions.bundledRuntime;

  // The registry, JAVA_HOME and the runtimes below it.
  std::string version = Bytes(input, 16, 4, 12, false);
  std::string runtimeLib = Bytes(input, 300, 300, 1000000, false);
  std::string versionKey = std::string(kJavaKey) + "\\" + CString(version);
  std::string home = Bytes(input, 40, 300, 10000, true);
  std::uint8_t homeFiles = input.ConsumeIntegral<std::uint8_t>();
  std::string homeRuntimes[2] = {home + conventions.homeRuntimes[0], home + conventions.homeRuntimes[1]};

  auto makeHost = [&] {
    std::unique_ptr<quenlet::FakeHost> host(new quenlet::FakeHost(conventions));
    if (module.from != 0) host->FailCall("GetModuleFileNameA", module.from);
    if (open.from != 0) host->FailCall("RegOpenKeyExA", open.from);
    if (query.from != 0) host->FailCall("RegQueryValueExA", query.from);
    if (find.from != 0) host->FailCall("FindFirstFileA", find.from);
    if (env.from != 0) host->FailCall("GetEnvironmentVariableA", env.from);
    host->SetModuleFileName(moduleName);
    if (haveFolder && (layout & 2) != 0) host->AddFile(bundled);
    if ((layout & 4) != 0) host->AddKey(kJavaKey);
    if ((layout & 12) == 12) host->SetValue(kJavaKey, "CurrentVersion", version);
    if ((layout & 16) != 0) host->AddKey(versionKey);
    if ((layout & 48) == 48) host->SetValue(versionKey, "RuntimeLib", runtimeLib);
    if ((homeFiles & 1) != 0) host->SetEnv("JAVA_HOME", home);
    if ((homeFiles & 2) != 0) host->AddFile(homeRuntimes[0]);
    if ((homeFiles & 4) != 0) host->AddFile(homeRuntimes[1]);
    return host;
  };

  // The caller's buffer between canaries; then again in a heap block of its
  // exact size, where the sanitizer catches a read past it too.
  std::unique_ptr<quenlet::FakeHost> host = makeHost();
  std::vector<unsigned char> guarded(kGuard + bufferSize + kGuard, kCanary);
  char* buffer = reinterpret_cast<char*>(guarded.data() + kGuard);
  int found = quenlet::FindJavaRuntime(*host, buffer, bufferSize);
  for (size_t i = 0; i < kGuard; ++i) Check(guarded[i] == kCanary && guarded[kGuard + bufferSize + i] == kCanary);
  Check(host->OpenKeys() == 0 && host->OpenSearches() == 0 && host->BadCloses() == 0);
  std::unique_ptr<quenlet::FakeHost> again = makeHost();
  std::unique_ptr<char[]> exact(new char[bufferSize]);
  Check(quenlet::FindJavaRuntime(*again, exact.get(), bufferSize) == found);
  if (found) Check(std::strcmp(exact.get(), buffer) == 0);

  // What the sources give, in order (the first call's failures only).
  bool expectFound = false;
  std::string expected;
  auto exists = [&](const std::string& candidate) {
    if (candidate.size() >= quenlet::kMaxPath || candidate.size() >= bufferSize) return false;
    if (find.Next()) return false;
    return host->Exists(candidate);
  };
  auto take = [&](const std::string& candidate) {
    if (!exists(candidate)) return false;
    expectFound = true;
    expected = candidate;
    return true;
  };
  bool done = !module.Next() && haveFolder && take(bundled);
  if (!done && !open.Next() && (layout & 4) != 0 && !query.Next() && (layout & 12) == 12 && version.size() <= 10 &&
      std::strcmp(CString(version).c_str(), "1.4") >= 0) {
    if (!open.Next() && (layout & 16) != 0 && !query.Next() && (layout & 48) == 48 &&
        runtimeLib.size() <= bufferSize) {
      if (runtimeLib.size() < bufferSize ||
          (!runtimeLib.empty() && runtimeLib[runtimeLib.size() - 1] == '\0')) {
        done = expectFound = true;
        expected = CString(runtimeLib);
      }
    }
  }
  std::uint32_t capacity = std::min<std::uint32_t>(bufferSize, quenlet::kMaxPath);
  if (!done && (homeFiles & 1) != 0 && !home.empty() && !env.Next() && home.size() < capacity) {
    done = take(homeRuntimes[0]) || take(homeRuntimes[1]);
  }
  Check(found == (expectFound ? 1 : 0));
  if (found) {
    Check(std::memchr(buffer, '\0', bufferSize) != nullptr);
    Check(expected == buffer);
  }
  return 0;
}
