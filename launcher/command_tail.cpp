#include "launcher/command_tail.h"

namespace quenlet {

// The program name is a quoted run (a lead byte of a double-byte character
// taking its trail byte along, so that byte is never the closing quote) or a
// run of bytes above 0x20; the bytes 0x01-0x20 after it are skipped.
const char* CutCommandLineTail(HostServices& host, const char* commandLine) {
  if (commandLine == nullptr) return "";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
  if (*p == '"') {
    ++p;
    while (*p != 0 && *p != '"') {
      // A lead byte just before the terminator has no trail byte to take.
      if (host.IsDBCSLeadByte(*p) != 0 && p[1] != 0) ++p;
      ++p;
    }
    if (*p == '"') ++p;
  } else {
    while (*p > 0x20) ++p;
  }
  while (*p != 0 && *p <= 0x20) ++p;
  return reinterpret_cast<const char*>(p);
}

}  // namespace quenlet
