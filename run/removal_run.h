// The whole run in one function, so that its order reads top to bottom.
#pragma once

#include "platform/platform.h"

namespace run {

// Exit codes of the run.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitRestarting = 1;
inline constexpr int kExitDeclined = 2;
inline constexpr int kExitServiceNotStopped = -1;

int RemovalRun(platform::Platform& platform);

}  // namespace run
