#include "tests/sim/sim_process.h"

#include "tests/sim/sim_errors.h"

namespace sim {

SimProcess::SimProcess(SimCore& core) : core_(core) {}

std::optional<bool> SimProcess::IsWow64Process() {
  ++calls_;
  switch (entry_) {
    case Entry::kPresent:
      core_.calls.push_back(L"Process.IsWow64Process");
      return core_.wow64;
    case Entry::kMissing:
      core_.calls.push_back(L"Process.IsWow64Process missing");
      return std::nullopt;
    case Entry::kFails:
      core_.calls.push_back(L"Process.IsWow64Process");
      core_.lastError = kErrorInvalidHandle;
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace sim
