// The program's entry point: the real machine, handed to the removal run.
#include "platform/win32/win32_platform.h"
#include "run/removal_run.h"

// The tool takes no arguments and reads no configuration.
int wmain(int /*argc*/, wchar_t** /*argv*/) {
  platform::win32::Win32Machine machine;
  return run::RemovalRun(machine.platform());
}
