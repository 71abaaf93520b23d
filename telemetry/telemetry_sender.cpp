#include "telemetry/telemetry_sender.h"

#include "telemetry/event_encoding.h"
#include "telemetry/http_post.h"

namespace telemetry {

bool SendEvent(platform::Internet& internet, const TelemetryEvent& event) {
  const std::wstring body = EncodeEvent(event) + kBodyMarker;
  std::wstring location;
  const std::uint32_t status = PostForm(internet, body, false, location);
  // Redirects are not followed, so a redirect means the server took the event.
  return status == 200 || status == 301 || status == 302;
}

void SendDoneEvent(platform::Internet& internet, std::int32_t errorCount, const std::wstring& runId,
                   bool rebootNeeded) {
  TelemetryEvent event(L"done", nullptr, runId.c_str());
  // The counter only grows from zero, so it is sent as an unsigned value.
  const auto errors = static_cast<std::int64_t>(static_cast<std::uint32_t>(errorCount));
  event.AddCustomField(L"errors", FormatInt64(errors).c_str());
  event.AddCustomField(L"reboot", rebootNeeded ? L"Yes" : L"No");
  SendEvent(internet, event);
}

}  // namespace telemetry
