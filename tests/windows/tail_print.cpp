// Prints what the launcher makes of its own command line: the line, the tail
// cut from it and the arguments split from the tail, one line each, bytes
// outside 0x21-0x7E and the backslash as \xNN.
#include <cstdio>
#include <string>

#include "host/host_services.h"
#include "launcher/argument_list.h"
#include "launcher/command_tail.h"

namespace {

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char byte : bytes) {
    if (byte > 0x20 && byte < 0x7F && byte != '\\') {
      out += static_cast<char>(byte);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return out;
}

}  // namespace

int main() {
  quenlet::HostServices& host = quenlet::RealHost();
  const char* line = host.GetCommandLineA();
  const char* tail = quenlet::CutCommandLineTail(host, line);
  quenlet::ArgumentList arguments(tail);
  std::printf("line %s\n", Escaped(line).c_str());
  std::printf("tail %s\n", Escaped(tail).c_str());
  std::printf("count %d\n", arguments.Count());
  for (const std::string& argument : arguments.Arguments()) std::printf("arg %s\n", Escaped(argument).c_str());
  return 0;
}
