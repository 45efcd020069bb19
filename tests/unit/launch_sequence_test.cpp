// The launch sequence against the fake host: the class path from the exe
// folder and its build and lib jars, the heap from the registry, the order of
// the host calls, and exit status 0 whatever happens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch_sequence.h"
#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_jni.h"

namespace quenlet {
namespace {

struct ClassPathCase {
  const char* name;
  std::vector<std::string> files;  // below the exe folder C:\App
  std::string classPath;
};

class ClassPath : public ::testing::TestWithParam<ClassPathCase> {};

TEST_P(ClassPath, ExeFolderThenBuildJarsThenLibJars) {
  FakeHost host;
  host.SetModuleFileName("C:\\App\\quenlet.exe");
  for (const std::string& file : GetParam().files) host.AddFile("C:\\App\\" + file);
  EXPECT_EQ(BuildClassPath(host), GetParam().classPath);
  EXPECT_EQ(host.OpenSearches(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Jars, ClassPath,
    ::testing::Values(ClassPathCase{"NoJars", {}, "C:\\App;;"},
                      ClassPathCase{"EmptyFolders", {"build\\readme.txt", "lib\\notes"}, "C:\\App;;"},
                      ClassPathCase{"BuildOnly",
                                    {"build\\b.jar", "build\\a.jar"},
                                    "C:\\App;C:\\App\\build\\a.jar;C:\\App\\build\\b.jar;"},
                      ClassPathCase{"LibOnly", {"lib\\x.jar"}, "C:\\App;;C:\\App\\lib\\x.jar"},
                      ClassPathCase{"Both",
                                    {"lib\\x.jar", "build\\b.jar", "build\\a.jar"},
                                    "C:\\App;C:\\App\\build\\a.jar;C:\\App\\build\\b.jar;C:\\App\\lib\\x.jar"},
                      ClassPathCase{"JarsBesideTheLauncherAreNotListed", {"app.jar"}, "C:\\App;;"}),
    [](const ::testing::TestParamInfo<ClassPathCase>& info) { return info.param.name; });

TEST(ClassPathAtADriveRoot, TheDriveAloneIsTheExeFolder) {
  FakeHost host;
  host.SetModuleFileName("C:\\quenlet.exe");
  host.AddFile("C:\\build\\a.jar");
  host.AddFile("C:\\lib\\x.jar");
  EXPECT_EQ(BuildClassPath(host), "C:;C:\\build\\a.jar;C:\\lib\\x.jar");
}

TEST(ClassPathWithoutAnExeFolder, ListsNoFolders) {
  FakeHost host;
  host.FailCall("GetModuleFileNameA");
  host.AddFile("\\build\\a.jar");
  EXPECT_EQ(BuildClassPath(host), ";;");
  EXPECT_EQ(host.CallNames(), std::vector<std::string>{"GetModuleFileNameA"});
}

TEST(ClassPathOnPosix, UsesThePosixSeparators) {
  FakeHost host(kPosixConventions);
  host.SetModuleFileName("/opt/app/quenlet");
  host.AddFile("/opt/app/build/a.jar");
  host.AddFile("/opt/app/lib/x.jar");
  EXPECT_EQ(BuildClassPath(host), "/opt/app:/opt/app/build/a.jar:/opt/app/lib/x.jar");
}

struct HeapCase {
  const char* name;
  bool key;
  bool value;
  std::string bytes;
  std::uint32_t heap;
};

class HeapSetting : public ::testing::TestWithParam<HeapCase> {};

TEST_P(HeapSetting, ReadsUpToFourBytesOverTheDefault) {
  const HeapCase& c = GetParam();
  FakeHost host;
  if (c.key) host.AddKey("Software\\Korvane");
  if (c.value) host.SetValue("Software\\Korvane", "maxheap", c.bytes);
  EXPECT_EQ(ReadHeapMegabytes(host), c.heap);
  EXPECT_EQ(host.OpenKeys(), 0);
  EXPECT_EQ(host.BadCloses(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HeapSetting,
    ::testing::Values(HeapCase{"NoKey", false, false, "", 64}, HeapCase{"NoValue", true, false, "", 64},
                      HeapCase{"Dword512", true, true, std::string("\x00\x02\x00\x00", 4), 512},
                      HeapCase{"Zero", true, true, std::string(4, '\0'), 0},
                      HeapCase{"Largest", true, true, "\xFF\xFF\xFF\xFF", 4294967295u},
                      HeapCase{"TwoBytes", true, true, std::string("\x00\x02", 2), 512},
                      HeapCase{"OneByte", true, true, "\x01", 1},
                      HeapCase{"NoBytes", true, true, "", 64},
                      HeapCase{"StringBytesBecomeTheNumber", true, true, "256", 0x363532},
                      HeapCase{"FiveBytes", true, true, std::string("\x00\x02\x00\x00\x00", 5), 64},
                      HeapCase{"Large", true, true, std::string(1000000, '\x01'), 64}),
    [](const ::testing::TestParamInfo<HeapCase>& info) { return info.param.name; });

TEST(HeapSettingRead, OpensQueriesAndClosesTheKeyWithExactArguments) {
  FakeHost host;
  host.SetValueDword("Software\\Korvane", "maxheap", 512);
  ReadHeapMegabytes(host);
  EXPECT_EQ(host.Calls(), (std::vector<std::string>{
                              "RegOpenKeyExA(HKLM, \"Software\\Korvane\", 0, 0x20019) = 0 -> key1",
                              "RegQueryValueExA(key1, \"maxheap\", null, 4) = 0",
                              "RegCloseKey(key1)",
                          }));
}

TEST(LaunchSequence, ReadsFoldersAndRegistryOnceBeforeLookingForJavaAndExitsWithZero) {
  FakeHost host;
  host.SetModuleFileName("C:\\App\\quenlet.exe");
  host.AddFile("C:\\App\\build\\a.jar");
  ArgumentList arguments("one two");
  EXPECT_EQ(RunLauncher(host, arguments), 0);
  std::vector<std::string> calls = host.Calls();
  ASSERT_GE(calls.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 8),
            (std::vector<std::string>{
                "GetModuleFileNameA(null, 260)",
                "FindFirstFileA(\"C:\\App\\build\\*.jar\") = search1",
                "FindNextFileA(search1) = 0",
                "FindClose(search1)",
                "FindFirstFileA(\"C:\\App\\lib\\*.jar\") = invalid",
                "RegOpenKeyExA(HKLM, \"Software\\Korvane\", 0, 0x20019) = 2",
                // the Java runtime is looked for only now
                "GetModuleFileNameA(null, 260)",
                "FindFirstFileA(\"C:\\App\\jre\\bin\\client\\jvm.dll\") = invalid",
            }));
  ASSERT_EQ(host.Dialogs().size(), 1u);
  EXPECT_EQ(host.Dialogs()[0].text, "Cannot find compatible Java VM.");
  EXPECT_EQ(host.OpenKeys(), 0);
  EXPECT_EQ(host.OpenSearches(), 0);
}

TEST(LaunchSequence, HandsTheClassPathHeapAndArgumentsToTheJavaApplication) {
  FakeHost host;
  FakeJvm jvm(host);
  host.SetModuleFileName("C:\\App\\quenlet.exe");
  host.AddFile("C:\\App\\jre\\bin\\client\\jvm.dll");
  jvm.InstallAt("C:\\App\\jre\\bin\\client\\jvm.dll");
  host.AddFile("C:\\App\\lib\\x.jar");
  host.SetValueDword("Software\\Korvane", "maxheap", 512);
  EXPECT_EQ(RunLauncher(host, ArgumentList("a \"b c\" \"\"")), 0);
  EXPECT_EQ(jvm.Options(), (std::vector<std::string>{"-Xmx512m", "-Djava.class.path=C:\\App;;C:\\App\\lib\\x.jar",
                                                     "-Djava.io.tmpdir=C:\\App\\temp"}));
  EXPECT_EQ(jvm.MainArguments(), (std::vector<std::u16string>{u"a", u"b c", u""}));
  EXPECT_EQ(jvm.DestroyCount(), 1);
  EXPECT_TRUE(host.Dialogs().empty());
}

}  // namespace
}  // namespace quenlet
