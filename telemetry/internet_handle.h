// Owns one WinINet handle: a root, connection or request handle.
#pragma once

#include <cstdint>

#include "platform/internet.h"

namespace telemetry {

// WinINet fails an open with null; INVALID_HANDLE_VALUE (all bits set), how
// other Windows calls fail, is taken as "no handle" too, so that a holder
// never passes it on or closes it.
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
