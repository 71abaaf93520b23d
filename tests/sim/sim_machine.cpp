#include "tests/sim/sim_machine.h"

namespace sim {

SimConsoleBuffer::int_type SimConsoleBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return traits_type::not_eof(c);
  }
  machine_.NoteConsoleWrite();
  return machine_.console.rdbuf()->sputc(traits_type::to_char_type(c));
}

std::streamsize SimConsoleBuffer::xsputn(const char_type* text, std::streamsize count) {
  machine_.NoteConsoleWrite();
  return machine_.console.rdbuf()->sputn(text, count);
}

SimMachine::SimMachine()
    : platform_{consoleStream_, services, registry, files,       process, internet,
                messages,       keyboard, clock,    identifiers, shell,   power} {}

void SimMachine::NoteConsoleWrite() {
  if (files.redirectionOff()) {
    ++consoleWritesWithRedirectionOff_;
  }
  if (consoleWriteLastError_) {
    core.lastError = *consoleWriteLastError_;
  }
}

}  // namespace sim
