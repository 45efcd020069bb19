// Runs the launcher's Java runtime start on the real Windows host, for the
// tests under Wine.
//
//   run_java_main_driver find
//       prints "found=1 path=P" or "found=0" (FindJavaRuntime)
//   run_java_main_driver run MAINCLASS CLASSPATH HEAP [ARGFILE]
//       prints "result=N" (RunJavaMain); ARGFILE holds one argument a line
//
// MAINCLASS, CLASSPATH and the lines of ARGFILE may carry any byte as %HH, so
// that the tests can hand over exact bytes whatever Wine does to a command
// line; the printed path is written the same way.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "java/runtime_locator.h"
#include "java/vm_invocation.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(const char* text) {
  std::string bytes;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '%' && HexDigit(p[1]) >= 0 && HexDigit(p[2]) >= 0) {
      bytes += static_cast<char>(HexDigit(p[1]) * 16 + HexDigit(p[2]));
      p += 2;
    } else {
      bytes += *p;
    }
  }
  return bytes;
}

std::string Escape(const char* bytes) {
  std::string text;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); *p != 0; ++p) {
    if (*p < 0x20 || *p >= 0x7f || *p == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", *p);
      text += hex;
    } else {
      text += static_cast<char>(*p);
    }
  }
  return text;
}

// Reads one argument a line; a missing final newline is fine, "\r" is data.
int ReadArguments(const char* path, std::vector<std::string>* arguments) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 0;
  std::string line;
  int c;
  bool pending = false;
  while ((c = std::fgetc(file)) != EOF) {
    if (c == '\n') {
      arguments->push_back(Unescape(line.c_str()));
      line.clear();
      pending = false;
    } else {
      line += static_cast<char>(c);
      pending = true;
    }
  }
  if (pending) arguments->push_back(Unescape(line.c_str()));
  std::fclose(file);
  return 1;
}

int Find() {
  char path[quenlet::kMaxPath];
  std::memset(path, 0, sizeof path);
  int found = quenlet::FindJavaRuntime(quenlet::RealHost(), path, sizeof path);
  if (found) {
    std::printf("found=1 path=%s\n", Escape(path).c_str());
  } else {
    std::printf("found=0\n");
  }
  return 0;
}

int Run(int argc, char** argv) {
  std::string mainClass = Unescape(argv[2]);
  std::string classPath = Unescape(argv[3]);
  char* end = nullptr;
  unsigned long long heap = std::strtoull(argv[4], &end, 10);
  if (end == argv[4] || *end != '\0' || heap > 0xFFFFFFFFull) {
    std::fprintf(stderr, "bad heap size: %s\n", argv[4]);
    return 64;
  }
  std::vector<std::string> arguments;
  if (argc == 6 && !ReadArguments(argv[5], &arguments)) {
    std::fprintf(stderr, "cannot read %s\n", argv[5]);
    return 64;
  }
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  int result = quenlet::RunJavaMain(quenlet::RealHost(), mainClass.c_str(), classPath.c_str(),
                                    static_cast<int>(arguments.size()), pointers.data(),
                                    static_cast<std::uint32_t>(heap));
  std::printf("result=%d\n", result);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "find") == 0) return Find();
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "run") == 0) return Run(argc, argv);
  std::fprintf(stderr, "usage: run_java_main_driver find | run MAINCLASS CLASSPATH HEAP [ARGFILE]\n");
  return 64;
}
