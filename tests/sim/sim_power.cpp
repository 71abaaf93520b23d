#include "tests/sim/sim_power.h"

#include <algorithm>

#include "tests/sim/sim_text.h"

namespace sim {

namespace {

constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotAllAssigned = 1300;
constexpr std::uint32_t kErrorNoSuchPrivilege = 1313;
constexpr std::uint32_t kErrorPrivilegeNotHeld = 1314;
constexpr wchar_t kShutdownPrivilegeName[] = L"SeShutdownPrivilege";

bool SameId(const platform::PrivilegeId& left, const platform::PrivilegeId& right) {
  return left.lowPart == right.lowPart && left.highPart == right.highPart;
}

}  // namespace

SimPower::SimPower(SimCore& core) : core_(core) {}

platform::TokenHandle SimPower::OpenProcessToken(std::uint32_t access) {
  core_.calls.push_back(L"Power.OpenProcessToken " + Hex(access));
  tokenAccess_.push_back(access);
  if (openTokenError_ != 0) {
    core_.lastError = openTokenError_;
    return nullptr;
  }
  auto* token = reinterpret_cast<platform::TokenHandle>(nextToken_);
  nextToken_ += 4;
  openTokens_.push_back(token);
  ++tokensOpened_;
  return token;
}

bool SimPower::CloseToken(platform::TokenHandle token) {
  core_.calls.emplace_back(L"Power.CloseToken");
  const auto open = std::find(openTokens_.begin(), openTokens_.end(), token);
  if (open == openTokens_.end()) {
    ++badCloses_;
    core_.lastError = kErrorInvalidHandle;
    return false;
  }
  openTokens_.erase(open);
  ++tokensClosed_;
  return true;
}

bool SimPower::LookupPrivilegeValue(const std::wstring& name, platform::PrivilegeId& id) {
  core_.calls.push_back(L"Power.LookupPrivilegeValue " + name);
  lookups_.push_back(name);
  if (lookupError_ != 0) {
    core_.lastError = lookupError_;
    return false;
  }
  if (name != kShutdownPrivilegeName) {
    core_.lastError = kErrorNoSuchPrivilege;
    return false;
  }
  id = kShutdownPrivilegeId;
  return true;
}

bool SimPower::AdjustTokenPrivilege(platform::TokenHandle token, const platform::PrivilegeId& id,
                                    std::uint32_t attributes) {
  core_.calls.push_back(L"Power.AdjustTokenPrivilege " + std::to_wstring(id.lowPart) + L" " +
                        Hex(attributes));
  adjustments_.push_back({token, id, attributes});
  if (std::find(openTokens_.begin(), openTokens_.end(), token) == openTokens_.end()) {
    core_.lastError = kErrorInvalidHandle;
    return false;
  }
  if (adjustFailError_ != 0) {
    core_.lastError = adjustFailError_;
    return false;
  }
  // The real call succeeds also when it could not assign the privilege, and
  // says so only through the last error.
  if (!SameId(id, kShutdownPrivilegeId)) {
    core_.lastError = kErrorNotAllAssigned;
    return true;
  }
  core_.lastError = adjustLastError_;
  if (adjustLastError_ == 0 && attributes == platform::kSePrivilegeEnabled) {
    shutdownEnabled_ = true;
  }
  return true;
}

bool SimPower::ExitWindows(std::uint32_t flags, std::uint32_t reason) {
  core_.calls.push_back(L"Power.ExitWindows " + Hex(flags) + L" " + Hex(reason));
  exitRequests_.push_back({flags, reason});
  if (exitWindowsError_ != 0) {
    core_.lastError = exitWindowsError_;
    return false;
  }
  if (!shutdownEnabled_) {
    core_.lastError = kErrorPrivilegeNotHeld;
    return false;
  }
  restarting_ = true;
  return true;
}

std::uint32_t SimPower::InitiateShutdown(std::uint32_t gracePeriodSeconds, std::uint32_t flags,
                                         std::uint32_t reason) {
  core_.calls.push_back(L"Power.InitiateShutdown " + Hex(flags) + L" " + Hex(reason) + L" " +
                        std::to_wstring(gracePeriodSeconds));
  if (initiateShutdownError_ != 0) return initiateShutdownError_;
  if (!shutdownEnabled_) return kErrorPrivilegeNotHeld;
  restarting_ = true;
  return 0;
}

}  // namespace sim
