#include "tests/sim/sim_machine.h"

namespace sim {

void SimConsoleOutput::Write(std::wstring_view text) {
  machine_.NoteConsoleWrite();
  machine_.console << text;
}

SimMachine::SimMachine()
    : platform_{consoleWriter_, services, registry,    files, process, internet, errors,
                keyboard,       clock,    identifiers, shell, shell,   shell,    power} {}

void SimMachine::NoteConsoleWrite() {
  if (files.redirectionOff()) {
    ++consoleWritesWithRedirectionOff_;
  }
  if (consoleWriteLastError_) {
    core.lastError = *consoleWriteLastError_;
  }
}

}  // namespace sim
