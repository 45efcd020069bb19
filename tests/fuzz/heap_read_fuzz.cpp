// Fuzz target for ReadHeapMegabytes: any maxheap data (any length, any
// bytes), a missing key or value, a failing open or query, gives the value's
// little-endian bytes over the default 64, or 64; the key is closed once.
//
// Input: one byte of flags (bit 0 the key exists, bit 1 the value exists,
// bit 2 the open fails, bit 3 the query fails), then the value's bytes.
// Long run: see README.md here.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/launch_sequence.h"
#include "tests/fakes/fake_host.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const char kKey[] = "Software\\Korvane";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::uint8_t flags = data[0];
  std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
  bool haveKey = (flags & 1) != 0, haveValue = (flags & 2) != 0;
  bool openFails = (flags & 4) != 0, queryFails = (flags & 8) != 0;

  quenlet::FakeHost host((flags & 16) != 0 ? quenlet::kPosixConventions : quenlet::kWindowsConventions);
  if (haveKey) host.AddKey(kKey);
  if (haveKey && haveValue) host.SetValue(kKey, "maxheap", value);
  if (openFails) host.FailCall("RegOpenKeyExA");
  if (queryFails) host.FailCall("RegQueryValueExA");

  std::uint32_t expected = 64;
  if (haveKey && haveValue && !openFails && !queryFails && value.size() <= 4) {
    unsigned char bytes[4] = {64, 0, 0, 0};
    for (size_t i = 0; i < value.size(); ++i) bytes[i] = static_cast<unsigned char>(value[i]);
    expected = bytes[0] | static_cast<std::uint32_t>(bytes[1]) << 8 | static_cast<std::uint32_t>(bytes[2]) << 16 |
               static_cast<std::uint32_t>(bytes[3]) << 24;
  }
  Check(quenlet::ReadHeapMegabytes(host) == expected);
  Check(host.OpenKeys() == 0 && host.BadCloses() == 0);

  // One open; a query and a close only when it succeeded.
  int opens = 0, queries = 0, closes = 0;
  for (const std::string& name : host.CallNames()) {
    opens += name == "RegOpenKeyExA";
    queries += name == "RegQueryValueExA";
    closes += name == "RegCloseKey";
  }
  bool opened = haveKey && !openFails;
  Check(opens == 1 && queries == (opened ? 1 : 0) && closes == (opened ? 1 : 0));
  std::string status = opened ? " = 0 -> key1" : (openFails ? " = 5" : " = 2");
  Check(host.Calls()[0] == "RegOpenKeyExA(HKLM, \"Software\\Korvane\", 0, 0x20019)" + status);
  return 0;
}
