#include "tests/sim/sim_shell.h"

#include "tests/sim/sim_text.h"

namespace sim {

SimShell::SimShell(SimCore& core) : core_(core) {
  core_.callsNeverReturn.emplace_back([this] { return desktopShellHangs_; });
}

void SimShell::SetEnvironmentVariable(const std::wstring& name, std::wstring value) {
  environment_[name] = std::move(value);
}

void SimShell::UnsetEnvironmentVariable(const std::wstring& name) { environment_.erase(name); }

void SimShell::AddResource(int type, int id, std::vector<std::uint8_t> bytes) {
  resources_[{type, id}] = std::move(bytes);
}

void SimShell::RemoveResource(int type, int id) { resources_.erase({type, id}); }

std::optional<std::wstring> SimShell::GetEnvironmentVariable(const std::wstring& name) {
  core_.calls.push_back(L"Shell.GetEnvironmentVariable " + name);
  // Windows looks environment names up without regard to case.
  for (const auto& [key, value] : environment_) {
    if (FoldCase(key) == FoldCase(name)) {
      return value;
    }
  }
  return std::nullopt;
}

std::optional<platform::ResourceBytes> SimShell::FindProgramResource(int type, int id) {
  core_.calls.push_back(L"Shell.FindProgramResource " + std::to_wstring(type) + L" " +
                        std::to_wstring(id));
  const auto found = resources_.find({type, id});
  if (found == resources_.end()) {
    core_.lastError = kErrorResourceTypeNotFound;
    return std::nullopt;
  }
  // LockResource hands out a valid address also for a resource of no bytes.
  static constexpr std::uint8_t kNoBytes[1] = {0};
  const std::vector<std::uint8_t>& bytes = found->second;
  return platform::ResourceBytes{bytes.empty() ? kNoBytes : bytes.data(), bytes.size()};
}

std::optional<platform::DesktopShellAccount> SimShell::FindDesktopShellAccount() {
  if (!desktopShellRunning_) return std::nullopt;
  if (desktopShellUserIsOther_) return platform::DesktopShellAccount{kOtherUserSid, false};
  return platform::DesktopShellAccount{{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, true};
}

bool SimShell::OpenDocumentAsDesktopUser(const std::wstring& path, int showCommand) {
  core_.calls.push_back(L"Shell.OpenDocumentAsDesktopUser " + path);
  if (desktopShellHangs_) {
    core_.Wait(SimCore::kForeverMs);
    return false;
  }
  if (!desktopShellRunning_ || desktopShellStartsNothing_) {
    return false;
  }
  openRequests_.push_back({path, showCommand});
  return true;
}

}  // namespace sim
