// Offering, and asking the system for, the restart that completes a removal.
#pragma once

#include "platform/platform.h"
#include "run/console_prompts.h"

namespace run {

inline constexpr wchar_t kShutdownPrivilege[] = L"SeShutdownPrivilege";

// What is left to the user when the computer is not restarted.
inline constexpr char kManualRestartLine[] =
    "Please manually restart the computer to complete the removal procedure.";
// The same, as the console control handler writes it when Ctrl+C, Ctrl+Break
// or a closed window ends a run that needs a restart.
inline constexpr char kManualRestartFarewell[] =
    "\n\nPlease manually restart the computer to complete the removal procedure.\n";

// Asks the user and, on 'Y', requests the restart. True only when the system
// accepted the request; otherwise the user is told to restart by hand.
bool OfferRestart(platform::Platform& platform, PromptKeys& keys);

// The Y/N prompt: true for 'Y', false for 'N'.
bool AskRestart(platform::Platform& platform, PromptKeys& keys);

// Enables the shutdown privilege and asks for a restart that lets other
// applications close normally: through the interactive user's session when
// the tool runs in it, otherwise from the system for the whole machine. True
// when the system accepted the request.
bool RequestRestart(platform::Platform& platform);

}  // namespace run
