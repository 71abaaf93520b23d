// The tool's own console writer. The runtime's wide stream would bring its
// locale and formatting machinery into the exe (most of its size) to do what
// this does: put texts and decimal numbers one after the other.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// Where written text goes, one piece at a time, as it is written.
class ConsoleOutput {
 public:
  virtual ~ConsoleOutput() = default;
  // Results are not examined: console output has nowhere to report a failure.
  virtual void Write(std::wstring_view text) = 0;
};

// Writes pieces one after the other with no separator: narrow literals (plain
// ASCII, widened byte by byte), wide text unchanged, integers in decimal with
// a minus sign only for a negative signed value. Nothing is held back, so a
// row of progress dots shows dot by dot, and there is no failed state that
// could swallow later lines.
class Console {
 public:
  explicit Console(ConsoleOutput& output) : output_(output) {}

  Console& operator<<(const char* ascii);
  Console& operator<<(const wchar_t* text) { return *this << std::wstring_view(text); }
  Console& operator<<(std::wstring_view text);
  Console& operator<<(std::int32_t value);
  Console& operator<<(std::uint32_t value);
  Console& operator<<(Console& (*manipulator)(Console&)) { return manipulator(*this); }

  // A single character would otherwise be printed as its number, and a
  // pointer as a truth value.
  Console& operator<<(char) = delete;
  Console& operator<<(wchar_t) = delete;
  Console& operator<<(bool) = delete;

 private:
  ConsoleOutput& output_;
};

// A line end.
Console& endl(Console& console);
// Says that the text written so far must show now, without a line end. The
// writer holds nothing back, so there is nothing left to do.
Console& flush(Console& console);

}  // namespace platform
