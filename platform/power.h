// Token privileges and the system restart.
#pragma once

#include <cstdint>
#include <string>

#include "platform/unique_handle.h"

namespace platform {

struct TokenTag;
// A process token handle.
using TokenHandle = TokenTag*;

// A locally unique identifier of a privilege.
struct PrivilegeId {
  std::uint32_t lowPart = 0;
  std::int32_t highPart = 0;
};

inline constexpr std::uint32_t kTokenAdjustPrivileges = 0x20;
inline constexpr std::uint32_t kTokenQuery = 0x08;
inline constexpr std::uint32_t kSePrivilegeEnabled = 2;
inline constexpr std::uint32_t kEwxReboot = 0x2;
// Applications are asked to close, and may save their work; only those that
// do not answer in time are ended.
inline constexpr std::uint32_t kEwxForceIfHung = 0x10;
inline constexpr std::uint32_t kShutdownReasonPlannedOsUpgrade = 0x80020003;

class Power {
 public:
  virtual ~Power() = default;

  // OpenProcessToken(GetCurrentProcess(), access, &token); null on failure.
  [[nodiscard]] virtual TokenHandle OpenProcessToken(std::uint32_t access) = 0;
  [[nodiscard]] virtual bool CloseToken(TokenHandle token) = 0;
  // LookupPrivilegeValueW(nullptr, name, &id).
  [[nodiscard]] virtual bool LookupPrivilegeValue(const std::wstring& name, PrivilegeId& id) = 0;
  // AdjustTokenPrivileges(token, FALSE, one privilege with `attributes`, 0,
  // nullptr, nullptr). The caller reads the last error afterwards.
  [[nodiscard]] virtual bool AdjustTokenPrivilege(TokenHandle token, const PrivilegeId& id,
                                                  std::uint32_t attributes) = 0;
  [[nodiscard]] virtual bool ExitWindows(std::uint32_t flags, std::uint32_t reason) = 0;
};

// A process token.
using UniqueTokenHandle = UniqueAny<TokenHandle, FacilityCloser<Power, &Power::CloseToken>>;

}  // namespace platform
