// A place for the host contract suite to set up files, folders, environment
// variables and registry values, either in a fake host's memory or for real
// (a temporary folder, the process environment, the registry or its stand-in).
#pragma once

#include <memory>
#include <string>

#include "host/host_services.h"

namespace quenlet {

class Scene {
 public:
  virtual ~Scene() = default;
  virtual HostServices& Host() = 0;
  // A fresh, empty folder in the host's spelling, with no trailing separator.
  virtual std::string Root() = 0;
  // Paths below Root(), written with '/'.
  virtual void AddFile(const std::string& relative, const std::string& contents = "") = 0;
  virtual void AddFolder(const std::string& relative) = 0;
  virtual bool Exists(const std::string& relative) = 0;
  virtual void SetEnv(const std::string& name, const std::string& value) = 0;
  virtual void UnsetEnv(const std::string& name) = 0;
  // Keys are below KeyRoot(), a key of HKEY_LOCAL_MACHINE that only this scene uses.
  virtual std::string KeyRoot() = 0;
  virtual void SetValue(const std::string& key, const std::string& name, const std::string& bytes) = 0;
  // The file name the executable of this test run has, without its folder.
  virtual std::string ExeName() = 0;

  // A path below Root() in the host's spelling.
  std::string Path(const std::string& relative);
};

using SceneFactory = std::unique_ptr<Scene> (*)();
std::unique_ptr<Scene> MakeFakeScene();
std::unique_ptr<Scene> MakeRealScene();

}  // namespace quenlet
