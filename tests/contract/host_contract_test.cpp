// The results the launcher relies on from its host, checked against the fake
// host and the real host of the build alike, so the fake cannot drift from
// what Windows or the POSIX port really do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/contract/scene.h"

namespace quenlet {
namespace {

struct HostKind {
  const char* name;
  SceneFactory make;
};
void PrintTo(const HostKind& kind, std::ostream* out) { *out << kind.name; }

class HostContract : public ::testing::TestWithParam<HostKind> {
 protected:
  void SetUp() override { scene_ = GetParam().make(); }
  HostServices& host() { return scene_->Host(); }

  std::vector<std::string> Search(const std::string& pattern) {
    std::vector<std::string> names;
    FindData data;
    SearchHandle search = host().FindFirstFileA(pattern.c_str(), &data);
    if (search == kInvalidSearch) return names;
    do names.push_back(data.cFileName);
    while (host().FindNextFileA(search, &data) != 0);
    EXPECT_NE(host().FindClose(search), 0);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::unique_ptr<Scene> scene_;
};

TEST_P(HostContract, ModuleFileNameIsTheExecutableFullPath) {
  char buffer[kMaxPath];
  std::uint32_t length = host().GetModuleFileNameA(buffer, kMaxPath);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, kMaxPath);
  EXPECT_EQ(std::strlen(buffer), length);
  std::string path = buffer;
  size_t separator = path.rfind(host().Conventions().separator);
  ASSERT_NE(separator, std::string::npos);
  EXPECT_EQ(path.substr(separator + 1), scene_->ExeName());
}

TEST_P(HostContract, ModuleFileNameTruncatesWithinTheBuffer) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(host().GetModuleFileNameA(buffer, 5), 5u);
  EXPECT_EQ(buffer[4], '\0');
  EXPECT_EQ(buffer[5], 'x');
}

TEST_P(HostContract, RegistryValuesReadAsTheirBytes) {
  std::string key = scene_->KeyRoot() + "\\Outer\\Inner";
  scene_->SetValue(key, "four", std::string("\x00\x02\x00\x00", 4));
  scene_->SetValue(key, "text", "1.4");
  RegKey outer = 0, inner = 0;
  ASSERT_EQ(host().RegOpenKeyExA(kLocalMachine, (scene_->KeyRoot() + "\\Outer").c_str(), 0, kKeyRead, &outer), 0);
  ASSERT_EQ(host().RegOpenKeyExA(outer, "Inner", 0, kKeyRead, &inner), 0);

  unsigned char data[16];
  std::uint32_t size = sizeof data;
  ASSERT_EQ(host().RegQueryValueExA(inner, "four", nullptr, data, &size), 0);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("\x00\x02\x00\x00", 4));

  size = 3;  // exactly the value's size
  ASSERT_EQ(host().RegQueryValueExA(inner, "text", nullptr, data, &size), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "1.4");

  size = 2;  // too small: more data, and no byte past the buffer written
  std::memset(data, 'x', sizeof data);
  EXPECT_EQ(host().RegQueryValueExA(inner, "text", nullptr, data, &size), kErrorMoreData);
  EXPECT_EQ(data[2], 'x');

  size = sizeof data;
  EXPECT_NE(host().RegQueryValueExA(inner, "missing", nullptr, data, &size), 0);
  EXPECT_EQ(host().RegCloseKey(inner), 0);
  EXPECT_EQ(host().RegCloseKey(outer), 0);
}

TEST_P(HostContract, MissingKeysDoNotOpen) {
  scene_->SetValue(scene_->KeyRoot() + "\\Present", "v", "1");
  RegKey key = 0;
  EXPECT_NE(host().RegOpenKeyExA(kLocalMachine, (scene_->KeyRoot() + "\\Absent").c_str(), 0, kKeyRead, &key), 0);
  EXPECT_NE(host().RegOpenKeyExA(kLocalMachine, (scene_->KeyRoot() + "\\Present\\v").c_str(), 0, kKeyRead, &key), 0)
      << "a value is not a key";
}

TEST_P(HostContract, RegistryNamesIgnoreCase) {
  scene_->SetValue(scene_->KeyRoot() + "\\Mixed", "MaxHeap", "A");
  RegKey key = 0;
  ASSERT_EQ(host().RegOpenKeyExA(kLocalMachine, (scene_->KeyRoot() + "\\MIXED").c_str(), 0, kKeyRead, &key), 0);
  unsigned char data[4];
  std::uint32_t size = sizeof data;
  EXPECT_EQ(host().RegQueryValueExA(key, "maxheap", nullptr, data, &size), 0);
  EXPECT_EQ(size, 1u);
  host().RegCloseKey(key);
}

