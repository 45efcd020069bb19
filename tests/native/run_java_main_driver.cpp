// Runs RunJavaMain on this machine's real host, for the end-to-end tests:
//   run_java_main_driver MAIN_CLASS CLASS_PATH HEAP_MEGABYTES [ARGUMENT...]
// The Java arguments are handed over exactly as given. Prints the result as
// "RunJavaMain = N"; dialogs arrive on standard error as "<caption>: <text>".
#include <cstdio>
#include <cstdlib>

#include "host/host_services.h"
#include "java/vm_invocation.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s MAIN_CLASS CLASS_PATH HEAP_MEGABYTES [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  char* end = nullptr;
  unsigned long heap = std::strtoul(argv[3], &end, 10);
  if (end == argv[3] || *end != '\0' || heap > 0xFFFFFFFFul) {
    std::fprintf(stderr, "bad heap size: %s\n", argv[3]);
    return 2;
  }
  int result = quenlet::RunJavaMain(quenlet::RealHost(), argv[1], argv[2], argc - 4, argv + 4,
                                    static_cast<std::uint32_t>(heap));
  std::printf("RunJavaMain = %d\n", result);
  std::fflush(stdout);
  return 0;
}
