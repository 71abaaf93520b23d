// The keyboard, polled, and the passing of time.
#pragma once

#include <cstdint>

namespace platform {

class Keyboard {
 public:
  virtual ~Keyboard() = default;

  // GetAsyncKeyState(virtualKey): non-zero when the key is down now or has been
  // pressed since the previous query.
  virtual std::int16_t GetAsyncKeyState(int virtualKey) = 0;

  // Whether standard input is a console (GetConsoleMode on it succeeds).
  virtual bool StandardInputIsConsole() = 0;
  // FlushConsoleInputBuffer on standard input. The keys polled above also
  // reach the console as typed input; this drops them.
  virtual bool FlushConsoleInput() = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;

  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace platform
