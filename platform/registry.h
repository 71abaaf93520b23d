// The registry below HKEY_LOCAL_MACHINE, as the removal actions ask for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/unique_handle.h"

namespace platform {

struct RegistryKeyTag;
// An open HKEY.
using HKey = RegistryKeyTag*;

inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;

// Mirrors the advapi32 registry calls; every status is a Win32 error code.
class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key).
  [[nodiscard]] virtual std::int32_t OpenLocalMachineKey(const std::wstring& path,
                                                         std::uint32_t access, HKey& key) = 0;
  [[nodiscard]] virtual std::int32_t CloseKey(HKey key) = 0;
  // RegDeleteKeyW(HKEY_LOCAL_MACHINE, path).
  [[nodiscard]] virtual std::int32_t DeleteLocalMachineKey(const std::wstring& path) = 0;
  // RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, access, 0), looked up by name in
  // advapi32 on every call; nothing when the entry does not exist.
  [[nodiscard]] virtual std::optional<std::int32_t> DeleteLocalMachineKeyEx(
      const std::wstring& path, std::uint32_t access) = 0;
};

// An open key below HKEY_LOCAL_MACHINE.
using UniqueRegistryKey = UniqueAny<HKey, FacilityCloser<Registry, &Registry::CloseKey>>;

}  // namespace platform
