// Exe folders around and past the path limit, over the fake host: the module
// name must fit 260 bytes for the folder to be known, the lib pattern must fit
// for its jars to be listed, and the runtime beside the launcher must fit 259
// characters to be found.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/exe_folder.h"
#include "java/runtime_locator.h"
#include "launcher/launch_sequence.h"
#include "tests/fakes/fake_host.h"

namespace quenlet {
namespace {

struct LongFolderCase {
  bool posix;
  size_t length;  // of the exe folder
};

std::string CaseName(const ::testing::TestParamInfo<LongFolderCase>& info) {
  return std::string(info.param.posix ? "Posix" : "Windows") + std::to_string(info.param.length);
}

class LongExeFolder : public ::testing::TestWithParam<LongFolderCase> {};

TEST_P(LongExeFolder, KnownListedAndFoundOnlyWhereThePathsFit) {
  const LongFolderCase& c = GetParam();
  const PathConventions& conventions = c.posix ? kPosixConventions : kWindowsConventions;
  const std::string sep(1, conventions.separator);
  const std::string root = c.posix ? "/" : "C:\\";
  const std::string folder = root + std::string(c.length - root.size(), 'f');
  const std::string moduleName = folder + sep + (c.posix ? "quenlet" : "quenlet.exe");
  FakeHost host(conventions);
  host.SetModuleFileName(moduleName);
  host.AddFile(folder + sep + "lib" + sep + "a.jar");
  host.AddFile(folder + conventions.bundledRuntime);

  bool known = moduleName.size() < kMaxPath;
  bool listed = known && folder.size() + std::strlen("/lib/*.jar") < kMaxPath;
  bool bundledFits = known && folder.size() + std::strlen(conventions.bundledRuntime) < kMaxPath;

  char exeFolder[kMaxPath + 8];
  std::memset(exeFolder, '#', sizeof exeFolder);
  EXPECT_EQ(GetExeFolder(host, exeFolder), known ? 1 : 0);
  EXPECT_EQ(std::string(exeFolder), known ? folder : "");
  for (size_t i = kMaxPath; i < sizeof exeFolder; ++i) ASSERT_EQ(exeFolder[i], '#');

  const std::string cps(1, conventions.classPathSeparator);
  std::string expected = (known ? folder : "") + cps + cps + (listed ? folder + sep + "lib" + sep + "a.jar" : "");
  EXPECT_EQ(BuildClassPath(host), expected);

  char runtime[kMaxPath];
  EXPECT_EQ(FindJavaRuntime(host, runtime, kMaxPath), bundledFits ? 1 : 0);
  if (bundledFits) {
    EXPECT_EQ(std::string(runtime), folder + conventions.bundledRuntime);
  }
  EXPECT_EQ(host.OpenSearches(), 0);
  EXPECT_EQ(host.BadCloses(), 0);
}

// Windows: the module name adds 12, the bundled runtime 23, the lib pattern 10.
// POSIX: 8, 25 and 10.
INSTANTIATE_TEST_SUITE_P(Lengths, LongExeFolder,
                         ::testing::Values(LongFolderCase{false, 236}, LongFolderCase{false, 237},
                                           LongFolderCase{false, 247}, LongFolderCase{false, 248},
                                           LongFolderCase{false, 254}, LongFolderCase{false, 255},
                                           LongFolderCase{false, 259}, LongFolderCase{false, 260},
                                           LongFolderCase{false, 1000}, LongFolderCase{true, 234},
                                           LongFolderCase{true, 235}, LongFolderCase{true, 237},
                                           LongFolderCase{true, 249}, LongFolderCase{true, 250},
                                           LongFolderCase{true, 251}, LongFolderCase{true, 252},
                                           LongFolderCase{true, 254}, LongFolderCase{true, 255},
                                           LongFolderCase{true, 259}, LongFolderCase{true, 1000}),
                         CaseName);

}  // namespace
}  // namespace quenlet
