// The console writer's output over the process's standard output: any text,
// whatever the runtime's locale.
//
// The runtime's own wide console stream converts through the C locale and fails
// for good at the first character it cannot represent; every later line is then
// lost. This output instead hands the text to a sink in a form that holds every
// character: UTF-16 for a console window, UTF-8 bytes for a file or pipe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/utf8.h"

namespace platform {

// Where the console text goes.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;

  // Whether the output is a console window, which takes UTF-16 text; otherwise
  // it is a file or a pipe, which takes bytes.
  [[nodiscard]] virtual bool IsConsoleWindow() = 0;
  // Results are not examined: console output has nowhere to report a failure.
  virtual void WriteText(std::u16string_view text) = 0;
  virtual void WriteBytes(std::string_view bytes) = 0;
};

// Unbuffered: every write reaches the sink at once, so text without a line end
// (a row of progress dots) shows as it is written.
//
// Line ends: a line feed is written as CR LF, as the runtime's text-mode output
// does, so a redirected run reads like one from any Windows console program. A
// line feed that already follows a carriage return (the system's own messages
// end in CR LF) is written unchanged rather than doubled into CR CR LF.
//
// A write that the sink cannot carry out is dropped; later lines still go out.
class ConsoleStream final : public ConsoleOutput {
 public:
  explicit ConsoleStream(ConsoleSink& sink);
  ~ConsoleStream() override;

  ConsoleStream(const ConsoleStream&) = delete;
  ConsoleStream& operator=(const ConsoleStream&) = delete;

  void Write(std::wstring_view text) override;

 private:
  void Deliver(const std::u32string& codePoints);

  ConsoleSink& sink_;
  bool consoleWindow_;
  WideTextDecoder decoder_;
  bool lastWasCarriageReturn_ = false;
};

}  // namespace platform
