// Token privileges and the system restart.
#pragma once

#include <cstdint>
#include <optional>
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
// WSF_VISIBLE: a window station with a display that someone sees, the
// interactive one.
inline constexpr std::uint32_t kWindowStationVisible = 0x1;
// SHUTDOWN_RESTART for InitiateShutdownW. Without SHUTDOWN_FORCE_SELF the
// applications of the caller's session are asked to close, and may save
// their work; without SHUTDOWN_FORCE_OTHERS the request is refused while
// other users are signed in, rather than signing them out by force.
inline constexpr std::uint32_t kShutdownRestart = 0x4;
inline constexpr std::uint32_t kErrorSuccess = 0;

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
  // ExitWindowsEx(flags, reason). It ends the caller's logon session: from a
  // session that is not the interactive user's, it may succeed and restart
  // nothing.
  [[nodiscard]] virtual bool ExitWindows(std::uint32_t flags, std::uint32_t reason) = 0;
  // GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS): the
  // dwFlags of this process's window station; nothing on failure.
  [[nodiscard]] virtual std::optional<std::uint32_t> WindowStationFlags() = 0;
  // InitiateShutdownW(nullptr, nullptr, gracePeriodSeconds, flags, reason):
  // asks the system itself to shut the whole machine down or restart it,
  // whichever session the caller is in. ERROR_SUCCESS when it accepted,
  // otherwise its error code.
  [[nodiscard]] virtual std::uint32_t InitiateShutdown(std::uint32_t gracePeriodSeconds,
                                                       std::uint32_t flags,
                                                       std::uint32_t reason) = 0;
};

// A process token.
using UniqueTokenHandle = UniqueAny<TokenHandle, FacilityCloser<Power, &Power::CloseToken>>;

}  // namespace platform
