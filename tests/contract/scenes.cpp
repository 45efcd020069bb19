#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/contract/scene.h"
#include "tests/fakes/fake_host.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quenlet {

std::string Scene::Path(const std::string& relative) {
  std::string path = Root() + Host().Conventions().separator + relative;
  for (char& c : path) {
    if (c == '/') c = Host().Conventions().separator;
  }
  return path;
}

namespace {

class FakeScene final : public Scene {
 public:
  FakeScene() : host_(kWindowsConventions) {
    host_.AddFile("C:\\scene", true);
    host_.SetModuleFileName("C:\\bin\\quenlet_tests.exe");
  }
  HostServices& Host() override { return host_; }
  std::string Root() override { return "C:\\scene"; }
  void AddFile(const std::string& relative, const std::string&) override { host_.AddFile(Path(relative)); }
  void AddFolder(const std::string& relative) override { host_.AddFile(Path(relative), true); }
  bool Exists(const std::string& relative) override { return host_.Exists(Path(relative)); }
  void SetEnv(const std::string& name, const std::string& value) override { host_.SetEnv(name, value); }
  void UnsetEnv(const std::string& name) override { host_.SetEnv(name, ""); }
  std::string KeyRoot() override { return "Software\\QuenletContract"; }
  void SetValue(const std::string& key, const std::string& name, const std::string& bytes) override {
    host_.SetValue(key, name, bytes);
  }
  std::string ExeName() override { return "quenlet_tests.exe"; }

 private:
  FakeHost host_;
};

namespace fs = std::filesystem;

// A real folder below the system's temporary folder, removed afterwards.
class RealScene final : public Scene {
 public:
  RealScene() : host_(MakeRealHost()) {
    static int counter = 0;
    root_ = fs::temp_directory_path() / ("quenlet-contract-" + std::to_string(Pid()) + "-" + std::to_string(++counter));
    fs::remove_all(root_);
    fs::create_directories(root_);
    key_root_ = "Software\\QuenletContract\\run" + std::to_string(Pid()) + "_" + std::to_string(counter);
#ifndef _WIN32
    const char* previous = std::getenv("QUENLET_REGISTRY");
    if (previous != nullptr) saved_registry_ = previous, had_registry_ = true;
    setenv("QUENLET_REGISTRY", (root_ / "registry").string().c_str(), 1);
#endif
  }
  ~RealScene() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
#ifdef _WIN32
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_root_.c_str());
#else
    if (had_registry_) {
      setenv("QUENLET_REGISTRY", saved_registry_.c_str(), 1);
    } else {
      unsetenv("QUENLET_REGISTRY");
    }
#endif
  }
  HostServices& Host() override { return *host_; }
  std::string Root() override { return root_.string(); }
  void AddFile(const std::string& relative, const std::string& contents) override {
    fs::path path = root_ / fs::path(relative);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
  }
  void AddFolder(const std::string& relative) override { fs::create_directories(root_ / fs::path(relative)); }
  bool Exists(const std::string& relative) override { return fs::exists(root_ / fs::path(relative)); }
  void SetEnv(const std::string& name, const std::string& value) override {
#ifdef _WIN32
    SetEnvironmentVariableA(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
  }
  void UnsetEnv(const std::string& name) override {
#ifdef _WIN32
    SetEnvironmentVariableA(name.c_str(), nullptr);
#else
    unsetenv(name.c_str());
#endif
  }
  std::string KeyRoot() override { return key_root_; }
  void SetValue(const std::string& key, const std::string& name, const std::string& bytes) override {
#ifdef _WIN32
    HKEY opened;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr);
    RegSetValueExA(opened, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(opened);
#else
    fs::path folder = root_ / "registry";
    std::string rest = key;
    for (size_t at; (at = rest.find('\\')) != std::string::npos; rest = rest.substr(at + 1)) {
      folder /= rest.substr(0, at);
    }
    folder /= rest;
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary) << bytes;
#endif
  }
  std::string ExeName() override {
#ifdef _WIN32
    return "quenlet_tests.exe";
#else
    return "quenlet_tests";
#endif
  }

 private:
  static long Pid() {
#ifdef _WIN32
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
  }
  std::unique_ptr<HostServices> host_;
  fs::path root_;
  std::string key_root_;
  std::string saved_registry_;
  bool had_registry_ = false;
};

}  // namespace

std::unique_ptr<Scene> MakeFakeScene() { return std::unique_ptr<Scene>(new FakeScene()); }
std::unique_ptr<Scene> MakeRealScene() { return std::unique_ptr<Scene>(new RealScene()); }

}  // namespace quenlet
