#include "tests/sim/sim_services.h"

#include <utility>

#include "tests/sim/sim_text.h"

namespace sim {
namespace {

// The rights of a service handle that the calls ask for.
constexpr std::uint32_t kServiceQueryStatus = platform::kServiceQueryStatus;
constexpr std::uint32_t kServiceStop = platform::kServiceStop;
constexpr std::uint32_t kDelete = platform::kDelete;

}  // namespace

SimServices::SimServices(SimCore& core) : core_(core) {}

SimService& SimServices::Install(const std::wstring& name, std::uint32_t state) {
  SimService& service = services_[FoldCase(name)];
  service = SimService{};
  service.name = name;
  service.state = state;
  return service;
}

SimService& SimServices::InstallMarkedForDeletion(const std::wstring& name) {
  SimService& service = Install(name);
  service.markedForDeletion = true;
  service.foreignHandles = 1;
  return service;
}

bool SimServices::Exists(const std::wstring& name) const {
  return services_.contains(FoldCase(name));
}

SimService* SimServices::Find(const std::wstring& name) {
  const auto found = services_.find(FoldCase(name));
  return found == services_.end() ? nullptr : &found->second;
}

std::size_t SimServices::OpenHandles() const {
  std::size_t open = 0;
  for (const HandleRecord& record : handles_) {
    open += record.open ? 1 : 0;
  }
  return open;
}

void SimServices::Log(const std::wstring& call) { core_.calls.push_back(L"Services." + call); }

platform::ScHandle SimServices::NewHandle(bool isManager, std::wstring service,
                                          std::uint32_t access) {
  auto* const handle = reinterpret_cast<platform::ScHandle>(nextHandle_);
  nextHandle_ += 4;
  handles_.push_back({handle, isManager, std::move(service), access, true});
  return handle;
}

platform::ScHandle SimServices::Fail(std::uint32_t error) {
  core_.lastError = error;
  return nullptr;
}

bool SimServices::Refuse(std::uint32_t error) {
  core_.lastError = error;
  return false;
}

SimServices::HandleRecord* SimServices::FindServiceHandle(platform::ScHandle handle,
                                                          const wchar_t* call) {
  for (HandleRecord& record : handles_) {
    if (record.handle == handle && record.open && !record.isManager) {
      return &record;
    }
  }
  misuses_.emplace_back(call);
  core_.lastError = kErrorInvalidHandle;
  return nullptr;
}

platform::ScHandle SimServices::OpenSCManager(std::uint32_t access) {
  Log(L"OpenSCManager " + Hex(access));
  managerAccesses_.push_back(access);
  if (managerError_ != 0) {
    return Fail(managerError_);
  }
  if ((access & ~platform::kScManagerConnect) != 0 && managerFullAccessError_ != 0) {
    return Fail(managerFullAccessError_);
  }
  return NewHandle(true, L"", access);
}

platform::ScHandle SimServices::OpenService(platform::ScHandle manager, const std::wstring& name,
                                            std::uint32_t access) {
  Log(L"OpenService " + name + L" " + Hex(access));
  serviceAccesses_.push_back(access);
  bool managerOpen = false;
  for (const HandleRecord& record : handles_) {
    managerOpen = managerOpen || (record.handle == manager && record.open && record.isManager);
  }
  if (!managerOpen) {
    misuses_.emplace_back(L"OpenService");
    return Fail(kErrorInvalidHandle);
  }
  const std::wstring folded = FoldCase(name);
  const auto found = services_.find(folded);
  if (found == services_.end()) {
    return Fail(kErrorServiceDoesNotExist);
  }
  const SimService& service = found->second;
  if (service.openError != 0) {
    return Fail(service.openError);
  }
  if ((access & service.refusedAccess) != 0) {
    return Fail(kErrorAccessDenied);
  }
  if ((access & ~platform::kServiceInterrogate) != 0 && service.fullAccessError != 0) {
    return Fail(service.fullAccessError);
  }
  return NewHandle(false, folded, access);
}

bool SimServices::QueryServiceStatus(platform::ScHandle handle, platform::ServiceStatus& status) {
  HandleRecord* record = FindServiceHandle(handle, L"QueryServiceStatus");
  if (record == nullptr) {
    return false;
  }
  SimService& service = services_.at(record->service);
  Log(L"QueryServiceStatus " + service.name);
  ++service.statusQueries;
  if ((record->access & kServiceQueryStatus) == 0) {
    return Refuse(kErrorAccessDenied);
  }
  if (service.queryError != 0) {
    return Refuse(service.queryError);
  }
  if (service.stopRequested && service.state == platform::kServiceStopPending) {
    ++service.queriesSinceStop;
    const bool stopped = (service.stopBehaviour == StopBehaviour::kStopsAfterQueries &&
                          service.queriesSinceStop >= service.stopAfter) ||
                         (service.stopBehaviour == StopBehaviour::kStopsAfterMs &&
                          core_.nowMs - service.stopRequestedAtMs >= service.stopAfter);
    if (stopped) {
      service.state = platform::kServiceStopped;
    }
  }
  status.currentState = service.state;
  return true;
}

bool SimServices::ControlService(platform::ScHandle handle, std::uint32_t control) {
  HandleRecord* record = FindServiceHandle(handle, L"ControlService");
  if (record == nullptr) {
    return false;
  }
  SimService& service = services_.at(record->service);
  Log(L"ControlService " + service.name + L" " + std::to_wstring(control));
  service.controls.push_back(control);
  if (control != platform::kServiceControlStop) {
    return Refuse(kErrorInvalidParameter);
  }
  if ((record->access & kServiceStop) == 0) {
    return Refuse(kErrorAccessDenied);
  }
  if (service.stopBehaviour == StopBehaviour::kRefusesControl) {
    return Refuse(service.controlError);
  }
  if (service.state == platform::kServiceStopped) {
    return Refuse(kErrorServiceNotActive);
  }
  if (service.state != platform::kServiceRunning) {
    return Refuse(kErrorServiceCannotAcceptCtrl);
  }
  service.stopRequested = true;
  service.stopRequestedAtMs = core_.nowMs;
  service.queriesSinceStop = 0;
  if (service.stopBehaviour != StopBehaviour::kIgnoresStop) {
    service.state = platform::kServiceStopPending;
  }
  return true;
}

bool SimServices::DeleteService(platform::ScHandle handle) {
  HandleRecord* record = FindServiceHandle(handle, L"DeleteService");
  if (record == nullptr) {
    return false;
  }
  SimService& service = services_.at(record->service);
  Log(L"DeleteService " + service.name);
  ++service.deleteCalls;
  if ((record->access & kDelete) == 0) {
    return Refuse(kErrorAccessDenied);
  }
  if (service.markedForDeletion) {
    return Refuse(kErrorServiceMarkedForDelete);
  }
  if (service.deleteError != 0) {
    return Refuse(service.deleteError);
  }
  // The entry goes once the last handle to it is closed.
  service.markedForDeletion = true;
  return true;
}

bool SimServices::CloseServiceHandle(platform::ScHandle handle) {
  for (HandleRecord& record : handles_) {
    if (record.handle == handle && record.open) {
      record.open = false;
      if (record.isManager) {
        Log(L"CloseServiceHandle manager");
      } else {
        Log(L"CloseServiceHandle " + services_.at(record.service).name);
        RemoveIfUnreferenced(record.service);
      }
      return true;
    }
  }
  misuses_.emplace_back(L"CloseServiceHandle");
  return Refuse(kErrorInvalidHandle);
}

void SimServices::RemoveIfUnreferenced(const std::wstring& folded) {
  const auto found = services_.find(folded);
  if (found == services_.end() || !found->second.markedForDeletion ||
      found->second.foreignHandles > 0) {
    return;
  }
  for (const HandleRecord& record : handles_) {
    if (record.open && !record.isManager && record.service == folded) {
      return;
    }
  }
  services_.erase(found);
}

}  // namespace sim
