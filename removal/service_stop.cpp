#include "removal/service_stop.h"

#include "removal/failure_report.h"
#include "removal/system_errors.h"
#include "telemetry/telemetry_event.h"

namespace removal {

OpenedService OpenServiceWithAccess(platform::Platform& platform, const std::wstring& name,
                                    std::uint32_t access) {
  platform::ServiceControl& services = platform.services;
  OpenedService opened;
  const platform::UniqueServiceHandle manager(services,
                                              services.OpenSCManager(platform::kScManagerConnect));
  if (!manager) {
    opened.error = platform.errors.GetLastError();
    return opened;
  }
  opened.service =
      platform::UniqueServiceHandle(services, services.OpenService(manager.get(), name, access));
  if (!opened.service) {
    opened.error = platform.errors.GetLastError();
  }
  return opened;
}

bool ServiceExists(platform::Platform& platform, const std::wstring& name, Absence absence) {
  // A service that cannot be told about (no connection, access refused) may
  // well be there: whoever acts on it next finds out, and reports what it finds.
  const OpenedService opened = OpenServiceWithAccess(platform, name, platform::kServiceInterrogate);
  if (opened.service || opened.error != kErrorServiceDoesNotExist) {
    return true;
  }
  if (absence == Absence::kReported) {
    platform.console << "Service is not present: " << name << platform::endl;
  }
  return false;
}

std::uint32_t QueryServiceState(platform::Platform& platform, platform::ScHandle service) {
  platform::ServiceStatus status;
  if (!platform.services.QueryServiceStatus(service, status)) {
    return kServiceStateUnknown;
  }
  return status.currentState;
}

std::uint32_t StopServiceAndWait(platform::Platform& platform, platform::ScHandle service) {
  platform::Console& out = platform.console;
  // A refused request is not an answer in itself: the state after the wait is.
  static_cast<void>(platform.services.ControlService(service, platform::kServiceControlStop));
  out << "Waiting for " << kFilterServiceName << " to stop ";
  std::uint32_t state = QueryServiceState(platform, service);
  for (int pauses = 0; state != platform::kServiceStopped && pauses < kStopWaitPauses; ++pauses) {
    platform.clock.Sleep(kStopWaitPauseMs);
    out << "." << platform::flush;
    state = QueryServiceState(platform, service);
  }
  out << platform::endl;
  return state;
}

namespace {

// The name of a state the system defines, or null for any other value.
const char* KnownStateName(std::uint32_t state) {
  switch (state) {
    case platform::kServiceStopped:
      return "stopped";
    case platform::kServiceStartPending:
      return "start pending";
    case platform::kServiceStopPending:
      return "stop pending";
    case platform::kServiceRunning:
      return "running";
    case platform::kServiceContinuePending:
      return "continue pending";
    case platform::kServicePausePending:
      return "pause pending";
    case platform::kServicePaused:
      return "paused";
    default:
      return nullptr;
  }
}

// Only a running service is asked to stop; one that is already on its way
// somewhere else (pending, paused) is left alone and counts as not stopped.
std::uint32_t StopIfRunning(platform::Platform& platform, platform::ScHandle service) {
  const std::uint32_t state = QueryServiceState(platform, service);
  return state == platform::kServiceRunning ? StopServiceAndWait(platform, service) : state;
}

// The service's state through a handle with the query right alone.
std::uint32_t QueryStateAlone(platform::Platform& platform) {
  const OpenedService opened =
      OpenServiceWithAccess(platform, kFilterServiceName, platform::kServiceQueryStatus);
  return opened.service ? QueryServiceState(platform, opened.service.get()) : kServiceStateUnknown;
}

}  // namespace

void PrintServiceState(platform::Platform& platform, std::uint32_t state) {
  platform::Console& out = platform.console;
  if (const char* name = KnownStateName(state)) {
    out << name;
  } else {
    out << "Unknown status: " << static_cast<std::int32_t>(state) << platform::endl;
  }
}

bool StopFilterService(platform::Platform& platform, ActionContext& context) {
  platform::Console& out = platform.console;
  if (!ServiceExists(platform, kFilterServiceName, Absence::kSilent)) {
    return true;
  }
  const OpenedService opened = OpenServiceWithAccess(platform, kFilterServiceName, kStopAccess);
  if (!opened.service && opened.error == kErrorServiceDoesNotExist) {
    // Deleted since the test: there is nothing left to stop.
    return true;
  }
  // A service that guards itself may refuse the right to stop it and still
  // let anyone read its state: one that is stopped needs no stopping.
  if (!opened.service && QueryStateAlone(platform) != platform::kServiceStopped) {
    // Whatever kept it from being opened keeps it from being stopped.
    out << telemetry::kProduct << " requires Administrator access." << platform::endl;
    ReportFailure(platform, context, L"SvcStop", opened.error, L"Need Administrator access");
    return false;
  }
  const std::uint32_t state =
      opened.service ? StopIfRunning(platform, opened.service.get()) : platform::kServiceStopped;
  out << kFilterServiceName << " is ";
  PrintServiceState(platform, state);
  out << platform::endl;
  if (state != platform::kServiceStopped) {
    out << platform::endl << "ERROR stopping service: " << kFilterServiceName << platform::endl;
    // The code is the state, which the system's error table would misread.
    ReportFailure(platform, context, L"SvcStop", state, kFilterServiceName, CodeKind::kOtherNumber);
    return false;
  }
  return true;
}

}  // namespace removal
