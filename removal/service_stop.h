// Stopping the filter service, and the small service operations that the
// deletions and the run share.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/services.h"
#include "removal/action_context.h"

namespace removal {

inline constexpr wchar_t kFilterServiceName[] = L"tslwfs";
inline constexpr wchar_t kDriverServiceName[] = L"tsld";

// How long StopServiceAndWait waits for the service to reach "stopped".
inline constexpr int kStopWaitPauses = 30;
inline constexpr std::uint32_t kStopWaitPauseMs = 1000;

// The state QueryServiceState gives when the query itself fails: no service
// state has that number, so it prints as unknown and never counts as stopped.
inline constexpr std::uint32_t kServiceStateUnknown = 0;

// A service opened with the rights asked for, or none together with the error
// code of the call that failed, taken at once so that nothing in between can
// change it.
struct OpenedService {
  platform::UniqueServiceHandle service;
  std::uint32_t error = 0;
};

// The rights each operation needs, and no more: a service that guards itself
// may refuse full access while it grants these.
inline constexpr std::uint32_t kStopAccess = platform::kServiceStop | platform::kServiceQueryStatus;
inline constexpr std::uint32_t kDeleteAccess = platform::kDelete;

// Whether ServiceExists writes "Service is not present: " + name when the
// service does not exist.
enum class Absence { kSilent, kReported };

// Opens the service with the interrogate right alone: false only when the
// service control manager answers that the service does not exist; a service
// it cannot tell about (no connection, access refused) counts as present.
bool ServiceExists(platform::Platform& platform, const std::wstring& name, Absence absence);

// Opens the service with `access` through a connect-only connection to the
// service control manager; the connection is closed before returning.
OpenedService OpenServiceWithAccess(platform::Platform& platform, const std::wstring& name,
                                    std::uint32_t access);

// The service's current state (1 stopped ... 7 paused), or
// kServiceStateUnknown when the query fails.
std::uint32_t QueryServiceState(platform::Platform& platform, platform::ScHandle service);

// Asks the filter service to stop and waits up to kStopWaitPauses pauses for it
// to reach the stopped state, one dot per pause. Returns the last state read.
std::uint32_t StopServiceAndWait(platform::Platform& platform, platform::ScHandle service);

// Writes the state's text; only an unknown state brings its own line end.
void PrintServiceState(platform::Platform& platform, std::uint32_t state);

// Stops "tslwfs". True when it does not exist or ends stopped.
bool StopFilterService(platform::Platform& platform, ActionContext& context);

}  // namespace removal
