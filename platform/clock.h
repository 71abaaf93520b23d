// Time as the tool waits it out.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;

  // Sleep: the calling thread waits this long.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace platform
