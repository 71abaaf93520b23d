// The process's environment variables.
#pragma once

#include <optional>
#include <string>

namespace platform {

class Environment {
 public:
  virtual ~Environment() = default;

  // _wgetenv, copied: the variable's value, or nothing when it is not set.
  [[nodiscard]] virtual std::optional<std::wstring> GetEnvironmentVariable(
      const std::wstring& name) = 0;
};

}  // namespace platform
