// Fuzz target for CutCommandLineTail: any command line, with or without a
// double-byte code page, gives a tail inside the line, after the program name
// by the start-up rule, that starts past the white space after it.
//
// Input: one byte choosing the lead bytes (bit 0: none / those of code page
// 932; bits 1-7 otherwise: that byte alone is a lead byte too), then the
// command line up to its first zero byte. Long run: see README.md here.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "launcher/argument_list.h"
#include "launcher/command_tail.h"
#include "tests/fakes/fake_host.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Where the tail starts, worked out by positions rather than by pointer steps.
size_t ExpectedTailStart(const std::string& line, const std::set<unsigned char>& lead) {
  size_t at = 0;
  if (!line.empty() && line[0] == '"') {
    size_t i = 1;
    while (i < line.size() && line[i] != '"') {
      bool pairs = lead.count(static_cast<unsigned char>(line[i])) != 0 && i + 1 < line.size();
      i += pairs ? 2 : 1;
    }
    at = i < line.size() ? i + 1 : line.size();
  } else {
    while (at < line.size() && static_cast<unsigned char>(line[at]) > 0x20) ++at;
  }
  while (at < line.size() && static_cast<unsigned char>(line[at]) <= 0x20) ++at;
  return at;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::set<unsigned char> lead;
  if ((data[0] & 1) != 0) {
    for (int b = 0x81; b <= 0x9F; ++b) lead.insert(static_cast<unsigned char>(b));
    for (int b = 0xE0; b <= 0xFC; ++b) lead.insert(static_cast<unsigned char>(b));
  }
  if ((data[0] >> 1) != 0) lead.insert(static_cast<unsigned char>(data[0] | 0x80));
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string line = text.substr(0, text.find('\0'));

  // The line in a buffer of exactly its size, so a read past its end is caught.
  std::unique_ptr<char[]> buffer(new char[line.size() + 1]);
  std::memcpy(buffer.get(), line.c_str(), line.size() + 1);

  quenlet::FakeHost host;
  host.SetLeadBytes(lead);
  const char* tail = quenlet::CutCommandLineTail(host, buffer.get());
  Check(tail >= buffer.get() && tail <= buffer.get() + line.size());
  size_t start = static_cast<size_t>(tail - buffer.get());
  Check(start == ExpectedTailStart(line, lead));
  // The tail never starts with white space or a control byte.
  Check(*tail == '\0' || static_cast<unsigned char>(*tail) > 0x20);
  // A bare program name never reaches into the tail: some byte up to 0x20 ends it.
  if (!line.empty() && line[0] != '"' && start < line.size()) {
    Check(static_cast<unsigned char>(line[start - 1]) <= 0x20);
  }
  // The tail splits into arguments without trouble.
  quenlet::ArgumentList arguments(tail);
  Check(arguments.Count() >= 0);

  Check(std::strcmp(quenlet::CutCommandLineTail(host, nullptr), "") == 0);
  return 0;
}
