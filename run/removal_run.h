// The whole run in one function, so that its order reads top to bottom.
#pragma once

#include "platform/platform.h"
#include "tessel-version.h"

namespace run {

inline constexpr const auto& kProgramVersion = product_version::kText;

// Exit codes of the run.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitRestarting = 1;
inline constexpr int kExitDeclined = 2;
inline constexpr int kExitServiceNotStopped = -1;

int RemovalRun(platform::Platform& platform);

}  // namespace run
