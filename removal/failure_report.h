// The one way in which every removal action reports a failure.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

// Counts the failure, sends an "error" event with `label` (none when null) and
// `message`, then prints the system's text for `errorCode`.
void ReportFailure(platform::Platform& platform, ActionContext& context, const wchar_t* label,
                   std::uint32_t errorCode, const std::wstring& message);

// "ERROR code: " + code [+ " Message: " + system text], then two line ends.
void PrintSystemError(platform::Platform& platform, std::uint32_t errorCode);

}  // namespace removal
