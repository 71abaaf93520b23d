#include "tests/sim/sim_identifiers.h"

namespace sim {

SimIdentifiers::SimIdentifiers(SimCore& core) : core_(core) {}

std::wstring SimIdentifiers::CreateUuidString() {
  core_.calls.emplace_back(L"Identifiers.CreateUuidString");
  ++created_;
  return uuid_;
}

}  // namespace sim
