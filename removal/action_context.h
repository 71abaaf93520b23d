// What every removal action is given of the run: its error counter and its id.
#pragma once

#include <cstdint>
#include <string>

namespace removal {

struct ActionContext {
  std::int32_t& errorCount;
  const std::wstring& runId;
};

// The form the service deletions get: it adds the flag that a deletion sets
// when the removal completes only at the next boot.
// An aggregate: its base's references are always given when it is built.
struct ServiceDeletionContext : ActionContext {  // NOLINT(cppcoreguidelines-pro-type-member-init)
  bool rebootNeeded = false;
};

}  // namespace removal
