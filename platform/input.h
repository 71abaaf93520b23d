// The keyboard, polled, and the passing of time.
#pragma once

#include <cstdint>

namespace platform {

struct WindowTag;
// A window of the desktop; only compared, never used to reach the window.
using WindowHandle = WindowTag*;

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

  // GetConsoleWindow: the window of this process's console; null when it has
  // none (started detached, or under a pseudo-console without one).
  virtual WindowHandle ConsoleWindow() = 0;
  // GetForegroundWindow: the window that the keyboard's input goes to now;
  // null while the focus is changing.
  virtual WindowHandle ForegroundWindow() = 0;
  // GetAncestor(window, GA_ROOTOWNER): the top window owning it, such as the
  // terminal window that hosts a console; null on failure.
  virtual WindowHandle RootOwner(WindowHandle window) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;

  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace platform
