// A folder's jar entries as a class path fragment: against the fake host
// (order, calls, failures) and against real folders of the build's platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/jar_folder.h"
#include "tests/fakes/fake_host.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quenlet {
namespace {

int CountCalls(const FakeHost& host, const std::string& name) {
  std::vector<std::string> names = host.CallNames();
  return static_cast<int>(std::count(names.begin(), names.end(), name));
}

// Every order of the same entries gives the same fragment, in byte order.
struct OrderCase {
  const char* name;
  std::vector<std::string> entries;  // as the folder holds them
  std::vector<std::string> sorted;
};
void PrintTo(const OrderCase& c, std::ostream* out) { *out << c.name; }

const OrderCase kOrderCases[] = {
    {"UpperCaseFirst", {"b.jar", "C.jar", "a.jar"}, {"C.jar", "a.jar", "b.jar"}},
    {"Punctuation", {"lib.jar", "lib-1.jar", "lib2.jar", "lib_x.jar"}, {"lib-1.jar", "lib.jar", "lib2.jar", "lib_x.jar"}},
    {"DigitsAsBytes", {"x-9.jar", "x-10.jar"}, {"x-10.jar", "x-9.jar"}},
    {"HighBytesAfterAscii", {"caf\xE9.jar", "cafz.jar", "cafe.jar", "caf\xFF.jar"},
     {"cafe.jar", "cafz.jar", "caf\xE9.jar", "caf\xFF.jar"}},
    {"PrefixFirst", {"ab.jar.jar", "ab.jar"}, {"ab.jar", "ab.jar.jar"}},
    {"ExtensionKeptAsReturned", {"Tool.JAR", "mid.Jar", "a.jar"}, {"Tool.JAR", "a.jar", "mid.Jar"}},
};

class JarFolderOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(JarFolderOrder, IsByteOrderWhateverTheSearchOrder) {
  const OrderCase& c = GetParam();
  std::string expected;
  for (const std::string& name : c.sorted) expected += (expected.empty() ? "" : ";") + std::string("C:\\app\\lib\\") + name;

