// Owns one WinINet handle: a root, connection or request handle.
#pragma once

#include <cstdint>

#include "platform/internet.h"

namespace telemetry {

// Null and INVALID_HANDLE_VALUE (all bits set) both mean "no handle": WinINet
// signals failure with null, but a holder must not trust that alone.
bool IsValidInternetHandle(platform::HInternet handle);

// Move-only. Closes its handle once, on Close() or destruction, and only when
// it holds a valid one.
class InternetHandle {
 public:
  InternetHandle() = default;
  InternetHandle(platform::Internet& internet, platform::HInternet handle);
  ~InternetHandle();

  InternetHandle(InternetHandle&& other) noexcept;
  InternetHandle& operator=(InternetHandle&& other) noexcept;
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  bool valid() const { return IsValidInternetHandle(handle_); }
  // The handle as held; test valid() first.
  platform::HInternet get() const { return handle_; }
  // Closes the handle when valid; afterwards the holder is empty.
  void Close();

 private:
  platform::Internet* internet_ = nullptr;
  platform::HInternet handle_ = nullptr;
};

}  // namespace telemetry
