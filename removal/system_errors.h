// The system error codes that the removal actions act on.
#pragma once

#include <cstdint>

namespace removal {

inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorProcNotFound = 127;
inline constexpr std::uint32_t kErrorServiceMarkedForDelete = 1072;

}  // namespace removal
