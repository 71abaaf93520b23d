#include "platform/win32/win32_platform.h"

namespace platform::win32 {
namespace {

Win32Internet& LastingInternet() {
  // Deliberately leaked; it holds nothing but the process-wide WinINet entries.
  static auto* const internet = new Win32Internet();
  return *internet;
}

}  // namespace

Win32Machine::Win32Machine()
    : consoleStream_(consoleSink_),
      console_(consoleStream_),
      internet_(LastingInternet()),
      platform_{
          .console = console_,
          .services = services_,
          .registry = registry_,
          .files = files_,
          .process = process_,
          .internet = internet_,
          .errors = errors_,
          .keyboard = keyboard_,
          .clock = clock_,
          .identifiers = identifiers_,
          .environment = environment_,
          .resources = resources_,
          .shell = shell_,
          .power = power_,
      } {}

}  // namespace platform::win32
