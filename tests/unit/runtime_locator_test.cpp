// The runtime locator against the fake host: the three sources in order, the
// byte-wise version rule, every length limit, and every key and search handle
// closed once.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "java/runtime_locator.h"
#include "tests/fakes/fake_host.h"

namespace quenlet {
namespace {

const char kJavaKey[] = "Software\\JavaSoft\\Java Runtime Environment";
const char kApp[] = "C:\\App";
const char kBundled[] = "C:\\App\\jre\\bin\\client\\jvm.dll";
const char kHome[] = "C:\\jdk";
const char kHomeJre[] = "C:\\jdk\\jre\\bin\\client\\jvm.dll";
const char kHomeBin[] = "C:\\jdk\\bin\\client\\jvm.dll";
const char kRegistered[] = "C:\\Registered\\bin\\client\\jvm.dll";

// A folder path of exactly length characters: "C:\" then x's.
std::string FolderOfLength(size_t length) { return "C:\\" + std::string(length - 3, 'x'); }

class RuntimeLocator : public ::testing::Test {
 protected:
  RuntimeLocator() {
    host_.SetModuleFileName(std::string(kApp) + "\\quenlet.exe");
    std::memset(buffer_, '#', sizeof buffer_);
  }
  void TearDown() override {
    EXPECT_EQ(host_.OpenKeys(), 0);
    EXPECT_EQ(host_.OpenSearches(), 0);
    EXPECT_EQ(host_.BadCloses(), 0);
    for (size_t i = kMaxPath; i < sizeof buffer_; ++i) ASSERT_EQ(buffer_[i], '#') << "written past the buffer at " << i;
  }
  void Register(const std::string& version, const std::string& runtimeLib) {
    host_.SetValue(kJavaKey, "CurrentVersion", version);
    host_.SetValue(std::string(kJavaKey) + "\\" + version.c_str(), "RuntimeLib", runtimeLib);
  }
  void HomeWithBothRuntimes() {
    host_.SetEnv("JAVA_HOME", kHome);
    host_.AddFile(kHomeJre);
    host_.AddFile(kHomeBin);
  }
  int Find() { return FindJavaRuntime(host_, buffer_, kMaxPath); }
  std::string Found() const { return buffer_; }
  bool Called(const std::string& operation) const {
    for (const std::string& name : host_.CallNames()) {
      if (name == operation) return true;
    }
    return false;
  }

  FakeHost host_;
  char buffer_[kMaxPath + 16];  // the runtime path and a guard band
};

TEST_F(RuntimeLocator, RuntimeBesideTheLauncherComesFirst) {
  host_.AddFile(kBundled);
  Register("1.5.0", kRegistered);
  HomeWithBothRuntimes();
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), kBundled);
  EXPECT_EQ(host_.Calls(), (std::vector<std::string>{
                               "GetModuleFileNameA(null, 260)",
                               "FindFirstFileA(\"C:\\App\\jre\\bin\\client\\jvm.dll\") = search1",
                               "FindClose(search1)",
                           }));
}

TEST_F(RuntimeLocator, AFolderNamedLikeTheLibraryCounts) {
  host_.AddFile(kBundled, true);
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), kBundled);
}

TEST_F(RuntimeLocator, RegisteredRuntimeIsReadWithExactCallsAndClosedInnerFirst) {
  Register("1.4", kRegistered);
  HomeWithBothRuntimes();
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), kRegistered);
  EXPECT_EQ(host_.Calls(),
            (std::vector<std::string>{
                "GetModuleFileNameA(null, 260)",
                "FindFirstFileA(\"C:\\App\\jre\\bin\\client\\jvm.dll\") = invalid",
                "RegOpenKeyExA(HKLM, \"Software\\JavaSoft\\Java Runtime Environment\", 0, 0x20019) = 0 -> key1",
                "RegQueryValueExA(key1, \"CurrentVersion\", null, 10) = 0",
                "RegOpenKeyExA(key1, \"1.4\", 0, 0x20019) = 0 -> key2",
                "RegQueryValueExA(key2, \"RuntimeLib\", null, 260) = 0",
                "RegCloseKey(key2)",
                "RegCloseKey(key1)",
            }));
}

TEST_F(RuntimeLocator, RegisteredPathIsNotTestedForExistence) {
  Register("1.5.0", "C:\\nowhere\\jvm.dll");
  HomeWithBothRuntimes();
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), "C:\\nowhere\\jvm.dll");
  EXPECT_FALSE(Called("GetEnvironmentVariableA"));
}

TEST_F(RuntimeLocator, EmptyRuntimeLibGivesAnEmptyPath) {
  Register("1.4", "");
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), "");
}

