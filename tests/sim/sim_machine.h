// A whole simulated machine: every facility the tool asks for, sharing one
// SimCore, and the console as a string.
#pragma once

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "tests/sim/sim_core.h"
#include "tests/sim/sim_files.h"
#include "tests/sim/sim_identifiers.h"
#include "tests/sim/sim_input.h"
#include "tests/sim/sim_internet.h"
#include "tests/sim/sim_power.h"
#include "tests/sim/sim_process.h"
#include "tests/sim/sim_registry.h"
#include "tests/sim/sim_services.h"
#include "tests/sim/sim_shell.h"
#include "tests/sim/sim_system_errors.h"

namespace sim {

class SimMachine;

// The console writer's output: everything written lands in the machine's
// `console`, and the machine sees every write as it happens.
class SimConsoleOutput final : public platform::ConsoleOutput {
 public:
  explicit SimConsoleOutput(SimMachine& machine) : machine_(machine) {}

  void Write(std::wstring_view text) override;

 private:
  SimMachine& machine_;
};

class SimMachine {
 public:
  SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;
  ~SimMachine() = default;

  platform::Platform& platform() { return platform_; }

  // A 64-bit machine running the tool as a 32-bit process (true), or a
  // 32-bit machine (false, the start).
  void SetWow64(bool wow64) { core.wow64 = wow64; }

  // Every console write from now on sets the thread's last error to this, as
  // a real console write may: proves that error codes are taken where the
  // failing call returns. Nothing: writes leave it alone (the start).
  void SetConsoleWriteLastError(std::optional<std::uint32_t> error) {
    consoleWriteLastError_ = error;
  }
  // Typed into the console's input the moment the console shows `text`.
  void TypeWhenShown(std::wstring text, int virtualKey) {
    typeWhenShown_.emplace_back(std::move(text), virtualKey);
  }
  // Console writes made while WOW64 redirection was off.
  int consoleWritesWithRedirectionOff() const { return consoleWritesWithRedirectionOff_; }

  SimCore core;
  SimServices services{core};
  SimRegistry registry{core};
  SimFiles files{core};
  SimProcess process{core};
  SimInternet internet{core};
  SimSystemErrors errors{core};
  SimKeyboard keyboard{core};
  SimClock clock{core};
  SimIdentifiers identifiers{core};
  SimShell shell{core};
  SimPower power{core};
  // Everything written to the console, exactly.
  std::wostringstream console;

 private:
  friend class SimConsoleOutput;
  void NoteConsoleWrite();
  void TypeWhatIsShown();

  std::optional<std::uint32_t> consoleWriteLastError_;
  int consoleWritesWithRedirectionOff_ = 0;
  std::vector<std::pair<std::wstring, int>> typeWhenShown_;
  SimConsoleOutput consoleOutput_{*this};
  platform::Console consoleWriter_{consoleOutput_};
  platform::Platform platform_;
};

}  // namespace sim
