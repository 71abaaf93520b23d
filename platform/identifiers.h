// Unique identifiers.
#pragma once

#include <string>

namespace platform {

class Identifiers {
 public:
  virtual ~Identifiers() = default;

  // UuidCreate, then UuidToStringW: 36 lower-case characters, no braces. The
  // statuses of both calls are not examined.
  [[nodiscard]] virtual std::wstring CreateUuidString() = 0;
};

}  // namespace platform
