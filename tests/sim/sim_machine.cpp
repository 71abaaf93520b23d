#include "tests/sim/sim_machine.h"

#include <string>
#include <utility>

namespace sim {

void SimConsoleOutput::Write(std::wstring_view text) {
  machine_.NoteConsoleWrite();
  machine_.console << text;
  machine_.TypeWhatIsShown();
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

void SimMachine::TypeWhatIsShown() {
  if (typeWhenShown_.empty()) return;
  const std::wstring shown = console.str();
  std::erase_if(typeWhenShown_, [&](const std::pair<std::wstring, int>& typing) {
    if (shown.find(typing.first) == std::wstring::npos) return false;
    keyboard.Type(typing.second, core.nowMs, core.nowMs);
    return true;
  });
}

}  // namespace sim
