#include "java/vm_invocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_jni.h"

namespace quenlet {
namespace {

const char kMainClass[] = "com/fernwickdale/korvane/apps/Quenlet";
const char kJavaKey[] = "Software\\JavaSoft\\Java Runtime Environment";

// A fake host and the fake VM it hands out.
struct Scene {
  explicit Scene(const PathConventions& conventions = kWindowsConventions) : host(conventions), jvm(host) {}

  // A launcher at moduleFileName with its own runtime at runtimePath.
  void Bundle(const std::string& moduleFileName, const std::string& runtimePath) {
    host.SetModuleFileName(moduleFileName);
    host.AddFile(runtimePath);
    jvm.InstallAt(runtimePath);
  }

  // A runtime registered at runtimePath, the only one the launcher finds.
  void Register(const std::string& runtimePath) {
    host.FailCall("FindFirstFileA");  // hides any runtime beside the launcher
    host.SetValue(kJavaKey, "CurrentVersion", "1.4");
    host.SetValue(std::string(kJavaKey) + "\\1.4", "RuntimeLib", runtimePath);
    jvm.InstallAt(runtimePath);
  }

  int Run(std::vector<std::string> arguments = {"one", ""}, std::uint32_t heapMegabytes = 64,
          const char* classPath = "C:\\App;C:\\App\\lib\\a.jar") {
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(&argument[0]);
    return RunJavaMain(host, kMainClass, classPath, static_cast<int>(pointers.size()), pointers.data(),
                       heapMegabytes);
  }

  // The calls from the exe folder on: what comes before is the runtime search.
  std::vector<std::string> LaunchCalls() const {
    const std::vector<std::string>& calls = host.Calls();
    size_t from = calls.size();
    for (size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].rfind("GetModuleFileNameA(", 0) == 0) from = i;
    }
    return std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(from), calls.end());
  }

  bool Called(const std::string& prefix) const {
    for (const std::string& call : host.Calls()) {
      if (call.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }

  FakeHost host;
  FakeJvm jvm;
};

// A launcher at C:\App with its own runtime in C:\App\jre.
class VmInvocationTest : public ::testing::Test {
 protected:
  VmInvocationTest() { scene_.Bundle("C:\\App\\quenlet.exe", "C:\\App\\jre\\bin\\client\\jvm.dll"); }

  int Run(std::vector<std::string> arguments = {"one", ""}, std::uint32_t heapMegabytes = 64,
          const char* classPath = "C:\\App;C:\\App\\lib\\a.jar") {
    return scene_.Run(std::move(arguments), heapMegabytes, classPath);
  }
  bool Called(const std::string& prefix) const { return scene_.Called(prefix); }

  Scene scene_;
  FakeHost& host_ = scene_.host;
  FakeJvm& jvm_ = scene_.jvm;
};

TEST_F(VmInvocationTest, SuccessRunsEveryStepInOrder) {
  EXPECT_EQ(Run(), 1);
  std::vector<std::string> expected = {
      "GetModuleFileNameA(null, 260)",
      "SetDllDirectoryA(\"C:\\App\\jre\\bin\")",
      "LoadLibraryA(\"C:\\App\\jre\\bin\\client\\jvm.dll\") = module",
      "GetProcAddress(module, \"JNI_CreateJavaVM\") = proc",
      "CreateDirectoryA(\"C:\\App\\temp\")",
      "JNI_CreateJavaVM(0x10002, [\"-Xmx64m\", \"-Djava.class.path=C:\\App;C:\\App\\lib\\a.jar\", "
      "\"-Djava.io.tmpdir=C:\\App\\temp\"], 1) = 0",
      "FindClass(\"com/fernwickdale/korvane/apps/Quenlet\") = class1",
      "GetStaticMethodID(class1, \"main\", \"([Ljava/lang/String;)V\") = main",
      "FindClass(\"java/lang/String\") = class2",
      "NewObjectArray(2, class2, null) = array1",
      "MultiByteToWideChar(3, 0)",
      "MultiByteToWideChar(3, 3)",
      "NewString(\"one\", 3) = string1",
      "SetObjectArrayElement(array1, 0, string1)",
      "NewString(\"\", 0) = string2",
      "SetObjectArrayElement(array1, 1, string2)",
      "CallStaticVoidMethod(class1, main, array1)",
      "DestroyJavaVM() = 0",
  };
  EXPECT_EQ(scene_.LaunchCalls(), expected);
  EXPECT_EQ(jvm_.Version(), 0x00010002);
  EXPECT_EQ(jvm_.IgnoreUnrecognized(), JNI_TRUE);
  EXPECT_EQ(jvm_.MainArguments(), (std::vector<std::u16string>{u"one", u""}));
  EXPECT_TRUE(host_.Dialogs().empty());
  EXPECT_EQ(host_.CreatedDirectories(), std::vector<std::string>{"C:\\App\\temp"});
}

TEST(VmInvocation, PosixLayoutUsesTheHostsSeparator) {
  Scene scene(kPosixConventions);
  scene.Bundle("/opt/app/quenlet", "/opt/app/jre/lib/server/libjvm.so");
  EXPECT_EQ(scene.Run({"x"}, 64, "/opt/app:/opt/app/lib/a.jar"), 1);
  EXPECT_EQ(scene.host.DllDirectories(), std::vector<std::string>{"/opt/app/jre/lib"});
  EXPECT_EQ(scene.host.CreatedDirectories(), std::vector<std::string>{"/opt/app/temp"});
  EXPECT_EQ(scene.jvm.Options(), (std::vector<std::string>{"-Xmx64m", "-Djava.class.path=/opt/app:/opt/app/lib/a.jar",
                                                           "-Djava.io.tmpdir=/opt/app/temp"}));
  EXPECT_EQ(scene.jvm.MainArguments(), std::vector<std::u16string>{u"x"});
}

struct FailureCase {
  const char* name;
  std::function<void(FakeHost&, FakeJvm&)> arrange;
  const char* text;
  const char* caption;
  bool vmExists;     // so DestroyJavaVM follows the dialog
  bool tempCreated;  // the temp folder was made before the failure
};

void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.name; }

