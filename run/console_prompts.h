// The key prompts of the run and its fixed pause.
#pragma once

#include <array>
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

// Whether typing now reaches this tool: the foreground window is its console's
// window or the window that owns that one (a terminal hosting the console). A
// process without a console window has nobody typing into it elsewhere, so
// there every key counts.
bool ConsoleHasFocus(platform::Keyboard& keyboard);

// The keyboard as a prompt sees it: the keyboard state is the whole desktop's,
// so a key counts only while the console has the focus. A key seen down while
// it had not (held in another window) counts again only after a query in focus
// has seen it up; a press reported only as "since the previous query" across
// the focus's return may have been made elsewhere, and does not count.
class PromptKeys {
 public:
  // Reads each key once and drops the answers: a prompt starts right after
  // showing its text, so that presses made before the user could read it do
  // not count. A key that is still held reads as pressed again at the next
  // query.
  PromptKeys(platform::Keyboard& keyboard, std::initializer_list<int> virtualKeys);

  // GetAsyncKeyState's answer, or 0 when the key does not count.
  std::int16_t Read(int virtualKey);
  // Down now or pressed since its previous query, and counting.
  bool Pressed(int virtualKey) { return Read(virtualKey) != 0; }

 private:
  platform::Keyboard& keyboard_;
  // Where a key stood at its previous query, by virtual-key code.
  struct Gate {
    bool outOfFocus = false;
    bool heldOutside = false;  // down at a query out of focus, not seen up since
  };
  std::array<Gate, 256> gates_{};
};

class AgreementPage;

// Asks for the agreement: true for 'A', false for 'E'; 'D' shows the page,
// once per press.
bool AgreementPrompt(platform::Platform& platform, AgreementPage& page);

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
