// The local service control manager, as the removal actions ask for it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/unique_handle.h"

namespace platform {

struct ServiceHandleTag;
// An SC_HANDLE: a connection to the service control manager or an open service.
using ScHandle = ServiceHandleTag*;

// Access rights and controls used by the tool.
inline constexpr std::uint32_t kScManagerConnect = 0x0001;
inline constexpr std::uint32_t kServiceQueryStatus = 0x0004;
inline constexpr std::uint32_t kServiceStop = 0x0020;
inline constexpr std::uint32_t kServiceInterrogate = 0x0080;
inline constexpr std::uint32_t kDelete = 0x10000;
inline constexpr std::uint32_t kServiceControlStop = 1;

// Service states (dwCurrentState).
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceContinuePending = 5;
inline constexpr std::uint32_t kServicePausePending = 6;
inline constexpr std::uint32_t kServicePaused = 7;

// The part of SERVICE_STATUS_PROCESS that the tool reads.
struct ServiceStatus {
  std::uint32_t currentState = 0;
};

// Mirrors the advapi32 service calls. Failing calls leave their error code as
// the thread's last error (see SystemErrors::GetLastError).
class ServiceControl {
 public:
  virtual ~ServiceControl() = default;

  // OpenSCManagerW on the local machine and the active database; null on failure.
  [[nodiscard]] virtual ScHandle OpenSCManager(std::uint32_t access) = 0;
  // OpenServiceW; null on failure.
  [[nodiscard]] virtual ScHandle OpenService(ScHandle manager, const std::wstring& name,
                                             std::uint32_t access) = 0;
  // QueryServiceStatusEx with SC_STATUS_PROCESS_INFO.
  [[nodiscard]] virtual bool QueryServiceStatus(ScHandle service, ServiceStatus& status) = 0;
  // ControlService; the returned SERVICE_STATUS is not needed by the tool.
  [[nodiscard]] virtual bool ControlService(ScHandle service, std::uint32_t control) = 0;
  [[nodiscard]] virtual bool DeleteService(ScHandle service) = 0;
  [[nodiscard]] virtual bool CloseServiceHandle(ScHandle handle) = 0;
};

// A connection to the service control manager, or an open service.
using UniqueServiceHandle =
    UniqueAny<ScHandle, FacilityCloser<ServiceControl, &ServiceControl::CloseServiceHandle>>;

}  // namespace platform
