// The program's entry point: the real machine, handed to the removal run.
#include "platform/win32/win32_dll_search.h"
#include "platform/win32/win32_platform.h"
#include "run/removal_run.h"

#include <cstdlib>
#include <exception>

// The runtime's default terminate handler names the exception type it was
// given, which pulls in the whole name demangler: a third of the exe. The
// program throws nothing of its own; what can still reach here (an
// allocation that fails) ends the process all the same.
void __gnu_cxx::__verbose_terminate_handler() { std::abort(); }

// The tool takes no arguments and reads no configuration.
int wmain(int /*argc*/, wchar_t** /*argv*/) {
  // First of all: the tool runs elevated, and nothing may be loaded from
  // beside it. Where Windows cannot restrict the search, the run goes on.
  static_cast<void>(platform::win32::RestrictDllSearchToSystem());
  platform::win32::Win32Machine machine;
  // The run ends the process itself; this return is only for a failed end.
  return run::RemovalRun(machine.platform());
}