TEST_P(HostContract, WildcardSearchMatchesWithoutCase) {
  scene_->AddFile("lib/a.jar");
  scene_->AddFile("lib/Tool.JAR");
  scene_->AddFile("lib/notes.txt");
  scene_->AddFile("lib/a.jar.bak");
  scene_->AddFolder("lib/classes.jar");
  EXPECT_EQ(Search(scene_->Path("lib/*.jar")), (std::vector<std::string>{"Tool.JAR", "a.jar", "classes.jar"}));
}

TEST_P(HostContract, SearchOfAMissingOrEmptyFolderFindsNothing) {
  scene_->AddFolder("empty");
  EXPECT_TRUE(Search(scene_->Path("empty/*.jar")).empty());
  EXPECT_TRUE(Search(scene_->Path("absent/*.jar")).empty());
}

TEST_P(HostContract, ExactPathIsAnExistenceTestForFilesAndFolders) {
  scene_->AddFile("jre/bin/client/jvm.dll");
  scene_->AddFolder("other/jvm.dll");
  EXPECT_EQ(Search(scene_->Path("jre/bin/client/jvm.dll")), std::vector<std::string>{"jvm.dll"});
  EXPECT_EQ(Search(scene_->Path("other/jvm.dll")), std::vector<std::string>{"jvm.dll"});
  EXPECT_TRUE(Search(scene_->Path("jre/bin/server/jvm.dll")).empty());
}

TEST_P(HostContract, FolderEntriesCarryTheDirectoryAttribute) {
  scene_->AddFolder("d/sub.jar");
  FindData data;
  SearchHandle search = host().FindFirstFileA(scene_->Path("d/*.jar").c_str(), &data);
  ASSERT_NE(search, kInvalidSearch);
  EXPECT_NE(data.dwFileAttributes & kAttributeDirectory, 0u);
  EXPECT_EQ(host().FindNextFileA(search, &data), 0);
  host().FindClose(search);
}

TEST_P(HostContract, EnvironmentVariablesFollowTheWindowsConventions) {
  char buffer[kMaxPath];
  scene_->UnsetEnv("QUENLET_CONTRACT");
  EXPECT_EQ(host().GetEnvironmentVariableA("QUENLET_CONTRACT", buffer, kMaxPath), 0u);
  scene_->SetEnv("QUENLET_CONTRACT", "");
  EXPECT_EQ(host().GetEnvironmentVariableA("QUENLET_CONTRACT", buffer, kMaxPath), 0u);
  scene_->SetEnv("QUENLET_CONTRACT", "C:\\jdk");
  EXPECT_EQ(host().GetEnvironmentVariableA("QUENLET_CONTRACT", buffer, kMaxPath), 6u);
  EXPECT_STREQ(buffer, "C:\\jdk");
  // 259 characters fit with the terminator; 260 do not, and the size needed comes back.
  scene_->SetEnv("QUENLET_CONTRACT", std::string(259, 'j'));
  EXPECT_EQ(host().GetEnvironmentVariableA("QUENLET_CONTRACT", buffer, kMaxPath), 259u);
  scene_->SetEnv("QUENLET_CONTRACT", std::string(260, 'j'));
  EXPECT_EQ(host().GetEnvironmentVariableA("QUENLET_CONTRACT", buffer, kMaxPath), 261u);
  scene_->UnsetEnv("QUENLET_CONTRACT");
}

TEST_P(HostContract, CreateDirectoryMakesANewFolderAndLeavesAnExistingOne) {
  scene_->AddFile("app/temp/keep.txt");
  EXPECT_NE(host().CreateDirectoryA(scene_->Path("app/new").c_str()), 0);
  EXPECT_TRUE(scene_->Exists("app/new"));
  EXPECT_EQ(host().CreateDirectoryA(scene_->Path("app/temp").c_str()), 0);
  EXPECT_TRUE(scene_->Exists("app/temp/keep.txt"));
  EXPECT_EQ(host().CreateDirectoryA(scene_->Path("absent/deeper").c_str()), 0);
}

TEST_P(HostContract, LoadingAMissingLibraryFails) {
  EXPECT_EQ(host().LoadLibraryA(scene_->Path("jre/bin/client/jvm.dll").c_str()), nullptr);
  EXPECT_EQ(host().LoadLibraryA(""), nullptr);
}

TEST_P(HostContract, PlainAsciiDecodesUnchanged) {
  char16_t wide[8];
  ASSERT_EQ(host().MultiByteToWideChar("a b=1", 5, nullptr, 0), 5);
  ASSERT_EQ(host().MultiByteToWideChar("a b=1", 5, wide, 8), 5);
  EXPECT_EQ(std::u16string(wide, 5), u"a b=1");
  EXPECT_EQ(host().MultiByteToWideChar("a b=1", 5, wide, 4), 0) << "does not fit";
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostContract,
                         ::testing::Values(HostKind{"Fake", &MakeFakeScene}, HostKind{"Real", &MakeRealScene}),
                         [](const ::testing::TestParamInfo<HostKind>& info) { return info.param.name; });

}  // namespace
}  // namespace quenlet
