// The system error codes, and the shell's own results, that the removal
// actions act on.
#pragma once

#include <cstdint>

namespace removal {

inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorLockViolation = 33;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorProcNotFound = 127;
inline constexpr std::uint32_t kErrorFilenameExcedRange = 206;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrorServiceMarkedForDelete = 1072;
inline constexpr std::uint32_t kErrorCancelled = 1223;

// The shell's "access denied on the source", its answer for an item in use.
inline constexpr std::uint32_t kShellAccessDeniedSource = 0x78;
// The shell's "cancelled": told to ask nothing, it gives up silently on what
// it would have asked about, and leaves it.
inline constexpr std::uint32_t kShellOperationCancelled = 0x75;

// Whether the shell's file operation gave one of its own results rather than
// a system error code: the same numbers mean other things in the system's
// table.
constexpr bool IsShellOnlyResult(std::uint32_t result) {
  return (result >= 0x71 && result <= 0x88) || result == 0xB7 || result == 0x402 ||
         result == 0x10000 || result == 0x10074;
}

// Whether a deletion's failure is how Windows answers for an item in use: a
// running program's exe or a loaded DLL gives access denied, an open file a
// sharing or lock violation, and the shell may give its own code for either,
// or cancel without a word.
constexpr bool MeansInUse(std::uint32_t code, bool fromShell) {
  return code == kErrorAccessDenied || code == kErrorSharingViolation ||
         code == kErrorLockViolation ||
         (fromShell && (code == kShellAccessDeniedSource || code == kShellOperationCancelled ||
                        code == kErrorCancelled));
}

}  // namespace removal
