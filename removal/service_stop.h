// Stopping the filter service, and the small service operations that the
// deletions and the run share.
#pragma once

#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

inline constexpr wchar_t kFilterServiceName[] = L"tslwfs";
inline constexpr wchar_t kDriverServiceName[] = L"tsld";

// True when the service can be opened with interrogate rights. With
// `reportAbsence`, writes "Service is not present: " + name when it cannot.
bool ServiceExists(platform::Platform& platform, const std::wstring& name, bool reportAbsence);

// Stops "tslwfs". True when it is absent or ends stopped.
bool StopFilterService(platform::Platform& platform, ActionContext& context);

}  // namespace removal
