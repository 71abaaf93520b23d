// What every removal action is given of the run: its error counter, its id
// and the sender its failures are reported through.
#pragma once

#include <cstdint>
#include <string>

#include "telemetry/telemetry_sender.h"

namespace removal {

struct ActionContext {
  std::int32_t& errorCount;
  const std::wstring& runId;
  telemetry::TelemetrySender& telemetry;
};

// The form the service deletions get: it adds the flag that a deletion sets
// when the removal completes only at the next boot.
// An aggregate: its base's references are always given when it is built.
struct ServiceDeletionContext : ActionContext {  // NOLINT(cppcoreguidelines-pro-type-member-init)
  bool rebootNeeded = false;
};

}  // namespace removal
