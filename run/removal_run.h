// The program's main sequence, from the banner to the process exit code.
#pragma once

#include "platform/platform.h"

namespace run {

inline constexpr wchar_t kProgramVersion[] = L"1.2";

// Exit codes of the run.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitRestarting = 1;
inline constexpr int kExitDeclined = 2;
inline constexpr int kExitServiceNotStopped = -1;

int RemovalRun(platform::Platform& platform);

}  // namespace run