  std::vector<std::string> order = c.entries;
  std::sort(order.begin(), order.end());
  do {
    FakeHost host;
    host.AddFile("C:\\app\\lib", true);
    for (const std::string& name : order) host.AddFile("C:\\app\\lib\\" + name);
    host.AddFile("C:\\app\\lib\\notes.txt");
    EXPECT_EQ(ListJarFolder(host, "C:\\app\\lib"), expected);
  } while (std::next_permutation(order.begin(), order.end()));
}

INSTANTIATE_TEST_SUITE_P(Names, JarFolderOrder, ::testing::ValuesIn(kOrderCases),
                         [](const ::testing::TestParamInfo<OrderCase>& info) { return info.param.name; });

TEST(JarFolder, SearchesThePatternAndClosesTheSearchOnce) {
  FakeHost host;
  host.AddFile("C:\\app\\build\\a.jar");
  host.AddFile("C:\\app\\build\\classes.jar", true);
  EXPECT_EQ(ListJarFolder(host, "C:\\app\\build"), "C:\\app\\build\\a.jar;C:\\app\\build\\classes.jar");
  EXPECT_EQ(host.Calls(), (std::vector<std::string>{"FindFirstFileA(\"C:\\app\\build\\*.jar\") = search1",
                                                    "FindNextFileA(search1) = 1", "FindNextFileA(search1) = 0",
                                                    "FindClose(search1)"}));
  EXPECT_EQ(host.OpenSearches(), 0);
  EXPECT_EQ(host.BadCloses(), 0);
}

TEST(JarFolder, SingleJarHasNoSeparatorAfterIt) {
  FakeHost host;
  host.AddFile("C:\\app\\lib\\a.jar");
  EXPECT_EQ(ListJarFolder(host, "C:\\app\\lib"), "C:\\app\\lib\\a.jar");
}

TEST(JarFolder, MissingOrJarlessFolderIsEmptyAndNotClosed) {
  FakeHost host;
  host.AddFile("C:\\app\\lib\\readme.txt");
  EXPECT_EQ(ListJarFolder(host, "C:\\app\\lib"), "");
  EXPECT_EQ(ListJarFolder(host, "C:\\app\\build"), "");
  EXPECT_EQ(host.CallNames(), (std::vector<std::string>{"FindFirstFileA", "FindFirstFileA"}));
  EXPECT_EQ(host.BadCloses(), 0);
}

TEST(JarFolder, FailingFirstSearchIsEmptyAndNotClosed) {
  FakeHost host;
  host.AddFile("C:\\app\\lib\\a.jar");
  host.FailCall("FindFirstFileA");
  EXPECT_EQ(ListJarFolder(host, "C:\\app\\lib"), "");
  EXPECT_EQ(CountCalls(host, "FindClose"), 0);
}

TEST(JarFolder, SearchFailingMidwayKeepsTheEntriesTakenAndClosesOnce) {
  for (int failFrom = 1; failFrom <= 4; ++failFrom) {
    FakeHost host;
    for (const char* name : {"d.jar", "c.jar", "b.jar", "a.jar"}) host.AddFile(std::string("C:\\lib\\") + name);
    host.FailCall("FindNextFileA", failFrom);
    std::vector<std::string> taken = {"d.jar", "c.jar", "b.jar", "a.jar"};
    taken.resize(static_cast<size_t>(failFrom));
    std::sort(taken.begin(), taken.end());
    std::string expected;
    for (const std::string& name : taken) expected += (expected.empty() ? "" : ";") + std::string("C:\\lib\\") + name;
    EXPECT_EQ(ListJarFolder(host, "C:\\lib"), expected) << "failing from call " << failFrom;
    EXPECT_EQ(CountCalls(host, "FindNextFileA"), failFrom);
    EXPECT_EQ(CountCalls(host, "FindClose"), 1);
    EXPECT_EQ(host.OpenSearches(), 0);
    EXPECT_EQ(host.BadCloses(), 0);
  }
}

TEST(JarFolder, UsesTheHostsSeparators) {
  FakeHost host(kPosixConventions);
  host.AddFile("/opt/app/lib/b.jar");
  host.AddFile("/opt/app/lib/a.jar");
  EXPECT_EQ(ListJarFolder(host, "/opt/app/lib"), "/opt/app/lib/a.jar:/opt/app/lib/b.jar");
  EXPECT_EQ(host.Calls()[0], "FindFirstFileA(\"/opt/app/lib/*.jar\") = search1");
}

// A search that returns more than the pattern spells, as one matching
// through 8.3 short names does: whatever it returns is listed.
class WideMatchingHost : public FakeHost {
 public:
  SearchHandle FindFirstFileA(const char* pattern, FindData* data) override {
    std::string everything = pattern;
    everything.replace(everything.rfind("*.jar"), 5, "*");
    return FakeHost::FindFirstFileA(everything.c_str(), data);
  }
};

TEST(JarFolder, TakesEveryEntryTheSearchReturns) {
  WideMatchingHost host;
  host.AddFile("C:\\lib\\foo.jarx");
  host.AddFile("C:\\lib\\a.jar");
  EXPECT_EQ(ListJarFolder(host, "C:\\lib"), "C:\\lib\\a.jar;C:\\lib\\foo.jarx");
}

TEST(JarFolder, PatternMustFitAPathBuffer) {
  // folder + "\*.jar" + terminator: 253 + 6 + 1 = 260 fits, one byte more does not.
  std::string fits = "C:\\" + std::string(250, 'f');
  std::string tooLong = fits + "g";
  FakeHost host;
  host.AddFile(fits + "\\a.jar");
  host.AddFile(tooLong + "\\a.jar");
  EXPECT_EQ(ListJarFolder(host, fits.c_str()), fits + "\\a.jar");
  EXPECT_EQ(CountCalls(host, "FindFirstFileA"), 1);
  EXPECT_EQ(ListJarFolder(host, tooLong.c_str()), "");
  EXPECT_EQ(CountCalls(host, "FindFirstFileA"), 1);  // not searched at all
  EXPECT_EQ(ListJarFolder(host, std::string(5000, 'x').c_str()), "");
}

TEST(JarFolder, NullFolderIsEmpty) {
  FakeHost host;
  EXPECT_EQ(ListJarFolder(host, nullptr), "");
  EXPECT_TRUE(host.Calls().empty());
}

// --- Real folders, through the real host of the build ---

namespace fs = std::filesystem;

bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

long ProcessId() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

class JarFolderReal : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    root_ = fs::temp_directory_path() /
            ("quenlet-jars-" + std::to_string(ProcessId()) + "-" + std::to_string(++counter));
    fs::remove_all(root_);
    fs::create_directories(root_);
    host_ = MakeRealHost();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string Path(const std::string& name) { return root_.string() + host_->Conventions().separator + name; }
  // Names are bytes of the system's code page: made through the 8-bit calls.
  void AddFile(const std::string& name) {
    std::FILE* file = std::fopen(Path(name).c_str(), "wb");
    ASSERT_NE(file, nullptr) << name;
    std::fclose(file);
  }
  void AddFolder(const std::string& name) { ASSERT_NE(host_->CreateDirectoryA(Path(name).c_str()), 0) << name; }

