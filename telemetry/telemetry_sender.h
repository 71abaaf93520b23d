// Best-effort, synchronous, single-shot delivery of telemetry events.
#pragma once

#include <cstdint>
#include <string>

#include "platform/internet.h"
#include "telemetry/telemetry_event.h"

namespace telemetry {

// Posts the event; true when the server answered 200, 301 or 302.
bool SendEvent(platform::Internet& internet, const TelemetryEvent& event);

// Builds and sends the "done" event with the error count and the reboot flag.
void SendDoneEvent(platform::Internet& internet, std::int32_t errorCount, const std::wstring& runId,
                   bool rebootNeeded);

}  // namespace telemetry