struct VersionCase {
  const char* name;
  std::string stored;  // the bytes of CurrentVersion
  bool used;
};

class VersionRule : public RuntimeLocator, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionRule, OnlyVersionsNotOrderedBefore14AreUsed) {
  const VersionCase& c = GetParam();
  host_.SetValue(kJavaKey, "CurrentVersion", c.stored);
  host_.SetValue(std::string(kJavaKey) + "\\" + c.stored.c_str(), "RuntimeLib", kRegistered);
  HomeWithBothRuntimes();
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), c.used ? kRegistered : kHomeJre);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionRule,
    ::testing::Values(VersionCase{"Equal", "1.4", true}, VersionCase{"Longer", "1.4.2", true},
                      VersionCase{"Later", "1.5.0", true}, VersionCase{"Ten", "10", true},
                      VersionCase{"Two", "2", true}, VersionCase{"Earlier", "1.3.1", false},
                      VersionCase{"OneTen", "1.10", false}, VersionCase{"EndsFirst", "1", false},
                      VersionCase{"Empty", "", false},
                      VersionCase{"StoredWithTerminator", std::string("1.4.2", 6), true},
                      VersionCase{"NineCharactersAndTerminator", std::string("1.4.2_100", 10), true},
                      VersionCase{"TenCharactersUnterminated", "1.4.2_1000", true},
                      VersionCase{"TenCharactersAndTerminator", std::string("1.4.2_1000", 11), false},
                      VersionCase{"ElevenBytes", "1.4.2_10000", false},
                      VersionCase{"HighByteSortsLast", "\xE9", true}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST_F(RuntimeLocator, MissingVersionKeyOrRuntimeLibLeadsOnToJavaHome) {
  host_.SetValue(kJavaKey, "CurrentVersion", "1.6");
  HomeWithBothRuntimes();
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), kHomeJre);

  host_.AddKey(std::string(kJavaKey) + "\\1.6");  // the subkey, still without RuntimeLib
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), kHomeJre);
}

TEST_F(RuntimeLocator, FailedRegistryReadsLeadOnToJavaHome) {
  Register("1.6", kRegistered);
  HomeWithBothRuntimes();
  host_.FailCall("RegQueryValueExA", 2);  // CurrentVersion reads, RuntimeLib does not
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), kHomeJre);
}

struct RuntimeLibCase {
  const char* name;
  std::string stored;
  bool used;
};

class RuntimeLibLimits : public RuntimeLocator, public ::testing::WithParamInterface<RuntimeLibCase> {};