  std::string Expected(const std::vector<std::string>& names) {
    std::string fragment;
    for (const std::string& name : names) {
      if (!fragment.empty()) fragment += host_->Conventions().classPathSeparator;
      fragment += Path(name);
    }
    return fragment;
  }
  std::string List() { return ListJarFolder(*host_, root_.string().c_str()); }

  fs::path root_;
  std::unique_ptr<HostServices> host_;
};

TEST_F(JarFolderReal, ListsFilesAndFoldersOfAnyCaseInByteOrder) {
  AddFile("Tool.JAR");
  AddFile("b.jar");
  AddFolder("classes.jar");
  AddFile("readme.txt");
  AddFile("b.jar.txt");
  EXPECT_EQ(List(), Expected({"Tool.JAR", "b.jar", "classes.jar"}));
}

TEST_F(JarFolderReal, ComparesDigitsAndPunctuationAsBytes) {
  for (const char* name : {"x-9.jar", "lib2.jar", "lib.jar", "x-10.jar", "lib_x.jar", "lib-1.jar"}) AddFile(name);
  EXPECT_EQ(List(), Expected({"lib-1.jar", "lib.jar", "lib2.jar", "lib_x.jar", "x-10.jar", "x-9.jar"}));
}

// Natively the name's bytes are the file name's bytes. Under Wine the file is
// made and listed through the ANSI code page: 1252 with LANG=C.UTF-8, where
// 0xE9 comes back as the same byte; with LANG=C Wine cannot make the file.
TEST_F(JarFolderReal, HighByteNameKeepsItsBytesAndSortsAfterAscii) {
  std::FILE* file = std::fopen(Path("caf\xE9.jar").c_str(), "wb");
  if (file == nullptr) GTEST_SKIP() << "this system cannot name a file caf\\xE9.jar (Wine with LANG=C)";
  std::fclose(file);
  AddFile("cafz.jar");
  AddFile("cafe.jar");
  EXPECT_EQ(List(), Expected({"cafe.jar", "cafz.jar", "caf\xE9.jar"}));
}

TEST_F(JarFolderReal, MissingOrEmptyFolderIsEmpty) {
  EXPECT_EQ(List(), "");
  EXPECT_EQ(ListJarFolder(*host_, Path("missing").c_str()), "");
}

// Windows matches the pattern against 8.3 short names too; Wine makes one for
// foo.jarx that ends in .JAR. Whatever the search returns is listed.
TEST_F(JarFolderReal, ListsWhatTheSearchMatchesThroughShortNames) {
  AddFile("foo.jarx");
  AddFile("a.jar");
  std::string listed = List();
  if (UnderWine()) {
    EXPECT_EQ(listed, Expected({"a.jar", "foo.jarx"}));
  } else {
#ifndef _WIN32
    EXPECT_EQ(listed, Expected({"a.jar"}));
#endif
  }
  // On any system: exactly what a direct search returns, in byte order.
  std::vector<std::string> found;
  FindData data;
  SearchHandle search = host_->FindFirstFileA(Path("*.jar").c_str(), &data);
  ASSERT_NE(search, kInvalidSearch);
  do found.push_back(data.cFileName);
  while (host_->FindNextFileA(search, &data) != 0);
  host_->FindClose(search);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(listed, Expected(found));
}

}  // namespace
}  // namespace quenlet
