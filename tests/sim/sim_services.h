// The simulated service control manager: services with their states, stop
// behaviour and deletion outcomes, and every handle it hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/services.h"
#include "tests/sim/sim_core.h"
#include "tests/sim/sim_errors.h"

namespace sim {

// What a running service does with a stop request.
enum class StopBehaviour {
  kStopsAfterQueries,  // stop pending, then stopped from the `stopAfter`-th status query on
  kStopsAfterMs,       // stop pending, then stopped once `stopAfter` ms have passed
  kIgnoresStop,        // accepts the request and keeps running
  kRefusesControl,     // the request fails with `controlError`; nothing changes
};

struct SimService {
  std::wstring name;
  std::uint32_t state = platform::kServiceStopped;
  StopBehaviour stopBehaviour = StopBehaviour::kStopsAfterQueries;
  std::uint64_t stopAfter = 1;
  std::uint32_t controlError = kErrorDependentServicesRunning;
  // Marked for deletion: the service stays until every handle to it is closed.
  bool markedForDeletion = false;
  // Handles that other processes hold; a marked service outlives the run
  // while any is left (as after an earlier removal with the service running).
  int foreignHandles = 0;
  // DeleteService fails with this error (0: it succeeds).
  std::uint32_t deleteError = 0;
  // Opening with more than interrogate rights fails with this error (0: allowed).
  std::uint32_t fullAccessError = 0;
  // Guarded: opening with any of these rights fails with access denied, as
  // a service refuses full access while it grants the rights each call needs.
  std::uint32_t refusedAccess = 0;
  // Opening at all fails with this error (0: allowed).
  std::uint32_t openError = 0;
  // QueryServiceStatusEx fails with this error (0: it answers).
  std::uint32_t queryError = 0;

  // What happened to it.
  int statusQueries = 0;
  std::vector<std::uint32_t> controls;
  int deleteCalls = 0;
  bool stopRequested = false;
  std::uint64_t stopRequestedAtMs = 0;
  std::uint64_t queriesSinceStop = 0;
};

class SimServices : public platform::ServiceControl {
 public:
  explicit SimServices(SimCore& core);

  // Installs a service in `state`; the reference stays valid while it exists.
  SimService& Install(const std::wstring& name, std::uint32_t state = platform::kServiceStopped);
  // A service left marked for deletion by an earlier removal, still held by
  // another process, so it stays for the whole run.
  SimService& InstallMarkedForDeletion(const std::wstring& name);

  // OpenSCManagerW fails with this error: for every access asked for, or only
  // when more than SC_MANAGER_CONNECT is asked for (0: it succeeds).
  void SetManagerError(std::uint32_t error) { managerError_ = error; }
  void SetManagerFullAccessError(std::uint32_t error) { managerFullAccessError_ = error; }

  bool Exists(const std::wstring& name) const;
  // The service, or null when it does not exist (any more).
  SimService* Find(const std::wstring& name);

  // Handles handed out and not closed yet; handles handed out so far.
  std::size_t OpenHandles() const;
  std::size_t HandlesOpened() const { return handles_.size(); }
  // Calls that got a handle that was closed, never handed out or of the wrong
  // kind, as "Call"; a second close counts here too.
  const std::vector<std::wstring>& misuses() const { return misuses_; }
  // The access asked for in every OpenSCManagerW and OpenServiceW, in order.
  const std::vector<std::uint32_t>& managerAccesses() const { return managerAccesses_; }
  const std::vector<std::uint32_t>& serviceAccesses() const { return serviceAccesses_; }

  platform::ScHandle OpenSCManager(std::uint32_t access) override;
  platform::ScHandle OpenService(platform::ScHandle manager, const std::wstring& name,
                                 std::uint32_t access) override;
  bool QueryServiceStatus(platform::ScHandle handle, platform::ServiceStatus& status) override;
  bool ControlService(platform::ScHandle handle, std::uint32_t control) override;
  bool DeleteService(platform::ScHandle handle) override;
  bool CloseServiceHandle(platform::ScHandle handle) override;

 private:
  struct HandleRecord {
    platform::ScHandle handle = nullptr;
    bool isManager = false;
    std::wstring service;  // folded name, for a service handle
    std::uint32_t access = 0;
    bool open = true;
  };

  // The open service handle and its service; null (and a misuse recorded)
  // otherwise.
  HandleRecord* FindServiceHandle(platform::ScHandle handle, const wchar_t* call);
  platform::ScHandle NewHandle(bool isManager, std::wstring service, std::uint32_t access);
  platform::ScHandle Fail(std::uint32_t error);
  bool Refuse(std::uint32_t error);
  void RemoveIfUnreferenced(const std::wstring& folded);
  void Log(const std::wstring& call);

  SimCore& core_;
  std::map<std::wstring, SimService> services_;  // by folded name
  std::uint32_t managerError_ = 0;
  std::uint32_t managerFullAccessError_ = 0;
  std::vector<HandleRecord> handles_;
  std::vector<std::wstring> misuses_;
  std::vector<std::uint32_t> managerAccesses_;
  std::vector<std::uint32_t> serviceAccesses_;
  std::uintptr_t nextHandle_ = 0x5C0000;
};

}  // namespace sim
