#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

TokenHandle Win32Power::OpenProcessToken(std::uint32_t access) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(GetCurrentProcess(), access, &token)) return nullptr;
  return ToOpaque<TokenHandle>(token);
}

bool Win32Power::CloseToken(TokenHandle token) {
  return ::CloseHandle(ToNative<HANDLE>(token)) != FALSE;
}

bool Win32Power::LookupPrivilegeValue(const std::wstring& name, PrivilegeId& id) {
  LUID luid{};
  if (!LookupPrivilegeValueW(nullptr, name.c_str(), &luid)) return false;
  id.lowPart = luid.LowPart;
  id.highPart = luid.HighPart;
  return true;
}

bool Win32Power::AdjustTokenPrivilege(TokenHandle token, const PrivilegeId& id,
                                      std::uint32_t attributes) {
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid.LowPart = id.lowPart;
  privileges.Privileges[0].Luid.HighPart = id.highPart;
  privileges.Privileges[0].Attributes = attributes;
  return AdjustTokenPrivileges(ToNative<HANDLE>(token), FALSE, &privileges, 0, nullptr, nullptr) !=
         FALSE;
}

bool Win32Power::ExitWindows(std::uint32_t flags, std::uint32_t reason) {
  return ExitWindowsEx(flags, reason) != FALSE;
}

std::optional<std::uint32_t> Win32Power::WindowStationFlags() {
  // The process's own window station: a handle that is not to be closed.
  const HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return std::nullopt;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
    return std::nullopt;
  }
  return flags.dwFlags;
}

std::uint32_t Win32Power::InitiateShutdown(std::uint32_t gracePeriodSeconds, std::uint32_t flags,
                                           std::uint32_t reason) {
  return InitiateShutdownW(nullptr, nullptr, gracePeriodSeconds, flags, reason);
}

}  // namespace platform::win32
