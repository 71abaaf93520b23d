// The simulated UUID source.
#pragma once

#include <string>
#include <utility>

#include "platform/identifiers.h"
#include "tests/sim/sim_core.h"

namespace sim {

class SimIdentifiers : public platform::Identifiers {
 public:
  static constexpr wchar_t kDefaultUuid[] = L"0f8e2c4a-7b1d-4e6f-9a3c-5d2b8e1f4a70";

  explicit SimIdentifiers(SimCore& core);

  // The text that every following CreateUuidString returns.
  void SetUuid(std::wstring uuid) { uuid_ = std::move(uuid); }

  std::wstring CreateUuidString() override;

  int created() const { return created_; }

 private:
  SimCore& core_;
  std::wstring uuid_ = kDefaultUuid;
  int created_ = 0;
};

}  // namespace sim
