#include "removal/failure_report.h"

#include <limits>
#include <optional>

#include "telemetry/telemetry_event.h"
#include "telemetry/telemetry_sender.h"

namespace removal {

void ReportFailure(platform::Platform& platform, ActionContext& context, const wchar_t* label,
                   std::uint32_t errorCode, const std::wstring& message, CodeKind kind) {
  // Counted first, so that the "done" event tells of every failure even when
  // nothing could be sent about it. The count stops at its largest value
  // rather than wrap to a negative one.
  if (context.errorCount < std::numeric_limits<std::int32_t>::max()) {
    ++context.errorCount;
  }
  if (label != nullptr) {
    telemetry::TelemetryEvent event(L"error", label, context.runId.c_str());
    event.AddCustomField(L"message", message.c_str());
    // Handed over, not waited for: the failure's line follows at once.
    context.telemetry.Send(event);
  }
  PrintSystemError(platform, errorCode, kind);
}

void PrintSystemError(platform::Platform& platform, std::uint32_t errorCode, CodeKind kind) {
  const std::optional<std::wstring> text = kind == CodeKind::kSystemError
                                               ? platform.errors.FormatSystemMessage(errorCode)
                                               : std::nullopt;
  platform::Console& out = platform.console;
  // Shown signed, so that HRESULT-style codes read as the negative numbers
  // that their documentation gives.
  out << "ERROR code: " << static_cast<std::int32_t>(errorCode);
  if (text) {
    // The system's text ends with its own line break, which stays.
    out << " Message: " << *text;
  }
  out << platform::endl << platform::endl;
}

}  // namespace removal
