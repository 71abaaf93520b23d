// The simulated answer to "does this process run under WOW64?".
#pragma once

#include <optional>

#include "platform/process.h"
#include "tests/sim/sim_core.h"

namespace sim {

class SimProcess : public platform::ProcessInfo {
 public:
  enum class Entry {
    kPresent,  // IsWow64Process answers with SimCore::wow64
    kMissing,  // kernel32 has no such entry (early 32-bit Windows)
    kFails,    // the call fails
  };

  explicit SimProcess(SimCore& core);

  void SetEntry(Entry entry) { entry_ = entry; }
  int calls() const { return calls_; }

  std::optional<bool> IsWow64Process() override;

 private:
  SimCore& core_;
  Entry entry_ = Entry::kPresent;
  int calls_ = 0;
};

}  // namespace sim
