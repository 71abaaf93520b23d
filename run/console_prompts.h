// The key prompts of the run and its fixed pause.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/platform.h"

namespace run {

// Virtual-key codes of the letter keys the prompts read.
inline constexpr int kKeyA = 0x41;
inline constexpr int kKeyD = 0x44;
inline constexpr int kKeyE = 0x45;
inline constexpr int kKeyN = 0x4E;
inline constexpr int kKeyY = 0x59;

// One pass of a prompt: the longest wait on the console's input, or the pause
// between two readings of the keyboard state.
inline constexpr std::uint32_t kPollIntervalMs = 100;
// How long the end of the run waits for a key still held to be released.
inline constexpr std::uint32_t kKeyReleaseWaitMs = 1000;
// The pause after the last event: this many steps of one second, one dot each.
inline constexpr int kTelemetryWaitSteps = 30;
inline constexpr std::uint32_t kTelemetryWaitStepMs = 1000;

// Where the prompts' keys come from. A process with a console reads its own
// console's input: only what is typed into its window or its terminal (a
// remote shell's included) reaches it, and a key counts when its key-down
// arrives. Started without a console (detached), it reads the desktop's
// keyboard state instead. One per run: the end of the run drops what the
// prompts left in the console's input.
class PromptKeys {
 public:
  explicit PromptKeys(platform::Platform& platform);

  // A prompt that reads `keys` starts. Presses made before it appeared do not
  // count: what the console holds is read and dropped, the keyboard state's
  // "pressed since" bits are taken. The order of `keys` decides between keys
  // that the keyboard state shows pressed in the same pass; console input
  // goes by arrival.
  void Begin(std::initializer_list<int> keys);
  // Waits, in passes of 100 ms, for the next press of one of the prompt's keys
  // and returns its virtual-key code. A key held down counts once, until it
  // has been seen up.
  int Next();
  // The end of the run: waits, at most `waitMs`, for the keys seen going down
  // in the console to come up, then empties its input, so that nothing typed
  // at the tool reaches the shell that started it.
  void DiscardTyped(std::uint32_t waitMs);

 private:
  // Notes a console record; true for the key-down of a key that was up.
  bool Pressed(const platform::ConsoleInputRecord& record);
  // Notes the records not looked at yet, and drops them.
  void NoteTheRest();
  // One pass of the console: waits for input, at most `milliseconds`, and
  // reads what came.
  std::vector<platform::ConsoleInputRecord> Pass(std::uint32_t milliseconds);
  bool PressedInKeyboardState(int key);

  platform::Platform& platform_;
  platform::UniqueConsoleInput input_;
  std::vector<int> keys_;
  // Keys seen down and not up since, by virtual-key code; in the keyboard
  // state, only those that counted.
  std::bitset<256> down_;
  // Console records read and not looked at yet, from `next_` on.
  std::vector<platform::ConsoleInputRecord> records_;
  std::size_t next_ = 0;
  // Passes that timed out since the last key record.
  int quietPasses_ = 0;
  // The keyboard state: the place of the next key in the current pass.
  std::size_t nextKey_ = 0;
};

class AgreementPage;

// Asks for the agreement: true for 'A', false for 'E'; 'D' shows the page,
// once per press.
bool AgreementPrompt(platform::Platform& platform, PromptKeys& keys, AgreementPage& page);

// Returns once 'E' has been pressed.
void ExitKeyWait(platform::Platform& platform, PromptKeys& keys);

// "Sending telemetry " and one dot per second for 30 seconds.
void TelemetryWait(platform::Platform& platform);

}  // namespace run
