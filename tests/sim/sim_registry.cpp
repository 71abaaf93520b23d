#include "tests/sim/sim_registry.h"

#include "tests/sim/sim_text.h"

namespace sim {

SimRegistry::SimRegistry(SimCore& core) : core_(core) {
  AddKey(L"SOFTWARE", RegistryView::kNative);
  AddKey(L"SOFTWARE", RegistryView::kWow32);
  AddKey(L"SYSTEM", RegistryView::kNative);
}

void SimRegistry::AddKey(const std::wstring& path, RegistryView view) {
  Tree& tree = TreeOf(view);
  for (std::size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
    const std::wstring part = path.substr(0, end);
    const std::wstring folded = FoldCase(part);
    if (!tree.contains(folded)) {
      tree[folded].path = part;
    }
    if (end == std::wstring::npos) {
      return;
    }
  }
}

bool SimRegistry::HasKey(const std::wstring& path, RegistryView view) const {
  return TreeOf(view).contains(FoldCase(path));
}

std::vector<std::wstring> SimRegistry::Keys(RegistryView view) const {
  std::vector<std::wstring> keys;
  for (const auto& [folded, key] : TreeOf(view)) {
    keys.push_back(folded);
  }
  return keys;
}

void SimRegistry::FailOpen(const std::wstring& path, RegistryView view, std::int32_t error) {
  AddKey(path, view);
  TreeOf(view)[FoldCase(path)].openError = error;
}

void SimRegistry::FailDelete(const std::wstring& path, RegistryView view, std::int32_t error) {
  AddKey(path, view);
  TreeOf(view)[FoldCase(path)].deleteError = error;
}

std::size_t SimRegistry::OpenHandles() const {
  std::size_t open = 0;
  for (const HandleRecord& record : handles_) {
    open += record.open ? 1 : 0;
  }
  return open;
}

RegistryView SimRegistry::ViewFor(std::uint32_t access) const {
  // A 32-bit machine has one registry and ignores the view flags.
  if (!core_.wow64) {
    return RegistryView::kNative;
  }
  return (access & platform::kKeyWow64_64Key) != 0 ? RegistryView::kNative : RegistryView::kWow32;
}

void SimRegistry::Log(const std::wstring& call) { core_.calls.push_back(L"Registry." + call); }

std::int32_t SimRegistry::Status(std::int32_t status) {
  if (status != 0) {
    core_.lastError = static_cast<std::uint32_t>(status);
  }
  return status;
}

std::int32_t SimRegistry::OpenLocalMachineKey(const std::wstring& path, std::uint32_t access,
                                              platform::HKey& key) {
  Log(L"OpenKey " + path + L" " + Hex(access));
  const RegistryView view = ViewFor(access);
  opens_.push_back({path, access, view});
  key = nullptr;
  const Tree& tree = TreeOf(view);
  const auto found = tree.find(FoldCase(path));
  if (found == tree.end()) {
    return Status(kRegistryFileNotFound);
  }
  if (found->second.openError != 0) {
    return Status(found->second.openError);
  }
  key = reinterpret_cast<platform::HKey>(nextHandle_);
  nextHandle_ += 4;
  handles_.push_back({key, true});
  return 0;
}

std::int32_t SimRegistry::CloseKey(platform::HKey key) {
  Log(L"CloseKey");
  for (HandleRecord& record : handles_) {
    if (record.handle == key && record.open) {
      record.open = false;
      return 0;
    }
  }
  misuses_.emplace_back(L"CloseKey");
  return Status(kRegistryInvalidHandle);
}

std::int32_t SimRegistry::Delete(const std::wstring& path, RegistryView view) {
  Tree& tree = TreeOf(view);
  const std::wstring folded = FoldCase(path);
  const auto found = tree.find(folded);
  if (found == tree.end()) {
    return Status(kRegistryFileNotFound);
  }
  if (found->second.deleteError != 0) {
    return Status(found->second.deleteError);
  }
  // The registry deletes only a key without subkeys.
  const auto below = tree.lower_bound(folded + L"\\");
  if (below != tree.end() && IsAtOrBelow(below->first, folded)) {
    return Status(kRegistryAccessDenied);
  }
  tree.erase(found);
  return 0;
}

std::int32_t SimRegistry::DeleteLocalMachineKey(const std::wstring& path) {
  Log(L"DeleteKey " + path);
  ++deleteKeyCalls_;
  // Without a view flag a 32-bit process addresses its own view.
  return Delete(path, ViewFor(0));
}

std::optional<std::int32_t> SimRegistry::DeleteLocalMachineKeyEx(const std::wstring& path,
                                                                 std::uint32_t access) {
  ++deleteKeyExLookups_;
  if (!deleteKeyExPresent_) {
    Log(L"DeleteKeyEx missing");
    return std::nullopt;
  }
  Log(L"DeleteKeyEx " + path + L" " + Hex(access));
  deleteKeyExAccesses_.push_back(access);
  return Delete(path, ViewFor(access));
}

}  // namespace sim
