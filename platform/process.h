// Facts about the running process that several actions need.
#pragma once

#include <optional>

namespace platform {

class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;

  // IsWow64Process for the current process, looked up by name in kernel32 on
  // every call. Nothing when the entry does not exist or the call fails.
  virtual std::optional<bool> IsWow64Process() = 0;
};

}  // namespace platform
