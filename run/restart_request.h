// Offering, and asking the system for, the restart that completes a removal.
#pragma once

#include "platform/platform.h"
#include "run/console_prompts.h"

namespace run {

inline constexpr wchar_t kShutdownPrivilege[] = L"SeShutdownPrivilege";

// Asks the user and, on 'Y', requests the restart. True only when the system
// accepted the request; otherwise the user is told to restart by hand.
bool OfferRestart(platform::Platform& platform, PromptKeys& keys);

// The Y/N prompt: true for 'Y', false for 'N'.
bool AskRestart(platform::Platform& platform, PromptKeys& keys);

// Enables the shutdown privilege and asks for a restart that lets other
// applications close normally. True when the system accepted the request.
bool RequestRestart(platform::Platform& platform);

}  // namespace run
