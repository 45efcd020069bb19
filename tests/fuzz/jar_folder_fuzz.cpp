// Fuzz target for ListJarFolder over the fake host: any folder name (up to
// well past a path buffer), any entry names (every byte but zero and the
// separator, up to past 259 bytes, files and folders, some in other folders)
// and a search that fails at any call give exactly the entries the search
// returned before it failed, in byte order, and the search closed once.
//
// Input (FuzzedDataProvider): the conventions, the failing call, the folder,
// then entries until the data ends. Long run: see README.md here.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/jar_folder.h"
#include "tests/fakes/fake_host.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Bytes up to limit long, without zero bytes or the separator, then padded
// with up to pad bytes of 'x' so that long names cost few input bytes.
std::string Name(FuzzedDataProvider& input, char separator, size_t limit, int pad) {
  std::string name = input.ConsumeRandomLengthString(limit);
  name.erase(std::remove_if(name.begin(), name.end(), [&](char c) { return c == '\0' || c == separator; }),
             name.end());
  return name + std::string(static_cast<size_t>(input.ConsumeIntegralInRange(0, pad)), 'x');
}

bool EndsWithJar(const std::string& name) {
  return name.size() >= 4 && Upper(name.substr(name.size() - 4)) == ".JAR";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const quenlet::PathConventions& conventions =
      input.ConsumeBool() ? quenlet::kPosixConventions : quenlet::kWindowsConventions;
  const char sep = conventions.separator;
  quenlet::FakeHost host(conventions);
  int failing = input.ConsumeIntegralInRange(0, 2);  // none, FindFirstFileA, FindNextFileA
  int failFrom = input.ConsumeIntegralInRange(1, 40);
  if (failing == 1) host.FailCall("FindFirstFileA", failFrom);
  if (failing == 2) host.FailCall("FindNextFileA", failFrom);

  // The folder may hold separators inside, never at its end.
  std::string folder = input.ConsumeRandomLengthString(64);
  folder.erase(std::remove(folder.begin(), folder.end(), '\0'), folder.end());
  folder += std::string(static_cast<size_t>(input.ConsumeIntegralInRange(0, 300)), 'f');
  while (!folder.empty() && folder.back() == sep) folder.pop_back();
  if (folder.empty()) folder = "F";

  // The folder's own entries, in the order the search lists them (names that
  // differ only in ASCII case are one entry, as the fake keeps them).
  std::vector<std::string> entries;
  auto addEntry = [&](const std::string& name) {
    for (const std::string& entry : entries) {
      if (Upper(entry) == Upper(name)) return;
    }
    entries.push_back(name);
  };
  while (input.remaining_bytes() > 0) {
    std::uint8_t kind = input.ConsumeIntegral<std::uint8_t>();
    std::string name = Name(input, sep, 40, (kind & 8) != 0 ? 300 : 0);
    static const char* const kSuffixes[] = {".jar", ".JAR", ".Jar", ".jaR"};
    if ((kind & 2) != 0) name += kSuffixes[(kind >> 4) & 3];
    if (name.empty()) continue;
    bool isFolder = (kind & 1) != 0;
    if ((kind & 4) == 0) {
      host.AddFile(folder + sep + name, isFolder);
      addEntry(name);
    } else if ((kind & 64) != 0) {
      host.AddFile(folder + sep + "sub.jar" + sep + name, isFolder);  // its folder is an entry too
      addEntry("sub.jar");
    } else {
      host.AddFile(folder + "2" + sep + name, isFolder);  // a sibling folder's entry
    }
  }

  std::string fragment = quenlet::ListJarFolder(host, folder.c_str());

  bool fits = folder.size() + 1 + 5 + 1 <= quenlet::kMaxPath;
  std::vector<std::string> matched;
  for (const std::string& entry : entries) {
    if (EndsWithJar(entry) && entry.size() < quenlet::kMaxPath) matched.push_back(entry);
  }
  size_t taken = matched.size();
  if (failing == 1 && failFrom == 1) taken = 0;
  if (failing == 2) taken = std::min(taken, static_cast<size_t>(failFrom));
  if (!fits) taken = 0;
  matched.resize(taken);
  std::sort(matched.begin(), matched.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
  });
  std::string expected;
  for (size_t i = 0; i < matched.size(); ++i) {
    if (i > 0) expected += conventions.classPathSeparator;
    expected += folder + sep + matched[i];
  }
  Check(fragment == expected);

  // One search of exactly folder\*.jar when the pattern fits, closed once when
  // it gave a handle; nothing left open, nothing closed twice.
  int firsts = 0, closes = 0;
  for (const std::string& name : host.CallNames()) {
    firsts += name == "FindFirstFileA";
    closes += name == "FindClose";
  }
  Check(firsts == (fits ? 1 : 0));
  std::string search = "FindFirstFileA(" + quenlet::Quoted((folder + sep + "*.jar").c_str()) + ")";
  if (fits) Check(host.Calls()[0].rfind(search, 0) == 0);
  bool gotHandle = fits && !(failing == 1 && failFrom == 1) && !entries.empty() &&
                   std::any_of(entries.begin(), entries.end(),
                               [](const std::string& e) { return EndsWithJar(e) && e.size() < quenlet::kMaxPath; });
  Check(closes == (gotHandle ? 1 : 0));
  Check(host.OpenSearches() == 0 && host.BadCloses() == 0);
  return 0;
}
