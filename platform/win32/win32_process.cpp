#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

std::optional<bool> Win32ProcessInfo::IsWow64Process() {
  using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto isWow64 = LookUpEntry<IsWow64>(L"kernel32", "IsWow64Process");
  if (isWow64 == nullptr) return std::nullopt;
  BOOL wow64 = FALSE;
  if (!isWow64(GetCurrentProcess(), &wow64)) return std::nullopt;
  return wow64 != FALSE;
}

}  // namespace platform::win32
