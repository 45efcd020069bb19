// The POSIX entry point. The start-up has already split the arguments, and
// joining them into a tail to split again would lose every quote inside one,
// so the argument list takes argv as given.
#include "host/host_services.h"
#include "launcher/argument_list.h"
#include "launcher/launch_sequence.h"

int main(int argc, char** argv) {
  quenlet::ArgumentList arguments(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);
  return quenlet::RunLauncher(quenlet::RealHost(), arguments);
}
