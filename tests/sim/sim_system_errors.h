// The simulated last error and system message table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/errors.h"
#include "tests/sim/sim_core.h"

namespace sim {

class SimSystemErrors : public platform::SystemErrors {
 public:
  // Starts with the English texts that Windows gives for the codes the tool
  // meets; every other code has none.
  explicit SimSystemErrors(SimCore& core);

  void SetText(std::uint32_t code, std::wstring text) { texts_[code] = std::move(text); }
  void RemoveText(std::uint32_t code) { texts_.erase(code); }

  std::uint32_t GetLastError() override;
  std::optional<std::wstring> FormatSystemMessage(std::uint32_t code) override;

 private:
  SimCore& core_;
  std::map<std::uint32_t, std::wstring> texts_;
};

}  // namespace sim
