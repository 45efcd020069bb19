// The Windows entry point. The tail is cut from the process command line by
// the launcher's own rule rather than taken from the C runtime, whose start-up
// cuts the program name differently.
#include "host/host_services.h"
#include "launcher/argument_list.h"
#include "launcher/command_tail.h"
#include "launcher/launch_sequence.h"

extern "C" int __stdcall WinMain(void*, void*, char*, int) {
  quenlet::HostServices& host = quenlet::RealHost();
  quenlet::ArgumentList arguments(quenlet::CutCommandLineTail(host, host.GetCommandLineA()));
  return quenlet::RunLauncher(host, arguments);
}
