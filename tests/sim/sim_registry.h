// The simulated registry below HKEY_LOCAL_MACHINE, with the two views of a
// 64-bit machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/sim/sim_core.h"
#include "tests/sim/sim_errors.h"

namespace sim {

inline constexpr std::int32_t kRegistryFileNotFound = 2;
inline constexpr std::int32_t kRegistryAccessDenied = 5;
inline constexpr std::int32_t kRegistryInvalidHandle = 6;
inline constexpr std::uint32_t kKeyWow64_32Key = 0x0200;

// The native view is the only one of a 32-bit machine and the 64-bit one of a
// 64-bit machine; the 32-bit view exists only on a 64-bit machine, where a
// 32-bit process sees it unless it asks for the 64-bit one.
enum class RegistryView { kNative, kWow32 };

// One RegOpenKeyExW call.
struct KeyOpen {
  std::wstring path;
  std::uint32_t access = 0;
  RegistryView view = RegistryView::kNative;
};

class SimRegistry : public platform::Registry {
 public:
  explicit SimRegistry(SimCore& core);

  // Creates the key and every key above it that is missing.
  void AddKey(const std::wstring& path, RegistryView view = RegistryView::kNative);
  bool HasKey(const std::wstring& path, RegistryView view = RegistryView::kNative) const;
  // Every key of the view, folded, in order.
  std::vector<std::wstring> Keys(RegistryView view = RegistryView::kNative) const;
  // Opening the key fails with `error`; deleting it fails with `error`.
  void FailOpen(const std::wstring& path, RegistryView view, std::int32_t error);
  void FailDelete(const std::wstring& path, RegistryView view, std::int32_t error);
  // Whether advapi32 provides RegDeleteKeyExW.
  void SetDeleteKeyExPresent(bool present) { deleteKeyExPresent_ = present; }

  // Handles handed out and not closed yet; bad handles given to calls.
  std::size_t OpenHandles() const;
  const std::vector<std::wstring>& misuses() const { return misuses_; }
  const std::vector<KeyOpen>& opens() const { return opens_; }
  // RegDeleteKeyW calls, and lookups of RegDeleteKeyExW (one per call of the
  // Ex entry, found or not) with the access each asked for.
  int deleteKeyCalls() const { return deleteKeyCalls_; }
  int deleteKeyExLookups() const { return deleteKeyExLookups_; }
  const std::vector<std::uint32_t>& deleteKeyExAccesses() const { return deleteKeyExAccesses_; }

  std::int32_t OpenLocalMachineKey(const std::wstring& path, std::uint32_t access,
                                   platform::HKey& key) override;
  std::int32_t CloseKey(platform::HKey key) override;
  std::int32_t DeleteLocalMachineKey(const std::wstring& path) override;
  std::optional<std::int32_t> DeleteLocalMachineKeyEx(const std::wstring& path,
                                                      std::uint32_t access) override;

 private:
  struct SimKey {
    std::wstring path;
    std::int32_t openError = 0;
    std::int32_t deleteError = 0;
  };
  struct HandleRecord {
    platform::HKey handle = nullptr;
    bool open = true;
  };
  using Tree = std::map<std::wstring, SimKey>;  // by folded path

  Tree& TreeOf(RegistryView view) { return view == RegistryView::kNative ? native_ : wow32_; }
  const Tree& TreeOf(RegistryView view) const {
    return view == RegistryView::kNative ? native_ : wow32_;
  }
  // The view that a call with `access` addresses.
  RegistryView ViewFor(std::uint32_t access) const;
  std::int32_t Delete(const std::wstring& path, RegistryView view);
  std::int32_t Status(std::int32_t status);
  void Log(const std::wstring& call);

  SimCore& core_;
  Tree native_;
  Tree wow32_;
  bool deleteKeyExPresent_ = true;
  std::vector<HandleRecord> handles_;
  std::vector<std::wstring> misuses_;
  std::vector<KeyOpen> opens_;
  int deleteKeyCalls_ = 0;
  int deleteKeyExLookups_ = 0;
  std::vector<std::uint32_t> deleteKeyExAccesses_;
  std::uintptr_t nextHandle_ = 0x4E0000;
};

}  // namespace sim
