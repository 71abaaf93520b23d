// The key prompts of the run and its fixed pause.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/platform.h"

namespace run {

// Virtual-key codes of the letter keys the prompts read.
inline constexpr int kKeyA = 0x41;
inline constexpr int kKeyD = 0x44;
inline constexpr int kKeyE = 0x45;
inline constexpr int kKeyN = 0x4E;
inline constexpr int kKeyY = 0x59;

// Pause between two polling passes of a prompt.
inline constexpr std::uint32_t kPollIntervalMs = 100;
// How long the end of the run waits for a key still held to be released.
inline constexpr std::uint32_t kKeyReleaseWaitMs = 1000;
// The pause after the last event: this many steps of one second, one dot each.
inline constexpr int kTelemetryWaitSteps = 30;
inline constexpr std::uint32_t kTelemetryWaitStepMs = 1000;

// Whether the key is down now or has been pressed since its previous query.
bool KeyPressed(platform::Keyboard& keyboard, int virtualKey);

// Reads each key once and drops the answers: a prompt calls this right after
// showing its text, so that presses made before the user could read it do not
// count. A key that is still held reads as pressed again at the next query.
void ForgetEarlierPresses(platform::Keyboard& keyboard, std::initializer_list<int> virtualKeys);

// Asks for the agreement: true for 'A', false for 'E'; 'D' shows the page,
// once per press.
bool AgreementPrompt(platform::Platform& platform);

// Returns once 'E' has been pressed.
void ExitKeyWait(platform::Platform& platform);

// Drops the keys that the console queued as typed input while the prompts
// polled them, so that the shell that started the tool does not read them
// once it ends; first waits, at most `waitMs`, for the prompts' keys to be
// up. Only when standard input is a console.
void DiscardTypedKeys(platform::Platform& platform, std::uint32_t waitMs = kKeyReleaseWaitMs);

// "Sending telemetry " and one dot per second for 30 seconds.
void TelemetryWait(platform::Platform& platform);

}  // namespace run
