// The key prompts of the run and its fixed pause.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "run/prompt_keys.h"

namespace run {

// Virtual-key codes of the letter keys the prompts read.
inline constexpr int kKeyA = 0x41;
inline constexpr int kKeyD = 0x44;
inline constexpr int kKeyE = 0x45;
inline constexpr int kKeyN = 0x4E;
inline constexpr int kKeyY = 0x59;

// The pause after the last event: this many steps of one second, one dot each.
inline constexpr int kTelemetryWaitSteps = 30;
inline constexpr std::uint32_t kTelemetryWaitStepMs = 1000;

class AgreementPage;

// Asks for the agreement: true for 'A', false for 'E'; 'D' shows the page,
// once per press.
bool AgreementPrompt(platform::Platform& platform, PromptKeys& keys, AgreementPage& page);

// Returns once 'E' has been pressed.
void ExitKeyWait(platform::Platform& platform, PromptKeys& keys);

// "Sending telemetry " and one dot per second for 30 seconds.
void TelemetryWait(platform::Platform& platform);

}  // namespace run