TEST_P(RuntimeLibLimits, AValueIsUsedOnlyWhenItFitsWithItsTerminator) {
  Register("1.4", GetParam().stored);
  host_.SetEnv("JAVA_HOME", kHome);
  host_.AddFile(kHomeBin);
  ASSERT_EQ(Find(), 1);
  if (GetParam().used) {
    EXPECT_EQ(Found(), std::string(GetParam().stored.c_str()));
  } else {
    EXPECT_EQ(Found(), kHomeBin);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RuntimeLibLimits,
    ::testing::Values(RuntimeLibCase{"Chars259AndTerminator", FolderOfLength(259) + std::string(1, '\0'), true},
                      RuntimeLibCase{"Chars259Unterminated", FolderOfLength(259), true},
                      RuntimeLibCase{"Chars260Unterminated", FolderOfLength(260), false},
                      RuntimeLibCase{"Chars260AndTerminator", FolderOfLength(260) + std::string(1, '\0'), false},
                      RuntimeLibCase{"EmbeddedZeroCutsThePath", std::string("C:\\a\0junk", 9), true}),
    [](const ::testing::TestParamInfo<RuntimeLibCase>& info) { return info.param.name; });

struct HomeCase {
  const char* name;
  size_t length;
  bool jreFits;  // "\jre\bin\client\jvm.dll" still fits 259 characters
  bool binFits;  // "\bin\client\jvm.dll" still fits
};

class JavaHomeLimits : public RuntimeLocator, public ::testing::WithParamInterface<HomeCase> {};

TEST_P(JavaHomeLimits, CandidatesLongerThan259CharactersDoNotExist) {
  const HomeCase& c = GetParam();
  std::string home = FolderOfLength(c.length);
  host_.SetEnv("JAVA_HOME", home);
  host_.AddFile(home + "\\jre\\bin\\client\\jvm.dll");
  host_.AddFile(home + "\\bin\\client\\jvm.dll");
  int found = Find();
  if (c.jreFits) {
    ASSERT_EQ(found, 1);
    EXPECT_EQ(Found(), home + "\\jre\\bin\\client\\jvm.dll");
  } else if (c.binFits) {
    ASSERT_EQ(found, 1);
    EXPECT_EQ(Found(), home + "\\bin\\client\\jvm.dll");
  } else {
    EXPECT_EQ(found, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, JavaHomeLimits,
                         ::testing::Values(HomeCase{"L236", 236, true, true}, HomeCase{"L237", 237, false, true},
                                           HomeCase{"L240", 240, false, true}, HomeCase{"L241", 241, false, false},
                                           HomeCase{"L259", 259, false, false}, HomeCase{"L260", 260, false, false},
                                           HomeCase{"L10000", 10000, false, false}),
                         [](const ::testing::TestParamInfo<HomeCase>& info) { return info.param.name; });

TEST_F(RuntimeLocator, JavaHomeSecondCandidateWhenTheFirstIsMissing) {
  host_.SetEnv("JAVA_HOME", kHome);
  host_.AddFile(kHomeBin);
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), kHomeBin);
}

TEST_F(RuntimeLocator, JavaHomeIsUsedVerbatim) {
  host_.SetEnv("JAVA_HOME", "C:\\jdk\\");
  Find();
  EXPECT_EQ(host_.Calls().back(), "FindFirstFileA(\"C:\\jdk\\\\bin\\client\\jvm.dll\") = invalid");
}

TEST_F(RuntimeLocator, NothingFoundWithoutJavaHome) {
  EXPECT_EQ(Find(), 0);
  host_.SetEnv("JAVA_HOME", "");
  EXPECT_EQ(Find(), 0);
  host_.SetEnv("JAVA_HOME", kHome);  // holds no runtime
  EXPECT_EQ(Find(), 0);
}

TEST_F(RuntimeLocator, ARuntimeBesideTheLauncherCountsOnlyWhenItsPathFits) {
  // "\jre\bin\client\jvm.dll" adds 23 characters: 236 + 23 fits 259, 237 + 23 does not.
  const struct {
    size_t folderLength;
    bool found;
  } rows[] = {{236, true}, {237, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.folderLength);
    FakeHost host;
    std::string folder = FolderOfLength(row.folderLength);
    host.SetModuleFileName(folder + "\\q.exe");
    host.AddFile(folder + "\\jre\\bin\\client\\jvm.dll");
    host.SetValue(kJavaKey, "CurrentVersion", "1.4");
    host.SetValue(std::string(kJavaKey) + "\\1.4", "RuntimeLib", kRegistered);
    char path[kMaxPath];
    ASSERT_EQ(FindJavaRuntime(host, path, kMaxPath), 1);
    if (row.found) {
      EXPECT_EQ(std::string(path), folder + "\\jre\\bin\\client\\jvm.dll");
    } else {
      EXPECT_STREQ(path, kRegistered);
      EXPECT_TRUE(host.Calls().size() > 1 && host.Calls()[1].rfind("RegOpenKeyExA(", 0) == 0)
          << "a candidate that does not fit is not searched for";
    }
    EXPECT_EQ(host.OpenKeys(), 0);
  }
}

TEST_F(RuntimeLocator, LauncherAtADriveRootLooksBelowThatRoot) {
  host_.SetModuleFileName("D:\\quenlet.exe");
  host_.AddFile("D:\\jre\\bin\\client\\jvm.dll");
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), "D:\\jre\\bin\\client\\jvm.dll");
}

TEST_F(RuntimeLocator, ATruncatedModuleNameIsNotTakenForAFolder) {
  // The name does not fit 260 bytes: its truncated folder would be the wrong one.
  std::string folder = FolderOfLength(250);
  host_.SetModuleFileName(folder + "\\quenlet-launcher.exe");
  host_.AddFile(folder + "\\quenl");
  Register("1.4", kRegistered);
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(Found(), kRegistered);
  EXPECT_FALSE(Called("FindFirstFileA"));
}

TEST_F(RuntimeLocator, PosixLayout) {
  FakeHost posix(kPosixConventions);
  posix.SetModuleFileName("/opt/app/quenlet");
  posix.SetEnv("JAVA_HOME", "/usr/lib/jvm/jdk");
  posix.AddFile("/usr/lib/jvm/jdk/lib/server/libjvm.so");
  char path[kMaxPath];
  ASSERT_EQ(FindJavaRuntime(posix, path, kMaxPath), 1);
  EXPECT_STREQ(path, "/usr/lib/jvm/jdk/lib/server/libjvm.so");
  posix.AddFile("/opt/app/jre/lib/server/libjvm.so");
  ASSERT_EQ(FindJavaRuntime(posix, path, kMaxPath), 1);
  EXPECT_STREQ(path, "/opt/app/jre/lib/server/libjvm.so");
}

}  // namespace
}  // namespace quenlet