class VmInvocationFailureTest : public VmInvocationTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(VmInvocationFailureTest, ShowsOneDialogAndReturnsZero) {
  const FailureCase& row = GetParam();
  row.arrange(host_, jvm_);
  EXPECT_EQ(Run({"one", "two"}), 0);

  ASSERT_EQ(host_.Dialogs().size(), 1u);
  EXPECT_EQ(host_.Dialogs()[0].text, row.text);
  EXPECT_EQ(host_.Dialogs()[0].caption, row.caption);
  EXPECT_EQ(host_.Dialogs()[0].type, kMbIconError);
  EXPECT_FALSE(jvm_.MainCalled());
  EXPECT_EQ(jvm_.DestroyCount(), row.vmExists ? 1 : 0);

  const std::vector<std::string>& calls = host_.Calls();
  std::string dialog = "MessageBoxA(null, " + Quoted(row.text) + ", " + Quoted(row.caption) + ", 0x10)";
  if (row.vmExists) {
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], dialog);
    EXPECT_EQ(calls.back(), "DestroyJavaVM() = 0");
  } else {
    EXPECT_EQ(calls.back(), dialog);
  }
  EXPECT_EQ(Called("CreateDirectoryA("), row.tempCreated);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFailure, VmInvocationFailureTest,
    ::testing::Values(
        FailureCase{"NoRuntime", [](FakeHost& h, FakeJvm&) { h.FailCall("FindFirstFileA"); },
                    "Cannot find compatible Java VM.", "Java not found.", false, false},
        FailureCase{"LibraryDoesNotLoad", [](FakeHost& h, FakeJvm&) { h.FailCall("LoadLibraryA"); },
                    "Can't load jvm.dll.", "Error", false, false},
        FailureCase{"NoCreateEntryPoint", [](FakeHost& h, FakeJvm&) { h.FailCall("GetProcAddress"); },
                    "Cannot load Java VM.", "Error", false, false},
        FailureCase{"CreateFails", [](FakeHost&, FakeJvm& j) { j.Fail(FakeJvm::kCreate); }, "Cannot load Java VM.",
                    "Error", false, true},
        FailureCase{"NoMainClass", [](FakeHost&, FakeJvm& j) { j.Fail(FakeJvm::kFindMainClass); },
                    "Cannot find main class.", "Error", true, true},
        FailureCase{"NoMainMethod", [](FakeHost&, FakeJvm& j) { j.Fail(FakeJvm::kGetStaticMethodID); },
                    "Cannot find main method.", "Error", true, true},
        FailureCase{"NoStringClass", [](FakeHost&, FakeJvm& j) { j.Fail(FakeJvm::kFindStringClass); },
                    "Error initializing options.", "Error", true, true},
        FailureCase{"NoArray", [](FakeHost&, FakeJvm& j) { j.Fail(FakeJvm::kNewObjectArray); },
                    "Error initializing options.", "Error", true, true},
        FailureCase{"SecondStringFails", [](FakeHost&, FakeJvm& j) { j.Fail(FakeJvm::kNewString, 2); },
                    "Error initializing options.", "Error", true, true},
        FailureCase{"ArgumentDoesNotDecode", [](FakeHost& h, FakeJvm&) { h.FailCall("MultiByteToWideChar"); },
                    "Error initializing options.", "Error", true, true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(VmInvocationTest, NoRuntimeLoadsNothing) {
  host_.FailCall("FindFirstFileA");
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(Called("LoadLibraryA("));
  EXPECT_FALSE(Called("SetDllDirectoryA("));
  EXPECT_FALSE(jvm_.Created());
}

// Launch inputs that describe no argument array are refused, not read.
TEST(VmInvocation, BadArgumentArrayIsAnOptionsError) {
  char one[] = "one";
  char* withNull[] = {one, nullptr};
  const struct {
    const char* name;
    int count;
    char** arguments;
  } rows[] = {{"negative count", -1, withNull}, {"no array", 2, nullptr}, {"null entry", 2, withNull}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Scene scene;
    scene.Bundle("C:\\App\\quenlet.exe", "C:\\App\\jre\\bin\\client\\jvm.dll");
    EXPECT_EQ(RunJavaMain(scene.host, kMainClass, "", row.count, row.arguments, 64), 0);
    ASSERT_EQ(scene.host.Dialogs().size(), 1u);
    EXPECT_EQ(scene.host.Dialogs()[0].text, "Error initializing options.");
    EXPECT_EQ(scene.host.Calls().back(), "DestroyJavaVM() = 0");
    EXPECT_FALSE(scene.jvm.MainCalled());
  }
}

TEST(VmInvocation, HeapOptionIsTheUnsignedMegabytes) {
  const struct {
    std::uint32_t megabytes;
    const char* option;
  } rows[] = {{0, "-Xmx0m"}, {64, "-Xmx64m"}, {4294967295u, "-Xmx4294967295m"}};
  for (const auto& row : rows) {
    Scene scene;
    scene.Bundle("C:\\App\\quenlet.exe", "C:\\App\\jre\\bin\\client\\jvm.dll");
    EXPECT_EQ(scene.Run({}, row.megabytes), 1);
    ASSERT_EQ(scene.jvm.Options().size(), 3u);
    EXPECT_EQ(scene.jvm.Options()[0], row.option);
  }
}

TEST_F(VmInvocationTest, EmptyClassPathGivesAnEmptyOptionValue) {
  EXPECT_EQ(Run({}, 64, ""), 1);
  ASSERT_EQ(jvm_.Options().size(), 3u);
  EXPECT_EQ(jvm_.Options()[1], "-Djava.class.path=");
}

TEST_F(VmInvocationTest, NoArgumentsGiveAnEmptyArray) {
  EXPECT_EQ(RunJavaMain(host_, kMainClass, "C:\\App", 0, nullptr, 64), 1);
  EXPECT_TRUE(Called("NewObjectArray(0, class2, null) = array1"));
  EXPECT_TRUE(Called("CallStaticVoidMethod(class1, main, array1)"));
  EXPECT_TRUE(jvm_.NewStrings().empty());
  EXPECT_TRUE(jvm_.MainCalled());
  EXPECT_TRUE(jvm_.MainArguments().empty());
}

// The fake host decodes each byte as the code point of the same number, so
// the two bytes of a UTF-8 "é" arrive as two characters: proof that the bytes
// went through the host's decoding rather than straight to the VM.
TEST_F(VmInvocationTest, ArgumentsAreDecodedByTheHost) {
  EXPECT_EQ(Run({"caf\xE9", "\xC3\xA9", "", "a b"}), 1);
  std::vector<std::u16string> expected = {u"caf\u00E9", u"\u00C3\u00A9", u"", u"a b"};
  EXPECT_EQ(jvm_.NewStrings(), expected);
  EXPECT_EQ(jvm_.MainArguments(), expected);
  EXPECT_TRUE(Called("MultiByteToWideChar(4, 4)"));
  EXPECT_FALSE(Called("MultiByteToWideChar(0,"));
}

TEST(VmInvocation, DllFolderIsTwoLevelsAboveTheLibrary) {
  const struct {
    const char* runtimePath;
    const char* dllFolder;
  } rows[] = {
      {"D:\\jdk\\jre\\bin\\client\\jvm.dll", "D:\\jdk\\jre\\bin"},
      {"D:\\jdk\\bin\\server\\jvm.dll", "D:\\jdk\\bin"},
      {"\\bin\\jvm.dll", "\\"},
      {"D:\\client\\jvm.dll", "D:\\"},
      // No such folder: the exe folder, so that the current folder still
      // leaves the search (a bare name would otherwise be found there).
      {"D:\\jvm.dll", "C:\\App"},
      {"jvm.dll", "C:\\App"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.runtimePath);
    Scene scene;
    scene.host.SetModuleFileName("C:\\App\\quenlet.exe");
    scene.Register(row.runtimePath);
    EXPECT_EQ(scene.Run(), 1);
    std::vector<std::string> names = scene.host.CallNames();
    auto load = std::find(names.begin(), names.end(), "LoadLibraryA");
    ASSERT_NE(load, names.end());
    EXPECT_EQ(scene.host.DllDirectories(), std::vector<std::string>{row.dllFolder});
    ASSERT_NE(load, names.begin());
    EXPECT_EQ(*(load - 1), "SetDllDirectoryA");
  }
}

TEST_F(VmInvocationTest, TempFolderThatCannotBeMadeDoesNotStopTheLaunch) {
  host_.FailCall("CreateDirectoryA");
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Called("CreateDirectoryA(\"C:\\App\\temp\")"));
  ASSERT_EQ(jvm_.Options().size(), 3u);
  EXPECT_EQ(jvm_.Options()[2], "-Djava.io.tmpdir=C:\\App\\temp");
  EXPECT_TRUE(jvm_.MainCalled());
}

// An exe folder of 257 bytes: its temp folder path needs 263 bytes, more than
// a path buffer holds. It is built whole, not cut short or overrun.
TEST_F(VmInvocationTest, LongExeFolderIsNeitherCutNorOverrun) {
  std::string folder = "C:\\" + std::string(254, 'a');
  ASSERT_EQ(folder.size(), 257u);
  host_.SetModuleFileName(folder + "\\q");
  scene_.Register("D:\\jre\\bin\\client\\jvm.dll");
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Called("CreateDirectoryA(\"" + folder + "\\temp\")"));
  ASSERT_EQ(jvm_.Options().size(), 3u);
  EXPECT_EQ(jvm_.Options()[2], "-Djava.io.tmpdir=" + folder + "\\temp");
  EXPECT_TRUE(jvm_.MainCalled());
}

// With no exe folder there is no place for the temp folder: none is made and
// the VM keeps its own default temp folder.
TEST_F(VmInvocationTest, NoExeFolderLeavesTheTempOptionOut) {
  host_.FailCall("GetModuleFileNameA");
  scene_.Register("D:\\jre\\bin\\client\\jvm.dll");
  EXPECT_EQ(Run(), 1);
  EXPECT_FALSE(Called("CreateDirectoryA("));
  EXPECT_EQ(jvm_.Options(), (std::vector<std::string>{"-Xmx64m", "-Djava.class.path=C:\\App;C:\\App\\lib\\a.jar"}));
  EXPECT_TRUE(jvm_.MainCalled());
}

}  // namespace
}  // namespace quenlet
