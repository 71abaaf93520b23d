// The real machine, as the tool's logic sees it.
#pragma once

#include "platform/console_stream.h"
#include "platform/platform.h"
#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

// Owns one object per facility and the console writer over standard output.
// One per process, created at start and kept until the end.
class Win32Machine {
 public:
  Win32Machine();
  Win32Machine(const Win32Machine&) = delete;
  Win32Machine& operator=(const Win32Machine&) = delete;
  Win32Machine(Win32Machine&&) = delete;
  Win32Machine& operator=(Win32Machine&&) = delete;
  ~Win32Machine() = default;

  Platform& platform() { return platform_; }

 private:
  Win32ConsoleSink consoleSink_;
  ConsoleStream consoleStream_;
  Console console_;
  Win32ServiceControl services_;
  Win32Registry registry_;
  Win32FileSystem files_;
  Win32Process process_;
  // Never destroyed: a telemetry exchange given up on may still call into it
  // from its worker while the process ends.
  Win32Internet& internet_;
  Win32SystemErrors errors_;
  Win32Keyboard keyboard_;
  Win32Clock clock_;
  Win32Identifiers identifiers_;
  Win32Environment environment_;
  Win32ProgramResources resources_;
  Win32DesktopShell shell_;
  Win32Power power_;
  Platform platform_;
};

}  // namespace platform::win32
