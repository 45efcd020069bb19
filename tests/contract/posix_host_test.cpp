// What only the POSIX host has to get right: entries reached through symbolic
// links are searched by what they point to.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "host/host_services.h"

namespace quenlet {
namespace {

namespace fs = std::filesystem;

TEST(PosixHostSearch, LinksCountAsWhatTheyPointTo) {
  fs::path root = fs::temp_directory_path() / ("quenlet-links-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "lib");
  fs::create_directories(root / "target-folder");
  std::ofstream(root / "target-file");
  fs::create_directory_symlink(root / "target-folder", root / "lib" / "folder.jar");
  fs::create_symlink(root / "target-file", root / "lib" / "file.jar");
  fs::create_symlink(root / "missing", root / "lib" / "dangling.jar");

  std::unique_ptr<HostServices> host = MakeRealHost();
  FindData data;
  SearchHandle search = host->FindFirstFileA((root / "lib" / "*.jar").string().c_str(), &data);
  ASSERT_NE(search, kInvalidSearch);
  std::map<std::string, bool> folders;
  do folders[data.cFileName] = (data.dwFileAttributes & kAttributeDirectory) != 0;
  while (host->FindNextFileA(search, &data) != 0);
  host->FindClose(search);
  EXPECT_EQ(folders, (std::map<std::string, bool>{{"dangling.jar", false}, {"file.jar", false}, {"folder.jar", true}}));
  fs::remove_all(root);
}

}  // namespace
}  // namespace quenlet
#endif
