// Fuzz target for ArgumentList: checks what every split must satisfy.
//
// Built with clang++ by tests/fuzz/CMakeLists.txt (native builds only); the
// test suite runs it for a few seconds. For a longer run, from the build folder:
//   mkdir -p fuzz-corpus && tests/fuzz/argument_list_fuzzer fuzz-corpus \
//     ../../tests/fuzz/corpus/argument_list -max_total_time=600 -max_len=256
// (new inputs go to the first folder; the committed seeds stay as they are).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/argument_list.h"

namespace {

bool IsWhiteSpace(unsigned char byte) { return byte == ' ' || (byte >= 0x09 && byte <= 0x0D); }

void Check(bool condition) {
  if (!condition) std::abort();
}

// A tail that gives back exactly these arguments: each one quoted.
std::string Quoted(const std::vector<std::string>& arguments) {
  std::string tail;
  for (const std::string& argument : arguments) tail += "\"" + argument + "\" ";
  return tail;
}

void CheckArray(const quenlet::ArgumentList& list) {
  char** array = list.ToCStringArray();
  Check(array != nullptr);
  Check(list.Count() == static_cast<int>(list.Arguments().size()));
  for (int i = 0; i < list.Count(); ++i) {
    const std::string& argument = list.Arguments()[static_cast<size_t>(i)];
    Check(std::memcmp(array[i], argument.c_str(), argument.size() + 1) == 0);
    delete[] array[i];
  }
  delete[] array;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  // The tail is a C string: it ends at the first zero byte.
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string tail = input.substr(0, input.find('\0'));
  quenlet::ArgumentList list(tail.c_str());
  const std::vector<std::string>& arguments = list.Arguments();
  CheckArray(list);

  // Every quote toggles quoting. The bytes kept are all the bytes but quotes
  // and white space outside quotes, in order: so the arguments together are
  // exactly those bytes, and white space in an argument comes from inside a
  // quote opened after the previous argument's last byte.
  std::vector<size_t> kept;  // positions in the tail
  bool quoted = false;
  for (size_t i = 0; i < tail.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(tail[i]);
    if (byte == '"') {
      quoted = !quoted;
    } else if (quoted || !IsWhiteSpace(byte)) {
      kept.push_back(i);
    }
  }
  size_t next = 0;
  long previousEnd = -1;  // tail position of the previous argument's last byte
  for (const std::string& argument : arguments) {
    Check(argument.find('"') == std::string::npos);
    Check(argument.find('\0') == std::string::npos);
    for (char byte : argument) {
      Check(next < kept.size());
      size_t at = kept[next++];
      Check(tail[at] == byte);
      if (IsWhiteSpace(static_cast<unsigned char>(byte))) {
        size_t quote = tail.rfind('"', at);
        Check(quote != std::string::npos && static_cast<long>(quote) > previousEnd);
      }
    }
    if (!argument.empty()) previousEnd = static_cast<long>(kept[next - 1]);
    // Only a pair of quotes gives an empty argument.
    if (argument.empty()) Check(tail.find("\"\"") != std::string::npos);
  }
  Check(next == kept.size());

  // Quoting each argument and splitting again gives the same list.
  Check(quenlet::ArgumentList(Quoted(arguments).c_str()).Arguments() == arguments);

  // Already-split arguments (the input cut at zero bytes, quotes taken out)
  // are kept as given and survive the same round trip.
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t end; (end = input.find('\0', start)) != std::string::npos; start = end + 1) {
    pieces.push_back(input.substr(start, end - start));
  }
  pieces.push_back(input.substr(start));
  std::vector<const char*> argv;
  for (std::string& piece : pieces) {
    piece.erase(std::remove(piece.begin(), piece.end(), '"'), piece.end());
    argv.push_back(piece.c_str());
  }
  quenlet::ArgumentList given(static_cast<int>(argv.size()), argv.data());
  Check(given.Arguments() == pieces);
  CheckArray(given);
  Check(quenlet::ArgumentList(Quoted(pieces).c_str()).Arguments() == pieces);
  return 0;
}
