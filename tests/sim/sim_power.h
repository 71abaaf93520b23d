// The simulated process token and system restart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/power.h"
#include "tests/sim/sim_core.h"

namespace sim {

// One AdjustTokenPrivileges call.
struct PrivilegeAdjustment {
  platform::TokenHandle token = nullptr;
  platform::PrivilegeId id;
  std::uint32_t attributes = 0;
};

// One ExitWindowsEx call.
struct ExitRequest {
  std::uint32_t flags = 0;
  std::uint32_t reason = 0;
};

class SimPower : public platform::Power {
 public:
  // The identifier that LookupPrivilegeValue hands out for SeShutdownPrivilege.
  static constexpr platform::PrivilegeId kShutdownPrivilegeId{19, 0};

  explicit SimPower(SimCore& core);

  // OpenProcessToken fails with this error (0 lets it succeed).
  void FailOpenToken(std::uint32_t error) { openTokenError_ = error; }
  // LookupPrivilegeValueW fails with this error (0 lets it succeed).
  void FailLookup(std::uint32_t error) { lookupError_ = error; }
  // AdjustTokenPrivileges succeeds and leaves this as the last error, as the
  // real call does (1300: not every privilege was assigned).
  void SetAdjustLastError(std::uint32_t error) { adjustLastError_ = error; }
  // AdjustTokenPrivileges fails outright with this error (0 lets it succeed).
  void FailAdjust(std::uint32_t error) { adjustFailError_ = error; }
  // ExitWindowsEx refuses with this error (0 lets it accept).
  void RefuseExitWindows(std::uint32_t error) { exitWindowsError_ = error; }
  // The window station's flags (WSF_VISIBLE to start with); nothing: unknown.
  void SetWindowStationFlags(std::optional<std::uint32_t> flags) { stationFlags_ = flags; }
  void RefuseInitiateShutdown(std::uint32_t error) { initiateShutdownError_ = error; }

  platform::TokenHandle OpenProcessToken(std::uint32_t access) override;
  bool CloseToken(platform::TokenHandle token) override;
  bool LookupPrivilegeValue(const std::wstring& name, platform::PrivilegeId& id) override;
  bool AdjustTokenPrivilege(platform::TokenHandle token, const platform::PrivilegeId& id,
                            std::uint32_t attributes) override;
  bool ExitWindows(std::uint32_t flags, std::uint32_t reason) override;
  std::optional<std::uint32_t> WindowStationFlags() override { return stationFlags_; }
  std::uint32_t InitiateShutdown(std::uint32_t gracePeriodSeconds, std::uint32_t flags,
                                 std::uint32_t reason) override;

  const std::vector<std::uint32_t>& tokenAccessRequests() const { return tokenAccess_; }
  const std::vector<std::wstring>& lookups() const { return lookups_; }
  const std::vector<PrivilegeAdjustment>& adjustments() const { return adjustments_; }
  const std::vector<ExitRequest>& exitRequests() const { return exitRequests_; }
  int tokensOpened() const { return tokensOpened_; }
  int tokensClosed() const { return tokensClosed_; }
  // Tokens opened and not closed yet.
  int OpenTokens() const { return tokensOpened_ - tokensClosed_; }
  // Closing a token that is not open (or twice) counts here.
  int badCloses() const { return badCloses_; }
  // Whether SeShutdownPrivilege has been enabled in a token of the process;
  // ExitWindows refuses (1314) until it has.
  bool shutdownEnabled() const { return shutdownEnabled_; }
  // Whether a restart was accepted.
  bool restarting() const { return restarting_; }

 private:
  SimCore& core_;
  std::uint32_t openTokenError_ = 0;
  std::uint32_t lookupError_ = 0;
  std::uint32_t adjustLastError_ = 0;
  std::uint32_t adjustFailError_ = 0;
  std::uint32_t exitWindowsError_ = 0;
  std::optional<std::uint32_t> stationFlags_ = platform::kWindowStationVisible;
  std::uint32_t initiateShutdownError_ = 0;
  std::vector<std::uint32_t> tokenAccess_;
  std::vector<std::wstring> lookups_;
  std::vector<PrivilegeAdjustment> adjustments_;
  std::vector<ExitRequest> exitRequests_;
  std::vector<platform::TokenHandle> openTokens_;
  int tokensOpened_ = 0;
  int tokensClosed_ = 0;
  int badCloses_ = 0;
  bool shutdownEnabled_ = false;
  bool restarting_ = false;
  std::uintptr_t nextToken_ = 0x100;
};

}  // namespace sim
