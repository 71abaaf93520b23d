// The system's errors: the thread's last error and the system's text for an
// error code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

class SystemErrors {
 public:
  virtual ~SystemErrors() = default;

  [[nodiscard]] virtual std::uint32_t GetLastError() = 0;
  // FormatMessageW(ALLOCATE_BUFFER | IGNORE_INSERTS | FROM_SYSTEM, nullptr, code,
  // LANG_NEUTRAL/SUBLANG_DEFAULT): the text exactly as it came, line break
  // included, or nothing when the system has none.
  [[nodiscard]] virtual std::optional<std::wstring> FormatSystemMessage(std::uint32_t code) = 0;
};

}  // namespace platform
