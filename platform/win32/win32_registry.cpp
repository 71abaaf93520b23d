#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

std::int32_t Win32Registry::OpenLocalMachineKey(const std::wstring& path, std::uint32_t access,
                                                HKey& key) {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &opened);
  key = ToOpaque<HKey>(opened);
  return static_cast<std::int32_t>(status);
}

std::int32_t Win32Registry::CloseKey(HKey key) {
  return static_cast<std::int32_t>(RegCloseKey(ToNative<HKEY>(key)));
}

std::int32_t Win32Registry::DeleteLocalMachineKey(const std::wstring& path) {
  return static_cast<std::int32_t>(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()));
}

std::optional<std::int32_t> Win32Registry::DeleteLocalMachineKeyEx(const std::wstring& path,
                                                                   std::uint32_t access) {
  using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  const auto deleteKeyEx = LookUpEntry<DeleteKeyEx>(L"advapi32", "RegDeleteKeyExW");
  if (deleteKeyEx == nullptr) return std::nullopt;
  return static_cast<std::int32_t>(deleteKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), access, 0));
}

}  // namespace platform::win32
