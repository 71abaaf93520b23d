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
};

class Clock {
 public:
  virtual ~Clock() = default;

  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace platform
