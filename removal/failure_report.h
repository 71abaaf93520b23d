// The one way in which every removal action reports a failure.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

// What a reported number is. The system's table explains only its own error
// codes: a service state or a result that only the shell gives would be
// explained as the unrelated system error that happens to share its number.
enum class CodeKind { kSystemError, kOtherNumber };

// Counts the failure, sends an "error" event with `label` (none when null) and
// `message`, then prints `errorCode`, with the system's text for a system
// error code.
void ReportFailure(platform::Platform& platform, ActionContext& context, const wchar_t* label,
                   std::uint32_t errorCode, const std::wstring& message,
                   CodeKind kind = CodeKind::kSystemError);

// "ERROR code: " + code [+ " Message: " + system text], then two line ends.
// The text is looked up for a system error code only.
void PrintSystemError(platform::Platform& platform, std::uint32_t errorCode,
                      CodeKind kind = CodeKind::kSystemError);

}  // namespace removal
